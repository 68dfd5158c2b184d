// The scan that every channel sheet shares: a row becomes a record only when
// its column-1 number is the next expected channel number, so the data must be
// numbered 1, 2, 3... and header rows, blank rows and out-of-sequence numbers
// are passed over. Columns are assigned by header keywords.
#ifndef KVR_WORKBOOK_CHANNEL_ROW_SCAN_H_
#define KVR_WORKBOOK_CHANNEL_ROW_SCAN_H_

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
//
// Numbered rows the scan never reads are noticed: each gap (rows passed over
// while the scan waited for a number, among them at least one numbered row)
// once, and the numbered rows left after a kStopAfterCount scan stopped,
// whose count is the System value `count_key` ("Inputs").
void ChannelRowScan(const SheetGrid& grid, ScanLimit limit, int count, Problems& problems,
                    const std::function<void(int index, int row)>& take, std::string_view count_key = {});

// Rows that qualified as records past the end of a table of `entries`
// entries: nothing of them is stored. Reported once, as one range, with the
// cause first: `why` (`"Outputs" on the System sheet is 0`), or the table's
// fixed size.
class RowsBeyondTable {
 public:
  RowsBeyondTable(const SheetGrid& grid, std::size_t entries, std::string why = {})
      : grid_(grid), entries_(entries), why_(std::move(why)) {}
  void Add(int row, int index);
  void Report(Problems& problems);

 private:
  const SheetGrid& grid_;
  std::size_t entries_;
  std::string why_;
  int first_row_ = 0, last_row_ = 0, first_index_ = 0, last_index_ = 0;
};

// `"Inputs" on the System sheet is 63`, for a table counted by `count_key`.
std::string CountCause(std::string_view count_key, int count);

// How a sheet's keywords map to its fields, for noticing columns that
// overwrite one another. By default each keyword fills a field of its own.
struct KeywordFields {
  std::vector<int> repeatable;                  // keywords whose columns each fill a place of their own
  std::vector<std::pair<int, int>> same_field;  // two keywords that fill one field
};

// For each column c (1-based, entry 0 unused) the index into `keywords` of
// the first keyword that the header CellText(grid, 1, c) begins with, or -1.
// Column 1 is the channel number and is never assigned. A header holding an
// error value is reported and its column ignored.
//
// A heading that begins with no keyword is noticed, with the keyword
// probably meant (KeywordMeant); so is a second column that fills the same
// field as an earlier one (the same keyword, or one of `fields.same_field`),
// whose values replace the first's, unless the keyword is one of
// `fields.repeatable` (as "Opto 1" to "Opto 5", each its own slot).
std::vector<int> MatchHeaderColumns(const SheetGrid& grid, std::initializer_list<std::string_view> keywords,
                                    Problems& problems, const KeywordFields& fields = {});

// The keyword a heading that matches none was probably meant to begin with:
// one that equals its start when case and blanks are set aside, that it
// holds or that holds it, or that is a slip or two of the keys away.
std::optional<std::string_view> KeywordMeant(std::string_view heading, const std::vector<std::string_view>& keywords);
std::vector<int> MatchHeaderColumns(const SheetGrid& grid, const std::vector<std::string_view>& keywords,
                                    Problems& problems, const KeywordFields& fields = {});

}  // namespace kvr

#endif  // KVR_WORKBOOK_CHANNEL_ROW_SCAN_H_
