#include "workbook/number_format.h"

#include <charconv>
#include <string>

namespace kvr {
namespace {

bool IsDateLetter(char c) {
  switch (c) {
    case 'd': case 'D': case 'm': case 'M': case 'y': case 'Y':
    case 'h': case 'H': case 's': case 'S':
      return true;
    default:
      return false;
  }
}

// "[h]", "[hh]", "[m]", "[mm]", "[s]", "[ss]" (either case): elapsed-time tokens.
bool IsElapsedToken(std::string_view inner) {
  if (inner.empty() || inner.size() > 2) return false;
  const char c = static_cast<char>(inner[0] | 0x20);
  if (c != 'h' && c != 'm' && c != 's') return false;
  return inner.size() == 1 || static_cast<char>(inner[1] | 0x20) == c;
}

}  // namespace

bool IsBuiltinDateFormat(int id, bool with_thai) {
  return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
         (id >= 50 && id <= 58) || (with_thai && id >= 71 && id <= 81);
}

bool IsDateFormatCode(std::string_view code) {
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == ';') return false;  // only the first section counts
    if (c == '"') {
      const auto end = code.find('"', i + 1);
      if (end == std::string_view::npos) return false;
      i = end;
    } else if (c == '\\') {
      ++i;
    } else if (c == '[') {
      const auto end = code.find(']', i + 1);
      if (end == std::string_view::npos) return false;
      if (IsElapsedToken(code.substr(i + 1, end - i - 1))) return true;
      i = end;
    } else if (IsDateLetter(c)) {
      return true;
    }
  }
  return false;
}

bool IsBiffDateFormatCode(std::string_view code) {
  std::string reduced;
  int state = 0;  // 0 plain, 1 inside quotes, 2 the character after \ _ *
  for (const char c : code) {
    if (state == 1) {
      if (c == '"') state = 0;
    } else if (state == 2) {
      state = 0;
    } else if (c == '"') {
      state = 1;
    } else if (c == '\\' || c == '_' || c == '*') {
      state = 2;
    } else if (std::string_view("$-+/(): ").find(c) == std::string_view::npos) {
      reduced += c;
    }
  }
  std::string s;
  for (std::size_t i = 0; i < reduced.size(); ++i) {
    if (reduced[i] == '[') {
      const auto end = reduced.find(']', i);
      if (end != std::string::npos) {
        i = end;
        continue;
      }
    }
    s += reduced[i];
  }
  if (s == "0.00E+00" || s == "##0.0E+0" || s == "General" || s == "GENERAL" || s == "general" ||
      s == "@") {
    return false;
  }
  int date = 0, num = 0;
  for (const char c : s) {
    if (IsDateLetter(c)) ++date;
    else if (c == '0' || c == '#' || c == '?') ++num;
  }
  return date > num;
}

std::optional<double> ParseIsoDateTime(std::string_view s, bool date1904) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double sec = 0;
  auto num = [&](std::size_t pos, std::size_t len, int& out) {
    if (pos + len > s.size()) return false;
    const auto r = std::from_chars(s.data() + pos, s.data() + pos + len, out);
    return r.ec == std::errc() && r.ptr == s.data() + pos + len;
  };
  if (!num(0, 4, y) || s.size() < 10 || s[4] != '-' || !num(5, 2, mo) || s[7] != '-' || !num(8, 2, d)) {
    return std::nullopt;
  }
  if (s.size() > 10 && s[10] == 'T') {
    if (!num(11, 2, h) || s.size() < 16 || s[13] != ':' || !num(14, 2, mi)) return std::nullopt;
    if (s.size() > 16 && s[16] == ':') {
      std::size_t end = 17;
      while (end < s.size() && ((s[end] >= '0' && s[end] <= '9') || s[end] == '.')) ++end;
      std::from_chars(s.data() + 17, s.data() + end, sec);
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
  // Days from 1970-01-01 to y-mo-d.
  const int yy = y - (mo <= 2);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(yy - era * 400);
  const unsigned doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days = static_cast<long>(era) * 146097 + static_cast<long>(doe) - 719468;
  const long epoch = date1904 ? -24107 : -25569;
  return static_cast<double>(days - epoch) + (h * 3600 + mi * 60 + sec) / 86400.0;
}

std::optional<double> ParseIsoDuration(std::string_view s) {
  std::size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) ++i;
  if (i >= s.size() || s[i] != 'P') return std::nullopt;
  ++i;
  bool in_time = false, any = false;
  double days = 0;
  while (i < s.size()) {
    if (s[i] == 'T') {
      if (in_time) return std::nullopt;
      in_time = true;
      ++i;
      continue;
    }
    double n = 0;
    const auto r = std::from_chars(s.data() + i, s.data() + s.size(), n, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr == s.data() + s.size() || n < 0) return std::nullopt;
    i = static_cast<std::size_t>(r.ptr - s.data());
    const char unit = s[i++];
    if (!in_time && unit == 'D') days += n;
    else if (!in_time && unit == 'W') days += 7 * n;
    else if (in_time && unit == 'H') days += n / 24;
    else if (in_time && unit == 'M') days += n / 1440;
    else if (in_time && unit == 'S') days += n / 86400;
    else return std::nullopt;  // years, months, or a unit out of place
    any = true;
  }
  if (!any) return std::nullopt;
  return negative ? -days : days;
}

}  // namespace kvr
