// Conversions of grid cells into the texts and numbers that sheet readers
// store. None depends on the machine's locale.
#ifndef KVR_WORKBOOK_CELL_CONVERT_H_
#define KVR_WORKBOOK_CELL_CONVERT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/index.h"
#include "workbook/sheet_grid.h"

namespace kvr {


// A cell's value as text: "" for an empty cell; a number with at most 15
// significant digits, "." as decimal point, exponent form at 1E+15 and above
// and below 1E-04; "True"/"False"; a date as "m/d/yyyy", with " h:mm:ss AM"
// (or PM) when it has a time of day, a time alone as "h:mm:ss AM"; text
// unchanged. An error value cannot be converted: nullopt.
std::optional<std::string> CellText(const SheetGrid& grid, int row, int column);

// Number formatting and date formatting used by CellText.
std::string FormatNumber(double value);
// A day serial as a date ("3/15/2020 12:00:00 PM"); outside the serials of
// 1/1/100 to 12/31/9999 as the number it is.
inline constexpr double kFirstDateSerial = -657434;  // 1/1/100
inline constexpr double kLastDateSerial = 2958465;   // 12/31/9999
std::string FormatDateSerial(double serial, bool date1904);

// The longest leading number of `text`, as Val reads it: blanks, tabs and
// line feeds are skipped wherever they stand, then a sign, digits with one "."
// and an exponent (E or D), or &H / &O with hexadecimal / octal digits; reading
// stops at the first other character. No number gives 0.
double Val(std::string_view text);

// Why reading the cell at (row, column) as a number probably gives something
// other than what its writer meant, or nullopt when it reads as it looks:
// text with no number ("two"), with more after its number ("12 dB", "1,5"),
// a truth value or a date, or a number that is not whole (2.5). An empty or
// blank cell reads as 0 without doubt. Each is phrased to follow the cell's
// value: `"12 dB"` and `has text after its number`.
struct NumberDoubt {
  std::string value;  // the cell's value as reports quote it: "\"12 dB\"", "2.5"
  std::string what;   // "has text after its number"
};
std::optional<NumberDoubt> NumberReadingDoubt(const SheetGrid& grid, int row, int column);

// CellText, then Val, then rounding to the nearest whole number, halves to the
// even neighbour. nullopt for an error value or a result outside the type's
// range (-32768..32767, or 0..255 for CellByte).
std::optional<std::int16_t> CellNumber(const SheetGrid& grid, int row, int column);
std::optional<std::uint8_t> CellByte(const SheetGrid& grid, int row, int column);

// True when `header` begins with `keyword` (exact, case-sensitive, untrimmed).
bool HeaderMatches(std::string_view header, std::string_view keyword);

// A 1-based number from a sheet as a 0-based table index: 0 and 16383 give
// NoIndex, any other v gives v - 1; nullopt when v - 1 leaves the 16-bit range.
std::optional<std::int16_t> ToTableIndex(std::int16_t v);

}  // namespace kvr

#endif  // KVR_WORKBOOK_CELL_CONVERT_H_
