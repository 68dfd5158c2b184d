#include "tables/connection_string.h"

#include <cctype>

namespace kvr {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Where the value that starts at `begin` ends: at the ';' after it, or at
// the end. A braced value runs to its closing '}' ("}}" is a '}' of the
// value); an unclosed brace runs to the end.
std::size_t ValueEnd(std::string_view s, std::size_t begin) {
  std::size_t i = begin;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i < s.size() && s[i] == '{') {
    for (++i; i < s.size(); ++i) {
      if (s[i] != '}') continue;
      if (i + 1 < s.size() && s[i + 1] == '}') {
        ++i;
        continue;
      }
      ++i;
      break;
    }
  }
  const std::size_t semicolon = s.find(';', i);
  return semicolon == std::string_view::npos ? s.size() : semicolon;
}

}  // namespace

std::vector<ConnectionAttribute> SplitConnectionString(std::string_view s) {
  std::vector<ConnectionAttribute> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t semicolon = s.find(';', i);
    const std::size_t eq = s.find('=', i);
    if (eq == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < eq)) {
      // A piece with no '=': kept as a key alone.
      const std::size_t end = semicolon == std::string_view::npos ? s.size() : semicolon;
      out.push_back({s.substr(i, end - i), {}, end, end, false});
      i = end + 1;
      continue;
    }
    const std::size_t end = ValueEnd(s, eq + 1);
    out.push_back({s.substr(i, eq - i), s.substr(eq + 1, end - eq - 1), eq + 1, end, true});
    i = end + 1;
  }
  return out;
}

bool IsPasswordKey(std::string_view key) {
  std::string folded;
  for (const char c : key) {
    if (!IsBlank(c)) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return folded.find("pwd") != std::string::npos || folded.find("pass") != std::string::npos;
}

std::string RedactConnectionString(std::string_view connection) {
  std::string out;
  std::size_t copied = 0;
  for (const ConnectionAttribute& a : SplitConnectionString(connection)) {
    if (!a.assigned || !IsPasswordKey(a.key)) continue;
    out.append(connection.substr(copied, a.value_begin - copied));
    out += "***";
    copied = a.end;
  }
  out.append(connection.substr(copied));
  return out;
}

DatabaseLocation ParseDatabaseLocation(std::string_view argument) {
  const std::string_view trimmed = Trimmed(argument);
  if (trimmed.size() >= kOdbcPrefix.size()) {
    bool prefix = true;
    for (std::size_t i = 0; i < kOdbcPrefix.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(trimmed[i])) != kOdbcPrefix[i]) prefix = false;
    }
    if (prefix) return {DatabaseLocation::Kind::kOdbc, std::string(trimmed.substr(kOdbcPrefix.size()))};
  }
  return {DatabaseLocation::Kind::kFile, std::string(argument)};
}

std::string DatabaseLocation::Shown() const {
  return odbc() ? std::string(kOdbcPrefix) + RedactConnectionString(value) : value;
}

std::string RedactDatabaseArgument(std::string_view argument) { return ParseDatabaseLocation(argument).Shown(); }

}  // namespace kvr
