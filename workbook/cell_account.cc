#include "workbook/cell_account.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/words.h"

namespace kvr {
namespace {

struct Rect {
  int row1, column1, row2, column2;
};

// "AB12" as 1-based sheet (row, column); nullopt when it is no cell name.
std::optional<std::pair<int, int>> ParseCell(std::string_view name) {
  std::size_t i = 0;
  int column = 0, row = 0;
  while (i < name.size() && std::isupper(static_cast<unsigned char>(name[i])) && column < 100000) {
    column = column * 26 + (name[i++] - 'A' + 1);
  }
  const std::size_t digits = i;
  while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])) && row < 10000000) {
    row = row * 10 + (name[i++] - '0');
  }
  if (column == 0 || i == digits || i != name.size()) return std::nullopt;
  return std::make_pair(row, column);
}

// The places a report names on the sheet, as grid rectangles: "F12",
// "A10:A193", or several of these joined by ", ".
std::vector<Rect> ParsePlaces(const SheetGrid& grid, std::string_view cells) {
  std::vector<Rect> out;
  while (!cells.empty()) {
    const std::size_t comma = cells.find(", ");
    std::string_view one = cells.substr(0, comma);
    cells = comma == std::string_view::npos ? std::string_view() : cells.substr(comma + 2);
    const std::size_t colon = one.find(':');
    const auto a = ParseCell(one.substr(0, colon));
    const auto b = colon == std::string_view::npos ? a : ParseCell(one.substr(colon + 1));
    if (!a || !b) continue;
    const int dr = grid.first_row() - 1, dc = grid.first_column() - 1;
    out.push_back({std::min(a->first, b->first) - dr, std::min(a->second, b->second) - dc,
                   std::max(a->first, b->first) - dr, std::max(a->second, b->second) - dc});
  }
  return out;
}

// True when a text is blanks alone (spaces, tabs, line breaks, no-break
// spaces): its cell shows nothing, and it is no value to account for.
bool ShowsNothing(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n') continue;
    if (text.substr(i, 2) == "\xC2\xA0") {
      ++i;
      continue;
    }
    return false;
  }
  return true;
}

// The grid's cells that were read or are named, and those that hold a value.
class CellMap {
 public:
  explicit CellMap(const SheetGrid& grid) : grid_(grid), named_(Size(grid)), value_(Size(grid)) {
    const SheetGrid::Quiet quiet(grid);
    for (int r = 1; r <= grid.rows(); ++r) {
      for (int c = 1; c <= grid.columns(); ++c) {
        named_[Index(r, c)] = grid.Read(r, c);
        const Cell cell = grid.at(r, c);
        value_[Index(r, c)] = cell.kind != CellKind::kEmpty && (cell.kind != CellKind::kText || !ShowsNothing(cell.text));
      }
    }
    held_ = value_;
  }
  void Name(Rect rect) {
    for (int r = std::max(rect.row1, 1); r <= std::min(rect.row2, grid_.rows()); ++r) {
      for (int c = std::max(rect.column1, 1); c <= std::min(rect.column2, grid_.columns()); ++c) named_[Index(r, c)] = 1;
    }
  }
  bool named(int r, int c) const { return named_[Index(r, c)] != 0; }
  bool unread(int r, int c) const { return value_[Index(r, c)] != 0 && named_[Index(r, c)] == 0; }
  bool holds(int r, int c) const { return held_[Index(r, c)] != 0; }
  void Take(int r, int c) { value_[Index(r, c)] = 0; }

 private:
  static std::size_t Size(const SheetGrid& g) { return static_cast<std::size_t>(g.rows()) * g.columns(); }
  std::size_t Index(int r, int c) const { return static_cast<std::size_t>(r - 1) * grid_.columns() + (c - 1); }
  const SheetGrid& grid_;
  std::vector<char> named_, value_, held_;  // held_: value_ before any was taken
};

// Cells of one cause, told as rectangles: a run of rows in one column joins
// the rectangle of the column before when it spans the same rows.
class Ranges {
 public:
  void Add(int row, int column) { cells_.emplace_back(column, row); }
  int count() const { return static_cast<int>(cells_.size()); }
  bool empty() const { return cells_.empty(); }
  // "D5:F9, H12" (at most `shown` ranges) and how many more there are.
  // `box` is given the rectangle that holds them all.
  std::string Places(const SheetGrid& grid, std::size_t shown, std::size_t& more, Rect& box) const {
    std::vector<std::pair<int, int>> cells = cells_;
    std::sort(cells.begin(), cells.end());
    std::vector<Rect> rects, column_runs;
    auto end_column = [&] {
      for (const Rect& run : column_runs) {
        auto joined = std::find_if(rects.begin(), rects.end(), [&](const Rect& r) {
          return r.column2 == run.column1 - 1 && r.row1 == run.row1 && r.row2 == run.row2;
        });
        if (joined != rects.end()) joined->column2 = run.column2;
        else rects.push_back(run);
      }
      column_runs.clear();
    };
    for (const auto& [column, row] : cells) {
      if (!column_runs.empty() && column_runs.back().column1 != column) end_column();
      if (!column_runs.empty() && column_runs.back().row2 == row - 1) column_runs.back().row2 = row;
      else column_runs.push_back({row, column, row, column});
    }
    end_column();
    std::sort(rects.begin(), rects.end(), [](const Rect& a, const Rect& b) {
      return std::tie(a.row1, a.column1) < std::tie(b.row1, b.column1);
    });
    box = rects.front();
    for (const Rect& r : rects) {
      box = {std::min(box.row1, r.row1), std::min(box.column1, r.column1), std::max(box.row2, r.row2),
             std::max(box.column2, r.column2)};
    }
    std::string out;
    for (std::size_t i = 0; i < rects.size() && i < shown; ++i) {
      const Rect& r = rects[i];
      if (!out.empty()) out += ", ";
      out += grid.CellName(r.row1, r.column1);
      if (r.row2 != r.row1 || r.column2 != r.column1) out += ":" + grid.CellName(r.row2, r.column2);
    }
    more = rects.size() > shown ? rects.size() - shown : 0;
    return out;
  }

 private:
  std::vector<std::pair<int, int>> cells_;  // (column, row)
};

std::string Values(int n) { return n == 1 ? "1 value" : std::to_string(n) + " values"; }

// One notice of `ranges`: placed on the rectangle that holds them all, the
// ranges themselves said after `message` (the first few, and how many more).
void Say(const SheetGrid& grid, const Ranges& ranges, const std::string& message, const char* tag,
         Problems& problems) {
  if (ranges.empty()) return;
  constexpr std::size_t kShown = 6;
  std::size_t more = 0;
  Rect box{};
  const std::string places = ranges.Places(grid, kShown, more, box);
  std::string text = message + " (" + Values(ranges.count()) + ": " + places;
  if (more > 0) text += " and " + std::to_string(more) + " more " + (more == 1 ? "range" : "ranges");
  problems.Note(grid.Span(box.row1, box.column1, box.row2, box.column2), text + ")", tag);
}

// The sheet's own columns (or rows): those of which no reader looked at a
// value. Under a heading (a label) they are the engineer's own and are
// listed; under none, a notice says that such values are never read.
void AccountForLines(const SheetGrid& grid, CellMap& map, bool columns, Problems& problems) {
  constexpr std::size_t kNamed = 8;  // lines named in the message; "others" after them
  Ranges own, headless;
  std::vector<std::string> names;
  const int lines = columns ? grid.columns() : grid.rows(), length = columns ? grid.rows() : grid.columns();
  auto cell = [&](int line, int at) { return columns ? std::make_pair(at, line) : std::make_pair(line, at); };
  std::vector<int> taken;
  for (int line = 2; line <= lines; ++line) {
    bool any_read = false, any_unread = false;
    for (int at = 1; at <= length; ++at) {
      const auto [r, c] = cell(line, at);
      if (at > 1) any_read = any_read || map.named(r, c);
      any_unread = any_unread || map.unread(r, c);
    }
    if (any_read || !any_unread) continue;
    const auto [hr, hc] = cell(line, 1);
    const SheetGrid::Quiet quiet(grid);
    const Cell head = grid.at(hr, hc);
    const std::string where = columns ? ColumnLetters(grid.first_column() + line - 1)
                                      : "row " + std::to_string(grid.first_row() + line - 1);
    // A line headed by a number is a record the reader passed over: a
    // cause of its own below, not the engineer's own line.
    if (head.kind == CellKind::kNumber) continue;
    const bool headed = head.kind != CellKind::kEmpty;
    // A row without a label is told below, by what its first cell holds.
    if (!headed && !columns) continue;
    if (headed && names.size() == kNamed) names.emplace_back("others");
    if (headed && names.size() < kNamed) {
      names.push_back(head.kind == CellKind::kText ? "\"" + std::string(head.text) + "\" (" + where + ")" : where);
    }
    taken.push_back(line);
    for (int at = 1; at <= length; ++at) {
      const auto [r, c] = cell(line, at);
      if (map.unread(r, c)) (headed ? own : headless).Add(r, c);
    }
  }
  for (int line : taken) {
    for (int at = 1; at <= length; ++at) {
      const auto [r, c] = cell(line, at);
      map.Take(r, c);
    }
  }
  const char* noun = columns ? "column" : "row";
  const char* by = columns ? "heading" : "label";
  if (!own.empty()) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
      list += names[i];
    }
    const bool one = names.size() == 1;
    Say(grid, own,
        std::string("the ") + noun + (one ? " " : "s ") + list + (one ? " is" : " are") +
            " not read: no field of this sheet is read by " + (one ? "its " : "their ") + by + (one ? "" : "s"),
        Problems::kNotReadTag, problems);
  }
  Say(grid, headless,
      "values in columns without a heading are not read: a column is read by the heading in its first row",
      kCellsUnreadTag, problems);
}

// Values read from rows or columns the workbook hides: what the sheet does
// not show reaches the outputs. One notice for the rows, one for the columns.
void AccountForHidden(const SheetGrid& grid, const CellMap& map, Problems& problems) {
  if (!grid.HidesAny()) return;
  Ranges rows, columns;
  std::vector<int> hidden_rows, hidden_columns;
  for (int r = 1; r <= grid.rows(); ++r) {
    // A first cell looked at alone (a scan for the next number) reaches nothing.
    bool beyond_first = false;
    for (int c = 2; c <= grid.columns() && !beyond_first; ++c) beyond_first = map.holds(r, c) && grid.Read(r, c);
    for (int c = beyond_first ? 1 : 2; c <= grid.columns(); ++c) {
      if (!map.holds(r, c) || !grid.Read(r, c)) continue;
      if (grid.RowHidden(r)) {
        rows.Add(r, c);
        if (hidden_rows.empty() || hidden_rows.back() != r) hidden_rows.push_back(r);
      } else if (grid.ColumnHidden(c)) {
        columns.Add(r, c);
        if (std::find(hidden_columns.begin(), hidden_columns.end(), c) == hidden_columns.end()) {
          hidden_columns.push_back(c);
        }
      }
    }
  }
  auto list = [](const std::vector<int>& lines, const auto& name) {
    std::string out;
    for (std::size_t i = 0; i < lines.size() && i < 6; ++i) out += (i == 0 ? "" : ", ") + name(lines[i]);
    if (lines.size() > 6) out += " and " + std::to_string(lines.size() - 6) + " more";
    return out;
  };
  if (!rows.empty()) {
    Say(grid, rows,
        std::string(hidden_rows.size() == 1 ? "the row " : "the rows ") +
            list(hidden_rows, [&](int r) { return std::to_string(grid.first_row() + r - 1); }) +
            (hidden_rows.size() == 1 ? " is" : " are") +
            " hidden, yet read: what the sheet does not show reaches the outputs",
        kHiddenReadTag, problems);
  }
  if (!columns.empty()) {
    Say(grid, columns,
        std::string(hidden_columns.size() == 1 ? "the column " : "the columns ") +
            list(hidden_columns, [&](int c) { return ColumnLetters(grid.first_column() + c - 1); }) +
            (hidden_columns.size() == 1 ? " is" : " are") +
            " hidden, yet read: what the sheet does not show reaches the outputs",
        kHiddenReadTag, problems);
  }
}

}  // namespace

void AccountForCells(const SheetGrid& grid, const SheetShape& shape, ProblemsMark since, Problems& problems) {
  if (!grid.unsaved_formulas().empty()) {
    Ranges unsaved;
    for (const auto& [row, column] : grid.unsaved_formulas()) {
      unsaved.Add(row - grid.first_row() + 1, column - grid.first_column() + 1);
    }
    Say(grid, unsaved,
        "formulas whose result the file does not hold read as empty: the spreadsheet application shows a value the "
        "run does not see (the workbook was saved without calculating them; open it and save it again)",
        kFormulaUnsavedTag, problems);
  }
  if (grid.empty()) return;
  CellMap map(grid);
  auto name = [&](const Problem& p) {
    if (p.where.sheet != grid.sheet_name()) return;
    for (Rect rect : ParsePlaces(grid, p.where.cells)) {
      // A report at a row's first cell speaks of the row; one at a heading, of its column.
      if (rect.column1 == 1) rect.column2 = grid.columns();
      if (shape.headings_in_row1 && rect.row1 == 1 && rect.row2 == 1) rect.row2 = grid.rows();
      map.Name(rect);
    }
  };
  for (std::size_t i = since.problems; i < problems.size(); ++i) name(problems.list()[i]);
  for (std::size_t i = since.notices; i < problems.notices().size(); ++i) name(problems.notices()[i]);

  AccountForHidden(grid, map, problems);
  if (shape.headings_in_row1) AccountForLines(grid, map, true, problems);
  if (shape.labels_in_column1) AccountForLines(grid, map, false, problems);
  int last_read = 0;
  for (int r = 1; r <= grid.rows(); ++r) {
    for (int c = 1; c <= grid.columns(); ++c) {
      if (map.named(r, c)) last_read = r;
    }
  }
  Ranges below, blank_first, rows_passed, beside;
  for (int c = 1; c <= grid.columns(); ++c) {
    for (int r = 1; r <= grid.rows(); ++r) {
      if (!map.unread(r, c)) continue;
      if (r > last_read) {
        below.Add(r, c);
        continue;
      }
      bool row_read = false;  // past its first cell
      for (int x = 2; x <= grid.columns() && !row_read; ++x) row_read = map.named(r, x);
      if (row_read) beside.Add(r, c);
      else if (!map.holds(r, 1)) blank_first.Add(r, c);
      else rows_passed.Add(r, c);
    }
  }
  Say(grid, below,
      "values below row " + std::to_string(grid.first_row() + last_read - 1) +
          ", the last row this run reads, are not read",
      kCellsUnreadTag, problems);
  Say(grid, blank_first,
      "values in rows whose first cell is empty are not read: a row is read by what its first cell holds",
      kCellsUnreadTag, problems);
  Say(grid, rows_passed,
      "values in rows whose first cell names nothing this run reads are not read",
      kCellsUnreadTag, problems);
  Say(grid, beside,
      "values beside the cells read, where no field is read from, are not read",
      kCellsUnreadTag, problems);
}

}  // namespace kvr
