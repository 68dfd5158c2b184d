#include "tables/switcher_tables.h"

#include "workbook/channel_row_scan.h"

namespace kvr {
namespace {

// The keywords of a sheet in matching order, the field each fills (an index
// into table.fields), and which two fill one field.
struct SheetKeywords {
  std::vector<std::string_view> keywords;
  std::vector<int> field;
  KeywordFields fills;
};

SheetKeywords KeywordsOf(const TableSpec& table) {
  SheetKeywords sheet;
  for (std::size_t i = 0; i < table.fields.size(); ++i) {
    const FieldSpec& f = table.fields[i];
    if (f.heading.empty()) continue;
    if (!f.also.empty()) {
      sheet.keywords.push_back(f.also);
      sheet.field.push_back(static_cast<int>(i));
    }
    sheet.keywords.push_back(f.heading);
    sheet.field.push_back(static_cast<int>(i));
    if (!f.also.empty()) {
      const int heading = static_cast<int>(sheet.keywords.size()) - 1;
      sheet.fills.same_field.emplace_back(heading - 1, heading);
    }
  }
  return sheet;
}

}  // namespace

std::vector<int> FieldColumns(const SheetGrid& grid, const TableSpec& table, Problems& problems) {
  const SheetKeywords sheet = KeywordsOf(table);
  std::vector<int> columns = MatchHeaderColumns(grid, sheet.keywords, problems, sheet.fills);
  for (int& c : columns) {
    if (c >= 0) c = sheet.field[static_cast<std::size_t>(c)];
  }
  return columns;
}

}  // namespace kvr
