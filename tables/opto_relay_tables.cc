#include "tables/opto_relay_tables.h"

#include "tables/label_table_writer.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {

void ReadOpto(const SheetGrid& grid, std::int16_t input_count, OptoTable& table, Problems& problems) {
  enum Keyword { kName, kNotes, kType, kSalvo, kInput, kOutput, kRelay };
  const auto columns = MatchHeaderColumns(grid, {"Name", "Notes", "Type", "Salvo", "Input", "Output", "Relay"}, problems);
  CellReader cells(grid, problems);
  ChannelRowScan(grid, ScanLimit::kIgnorePastCount, input_count, problems, [&](int k, int r) {
    if (static_cast<std::size_t>(k) >= table.size()) return;
    OptoRecord& e = table[static_cast<std::size_t>(k)];
    e.ChanNum = static_cast<std::int16_t>(k + 1);
    for (int c = 2; c <= grid.columns(); ++c) {
      switch (columns[static_cast<std::size_t>(c)]) {
        case kName: cells.TextInto(r, c, e.Label, "Label"); break;
        case kNotes: cells.TextInto(r, c, e.Notes, "Notes"); break;
        case kType: cells.NumberInto(r, c, e.Type, "Type"); break;
        case kSalvo: cells.IndexInto(r, c, e.Salvo, "Salvo"); break;
        case kInput: cells.IndexInto(r, c, e.Input, "Input"); break;
        case kOutput: cells.IndexInto(r, c, e.Output, "Output"); break;
        case kRelay: cells.IndexInto(r, c, e.Relay, "Relay"); break;
        default: break;
      }
    }
  });
}

void ReadRelay(const SheetGrid& grid, std::int16_t output_count, RelayTable& table, Problems& problems) {
  const auto columns = MatchHeaderColumns(grid, {"Name", "Notes"}, problems);
  CellReader cells(grid, problems);
  ChannelRowScan(grid, ScanLimit::kIgnorePastCount, output_count, problems, [&](int k, int r) {
    if (static_cast<std::size_t>(k) >= table.size()) return;
    RelayRecord& e = table[static_cast<std::size_t>(k)];
    e.ChanNum = static_cast<std::int16_t>(k + 1);
    for (int c = 2; c <= grid.columns(); ++c) {
      const int keyword = columns[static_cast<std::size_t>(c)];
      if (keyword == 0) cells.TextInto(r, c, e.Label, "Label");
      else if (keyword == 1) cells.TextInto(r, c, e.Notes, "Notes");
    }
  });
}

void WriteOptoAlphas(SwitcherDatabase& database, const OptoTable& table, std::int16_t input_count,
                     Problems& problems) {
  LabelTableWriter(
      database, {"OptoAlphas", "Chan Num", input_count, static_cast<int>(table.size())},
      [&](int i) { return table[static_cast<std::size_t>(i)].ChanNum; },
      [&](int i, RecordEditor& rec) {
        const OptoRecord& e = table[static_cast<std::size_t>(i)];
        rec.SetTextUnlessBlank("Label", ShortLabel(e.Label));
        rec.SetNumber("Type", e.Type);
        rec.SetNumber("Input", e.Input);
        rec.SetNumber("Output", e.Output);
        rec.SetNumber("Relay", e.Relay);
        rec.SetNumber("Salvo", e.Salvo);
        rec.SetTextUnlessBlank("Notes", e.Notes);
      },
      problems);
}

void WriteRelayAlphas(SwitcherDatabase& database, const RelayTable& table, std::int16_t output_count,
                      Problems& problems) {
  LabelTableWriter(
      database, {"RelayAlphas", "Chan Num", output_count, static_cast<int>(table.size())},
      [&](int i) { return table[static_cast<std::size_t>(i)].ChanNum; },
      [&](int i, RecordEditor& rec) {
        const RelayRecord& e = table[static_cast<std::size_t>(i)];
        rec.SetTextUnlessBlank("Label", ShortLabel(e.Label));
        rec.SetTextUnlessBlank("Notes", e.Notes);
      },
      problems);
}

}  // namespace kvr
