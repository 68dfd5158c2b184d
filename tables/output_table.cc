#include "tables/output_table.h"

#include <optional>

#include "base/problems.h"
#include "tables/channel_sheet.h"

namespace kvr {
namespace {

// What a bus type forces on Mute, Switch and Fader; nullopt where the sheet's
// own value stands.
struct BusTypeControl {
  std::optional<std::int16_t> mute, sw, fader;
};

BusTypeControl BusTypeControlTable(std::int16_t type) {
  switch (type) {
    case 0: case 1: case 12: case 15: case 20: return {std::nullopt, 0, 0};
    case 2: case 3: case 4: case 6: case 13: return {std::nullopt, 1, 1};
    case 5: return {std::nullopt, 1, 0};
    case 14: return {1, 0, 0};
    default: return {};  // 7 to 11, 16 to 19, 21 and negative types
  }
}

void NumberAuxOutputs(Recordset& records, Problems& problems) {
  RecordEditor editor(records, problems);
  std::int16_t aux = 1;
  std::string reported;  // the place last reported: records that share a key fail alike, and are said once
  for (records.MoveFirst(); !records.AtEnd(); records.MoveNext()) {
    const auto type = editor.Number("Type");  // a record without a number is no aux output
    try {
      records.Edit();
      if (type && (*type == 3 || *type == 4 || *type == 6)) editor.SetNumber("AuxId", aux++);
      else editor.SetNumber("AuxId", NoIndex);
      records.Update();
    } catch (const DatabaseError& e) {
      const Where place = records.Place();
      if (place.ToString() == reported) continue;
      reported = place.ToString();
      problems.Report(place, std::string("\"AuxId\" not written: ") + e.what(), ErrorCode::kDatabase);
    }
  }
}

}  // namespace

void ReadDestinations(const SheetGrid& grid, std::int16_t output_count, OutputTable& table, Problems& problems) {
  table.assign(output_count >= 0 ? static_cast<std::size_t>(output_count) + 1 : 0, OutputRecord{});
  ReadChannelSheet(
      grid, {ScanLimit::kStopAfterCount, output_count, "Outputs", "output"}, kOutptAlphas, table, problems,
      [](OutputRecord& e, CellReader& cells, int r, int c, int field) {
        constexpr auto F = [](std::string_view name) { return FieldIndex(kOutptAlphas, name); };
        const IndexCell index{cells, r, c, kOutptAlphas};
        switch (field) {
          case F("Label"): cells.TextInto(r, c, e.Label, "Label"); break;
          case F("LocalLabel"): cells.TextInto(r, c, e.LocalLabel, "LocalLabel"); break;
          case F("Linked"): cells.NumberInto(r, c, e.Linked, "Linked"); break;
          case F("Hidden"): cells.NumberInto(r, c, e.Hidden, "Hidden"); break;
          case F("Notes"): cells.TextInto(r, c, e.Notes, "Notes"); break;
          case F("Location"): index.Into(e.Location, "Location"); break;
          case F("Type"):  // types above 21 are stored as 0
            cells.NumberInto(r, c, e.Type, "Type", [](std::int16_t v) -> std::int16_t { return v > 21 ? 0 : v; });
            break;
          case F("AssocOutput"): index.Into(e.AssocOutput, "AssocOutput"); break;
          case F("AssocRelay"): index.Into(e.AssocRelay, "AssocRelay"); break;
          case F("RelayControl"): cells.ByteInto(r, c, e.RelayControl, "RelayControl"); break;
          case F("RelayType"): cells.ByteInto(r, c, e.RelayType, "RelayType"); break;
          case F("Switch"): cells.NumberInto(r, c, e.Switch, "Switch"); break;
          case F("Fader"): cells.NumberInto(r, c, e.Fader, "Fader"); break;
          case F("Mute"): cells.NumberInto(r, c, e.Mute, "Mute"); break;
          default: break;
        }
      },
      [](const OutputRecord& e, std::string_view field) -> std::optional<std::pair<std::string, std::string>> {
        const BusTypeControl forced = BusTypeControlTable(e.Type);
        const std::string by_type = "bus type " + std::to_string(e.Type) + " sets it";
        if (field == "Mute" && forced.mute) return std::pair{std::to_string(*forced.mute), by_type};
        if (field == "Switch" && forced.sw) return std::pair{std::to_string(*forced.sw), by_type};
        if (field == "Fader" && forced.fader) return std::pair{std::to_string(*forced.fader), by_type};
        if (field == "Hidden" && HidesChannel(e.Label)) return std::pair{std::string("1"), HiddenBy(e.Label)};
        return std::nullopt;
      });
}

void WriteOutptAlphas(SwitcherDatabase& database, OutputTable& table, std::int16_t output_count,
                      Problems& problems) {
  WriteChannelTable(
      database, kOutptAlphas, table, output_count, problems, [](OutputRecord& e, RecordEditor& rec) {
        rec.SetLabels(e.Label, e.LocalLabel);
        rec.SetNumber("Location", e.Location);
        rec.SetNumber("Type", e.Type);
        const BusTypeControl forced = BusTypeControlTable(e.Type);
        if (forced.mute) e.Mute = *forced.mute;
        if (forced.sw) e.Switch = *forced.sw;
        if (forced.fader) e.Fader = *forced.fader;
        rec.SetNumber("Mute", e.Mute);
        if (HidesChannel(e.Label)) e.Hidden = 1;
        rec.SetNumber("Hidden", e.Hidden);
        rec.SetNumber("Linked", e.Linked);
        rec.SetNumber("Switch", e.Switch);
        rec.SetNumber("Fader", e.Fader);
        rec.SetNumber("AllowMM", 1);
        rec.SetNumber("AssocInput", NoIndex);
        rec.SetNumber("AssocOutput", e.AssocOutput);
        rec.SetNumber("AssocRelay", e.AssocRelay);
        rec.SetNumber("RelayControl", e.RelayControl);
        rec.SetNumber("RelayType", e.RelayType);
        rec.SetTextUnlessBlank("Notes", e.Notes);
      },
      [&](Recordset& records) { NumberAuxOutputs(records, problems); });
}

}  // namespace kvr
