// Cell reads that report their failures and doubts. Sheet readers use these
// so that a cell which cannot be read leaves its field unchanged and says so,
// with the sheet cell's address, the heading the engineer typed and what
// reaches the output: `Sources!H20: 40000 under "Source Type" does not fit a
// 16-bit number; Type of input 19 is written as 0`. A cell that reads, but
// probably not as meant ("12 dB", "two", 2.5), gives a notice in the same
// words.
#ifndef KVR_WORKBOOK_CELL_READER_H_
#define KVR_WORKBOOK_CELL_READER_H_

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/problems.h"
#include "workbook/cell_convert.h"
#include "workbook/sheet_grid.h"

namespace kvr {


// Holds references to a grid and a problem list; both must outlive it.
class CellReader {
 public:
  // Where a cell's heading stands: in row 1 of its column (sheets of named
  // columns), or in column 1 of its row (sheets of keyed rows); kModules: a
  // console's module sheet, whose cells stand in a labelled row under a
  // module number. kNone: the sheet has no headings a value stands under.
  enum class Headings { kRow1, kColumn1, kModules, kNone };

  CellReader(const SheetGrid& grid, Problems& problems, Headings headings = Headings::kRow1)
      : grid_(grid), problems_(problems), headings_(headings) {}

  // What the row being read describes ("input 19"); reports of the *Into
  // reads then say what that record's field becomes. Empty: none.
  void SetSubject(std::string subject) {
    EndRow();
    subject_ = std::move(subject);
  }

  // Each returns nullopt after reporting why the cell at 1-based (row,
  // column) cannot be read. `field` names what the value was meant for;
  // `consequence` replaces the default `"field" left unchanged`.
  std::optional<std::string> Text(int row, int column, std::string_view field,
                                  std::string_view consequence = {});
  std::optional<std::int16_t> Number(int row, int column, std::string_view field,
                                     std::string_view consequence = {});

  // The same reads stored into `field`; on failure `field` keeps its value
  // and the report says what it is. A number that reads, but not as it
  // looks, is noticed. `field_name` names the field in the reports;
  // `stored(v)` turns the number read into the value kept (a flag above 1
  // kept as 0, ...).
  using Transform = std::int16_t (*)(std::int16_t);
  void TextInto(int row, int column, std::string& field, std::string_view field_name);
  void NumberInto(int row, int column, std::int16_t& field, std::string_view field_name,
                  Transform stored = nullptr);
  void ByteInto(int row, int column, std::uint8_t& field, std::string_view field_name);
  // `points_to` names what the index counts ("relay"): reports then say which
  // entry a written index is, "0 (relay 1)".
  void IndexInto(int row, int column, std::int16_t& field, std::string_view field_name,
                 std::string_view points_to = {});

  // Notices the cell at (row, column) when its number reads, but not as it
  // looks; `outcome()` says what came of it ("InputCount is 0"), built only
  // when there is a doubt.
  template <typename Said>
  void NoteDoubt(int row, int column, const Said& outcome);

  // The heading of the cell at (row, column), as typed; "" for none.
  std::string Heading(int row, int column) const;

  // What a record's later rules do to a field once its row is read: the
  // value finally written and why ("bus type 14 sets it"), or nullopt where
  // the value read stands.
  using FinalRule = std::function<std::optional<std::pair<std::string, std::string>>(std::string_view field)>;
  // Ends the row: every report made for it that says what a field of the
  // subject "is written as" is put right where a later column of the row
  // stored that field again, or `rule` gives another value. Called by
  // SetSubject (without rules) and when the reader goes.
  void EndRow(const FinalRule& rule = nullptr);
  ~CellReader() { EndRow(); }
  CellReader(const CellReader&) = delete;
  CellReader& operator=(const CellReader&) = delete;

 private:
  // The read by `convert`; on failure reported with `consequence()`, which is
  // built only then (reads are many, failures few).
  template <typename T, typename Convert, typename Consequence>
  std::optional<T> Converted(int row, int column, std::string_view field, const Consequence& consequence,
                             Convert convert, const char* range);
  template <typename Consequence>
  std::optional<std::string> TextOr(int row, int column, std::string_view field, const Consequence& consequence);
  template <typename Consequence>
  std::optional<std::int16_t> IndexOr(int row, int column, std::string_view field, const Consequence& consequence);
  // "`value` under "heading" `what`; `consequence`", with the default
  // consequence `"field" left unchanged`.
  void Report(int row, int column, const std::string& value, const std::string& what, std::string_view field,
              std::string_view consequence, ErrorCode code);
  // `value`, then ` under "heading"` when the cell has one, then ` what`.
  std::string Described(int row, int column, const std::string& value, const std::string& what) const;
  // "Type of input 19 is written as 0", or `"Type" stays 0` with no subject;
  // the first is a claim, kept with the report it goes into.
  std::string Outcome(std::string_view field, const std::string& value);
  // The report just made carries the claim Outcome formed, if any.
  void KeepClaim(int row, int column);
  void Stored(int column, std::string_view field) { stored_.emplace_back(column, field); }

  void NoteDoubtAs(int row, int column, const NumberDoubt& doubt, const std::string& outcome);

  struct Claim {
    Problems::EntryRef entry;
    int row = 0, column = 0;
    std::string field;
    std::string said;  // "Fader of output 12 is written as 0"
  };

  const SheetGrid& grid_;
  Problems& problems_;
  Headings headings_;
  std::string subject_;
  std::optional<std::pair<std::string, std::string>> pending_;  // field and claim of the report being made
  std::vector<Claim> claims_;                                  // of this row
  std::vector<std::pair<int, std::string_view>> stored_;        // columns and fields stored in this row
};

template <typename Said>
void CellReader::NoteDoubt(int row, int column, const Said& outcome) {
  const Cell cell = grid_.at(row, column);
  if (cell.kind == CellKind::kEmpty || (cell.kind == CellKind::kNumber && cell.number == std::trunc(cell.number))) {
    return;  // the common cases, read as they look
  }
  if (const auto doubt = NumberReadingDoubt(grid_, row, column)) NoteDoubtAs(row, column, *doubt, outcome());
}

// An index as reports show it: 16383 as "16383 (none)"; another, when what
// it counts is named, with the entry it is: 0 of "relay" as "0 (relay 1)".
std::string IndexText(std::int16_t index, std::string_view points_to = {});

}  // namespace kvr

#endif  // KVR_WORKBOOK_CELL_READER_H_
