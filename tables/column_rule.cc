#include "tables/column_rule.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "base/utf8.h"

namespace kvr {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

ColumnRule SmallIntRule(std::string name) { return {std::move(name), ColumnRule::kInteger, 0, -32768, 32767}; }

ColumnRule ByteRule(std::string name) { return {std::move(name), ColumnRule::kInteger, 0, 0, 255}; }

ColumnRule IntegerRule(std::string name) {
  return {std::move(name), ColumnRule::kInteger, 0, std::numeric_limits<std::int32_t>::min(),
          std::numeric_limits<std::int32_t>::max()};
}

ColumnRule RuleFor(std::string name, std::string declared) {
  for (auto& c : declared) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto paren = declared.find('(');
  std::string base = declared.substr(0, paren);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "VARCHAR" || base == "CHAR" || base == "TEXT" || base == "NVARCHAR" || base == "NCHAR" ||
      base == "CHARACTER VARYING" || base == "VARYING CHARACTER") {
    ColumnRule rule{std::move(name), ColumnRule::kText};
    if (paren != std::string::npos) rule.max_chars = static_cast<std::size_t>(std::atoi(declared.c_str() + paren + 1));
    return rule;
  }
  if (base == "SMALLINT" || base == "INT2" || base == "SHORT") return SmallIntRule(std::move(name));
  if (base == "TINYINT" || base == "BYTE") return ByteRule(std::move(name));
  if (base == "INTEGER" || base == "INT" || base == "LONG" || base == "INT4") return IntegerRule(std::move(name));
  return ColumnRule{std::move(name)};
}

FieldValue Coerce(const ColumnRule& rule, FieldValue v) {
  if (std::holds_alternative<std::monostate>(v) || rule.kind == ColumnRule::kAny) return v;
  if (rule.kind == ColumnRule::kText) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) v = std::to_string(*i);
    const auto& s = std::get<std::string>(v);
    if (rule.max_chars > 0 && Utf8Length(s) > rule.max_chars) {
      throw DatabaseError("\"" + s + "\" is longer than the " + std::to_string(rule.max_chars) +
                          " characters the field holds");
    }
    return v;
  }
  std::int64_t n;
  if (const auto* s = std::get_if<std::string>(&v)) {
    char* end = nullptr;
    errno = 0;
    n = std::strtoll(s->c_str(), &end, 10);
    if (s->empty() || *end != '\0' || errno != 0) throw DatabaseError("\"" + *s + "\" is not a number");
  } else {
    n = std::get<std::int64_t>(v);
  }
  if (n < rule.min || n > rule.max) {
    throw DatabaseError(std::to_string(n) + " lies outside the field's range " + std::to_string(rule.min) +
                        " to " + std::to_string(rule.max));
  }
  return n;
}

}  // namespace kvr
