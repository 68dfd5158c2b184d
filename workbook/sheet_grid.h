// SheetGrid: the values of one worksheet's used range, read once and then
// consulted without going back to the file.
//
// The used range is the rectangle from the first to the last non-empty cell;
// grid row 1, column 1 is its top-left corner, so a sheet whose data lie in
// B3:D6 gives a 4 x 3 grid whose (1, 1) is B3. A cell with formatting but no
// value is empty. A sheet without values gives a 0 x 0 grid.
#ifndef KVR_WORKBOOK_SHEET_GRID_H_
#define KVR_WORKBOOK_SHEET_GRID_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/problems.h"

namespace kvr {

enum class CellKind : std::uint8_t { kEmpty, kNumber, kText, kBoolean, kDate, kError };

// A cell as the grid hands it out. `text` points into the grid and lives as
// long as the grid. Numbers, dates (day serials) and booleans (0 or 1) use
// `number`; texts and error values ("#N/A", "#DIV/0!", ...) use `text`.
struct Cell {
  CellKind kind = CellKind::kEmpty;
  double number = 0;
  std::string_view text;
};

// Column letters of a 1-based column number: 1 -> "A", 28 -> "AB".
std::string ColumnLetters(int column);

class SheetGrid {
 public:
  // Upper bound on the cells of a used range. A larger sheet is refused
  // rather than allocated; it is far beyond any installation's workbook.
  static constexpr std::size_t kMaxCells = std::size_t{1} << 22;
  // The longest text a cell holds in every workbook format. Readers refuse a
  // sheet with a longer one rather than keep it.
  static constexpr std::size_t kMaxTextChars = 32767;
  // Four bytes is the longest UTF-8 character: text read past this many
  // bytes cannot fit, and readers stop collecting it there.
  static constexpr std::size_t kMaxTextBytes = 4 * kMaxTextChars;
  // The most text, in bytes, one sheet's cells hold together.
  static constexpr std::size_t kMaxSheetTextBytes = std::size_t{64} << 20;

  SheetGrid() = default;

  int rows() const { return rows_; }
  int columns() const { return columns_; }
  bool empty() const { return rows_ == 0; }

  // The cell at 1-based (row, column); outside the grid an empty cell. The
  // cell is marked as read (see Read), unless a Quiet is alive.
  Cell at(int row, int column) const;

  // Whether the cell has been handed out by at() or marked by MarkRead: what
  // a run's account of unread cells goes by.
  bool Read(int row, int column) const;
  // Marks the rectangle from (row1, column1) to (row2, column2) as read:
  // cells a reader passes over on purpose and names in a report of its own.
  void MarkRead(int row1, int column1, int row2, int column2) const;

  // While one lives, at() marks nothing: a look around the sheet (is row 1 a
  // title? does a row hold values?) is not a read of what it looks at.
  class Quiet {
   public:
    explicit Quiet(const SheetGrid& grid) : grid_(grid) { ++grid_.quiet_; }
    ~Quiet() { --grid_.quiet_; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

   private:
    const SheetGrid& grid_;
  };

  // Whether the workbook hides grid row `row` (column `column`) from view.
  bool RowHidden(int row) const { return Within(hidden_rows_, row); }
  bool ColumnHidden(int column) const { return Within(hidden_columns_, column); }
  bool HidesAny() const { return !hidden_rows_.empty() || !hidden_columns_.empty(); }

  // The cells (sheet row and column) whose formula has no saved result: the
  // spreadsheet application shows what it calculates, the file holds
  // nothing, and the grid reads them as empty.
  const std::vector<std::pair<int, int>>& unsaved_formulas() const { return unsaved_formulas_; }

  // The worksheet's name, and where grid (1, 1) stands on it (1-based).
  const std::string& sheet_name() const { return sheet_name_; }
  int first_row() const { return first_row_; }
  int first_column() const { return first_column_; }
  // True when day serials count from 1 January 1904 rather than 30 December 1899.
  bool date1904() const { return date1904_; }

  // The sheet cell under grid (row, column) as a report's place, printed
  // "Sources!F12" (names that are not plain words quoted as the spreadsheet
  // application quotes them); Span covers the rectangle from (row1, column1)
  // to (row2, column2): "Sources!A10:A193".
  Where At(int row, int column) const;
  Where Span(int row1, int column1, int row2, int column2) const;
  // "F12" alone.
  std::string CellName(int row, int column) const;

 private:
  friend class SheetGridBuilder;
  struct Slot {
    double number = 0;
    std::uint32_t text = 0;
    CellKind kind = CellKind::kEmpty;
    mutable bool read = false;  // in the slot's padding: no room of its own
  };
  static_assert(sizeof(Slot) == 16);

  std::string sheet_name_;
  bool date1904_ = false;
  int rows_ = 0;
  int columns_ = 0;
  int first_row_ = 1;
  int first_column_ = 1;
  mutable int quiet_ = 0;
  std::vector<std::pair<int, int>> hidden_rows_, hidden_columns_;  // grid ranges, first to last
  std::vector<std::pair<int, int>> unsaved_formulas_;              // sheet coordinates
  static bool Within(const std::vector<std::pair<int, int>>& ranges, int i) {
    for (const auto& [first, last] : ranges) {
      if (i >= first && i <= last) return true;
    }
    return false;
  }
  std::vector<Slot> slots_;        // rows_ x columns_, row-major
  std::vector<std::string> texts_;  // texts and error names, referenced by Slot::text
};

// Collects the non-empty cells of a sheet in any order, then lays out the
// grid. Readers intern each distinct text once and place cells by sheet
// coordinates (1-based). Throws WorkbookError when the used range would hold
// more than SheetGrid::kMaxCells cells.
class SheetGridBuilder {
 public:
  SheetGridBuilder(std::string sheet_name, bool date1904);

  // Returns the id under which `text` is stored; AddText takes it. Throws
  // WorkbookError past SheetGrid::kMaxSheetTextBytes of text in all.
  std::uint32_t InternText(std::string text);
  std::size_t text_bytes() const { return text_bytes_; }

  void AddNumber(int row, int column, double value);
  void AddDate(int row, int column, double serial);
  void AddBoolean(int row, int column, bool value);
  void AddText(int row, int column, std::uint32_t text_id);
  void AddError(int row, int column, std::string_view name);
  // Rows (columns) `first` to `last`, in sheet coordinates, are hidden from view.
  void HideRows(int first, int last);
  void HideColumns(int first, int last);
  // The cell holds a formula whose result the file does not hold.
  void AddUnsavedFormula(int row, int column) {
    if (grid_.unsaved_formulas_.size() < 100000) grid_.unsaved_formulas_.emplace_back(row, column);
  }

  SheetGrid Build() &&;

 private:
  struct Placed {
    std::uint32_t row;
    std::uint32_t column;
    SheetGrid::Slot slot;
  };
  void Add(int row, int column, SheetGrid::Slot slot);

  SheetGrid grid_;
  std::vector<Placed> cells_;
  std::vector<std::pair<int, int>> hidden_rows_, hidden_columns_;  // sheet ranges
  std::size_t text_bytes_ = 0;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_SHEET_GRID_H_
