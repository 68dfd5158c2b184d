#include "workbook/ods_content.h"

#include <charconv>
#include <cstring>
#include <stdexcept>

#include "base/utf8.h"
#include "workbook/number_format.h"
#include "workbook/workbook.h"

namespace kvr::ods {
namespace {
constexpr std::int64_t kMaxRow = 1048576;
constexpr std::int64_t kMaxColumn = 16384;

// The namespaces the content is read by, in the order ContentHandler's
// `namespaces` knows them.
enum Ns : std::size_t { kOffice, kTable, kText, kCalcExt, kDrawing };

const char* Attr(const XmlNamespaces& ns, const XML_Char** atts, Ns space, std::string_view local) {
  for (int i = 0; atts[i] != nullptr; i += 2) {
    if (ns.IsAttribute(atts[i], space, local)) return atts[i + 1];
  }
  return nullptr;
}

// A row or column the sheet does not show: table:visibility "collapse"
// (hidden) or "filter" (filtered out).
bool Invisible(const XmlNamespaces& ns, const XML_Char** atts) {
  const char* v = Attr(ns, atts, kTable, "visibility");
  return v != nullptr && (std::strcmp(v, "collapse") == 0 || std::strcmp(v, "filter") == 0);
}

// A repeat count attribute: 1 when absent or malformed, at least 1.
std::int64_t RepeatCount(const char* v) {
  if (v == nullptr) return 1;
  std::int64_t n = 1;
  const std::string_view s(v);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
  if (r.ec != std::errc() || n < 1) return 1;
  return n;
}

std::int64_t RepeatOf(const XmlNamespaces& ns, const XML_Char** atts, std::string_view local) {
  return RepeatCount(Attr(ns, atts, kTable, local));
}

std::optional<double> ParseDouble(const char* v) {
  if (v == nullptr) return std::nullopt;
  std::string_view s(v);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  double d = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), d);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return d;
}

}  // namespace

void ContentHandler::StopCaching() {
  caching = false;
  if (names == nullptr) finished = true;
}

void ContentHandler::Fail(std::string why, bool past_limit) {
  builder.reset();
  in_row = in_cell = false;
  if (current() == must) {
    error = std::move(why);
    limit = past_limit;
  } else {
    StopCaching();
  }
}

void ContentHandler::Start(std::string_view name, const XML_Char** atts) {
  if (namespaces.IsElement(name, kOffice, "spreadsheet")) spreadsheet_seen = true;
  if (depth == 0) {
    if (!namespaces.IsElement(name, kTable, "table")) return;
    const char* n = Attr(namespaces, atts, kTable, "name");
    const std::string sheet = SanitizeUtf8(n != nullptr ? n : "");
    if (names != nullptr) {
      if (names->size() >= kMaxSheets) {
        error = "more than " + std::to_string(kMaxSheets) + " sheets, the most a workbook may list";
        limit = true;
        return;
      }
      names->push_back(sheet);
    }
    depth = 1;
    const std::size_t t = table_index++;
    if (cache != nullptr && t >= first && (caching || t == must)) {
      if (cache->size() <= t) cache->resize(t + 1);
      builder = std::make_unique<SheetGridBuilder>(sheet, false);
      row = 0;
      declared_columns = 0;
      in_row = in_cell = false;
      value_cells = 0;
    }
    return;
  }
  ++depth;
  if (!builder) return;
  if (in_cell) {
    StartInCell(name, atts);
    return;
  }
  if (namespaces.IsElement(name, kTable, "table-column") && !in_row) {
    // Columns are declared in order before the rows: which are hidden.
    const std::int64_t repeat = RepeatOf(namespaces, atts, "number-columns-repeated");
    if (Invisible(namespaces, atts) && declared_columns < kMaxColumn) {
      builder->HideColumns(static_cast<int>(declared_columns + 1),
                           static_cast<int>(std::min(declared_columns + repeat, kMaxColumn)));
    }
    declared_columns += repeat;
  } else if (namespaces.IsElement(name, kTable, "table-row") && !in_row) {
    in_row = true;
    column = 0;
    row_repeat = RepeatOf(namespaces, atts, "number-rows-repeated");
    row_hidden = Invisible(namespaces, atts);
    row_cells.clear();
  } else if (in_row && (namespaces.IsElement(name, kTable, "table-cell") || namespaces.IsElement(name, kTable, "covered-table-cell"))) {
    StartCell(name, atts);
  }
}

void ContentHandler::StartCell(std::string_view name, const XML_Char** atts) {
  in_cell = true;
  cell_depth = depth;
  covered = namespaces.IsElement(name, kTable, "covered-table-cell");
  // The cell's attributes, told apart in one pass: a plant's content has
  // millions of cells.
  const char* repeat = nullptr;
  const char* formula = nullptr;
  const char* value_type = nullptr;
  const char* calc_type = nullptr;
  const char* values[4] = {};  // value, date-value, time-value, boolean-value
  const char* string_value = nullptr;
  static constexpr std::string_view kValueNames[4] = {"value", "date-value", "time-value", "boolean-value"};
  for (int i = 0; atts[i] != nullptr; i += 2) {
    if (const auto local = namespaces.AttributeIn(atts[i], kTable)) {
      if (*local == "number-columns-repeated") repeat = atts[i + 1];
      else if (*local == "formula") formula = atts[i + 1];
    } else if (const auto local = namespaces.AttributeIn(atts[i], kOffice)) {
      if (*local == "value-type") value_type = atts[i + 1];
      else if (*local == "string-value") string_value = atts[i + 1];
      for (std::size_t k = 0; k < 4; ++k) {
        if (*local == kValueNames[k]) values[k] = atts[i + 1];
      }
    } else if (const auto local = namespaces.AttributeIn(atts[i], kCalcExt)) {
      if (*local == "value-type") calc_type = atts[i + 1];
    }
  }
  cell_repeat = RepeatCount(repeat);
  type = Type::kNone;
  value_attr.clear();
  string_attr.clear();
  has_string_attr = false;
  text.clear();
  paragraphs = 0;
  paragraph_depth = 0;
  skip_depth = 0;
  if (covered) return;
  has_formula = formula != nullptr;
  const std::string_view vt = value_type != nullptr ? value_type : "";
  auto take = [&](std::size_t k) {
    if (values[k] != nullptr) value_attr = values[k];
  };
  if (calc_type != nullptr && std::string_view(calc_type) == "error") {
    type = Type::kError;
  } else if (vt == "float" || vt == "percentage" || vt == "currency") {
    type = Type::kFloat;
    take(0);
  } else if (vt == "date") {
    type = Type::kDate;
    take(1);
  } else if (vt == "time") {
    type = Type::kTime;
    take(2);
  } else if (vt == "boolean") {
    type = Type::kBoolean;
    take(3);
  } else if (vt == "string") {
    type = Type::kString;
  }
  if (string_value != nullptr) {
    string_attr = string_value;
    has_string_attr = true;
  }
}

void ContentHandler::StartInCell(std::string_view name, const XML_Char** atts) {
  if (skip_depth > 0) {
    ++skip_depth;
    return;
  }
  if (namespaces.IsElement(name, kOffice, "annotation") || namespaces.IsElement(name, kText, "note") ||
      namespaces.ElementIn(name, kDrawing)) {
    skip_depth = 1;
    return;
  }
  if (paragraph_depth == 0) {
    if (depth == cell_depth + 1 && (namespaces.IsElement(name, kText, "p") || namespaces.IsElement(name, kText, "h"))) {
      if (paragraphs++ > 0) Append("\n");
      paragraph_depth = 1;
    }
    return;
  }
  ++paragraph_depth;
  if (namespaces.IsElement(name, kText, "s")) {
    std::int64_t n = 1;
    if (const char* c = Attr(namespaces, atts, kText, "c")) {
      const std::string_view s(c);
      const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
      if (r.ec != std::errc() || n < 0) n = 1;
    }
    if (n > static_cast<std::int64_t>(SheetGrid::kMaxTextChars)) n = SheetGrid::kMaxTextChars + 1;  // refused below
    Append(std::string(static_cast<std::size_t>(n), ' '));
  } else if (namespaces.IsElement(name, kText, "tab")) {
    Append("\t");
  } else if (namespaces.IsElement(name, kText, "line-break")) {
    Append("\n");
  }
}

void ContentHandler::Append(std::string_view s) {
  // Four bytes is the longest UTF-8 character: past that the text cannot fit.
  if (text.size() + s.size() > SheetGrid::kMaxTextBytes) {
    TextTooLong();
    return;
  }
  text.append(s);
}

void ContentHandler::TextTooLong() {
  Fail("a cell's text in row " + std::to_string(row + 1) + " is longer than " +
           std::to_string(SheetGrid::kMaxTextChars) + " characters, the most a cell holds",
       true);
}

void ContentHandler::End(std::string_view name) {
  if (depth == 0) return;
  if (--depth == 0) {
    FinishTable();
    return;
  }
  if (!builder) return;
  if (in_cell) {
    if (depth + 1 == cell_depth) {
      in_cell = false;
      FinishCell();
    } else if (skip_depth > 0) {
      --skip_depth;
    } else if (paragraph_depth > 0) {
      --paragraph_depth;
    }
    return;
  }
  if (in_row && namespaces.IsElement(name, kTable, "table-row")) {
    in_row = false;
    FinishRow();
  }
}

void ContentHandler::Text(const char* s, std::size_t n) {
  if (builder && in_cell && paragraph_depth > 0 && skip_depth == 0) Append(std::string_view(s, n));
}

void ContentHandler::FinishTable() {
  if (!builder) return;
  const std::size_t t = current();
  try {
    cached_text += builder->text_bytes();
    SheetGrid grid = std::move(*builder).Build();
    cached_cells += static_cast<std::size_t>(grid.rows()) * static_cast<std::size_t>(grid.columns());
    (*cache)[t] = std::move(grid);
  } catch (const WorkbookError& e) {
    Fail(e);
    return;
  }
  builder.reset();
  if (t >= must && (cached_cells >= kCacheCells || cached_text >= kCacheTextBytes)) StopCaching();
}

void ContentHandler::FinishCell() {
  const std::int64_t first = column + 1;
  column += cell_repeat;
  if (covered || !builder) return;
  RowCell cell{first, cell_repeat, CellKind::kEmpty, 0, {}};
  switch (type) {
    case Type::kFloat:
      if (const auto d = ParseDouble(value_attr.c_str())) {
        cell.kind = CellKind::kNumber;
        cell.number = *d;
      }
      break;
    case Type::kDate:
      if (const auto d = ParseIsoDateTime(value_attr, false)) {
        cell.kind = CellKind::kDate;
        cell.number = *d;
      }
      break;
    case Type::kTime:
      if (const auto d = ParseIsoDuration(value_attr)) {
        cell.kind = CellKind::kDate;
        cell.number = *d;
      }
      break;
    case Type::kBoolean:
      cell.kind = CellKind::kBoolean;
      cell.number = value_attr == "true" || value_attr == "1" ? 1 : 0;
      break;
    case Type::kError:
      cell.kind = CellKind::kError;
      cell.text = text.empty() ? "#VALUE!" : text;
      break;
    case Type::kString:
      cell.kind = CellKind::kText;
      cell.text = paragraphs == 0 && has_string_attr ? string_attr : text;
      break;
    case Type::kNone:
      // Without a value type only text in a paragraph is kept; a formula
      // whose result is empty text gives empty text, which is no value.
      if (!text.empty()) {
        cell.kind = CellKind::kText;
        cell.text = text;
      } else if (has_formula && row < kMaxRow && first <= kMaxColumn) {
        // A formula with neither a value type nor text: no result was saved.
        builder->AddUnsavedFormula(static_cast<int>(row + 1), static_cast<int>(first));
      }
      break;
  }
  if (cell.kind == CellKind::kText && cell.text.empty()) return;
  if (cell.kind == CellKind::kEmpty) return;
  if ((cell.kind == CellKind::kText || cell.kind == CellKind::kError) && Utf8Length(cell.text) > SheetGrid::kMaxTextChars) {
    TextTooLong();
    return;
  }
  if (first > kMaxColumn) return;  // beyond the last column a sheet has
  cell.repeat = std::min(cell.repeat, kMaxColumn - first + 1);
  row_cells.push_back(std::move(cell));
}

void ContentHandler::FinishRow() {
  const std::int64_t first = row + 1;
  row += row_repeat;
  if (row_hidden && first <= kMaxRow) {
    builder->HideRows(static_cast<int>(first), static_cast<int>(std::min(row, kMaxRow)));
  }
  if (row_cells.empty()) return;
  if (first > kMaxRow) return;
  const std::int64_t rows = std::min(row_repeat, kMaxRow - first + 1);
  std::int64_t per_row = 0;
  for (const RowCell& c : row_cells) per_row += c.repeat;
  if (per_row * rows > static_cast<std::int64_t>(SheetGrid::kMaxCells - value_cells)) {
    Fail("more than " + std::to_string(SheetGrid::kMaxCells) + " cells with values, the most a sheet may hold",
         true);
    return;
  }
  value_cells += static_cast<std::size_t>(per_row * rows);
  for (RowCell& c : row_cells) {
    std::uint32_t id = 0;
    if (c.kind == CellKind::kText) {
      try {
        id = builder->InternText(std::move(c.text));
      } catch (const WorkbookError& e) {
        Fail(e);
        return;
      }
    }
    for (std::int64_t r = first; r < first + rows; ++r) {
      for (std::int64_t col = c.column; col < c.column + c.repeat; ++col) {
        const int ri = static_cast<int>(r), ci = static_cast<int>(col);
        switch (c.kind) {
          case CellKind::kNumber: builder->AddNumber(ri, ci, c.number); break;
          case CellKind::kDate: builder->AddDate(ri, ci, c.number); break;
          case CellKind::kBoolean: builder->AddBoolean(ri, ci, c.number != 0); break;
          case CellKind::kText: builder->AddText(ri, ci, id); break;
          case CellKind::kError: builder->AddError(ri, ci, c.text); break;
          case CellKind::kEmpty: break;
        }
      }
    }
  }
}

}  // namespace kvr::ods
