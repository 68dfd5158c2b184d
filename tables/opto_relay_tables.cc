#include "tables/opto_relay_tables.h"

#include "tables/channel_sheet.h"

namespace kvr {

void ReadOpto(const SheetGrid& grid, std::int16_t input_count, OptoTable& table, Problems& problems) {
  ReadChannelSheet(grid, {ScanLimit::kIgnorePastCount, input_count, "Inputs", "opto"}, kOptoAlphas, table, problems,
                   [](OptoRecord& e, CellReader& cells, int r, int c, int field) {
                     constexpr auto F = [](std::string_view name) { return FieldIndex(kOptoAlphas, name); };
                     const IndexCell index{cells, r, c, kOptoAlphas};
                     switch (field) {
                       case F("Label"): cells.TextInto(r, c, e.Label, "Label"); break;
                       case F("Notes"): cells.TextInto(r, c, e.Notes, "Notes"); break;
                       case F("Type"): cells.NumberInto(r, c, e.Type, "Type"); break;
                       case F("Salvo"): index.Into(e.Salvo, "Salvo"); break;
                       case F("Input"): index.Into(e.Input, "Input"); break;
                       case F("Output"): index.Into(e.Output, "Output"); break;
                       case F("Relay"): index.Into(e.Relay, "Relay"); break;
                       default: break;
                     }
                   });
}

void ReadRelay(const SheetGrid& grid, std::int16_t output_count, RelayTable& table, Problems& problems) {
  ReadChannelSheet(grid, {ScanLimit::kIgnorePastCount, output_count, "Outputs", "relay"}, kRelayAlphas, table,
                   problems, [](RelayRecord& e, CellReader& cells, int r, int c, int field) {
                     if (field == FieldIndex(kRelayAlphas, "Label")) cells.TextInto(r, c, e.Label, "Label");
                     else cells.TextInto(r, c, e.Notes, "Notes");
                   });
}

void WriteOptoAlphas(SwitcherDatabase& database, const OptoTable& table, std::int16_t input_count,
                     Problems& problems) {
  WriteChannelTable(
      database, kOptoAlphas, table, input_count, problems, [](const OptoRecord& e, RecordEditor& rec) {
        rec.SetShortText("Label", e.Label, 8, true);
        rec.SetNumber("Type", e.Type);
        rec.SetNumber("Input", e.Input);
        rec.SetNumber("Output", e.Output);
        rec.SetNumber("Relay", e.Relay);
        rec.SetNumber("Salvo", e.Salvo);
        rec.SetTextUnlessBlank("Notes", e.Notes);
      });
}

void WriteRelayAlphas(SwitcherDatabase& database, const RelayTable& table, std::int16_t output_count,
                      Problems& problems) {
  WriteChannelTable(
      database, kRelayAlphas, table, output_count, problems, [](const RelayRecord& e, RecordEditor& rec) {
        rec.SetShortText("Label", e.Label, 8, true);
        rec.SetTextUnlessBlank("Notes", e.Notes);
      });
}

}  // namespace kvr
