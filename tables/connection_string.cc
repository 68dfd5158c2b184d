#include "tables/connection_string.h"

#include <algorithm>
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

std::string BracedConnectionValue(std::string_view value) {
  std::string out = "{";
  for (const char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

bool HasConnectionKey(std::string_view connection, std::string_view key) {
  for (const ConnectionAttribute& a : SplitConnectionString(connection)) {
    if (!a.assigned) continue;
    const std::string_view k = Trimmed(a.key);
    if (k.size() == key.size() &&
        std::equal(k.begin(), k.end(), key.begin(), [](char x, char y) {
          return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
        })) {
      return true;
    }
  }
  return false;
}

namespace {

bool IsKeyChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.'; }

// Where a nested option's value that starts at `i` ends: a quoted value
// ('...' with \' inside, as libpq's option lists write it) at its closing
// quote, a braced one at its closing brace, any other at a blank, ';', ','
// or '}'.
std::size_t NestedValueEnd(std::string_view s, std::size_t i) {
  if (i < s.size() && s[i] == '\'') {
    for (++i; i < s.size(); ++i) {
      if (s[i] == '\\') {
        ++i;
      } else if (s[i] == '\'') {
        return i + 1;
      }
    }
    return s.size();
  }
  if (i < s.size() && s[i] == '{') return ValueEnd(s, i);
  while (i < s.size() && !IsBlank(s[i]) && s[i] != ';' && s[i] != ',' && s[i] != '}') ++i;
  return i;
}

// `value` with the value of every password option inside it replaced: a
// driver may take a list of options of its own in one attribute
// ("pqopt={password=... sslmode=require}"), whatever that attribute's name.
std::string RedactNested(std::string_view value) {
  std::string out;
  std::size_t copied = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '=') continue;
    std::size_t key_end = i;
    while (key_end > 0 && IsBlank(value[key_end - 1])) --key_end;
    std::size_t key_begin = key_end;
    while (key_begin > 0 && IsKeyChar(value[key_begin - 1])) --key_begin;
    if (key_begin == key_end || !IsPasswordKey(value.substr(key_begin, key_end - key_begin))) continue;
    std::size_t begin = i + 1;
    while (begin < value.size() && IsBlank(value[begin])) ++begin;
    const std::size_t end = NestedValueEnd(value, begin);
    out.append(value.substr(copied, begin - copied));
    out += "***";
    copied = end;
    i = end == 0 ? 0 : end - 1;
  }
  out.append(value.substr(copied));
  return out;
}

}  // namespace

std::string RedactConnectionString(std::string_view connection) {
  std::string out;
  std::size_t copied = 0;
  for (const ConnectionAttribute& a : SplitConnectionString(connection)) {
    if (!a.assigned) continue;
    out.append(connection.substr(copied, a.value_begin - copied));
    out += IsPasswordKey(a.key) ? std::string("***") : RedactNested(a.value);
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
