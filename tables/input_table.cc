#include "tables/input_table.h"

#include "base/problems.h"
#include "tables/channel_sheet.h"

namespace kvr {

void ReadSources(const SheetGrid& grid, std::int16_t input_count, InputTable& table, Problems& problems) {
  table.assign(input_count >= 0 ? static_cast<std::size_t>(input_count) + 1 : 0, InputRecord{});
  ReadChannelSheet(
      grid, {ScanLimit::kStopAfterCount, input_count, "Inputs", "input"}, kInptAlphas, table, problems,
      [](InputRecord& e, CellReader& cells, int r, int c, int field) {
        auto flag = [&](std::int16_t& value, const char* name) {  // values above 1 are stored as 0
          cells.NumberInto(r, c, value, name, [](std::int16_t v) -> std::int16_t { return v > 1 ? 0 : v; });
        };
        constexpr auto F = [](std::string_view name) { return FieldIndex(kInptAlphas, name); };
        const IndexCell index{cells, r, c, kInptAlphas};
        switch (field) {
          case F("Label"): cells.TextInto(r, c, e.Label, "Label"); break;
          case F("LocalLabel"): cells.TextInto(r, c, e.LocalLabel, "LocalLabel"); break;
          case F("Linked"): flag(e.Linked, "Linked"); break;
          case F("Hidden"): cells.NumberInto(r, c, e.Hidden, "Hidden"); break;
          case F("Notes"): cells.TextInto(r, c, e.Notes, "Notes"); break;
          case F("Location"): index.Into(e.Location, "Location"); break;
          case F("Type"): cells.NumberInto(r, c, e.Type, "Type"); break;
          case F("AssocOutput"): index.Into(e.AssocOutput, "AssocOutput"); break;
          case F("MMType"): flag(e.MMType, "MMType"); break;
          case F("IFB"): cells.NumberInto(r, c, e.IFB, "IFB"); break;
          case F("Timer"): cells.NumberInto(r, c, e.Timer, "Timer"); break;
          case F("GPI"): cells.NumberInto(r, c, e.GPI, "GPI"); break;
          case F("OptoOn"): index.Into(e.OptoOn, "OptoOn"); break;
          case F("OptoOff"): index.Into(e.OptoOff, "OptoOff"); break;
          case F("OptoCough"): index.Into(e.OptoCough, "OptoCough"); break;
          case F("CueOn"): index.Into(e.CueOn, "CueOn"); break;
          case F("CueOff"): index.Into(e.CueOff, "CueOff"); break;
          case F("GPO"): cells.NumberInto(r, c, e.GPO, "GPO"); break;
          case F("RelayOn"): index.Into(e.RelayOn, "RelayOn"); break;
          case F("RelayOff"): index.Into(e.RelayOff, "RelayOff"); break;
          default: break;
        }
      },
      [](const InputRecord& e, std::string_view field) -> std::optional<std::pair<std::string, std::string>> {
        if (field == "Hidden" && HidesChannel(e.Label)) return std::pair{std::string("1"), HiddenBy(e.Label)};
        return std::nullopt;
      });
}

void WriteInptAlphas(SwitcherDatabase& database, InputTable& table, std::int16_t input_count, Problems& problems) {
  WriteChannelTable(
      database, kInptAlphas, table, input_count, problems, [](InputRecord& e, RecordEditor& rec) {
        rec.SetLabels(e.Label, e.LocalLabel);
        rec.SetNumber("Location", e.Location);
        rec.SetNumber("Type", e.Type);
        if (e.Type == 1) e.Mute = 1;
        if (e.Type == 2) e.MixMinus = 1;
        rec.SetNumber("MixMinus", e.MixMinus);
        rec.SetNumber("MMType", e.MMType);
        rec.SetNumber("Mute", e.Mute);
        rec.SetNumber("IFB", e.IFB);
        rec.SetNumber("Timer", e.Timer);
        if (HidesChannel(e.Label)) e.Hidden = 1;
        rec.SetNumber("Hidden", e.Hidden);
        rec.SetNumber("Linked", e.Linked);
        rec.SetNumber("AssocOutput", e.AssocOutput);
        rec.SetNumber("GPI", e.GPI);
        rec.SetNumber("OptoOn", e.OptoOn);
        rec.SetNumber("OptoOff", e.OptoOff);
        rec.SetNumber("OptoCough", e.OptoCough);
        rec.SetNumber("CueOn", e.CueOn);
        rec.SetNumber("CueOff", e.CueOff);
        rec.SetNumber("GPO", e.GPO);
        rec.SetNumber("RelayOn", e.RelayOn);
        rec.SetNumber("RelayOff", e.RelayOff);
        rec.SetTextUnlessBlank("Notes", e.Notes);
      });
}

}  // namespace kvr
