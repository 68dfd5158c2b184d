#include "tables/input_table.h"

#include "base/problems.h"
#include "tables/channel_sheet.h"

namespace kvr {

void ReadSources(const SheetGrid& grid, std::int16_t input_count, InputTable& table, Problems& problems) {
  table.assign(input_count >= 0 ? static_cast<std::size_t>(input_count) + 1 : 0, InputRecord{});
  enum Keyword { kLabel, kLocalLabel, kLinked, kHidden, kNotes, kLocation, kType, kAssocOutput, kMMType, kIFB,
                 kTimer, kGPI, kOptoOn, kOptoOff, kOptoCough, kCue, kOptoOffLed, kGPO, kRelayOn, kRelayOff };
  ReadChannelSheet(
      grid, {ScanLimit::kStopAfterCount, input_count, "Inputs", "input"},
      {"Chan Label", "LocalLabel", "Linked", "Hidden", "Notes", "Location #", "Source Type", "IFB/MM", "MM Type",
       "IFB", "Timer Restart", "GPI", "OptoOn", "OptoOff", "OptoCough", "Cue", "Opto Off LED", "GPO", "RelayOn",
       "RelayOff"},
      table, problems, [](InputRecord& e, CellReader& cells, int r, int c, int keyword) {
        auto flag = [&](std::int16_t& field, const char* name) {  // values above 1 are stored as 0
          cells.NumberInto(r, c, field, name, [](std::int16_t v) -> std::int16_t { return v > 1 ? 0 : v; });
        };
        switch (keyword) {
          case kLabel: cells.TextInto(r, c, e.Label, "Label"); break;
          case kLocalLabel: cells.TextInto(r, c, e.LocalLabel, "LocalLabel"); break;
          case kLinked: flag(e.Linked, "Linked"); break;
          case kHidden: cells.NumberInto(r, c, e.Hidden, "Hidden"); break;
          case kNotes: cells.TextInto(r, c, e.Notes, "Notes"); break;
          case kLocation: cells.IndexInto(r, c, e.Location, "Location"); break;
          case kType: cells.NumberInto(r, c, e.Type, "Type"); break;
          case kAssocOutput: cells.IndexInto(r, c, e.AssocOutput, "AssocOutput"); break;
          case kMMType: flag(e.MMType, "MMType"); break;
          case kIFB: cells.NumberInto(r, c, e.IFB, "IFB"); break;
          case kTimer: cells.NumberInto(r, c, e.Timer, "Timer"); break;
          case kGPI: cells.NumberInto(r, c, e.GPI, "GPI"); break;
          case kOptoOn: cells.IndexInto(r, c, e.OptoOn, "OptoOn"); break;
          case kOptoOff: cells.IndexInto(r, c, e.OptoOff, "OptoOff"); break;
          case kOptoCough: cells.IndexInto(r, c, e.OptoCough, "OptoCough"); break;
          case kCue: cells.IndexInto(r, c, e.CueOn, "CueOn"); break;
          case kOptoOffLed: cells.IndexInto(r, c, e.CueOff, "CueOff"); break;
          case kGPO: cells.NumberInto(r, c, e.GPO, "GPO"); break;
          case kRelayOn: cells.IndexInto(r, c, e.RelayOn, "RelayOn"); break;
          case kRelayOff: cells.IndexInto(r, c, e.RelayOff, "RelayOff"); break;
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
      database, "InptAlphas", table, input_count, problems, [](InputRecord& e, RecordEditor& rec) {
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
