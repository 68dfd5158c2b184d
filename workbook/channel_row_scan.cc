#include "workbook/channel_row_scan.h"

#include "base/problems.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"

namespace kvr {

void ChannelRowScan(const SheetGrid& grid, ScanLimit limit, int count, Problems& problems,
                    const std::function<void(int index, int row)>& take) {
  CellReader cells(grid, problems);
  int counter = 0;
  for (int r = 1; r <= grid.rows(); ++r) {
    // An empty or plain-text first cell reads as 0 or as its leading number
    // without complaint; only an unreadable one is reported.
    const auto number = cells.Number(r, 1, "channel number", "row passed over");
    if (!number || *number != counter + 1) continue;
    if (limit != ScanLimit::kIgnorePastCount || counter <= count) take(counter, r);
    else ReportRowBeyondTable(grid, r, counter, count + 1, problems);
    ++counter;
    if (limit == ScanLimit::kStopAfterCount && counter > count) break;
  }
}

void ReportRowBeyondTable(const SheetGrid& grid, int row, int index, std::size_t entries, Problems& problems) {
  problems.Report(grid.At(row, 1),
                  "row for number " + std::to_string(index + 1) + " lies beyond the table (" +
                      std::to_string(entries) + " entries); nothing stored",
                  ErrorCode::kSubscriptOutOfRange);
}

std::vector<int> MatchHeaderColumns(const SheetGrid& grid, const std::vector<std::string_view>& keywords,
                                    Problems& problems) {
  CellReader cells(grid, problems);
  std::vector<int> match(static_cast<std::size_t>(grid.columns()) + 1, -1);
  for (int c = 2; c <= grid.columns(); ++c) {
    const auto header = cells.Text(1, c, "header", "column ignored");
    if (!header) continue;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
      if (HeaderMatches(*header, keywords[k])) {
        match[static_cast<std::size_t>(c)] = static_cast<int>(k);
        break;
      }
    }
  }
  return match;
}

std::vector<int> MatchHeaderColumns(const SheetGrid& grid, std::initializer_list<std::string_view> keywords,
                                    Problems& problems) {
  return MatchHeaderColumns(grid, std::vector<std::string_view>(keywords), problems);
}

}  // namespace kvr
