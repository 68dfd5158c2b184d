// OpenDocument spreadsheets (.ods).
//
// All sheets live in one part, content.xml: office:spreadsheet holds one
// table:table per sheet, in document order. Opening the workbook streams that
// part once for the sheet names; reading a sheet streams it again up to the
// end of that sheet's table and stops. Parsing is namespace-aware, so the
// value type of a cell ("office:value-type") and LibreOffice's error mark
// ("calcext:value-type") are told apart whatever prefixes the file uses.
//
// Rows are every table:table-row of the table (also inside header rows, row
// groups and the like); repeated rows and cells are expanded only where they
// hold a value, so a million repeated empty rows cost one counter. Covered
// cells (the cells a merged range hides) are empty whatever they hold.
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "workbook/number_format.h"
#include "workbook/workbook.h"
#include "workbook/xml_stream.h"
#include "workbook/zip_archive.h"

namespace kvr {
namespace {

constexpr std::size_t kSmallPartCap = std::size_t{1} << 20;  // mimetype, manifest
constexpr std::size_t kContentCap = std::size_t{1} << 30;
constexpr std::int64_t kMaxRow = 1048576;
constexpr std::int64_t kMaxColumn = 16384;

constexpr std::string_view kOffice = "urn:oasis:names:tc:opendocument:xmlns:office:1.0 ";
constexpr std::string_view kTable = "urn:oasis:names:tc:opendocument:xmlns:table:1.0 ";
constexpr std::string_view kText = "urn:oasis:names:tc:opendocument:xmlns:text:1.0 ";
constexpr std::string_view kCalcExt = "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0 ";

// True when the namespaced name `name` is `local` in namespace `ns`.
bool Is(std::string_view name, std::string_view ns, std::string_view local) {
  return name.size() == ns.size() + local.size() && name.substr(0, ns.size()) == ns &&
         name.substr(ns.size()) == local;
}

bool InNamespace(std::string_view name, std::string_view ns) { return name.substr(0, ns.size()) == ns; }

const char* Attr(const XML_Char** atts, std::string_view ns, std::string_view local) {
  for (int i = 0; atts[i] != nullptr; i += 2) {
    if (Is(atts[i], ns, local)) return atts[i + 1];
  }
  return nullptr;
}

// A repeat count attribute: 1 when absent or malformed, at least 1.
std::int64_t RepeatOf(const XML_Char** atts, std::string_view local) {
  const char* v = Attr(atts, kTable, local);
  if (v == nullptr) return 1;
  std::int64_t n = 1;
  const std::string_view s(v);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
  if (r.ec != std::errc() || n < 1) return 1;
  return n;
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

// One cell of the row being read, before its row's repeat is known.
struct RowCell {
  std::int64_t column;
  std::int64_t repeat;
  CellKind kind;
  double number;
  std::string text;  // texts and error names
};

// Streams content.xml. Lists the sheet names when `names` is set, and reads
// sheets into `cache` from table `first` on: table `must` always, later ones
// while the cells cached stay within kCacheCells. A fault in table `must`
// refuses the part; a fault in a table read ahead only ends the reading
// ahead (that sheet reports its fault when it is asked for).
struct ContentHandler {
  static constexpr std::size_t kCacheCells = std::size_t{1} << 20;
  static constexpr std::size_t kCacheTextBytes = std::size_t{32} << 20;

  std::vector<std::string>* names = nullptr;
  std::vector<std::optional<SheetGrid>>* cache = nullptr;
  std::size_t first = 0;
  std::size_t must = static_cast<std::size_t>(-1);
  std::string error;
  bool limit = false;
  bool finished = false;
  bool spreadsheet_seen = false;

  bool caching = true;
  std::size_t cached_cells = 0;
  std::size_t cached_text = 0;
  std::size_t table_index = 0;  // tables started so far
  int depth = 0;                // element depth inside the current table, 0 outside
  std::unique_ptr<SheetGridBuilder> builder;  // set while the current table is read
  std::int64_t row = 0;         // rows passed so far in the table
  std::int64_t column = 0;      // cells passed so far in the row
  std::int64_t row_repeat = 1;
  bool in_row = false;
  std::vector<RowCell> row_cells;
  std::size_t value_cells = 0;  // cells with a value placed so far in the table

  // The cell being read.
  bool in_cell = false;
  int cell_depth = 0;  // depth of the cell element
  bool covered = false;
  std::int64_t cell_repeat = 1;
  enum class Type { kNone, kFloat, kDate, kTime, kBoolean, kString, kError } type = Type::kNone;
  std::string value_attr;   // office:value / date-value / time-value / boolean-value
  std::string string_attr;  // office:string-value
  bool has_string_attr = false;
  std::string text;  // the paragraphs, joined by line feeds
  int paragraphs = 0;
  int paragraph_depth = 0;  // > 0 inside a paragraph that counts
  int skip_depth = 0;       // > 0 inside an annotation, note or shape

  std::size_t current() const { return table_index - 1; }

  // Stops reading ahead; the parse ends too unless names are still wanted.
  void StopCaching() {
    caching = false;
    if (names == nullptr) finished = true;
  }

  void Fail(std::string why, bool past_limit) {
    builder.reset();
    in_row = in_cell = false;
    if (current() == must) {
      error = std::move(why);
      limit = past_limit;
    } else {
      StopCaching();
    }
  }

  void Fail(const WorkbookError& e) { Fail(e.what(), dynamic_cast<const WorkbookLimitError*>(&e) != nullptr); }

  void Start(std::string_view name, const XML_Char** atts) {
    if (Is(name, kOffice, "spreadsheet")) spreadsheet_seen = true;
    if (depth == 0) {
      if (!Is(name, kTable, "table")) return;
      const char* n = Attr(atts, kTable, "name");
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
    if (Is(name, kTable, "table-row") && !in_row) {
      in_row = true;
      column = 0;
      row_repeat = RepeatOf(atts, "number-rows-repeated");
      row_cells.clear();
    } else if (in_row && (Is(name, kTable, "table-cell") || Is(name, kTable, "covered-table-cell"))) {
      StartCell(name, atts);
    }
  }

  void StartCell(std::string_view name, const XML_Char** atts) {
    in_cell = true;
    cell_depth = depth;
    covered = Is(name, kTable, "covered-table-cell");
    cell_repeat = RepeatOf(atts, "number-columns-repeated");
    type = Type::kNone;
    value_attr.clear();
    string_attr.clear();
    has_string_attr = false;
    text.clear();
    paragraphs = 0;
    paragraph_depth = 0;
    skip_depth = 0;
    if (covered) return;
    const char* value_type = Attr(atts, kOffice, "value-type");
    const char* calc_type = Attr(atts, kCalcExt, "value-type");
    const std::string_view vt = value_type != nullptr ? value_type : "";
    auto take = [&](std::string_view local) {
      if (const char* v = Attr(atts, kOffice, local)) value_attr = v;
    };
    if (calc_type != nullptr && std::string_view(calc_type) == "error") {
      type = Type::kError;
    } else if (vt == "float" || vt == "percentage" || vt == "currency") {
      type = Type::kFloat;
      take("value");
    } else if (vt == "date") {
      type = Type::kDate;
      take("date-value");
    } else if (vt == "time") {
      type = Type::kTime;
      take("time-value");
    } else if (vt == "boolean") {
      type = Type::kBoolean;
      take("boolean-value");
    } else if (vt == "string") {
      type = Type::kString;
    }
    if (const char* s = Attr(atts, kOffice, "string-value")) {
      string_attr = s;
      has_string_attr = true;
    }
  }

  void StartInCell(std::string_view name, const XML_Char** atts) {
    if (skip_depth > 0) {
      ++skip_depth;
      return;
    }
    if (Is(name, kOffice, "annotation") || Is(name, kText, "note") ||
        InNamespace(name, "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0 ")) {
      skip_depth = 1;
      return;
    }
    if (paragraph_depth == 0) {
      if (depth == cell_depth + 1 && (Is(name, kText, "p") || Is(name, kText, "h"))) {
        if (paragraphs++ > 0) Append("\n");
        paragraph_depth = 1;
      }
      return;
    }
    ++paragraph_depth;
    if (Is(name, kText, "s")) {
      std::int64_t n = 1;
      if (const char* c = Attr(atts, kText, "c")) {
        const std::string_view s(c);
        const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
        if (r.ec != std::errc() || n < 0) n = 1;
      }
      if (n > static_cast<std::int64_t>(SheetGrid::kMaxTextChars)) n = SheetGrid::kMaxTextChars + 1;  // refused below
      Append(std::string(static_cast<std::size_t>(n), ' '));
    } else if (Is(name, kText, "tab")) {
      Append("\t");
    } else if (Is(name, kText, "line-break")) {
      Append("\n");
    }
  }

  void Append(std::string_view s) {
    // Four bytes is the longest UTF-8 character: past that the text cannot fit.
    if (text.size() + s.size() > SheetGrid::kMaxTextBytes) {
      TextTooLong();
      return;
    }
    text.append(s);
  }

  void TextTooLong() {
    Fail("a cell's text in row " + std::to_string(row + 1) + " is longer than " +
             std::to_string(SheetGrid::kMaxTextChars) + " characters, the most a cell holds",
         true);
  }

  void End(std::string_view name) {
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
    if (in_row && Is(name, kTable, "table-row")) {
      in_row = false;
      FinishRow();
    }
  }

  void Text(const char* s, std::size_t n) {
    if (builder && in_cell && paragraph_depth > 0 && skip_depth == 0) Append(std::string_view(s, n));
  }

  void FinishTable() {
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

  void FinishCell() {
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

  void FinishRow() {
    const std::int64_t first = row + 1;
    row += row_repeat;
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
};

class OdsWorkbook : public Workbook {
 public:
  explicit OdsWorkbook(const std::filesystem::path& path) : file_(Utf8Path(path)), zip_(path) {
    if (zip_.Has("mimetype")) {
      const std::string mime = zip_.Read("mimetype", kSmallPartCap);
      if (mime.rfind("application/vnd.oasis.opendocument.spreadsheet", 0) != 0) {
        throw WorkbookError("not a workbook: " + file_ + " is an OpenDocument file of type \"" + SanitizeUtf8(mime) +
                            "\", not a spreadsheet");
      }
    }
    if (zip_.Has("META-INF/manifest.xml") &&
        zip_.Read("META-INF/manifest.xml", kSmallPartCap).find("encryption-data") != std::string::npos) {
      throw WorkbookError("cannot read " + file_ + ": the workbook is encrypted (password-protected)");
    }
    // One pass lists the names and reads the first sheets ahead.
    ContentHandler h;
    h.names = &names_;
    h.cache = &cache_;
    StreamXml(zip_, file_, "content.xml", kContentCap, h, XmlNames::kNamespaced);
    cache_.resize(names_.size());
    if (!h.spreadsheet_seen) {
      throw WorkbookError("not a workbook: " + file_ + " is an OpenDocument file without a spreadsheet");
    }
  }

  const std::vector<std::string>& SheetNames() const override { return names_; }

  // A sheet read ahead is handed out once; asked for again, or not read
  // ahead, it is read by a pass that also reads the sheets after it ahead.
  SheetGrid ReadSheet(std::size_t index) override {
    if (index >= names_.size()) throw std::out_of_range("no sheet " + std::to_string(index));
    if (!cache_[index]) {
      ContentHandler h;
      h.cache = &cache_;
      h.first = h.must = index;
      try {
        StreamXml(zip_, file_, "content.xml", kContentCap, h, XmlNames::kNamespaced);
      } catch (const WorkbookLimitError& e) {
        if (!cache_[index]) throw WorkbookLimitError(std::string(e.what()) + " (sheet '" + names_[index] + "')");
      } catch (const WorkbookError& e) {
        // A fault past the wanted sheet (malformed XML further on) does not
        // take that sheet with it.
        if (!cache_[index]) throw WorkbookError(std::string(e.what()) + " (sheet '" + names_[index] + "')");
      }
    }
    SheetGrid grid = std::move(*cache_[index]);
    cache_[index].reset();
    return grid;
  }

 private:
  std::string file_;
  ZipArchive zip_;
  std::vector<std::string> names_;
  std::vector<std::optional<SheetGrid>> cache_;
};

}  // namespace

std::unique_ptr<Workbook> OpenOdsWorkbook(const std::filesystem::path& path) {
  return std::make_unique<OdsWorkbook>(path);
}

}  // namespace kvr
