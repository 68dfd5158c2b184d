#include "workbook/cell_reader.h"

#include "base/problems.h"
#include "workbook/cell_convert.h"

namespace kvr {

void CellReader::Report(int row, int column, const std::string& why, std::string_view field,
                        std::string_view consequence, ErrorCode code) {
  std::string message = why + "; ";
  if (consequence.empty()) message += "\"" + std::string(field) + "\" left unchanged";
  else message += consequence;
  problems_.Report(grid_.Address(row, column), std::move(message), code);
}

std::optional<std::string> CellReader::Text(int row, int column, std::string_view field,
                                            std::string_view consequence) {
  auto text = CellText(grid_, row, column);
  if (!text) {
    Report(row, column, "holds the error value " + std::string(grid_.at(row, column).text), field, consequence, ErrorCode::kTypeMismatch);
  }
  return text;
}

std::optional<std::int16_t> CellReader::Number(int row, int column, std::string_view field,
                                               std::string_view consequence) {
  const auto text = Text(row, column, field, consequence);
  if (!text) return std::nullopt;
  const auto v = CellNumber(grid_, row, column);
  if (!v) {
    Report(row, column, *text + " does not fit a 16-bit number", field, consequence, ErrorCode::kOverflow);
  }
  return v;
}

std::optional<std::uint8_t> CellReader::Byte(int row, int column, std::string_view field,
                                             std::string_view consequence) {
  const auto text = Text(row, column, field, consequence);
  if (!text) return std::nullopt;
  const auto v = CellByte(grid_, row, column);
  if (!v) {
    Report(row, column, *text + " does not fit a byte (0 to 255)", field, consequence, ErrorCode::kOverflow);
  }
  return v;
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
