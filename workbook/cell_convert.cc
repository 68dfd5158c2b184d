#include "workbook/cell_convert.h"

#include <charconv>
#include <cmath>
#include <cctype>
#include <cstdio>

namespace kvr {
namespace {

bool IsSkippedBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian).
void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

std::optional<double> RoundHalfEven(std::string_view text, double lo, double hi) {
  const double v = std::nearbyint(Val(text));  // default rounding: to nearest, ties to even
  if (!(v >= lo && v <= hi)) return std::nullopt;
  return v;
}

// Reads digits in base 16 or 8 after an &H / &O prefix. Up to 16 bits the
// value is a signed 16-bit integer and up to 32 bits a signed 32-bit one
// (&HFFFF is -1, &HFFFFFFFF is -1, &H10000 is 65536).
double ReadRadix(std::string_view s, std::size_t i, int base) {
  std::uint64_t v = 0;
  bool overflow = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (IsSkippedBlank(c)) continue;
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (d >= base) break;
    if (v > (std::uint64_t{1} << 40)) overflow = true;
    v = v * base + d;
  }
  if (overflow) return HUGE_VAL;
  if (v <= 0xFFFF) return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
  if (v <= 0xFFFFFFFFu) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return static_cast<double>(v);
}

}  // namespace

std::string FormatNumber(double value) {
  if (value == 0) return "0";  // also negative zero
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, res.ptr);
  // to_chars writes "1e+20"; the number text is "1E+20", with two or more exponent digits.
  const auto e = s.find('e');
  if (e != std::string::npos) {
    s[e] = 'E';
    std::string digits = s.substr(e + 2);
    while (digits.size() < 2) digits.insert(digits.begin(), '0');
    s = s.substr(0, e + 2) + digits;
  }
  return s;
}

std::string FormatDateSerial(double serial, bool date1904) {
  // Day serials name dates from 1 January 100 to 31 December 9999; a value
  // outside (1E+20 in a date-formatted cell) is no date and shows as the number.
  if (!(serial >= kFirstDateSerial && serial < kLastDateSerial + 1)) return FormatNumber(serial);
  // Rounded to the second: 16:17:36.96 shows as 4:17:37 PM.
  const double total = std::floor(serial * 86400.0 + 0.5);
  const auto secs = static_cast<std::int64_t>(total);
  std::int64_t days = secs / 86400;
  std::int64_t tod = secs % 86400;
  if (tod < 0) { tod += 86400; --days; }
  const bool time_only = !date1904 && days == 0;
  std::string out;
  if (!time_only) {
    // Day 0 is 30 Dec 1899 (1900 system) or 1 Jan 1904; both as days since 1970.
    const std::int64_t epoch = date1904 ? -24107 : -25569;
    int y;
    unsigned m, d;
    CivilFromDays(days + epoch, y, m, d);
    out = std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
    if (tod == 0) return out;
    out += ' ';
  }
  const int h = static_cast<int>(tod / 3600), mi = static_cast<int>(tod / 60 % 60),
            se = static_cast<int>(tod % 60);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h % 12 == 0 ? 12 : h % 12, mi, se,
                h < 12 ? "AM" : "PM");
  return out + buf;
}

std::optional<std::string> CellText(const SheetGrid& grid, int row, int column) {
  const Cell cell = grid.at(row, column);
  switch (cell.kind) {
    case CellKind::kEmpty: return std::string();
    case CellKind::kNumber: return FormatNumber(cell.number);
    case CellKind::kText: return std::string(cell.text);
    case CellKind::kBoolean: return std::string(cell.number != 0 ? "True" : "False");
    case CellKind::kDate: return FormatDateSerial(cell.number, grid.date1904());
    case CellKind::kError: return std::nullopt;
  }
  return std::nullopt;
}

double Val(std::string_view s) {
  std::size_t i = 0;
  auto skip = [&] { while (i < s.size() && IsSkippedBlank(s[i])) ++i; };
  skip();
  if (i + 1 < s.size() && s[i] == '&') {
    const char p = s[i + 1];
    if (p == 'h' || p == 'H') return ReadRadix(s, i + 2, 16);
    if (p == 'o' || p == 'O') return ReadRadix(s, i + 2, 8);
    return 0;
  }
  // Gather the number's characters without blanks, then parse them at once.
  std::string n;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    if (s[i] == '-') n += '-';
    ++i;
  }
  bool digits = false, point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (IsSkippedBlank(c)) continue;
    if (c >= '0' && c <= '9') { n += c; digits = true; }
    else if (c == '.' && !point) { n += c; point = true; }
    else break;
  }
  if (!digits) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    // The exponent counts only when a digit follows (with an optional sign).
    std::string exp = "e";
    std::size_t j = i + 1;
    while (j < s.size() && IsSkippedBlank(s[j])) ++j;
    if (j < s.size() && (s[j] == '-' || s[j] == '+')) exp += s[j++];
    bool exp_digits = false;
    for (; j < s.size(); ++j) {
      if (IsSkippedBlank(s[j])) continue;
      if (s[j] < '0' || s[j] > '9') break;
      if (exp.size() < 8) exp += s[j];  // anything longer is out of range anyway
      exp_digits = true;
    }
    if (exp_digits) n += exp;
  }
  double v = 0;
  auto res = std::from_chars(n.data(), n.data() + n.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Too large: infinity with its sign; too small: zero.
    const bool tiny = n.find("e-") != std::string::npos;
    return tiny ? 0.0 : (n[0] == '-' ? -HUGE_VAL : HUGE_VAL);
  }
  return v;
}

namespace {

// How much of `s` Val reads: the position after the number (blanks skipped
// within it), or 0 when it finds no digit.
std::size_t ValExtent(std::string_view s) {
  std::size_t i = 0;
  auto skip = [&] { while (i < s.size() && IsSkippedBlank(s[i])) ++i; };
  auto digits = [&](auto is_digit) {
    bool any = false;
    for (; i < s.size(); ++i) {
      if (IsSkippedBlank(s[i])) continue;
      if (!is_digit(s[i])) break;
      any = true;
    }
    return any;
  };
  const auto decimal = [](char c) { return c >= '0' && c <= '9'; };
  skip();
  if (i + 1 < s.size() && s[i] == '&') {
    const char p = s[i + 1];
    i += 2;
    if (p == 'h' || p == 'H') return digits([](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }) ? i : 0;
    if (p == 'o' || p == 'O') return digits([](char c) { return c >= '0' && c <= '7'; }) ? i : 0;
    return 0;
  }
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  bool any = digits(decimal);
  if (i < s.size() && s[i] == '.') {
    ++i;
    any = digits(decimal) || any;
  }
  if (!any) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    const std::size_t mantissa_end = i;
    ++i;
    skip();
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    if (!digits(decimal)) i = mantissa_end;  // an exponent counts only with a digit
  }
  return i;
}

// CellText, Val and rounding, with a shortcut for the common cases whose
// result those steps cannot change: an empty cell reads 0, and a whole
// number below 1E+15 is written out exactly and read back as itself.
std::optional<double> CellValue(const SheetGrid& grid, int row, int column, double lo, double hi) {
  const Cell cell = grid.at(row, column);
  if (cell.kind == CellKind::kEmpty) return lo <= 0 && 0 <= hi ? std::optional<double>(0) : std::nullopt;
  if (cell.kind == CellKind::kNumber && cell.number == std::trunc(cell.number) && std::fabs(cell.number) < 1e15) {
    if (!(cell.number >= lo && cell.number <= hi)) return std::nullopt;
    return cell.number + 0.0;  // no negative zero
  }
  const auto text = CellText(grid, row, column);
  if (!text) return std::nullopt;
  return RoundHalfEven(*text, lo, hi);
}

}  // namespace

std::optional<std::int16_t> CellNumber(const SheetGrid& grid, int row, int column) {
  const auto v = CellValue(grid, row, column, -32768, 32767);
  if (!v) return std::nullopt;
  return static_cast<std::int16_t>(*v);
}

std::optional<std::uint8_t> CellByte(const SheetGrid& grid, int row, int column) {
  const auto v = CellValue(grid, row, column, 0, 255);
  if (!v) return std::nullopt;
  return static_cast<std::uint8_t>(*v);
}

std::optional<NumberDoubt> NumberReadingDoubt(const SheetGrid& grid, int row, int column) {
  const Cell cell = grid.at(row, column);
  switch (cell.kind) {
    case CellKind::kEmpty:
    case CellKind::kError:
      return std::nullopt;
    case CellKind::kBoolean:
      return NumberDoubt{cell.number != 0 ? "True" : "False", "is a truth value, not a number"};
    case CellKind::kDate:
      return NumberDoubt{"the date " + FormatDateSerial(cell.number, grid.date1904()), "is not a number"};
    case CellKind::kNumber:
      if (cell.number == std::trunc(cell.number)) return std::nullopt;
      return NumberDoubt{FormatNumber(cell.number), "is not a whole number"};
    case CellKind::kText:
      break;
  }
  const std::string_view text = cell.text;
  if (text.find_first_not_of(" \t\n") == std::string_view::npos) return std::nullopt;
  NumberDoubt doubt{"\"" + std::string(text) + "\"", {}};
  const std::size_t end = ValExtent(text);
  const std::size_t rest = end == 0 ? 0 : text.find_first_not_of(" \t\n", end);
  if (end == 0) doubt.what = "is not a number";
  else if (rest != std::string_view::npos) {
    doubt.what = text[rest] == ',' ? "has a comma, which is not read as a decimal point" : "has text after its number";
  } else if (const double v = Val(text); v != std::trunc(v)) {
    doubt.what = "is not a whole number";
  } else {
    return std::nullopt;
  }
  return doubt;
}

bool HeaderMatches(std::string_view header, std::string_view keyword) {
  return header.substr(0, keyword.size()) == keyword;
}

std::optional<std::int16_t> ToTableIndex(std::int16_t v) {
  if (v == 0 || v == NoIndex) return NoIndex;
  if (v == -32768) return std::nullopt;
  return static_cast<std::int16_t>(v - 1);
}

}  // namespace kvr
