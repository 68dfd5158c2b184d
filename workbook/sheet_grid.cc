#include "workbook/sheet_grid.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <utility>

#include "workbook/workbook_error.h"

namespace kvr {

std::string ColumnLetters(int column) {
  std::string letters;
  while (column > 0) {
    const int rem = (column - 1) % 26;
    letters.insert(letters.begin(), static_cast<char>('A' + rem));
    column = (column - 1) / 26;
  }
  return letters;
}

Cell SheetGrid::at(int row, int column) const {
  if (row < 1 || row > rows_ || column < 1 || column > columns_) return {};
  const Slot& s = slots_[static_cast<std::size_t>(row - 1) * columns_ + (column - 1)];
  if (quiet_ == 0) s.read = true;
  Cell cell;
  cell.kind = s.kind;
  if (s.kind == CellKind::kText || s.kind == CellKind::kError) {
    cell.text = texts_[s.text];
  } else {
    cell.number = s.number;
  }
  return cell;
}

bool SheetGrid::Read(int row, int column) const {
  if (row < 1 || row > rows_ || column < 1 || column > columns_) return false;
  return slots_[static_cast<std::size_t>(row - 1) * columns_ + (column - 1)].read;
}

void SheetGrid::MarkRead(int row1, int column1, int row2, int column2) const {
  for (int r = std::max(row1, 1); r <= std::min(row2, rows_); ++r) {
    for (int c = std::max(column1, 1); c <= std::min(column2, columns_); ++c) {
      slots_[static_cast<std::size_t>(r - 1) * columns_ + (c - 1)].read = true;
    }
  }
}

std::string SheetGrid::CellName(int row, int column) const {
  return ColumnLetters(first_column_ + column - 1) + std::to_string(first_row_ + row - 1);
}

Where SheetGrid::At(int row, int column) const { return Where::Sheet(sheet_name_, CellName(row, column)); }

Where SheetGrid::Span(int row1, int column1, int row2, int column2) const {
  if (row1 == row2 && column1 == column2) return At(row1, column1);
  return Where::Sheet(sheet_name_, CellName(row1, column1) + ":" + CellName(row2, column2));
}


SheetGridBuilder::SheetGridBuilder(std::string sheet_name, bool date1904) {
  grid_.sheet_name_ = std::move(sheet_name);
  grid_.date1904_ = date1904;
}

std::uint32_t SheetGridBuilder::InternText(std::string text) {
  text_bytes_ += text.size();
  if (text_bytes_ > SheetGrid::kMaxSheetTextBytes) {
    throw WorkbookLimitError("sheet '" + grid_.sheet_name_ + "' holds more than " +
                        std::to_string(SheetGrid::kMaxSheetTextBytes) + " bytes of text");
  }
  grid_.texts_.push_back(std::move(text));
  return static_cast<std::uint32_t>(grid_.texts_.size() - 1);
}

void SheetGridBuilder::Add(int row, int column, SheetGrid::Slot slot) {
  if (cells_.size() >= SheetGrid::kMaxCells) {
    throw WorkbookLimitError("sheet '" + grid_.sheet_name_ + "' holds more than " +
                        std::to_string(SheetGrid::kMaxCells) + " cells");
  }
  cells_.push_back(Placed{static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(column), slot});
}

void SheetGridBuilder::AddNumber(int row, int column, double value) {
  Add(row, column, {value, 0, CellKind::kNumber});
}

void SheetGridBuilder::AddDate(int row, int column, double serial) {
  Add(row, column, {serial, 0, CellKind::kDate});
}

void SheetGridBuilder::AddBoolean(int row, int column, bool value) {
  Add(row, column, {value ? 1.0 : 0.0, 0, CellKind::kBoolean});
}

void SheetGridBuilder::AddText(int row, int column, std::uint32_t text_id) {
  // Empty text does not count as a value: it neither widens the used range
  // nor shows as anything but an empty cell.
  if (grid_.texts_[text_id].empty()) return;
  Add(row, column, {0, text_id, CellKind::kText});
}

void SheetGridBuilder::AddError(int row, int column, std::string_view name) {
  Add(row, column, {0, InternText(std::string(name)), CellKind::kError});
}

void SheetGridBuilder::HideRows(int first, int last) {
  // A long run of hidden rows beside the last one joins it.
  if (!hidden_rows_.empty() && hidden_rows_.back().second + 1 >= first) {
    hidden_rows_.back().second = std::max(hidden_rows_.back().second, last);
    return;
  }
  if (hidden_rows_.size() < 100000) hidden_rows_.emplace_back(first, last);
}

void SheetGridBuilder::HideColumns(int first, int last) {
  if (hidden_columns_.size() < 100000) hidden_columns_.emplace_back(first, last);
}

namespace {

// Sheet ranges as grid ranges: shifted by `origin` (the grid's first row or
// column), clipped to 1..`size`, those outside left out.
std::vector<std::pair<int, int>> ToGrid(const std::vector<std::pair<int, int>>& ranges, int origin, int size) {
  std::vector<std::pair<int, int>> out;
  for (const auto& [first, last] : ranges) {
    const int a = std::max(first - origin + 1, 1), b = std::min(last - origin + 1, size);
    if (a <= b) out.emplace_back(a, b);
  }
  return out;
}

}  // namespace

SheetGrid SheetGridBuilder::Build() && {
  SheetGrid& g = grid_;
  if (cells_.empty()) {
    g.texts_.clear();
    return std::move(g);
  }
  std::uint32_t top = std::numeric_limits<std::uint32_t>::max(), left = top, bottom = 0, right = 0;
  for (const Placed& p : cells_) {
    top = std::min(top, p.row);
    bottom = std::max(bottom, p.row);
    left = std::min(left, p.column);
    right = std::max(right, p.column);
  }
  const std::size_t rows = bottom - top + 1, columns = right - left + 1;
  if (rows > SheetGrid::kMaxCells / columns) {
    throw WorkbookError("sheet '" + g.sheet_name_ + "' has a used range of " +
                        std::to_string(rows) + " rows by " + std::to_string(columns) +
                        " columns, more than " + std::to_string(SheetGrid::kMaxCells) +
                        " cells");
  }
  g.rows_ = static_cast<int>(rows);
  g.columns_ = static_cast<int>(columns);
  g.first_row_ = static_cast<int>(top);
  g.first_column_ = static_cast<int>(left);
  g.slots_.assign(rows * columns, SheetGrid::Slot{});
  for (const Placed& p : cells_) {
    // A later value for the same cell replaces an earlier one.
    g.slots_[(p.row - top) * columns + (p.column - left)] = p.slot;
  }
  cells_.clear();
  cells_.shrink_to_fit();
  g.hidden_rows_ = ToGrid(hidden_rows_, g.first_row_, g.rows_);
  g.hidden_columns_ = ToGrid(hidden_columns_, g.first_column_, g.columns_);
  return std::move(g);
}

}  // namespace kvr
