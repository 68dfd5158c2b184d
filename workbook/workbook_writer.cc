#include "workbook/workbook_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/utf8.h"
#include "workbook/cell_convert.h"

namespace kvr {
namespace {

// Characters a reader takes into account when sizing a column: one per
// UTF-8 character, the longest line of a text.
std::size_t DisplayWidth(const Cell& cell) {
  if (cell.kind == CellKind::kNumber) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, cell.number);
    return static_cast<std::size_t>(r.ptr - buffer);
  }
  std::size_t longest = 0;
  std::string_view rest = cell.text;
  while (true) {
    const std::size_t end = rest.find('\n');
    longest = std::max(longest, Utf8Length(rest.substr(0, end)));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return longest;
}

}  // namespace

std::string NumberText(double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

void OutSheet::SetNumber(int row, int column, double value) {
  Slot& slot = Place(row, column);
  slot.kind = static_cast<std::uint32_t>(CellKind::kNumber);
  slot.number = value;
}

void OutSheet::SetText(int row, int column, std::string text) {
  if (text.empty()) {
    if (row <= rows() && column <= columns_) Place(row, column) = Slot{};
    return;
  }
  std::erase_if(cut_, [&](const CutCell& c) { return c.row == row && c.column == column; });
  CutCell changed{row, column, 0, false};
  if (std::string mended = SanitizeUtf8(text); mended != text) {
    text = std::move(mended);
    changed.not_utf8 = true;
  }
  if (const std::size_t characters = Utf8Length(text); characters > SheetGrid::kMaxTextChars) {
    text = std::string(Utf8Prefix(text, SheetGrid::kMaxTextChars));
    changed.characters = characters;
  }
  if (changed.not_utf8 || changed.characters > 0) cut_.push_back(changed);
  Slot& slot = Place(row, column);
  slot.kind = static_cast<std::uint32_t>(CellKind::kText);
  slot.text_at = static_cast<std::uint32_t>(texts_.size());
  slot.text_length = static_cast<std::uint32_t>(text.size()) & 0xFFFFFF;
  texts_ += text;  // a text set again leaves its earlier copy unused in the buffer
}

OutSheet::Slot& OutSheet::Place(int row, int column) {
  if (row > rows()) rows_.resize(static_cast<std::size_t>(row));
  auto& cells = rows_[static_cast<std::size_t>(row - 1)];
  if (column > static_cast<int>(cells.size())) {
    // Rows are filled left to right: room for the columns the sheet has at
    // once, not grown step by step.
    cells.reserve(static_cast<std::size_t>(std::max(column, columns_)));
    cells.resize(static_cast<std::size_t>(column));
  }
  columns_ = std::max(columns_, column);
  return cells[static_cast<std::size_t>(column - 1)];
}

Cell OutSheet::at(int row, int column) const {
  if (row < 1 || row > rows() || column < 1) return {};
  const auto& cells = rows_[static_cast<std::size_t>(row - 1)];
  if (column > static_cast<int>(cells.size())) return {};
  const Slot& slot = cells[static_cast<std::size_t>(column - 1)];
  const auto kind = static_cast<CellKind>(slot.kind);
  if (kind == CellKind::kText) return {kind, 0, std::string_view(texts_).substr(slot.text_at, slot.text_length)};
  return {kind, slot.number, {}};
}

std::vector<double> OutSheet::ColumnWidths() const {
  std::vector<std::size_t> longest(static_cast<std::size_t>(columns_), 0);
  for (int r = 1; r <= rows(); ++r) {
    for (int c = 1; c <= columns_; ++c) {
      longest[static_cast<std::size_t>(c - 1)] = std::max(longest[static_cast<std::size_t>(c - 1)], DisplayWidth(at(r, c)));
    }
  }
  std::vector<double> widths;
  for (const std::size_t n : longest) widths.push_back(std::clamp(static_cast<double>(n) + 2, 6.0, 80.0));
  return widths;
}

SheetGrid OutSheet::ToGrid() const {
  SheetGridBuilder builder(name_, false);
  for (int r = 1; r <= rows(); ++r) {
    for (int c = 1; c <= columns_; ++c) {
      const Cell cell = at(r, c);
      if (cell.kind == CellKind::kNumber) builder.AddNumber(r, c, cell.number);
      else if (cell.kind == CellKind::kText) builder.AddText(r, c, builder.InternText(std::string(cell.text)));
    }
  }
  return std::move(builder).Build();
}

std::vector<std::string> GridDifferences(const OutSheet& written, const SheetGrid& read) {
  std::vector<std::string> found;
  const int rows = std::max(written.rows(), read.rows()), columns = std::max(written.columns(), read.columns());
  for (int r = 1; r <= rows && found.size() < 5; ++r) {
    for (int c = 1; c <= columns && found.size() < 5; ++c) {
      const Cell want = written.at(r, c);
      const Cell got = read.at(r, c);
      const std::string name = ColumnLetters(c) + std::to_string(r);
      switch (want.kind) {
        case CellKind::kEmpty:
          if (got.kind != CellKind::kEmpty) found.push_back(name + ": an empty cell reads back as a value");
          break;
        case CellKind::kNumber:
          if (got.kind != CellKind::kNumber || got.number != want.number) {
            found.push_back(name + ": the number " + NumberText(want.number) + " does not read back as written");
          }
          break;
        case CellKind::kText:
          if (got.kind != CellKind::kText || got.text != want.text) {
            found.push_back(name + ": the text \"" + EscapeControls(std::string(want.text)) + "\" reads back as \"" +
                            EscapeControls(std::string(got.text)) + "\"");
          }
          break;
        default:
          break;
      }
    }
  }
  return found;
}

}  // namespace kvr
