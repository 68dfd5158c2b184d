#include "workbook/number_format.h"

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

}  // namespace kvr
