#include "tables/opto_relay_tables.h"

#include "tables/channel_sheet.h"

namespace kvr {

void ReadOpto(const SheetGrid& grid, std::int16_t input_count, OptoTable& table, Problems& problems) {
  enum Keyword { kName, kNotes, kType, kSalvo, kInput, kOutput, kRelay };
  ReadChannelSheet(grid, {ScanLimit::kIgnorePastCount, input_count, "Inputs", "opto"},
                   {"Name", "Notes", "Type", "Salvo", "Input", "Output", "Relay"}, table, problems,
                   [](OptoRecord& e, CellReader& cells, int r, int c, int keyword) {
                     switch (keyword) {
                       case kName: cells.TextInto(r, c, e.Label, "Label"); break;
                       case kNotes: cells.TextInto(r, c, e.Notes, "Notes"); break;
                       case kType: cells.NumberInto(r, c, e.Type, "Type"); break;
                       case kSalvo: cells.IndexInto(r, c, e.Salvo, "Salvo"); break;
                       case kInput: cells.IndexInto(r, c, e.Input, "Input"); break;
                       case kOutput: cells.IndexInto(r, c, e.Output, "Output"); break;
                       case kRelay: cells.IndexInto(r, c, e.Relay, "Relay"); break;
                       default: break;
                     }
                   });
}

void ReadRelay(const SheetGrid& grid, std::int16_t output_count, RelayTable& table, Problems& problems) {
  ReadChannelSheet(grid, {ScanLimit::kIgnorePastCount, output_count, "Outputs", "relay"}, {"Name", "Notes"}, table, problems,
                   [](RelayRecord& e, CellReader& cells, int r, int c, int keyword) {
                     if (keyword == 0) cells.TextInto(r, c, e.Label, "Label");
                     else cells.TextInto(r, c, e.Notes, "Notes");
                   });
}

void WriteOptoAlphas(SwitcherDatabase& database, const OptoTable& table, std::int16_t input_count,
                     Problems& problems) {
  WriteChannelTable(
      database, "OptoAlphas", table, input_count, problems, [](const OptoRecord& e, RecordEditor& rec) {
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
      database, "RelayAlphas", table, output_count, problems, [](const RelayRecord& e, RecordEditor& rec) {
        rec.SetShortText("Label", e.Label, 8, true);
        rec.SetTextUnlessBlank("Notes", e.Notes);
      });
}

}  // namespace kvr
