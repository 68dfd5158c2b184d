// Cell reads that report their failures. Sheet readers use these so that a
// cell which cannot be read leaves its field unchanged and says so, with the
// sheet cell's address: `Sources!F12: 40000 does not fit a 16-bit number;
// "Location" left unchanged`.
#ifndef KVR_WORKBOOK_CELL_READER_H_
#define KVR_WORKBOOK_CELL_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;
enum class ErrorCode : int;

// Holds references to a grid and a problem list; both must outlive it.
class CellReader {
 public:
  CellReader(const SheetGrid& grid, Problems& problems) : grid_(grid), problems_(problems) {}

  // Each returns nullopt after reporting why the cell at 1-based (row,
  // column) cannot be read. `field` names what the value was meant for;
  // `consequence` replaces the default `"field" left unchanged`.
  std::optional<std::string> Text(int row, int column, std::string_view field,
                                  std::string_view consequence = {});
  std::optional<std::int16_t> Number(int row, int column, std::string_view field,
                                     std::string_view consequence = {});
  std::optional<std::uint8_t> Byte(int row, int column, std::string_view field,
                                   std::string_view consequence = {});
  // ToTableIndex(CellNumber): a 1-based number from the sheet as a 0-based index.
  std::optional<std::int16_t> Index(int row, int column, std::string_view field,
                                    std::string_view consequence = {});

  // The same reads stored into `field` on success; on failure `field` keeps
  // its value. `field_name` names it in the report.
  void TextInto(int row, int column, std::string& field, std::string_view field_name) {
    if (auto v = Text(row, column, field_name)) field = std::move(*v);
  }
  void NumberInto(int row, int column, std::int16_t& field, std::string_view field_name) {
    if (auto v = Number(row, column, field_name)) field = *v;
  }
  void ByteInto(int row, int column, std::uint8_t& field, std::string_view field_name) {
    if (auto v = Byte(row, column, field_name)) field = *v;
  }
  void IndexInto(int row, int column, std::int16_t& field, std::string_view field_name) {
    if (auto v = Index(row, column, field_name)) field = *v;
  }


 private:
  template <typename T, typename Convert>
  std::optional<T> Converted(int row, int column, std::string_view field, std::string_view consequence,
                             Convert convert, const char* range);
  void Report(int row, int column, const std::string& why, std::string_view field,
              std::string_view consequence, ErrorCode code);

  const SheetGrid& grid_;
  Problems& problems_;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_CELL_READER_H_
