// The content.xml of an OpenDocument spreadsheet streamed into sheet
// grids: the handler ods_reader.cc runs over that part.
#ifndef KVR_WORKBOOK_ODS_CONTENT_H_
#define KVR_WORKBOOK_ODS_CONTENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/sheet_grid.h"
#include "workbook/workbook_error.h"
#include "workbook/xml_namespaces.h"
#include "workbook/xml_stream.h"

namespace kvr::ods {

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

  // office, table, text, calcext (LibreOffice's mark of an error cell) and
  // drawing (shapes, skipped), in that order.
  XmlNamespaces namespaces{"urn:oasis:names:tc:opendocument:xmlns:office:1.0",
                           "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
                           "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
                           "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0",
                           "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"};
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
  bool row_hidden = false;
  std::int64_t declared_columns = 0;  // <table:table-column> counted so far in the table
  bool in_row = false;
  std::vector<RowCell> row_cells;
  std::size_t value_cells = 0;  // cells with a value placed so far in the table

  // The cell being read.
  bool in_cell = false;
  int cell_depth = 0;  // depth of the cell element
  bool covered = false;
  bool has_formula = false;  // table:formula on the cell
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
  void StopCaching();

  void Fail(std::string why, bool past_limit);

  void Fail(const WorkbookError& e) { Fail(e.what(), dynamic_cast<const WorkbookLimitError*>(&e) != nullptr); }

  void Start(std::string_view name, const XML_Char** atts);

  void StartCell(std::string_view name, const XML_Char** atts);

  void StartInCell(std::string_view name, const XML_Char** atts);

  void Append(std::string_view s);

  void TextTooLong();

  void End(std::string_view name);

  void Text(const char* s, std::size_t n);

  void FinishTable();

  void FinishCell();

  void FinishRow();
};

}  // namespace kvr::ods

#endif  // KVR_WORKBOOK_ODS_CONTENT_H_
