#include "workbook/cell_reader.h"

#include "base/problems.h"
#include "workbook/cell_convert.h"

namespace kvr {

void CellReader::Report(int row, int column, const std::string& why, std::string_view field,
                        std::string_view consequence, ErrorCode code) {
  std::string message = why + "; ";
  if (consequence.empty()) message += "\"" + std::string(field) + "\" left unchanged";
  else message += consequence;
  problems_.Report(grid_.At(row, column), std::move(message), code);
}

std::optional<std::string> CellReader::Text(int row, int column, std::string_view field,
                                            std::string_view consequence) {
  auto text = CellText(grid_, row, column);
  if (!text) {
    Report(row, column, "holds the error value " + std::string(grid_.at(row, column).text), field, consequence, ErrorCode::kTypeMismatch);
  }
  return text;
}

// A number read; when it fails, the cell holds an error value or a number
// outside the field's range, and the report says which.
template <typename T, typename Convert>
std::optional<T> CellReader::Converted(int row, int column, std::string_view field, std::string_view consequence,
                                       Convert convert, const char* range) {
  const std::optional<T> v = convert(grid_, row, column);
  if (v) return v;
  if (const auto text = Text(row, column, field, consequence)) {
    Report(row, column, *text + " does not fit " + range, field, consequence, ErrorCode::kOverflow);
  }
  return v;
}

std::optional<std::int16_t> CellReader::Number(int row, int column, std::string_view field,
                                               std::string_view consequence) {
  return Converted<std::int16_t>(row, column, field, consequence, CellNumber, "a 16-bit number");
}

std::optional<std::uint8_t> CellReader::Byte(int row, int column, std::string_view field,
                                             std::string_view consequence) {
  return Converted<std::uint8_t>(row, column, field, consequence, CellByte, "a byte (0 to 255)");
}

std::optional<std::int16_t> CellReader::Index(int row, int column, std::string_view field,
                                              std::string_view consequence) {
  const auto v = Number(row, column, field, consequence);
  if (!v) return std::nullopt;
  const auto index = ToTableIndex(*v);
  if (!index) {
    Report(row, column, std::to_string(*v) + " gives no 16-bit table index", field, consequence, ErrorCode::kOverflow);
  }
  return index;
}

}  // namespace kvr
