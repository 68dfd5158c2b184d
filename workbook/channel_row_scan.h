// The scan that every channel sheet shares: a row becomes a record only when
// its column-1 number is the next expected channel number, so the data must be
// numbered 1, 2, 3... and header rows, blank rows and out-of-sequence numbers
// are passed over. Columns are assigned by header keywords.
#ifndef KVR_WORKBOOK_CHANNEL_ROW_SCAN_H_
#define KVR_WORKBOOK_CHANNEL_ROW_SCAN_H_

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;

enum class ScanLimit {
  kStopAfterCount,   // stop once record `count` (channel count + 1) is filled
  kIgnorePastCount,  // run to the last row; rows past record `count` fill nothing
  kNoCount,          // run to the last row; the caller's table bounds limit it
};

// Calls `take(index, row)` for each row that becomes record `index` (0-based;
// its channel number is index + 1), in row order. A row whose column-1 cell
// cannot be read (an error value, or a number outside 16 bits) never
// qualifies: it is passed over and reported. With kIgnorePastCount each row
// that qualifies past record `count` is reported as beyond the table.
void ChannelRowScan(const SheetGrid& grid, ScanLimit limit, int count, Problems& problems,
                    const std::function<void(int index, int row)>& take);

// Reports that the row which qualified as record `index` found no place in a
// table of `entries` entries, so nothing of it is stored.
void ReportRowBeyondTable(const SheetGrid& grid, int row, int index, std::size_t entries, Problems& problems);

// For each column c (1-based, entry 0 unused) the index into `keywords` of
// the first keyword that the header CellText(grid, 1, c) begins with, or -1.
// Column 1 is the channel number and is never assigned. A header holding an
// error value is reported and its column ignored.
std::vector<int> MatchHeaderColumns(const SheetGrid& grid, std::initializer_list<std::string_view> keywords,
                                    Problems& problems);
std::vector<int> MatchHeaderColumns(const SheetGrid& grid, const std::vector<std::string_view>& keywords,
                                    Problems& problems);

}  // namespace kvr

#endif  // KVR_WORKBOOK_CHANNEL_ROW_SCAN_H_
