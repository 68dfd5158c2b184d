// The reading loop the four channel sheets share ("Sources", "Destinations",
// "Opto", "Relay"): ChannelRowScan over the sheet, each qualifying row made
// record k of the table with ChanNum k + 1, and each of its columns whose
// header matched a keyword handed to `fill`, left to right.
#ifndef KVR_TABLES_CHANNEL_SHEET_H_
#define KVR_TABLES_CHANNEL_SHEET_H_

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {

// `fill(record, cells, row, column, keyword)` stores one cell; `keyword` is
// the index into `keywords` of the column's first matching keyword. Rows
// past the end of `table` fill nothing.
template <typename Record, typename Fill>
void ReadChannelSheet(const SheetGrid& grid, ScanLimit limit, int count, std::initializer_list<std::string_view> keywords,
                      std::vector<Record>& table, Problems& problems, Fill fill) {
  const std::vector<int> columns = MatchHeaderColumns(grid, keywords, problems);
  CellReader cells(grid, problems);
  ChannelRowScan(grid, limit, count, problems, [&](int k, int r) {
    if (static_cast<std::size_t>(k) >= table.size()) return;
    Record& record = table[static_cast<std::size_t>(k)];
    record.ChanNum = static_cast<std::int16_t>(k + 1);
    for (int c = 2; c <= grid.columns(); ++c) {
      const int keyword = columns[static_cast<std::size_t>(c)];
      if (keyword >= 0) fill(record, cells, r, c, keyword);
    }
  });
}

}  // namespace kvr

#endif  // KVR_TABLES_CHANNEL_SHEET_H_
