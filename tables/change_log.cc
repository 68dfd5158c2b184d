#include "tables/change_log.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace kvr {

std::string FieldValueText(const FieldValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "Null";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  return "\"" + std::get<std::string>(v) + "\"";
}

void ChangeList::Add(std::string_view table, std::string_view key_field, const FieldValue& key,
                     std::string_view field, const FieldValue& before, const FieldValue& after) {
  Entry e{};
  if (const auto* number = std::get_if<std::int64_t>(&key)) {
    e.names = NamesOf(table, std::string(key_field) + " ", field);
    e.kinds[0] = Kind::kNumber;
    e.values[0] = *number;
  } else {
    // A key that is not a number (Null, text) is kept as the text it reads as.
    e.names = NamesOf(table, "", field);
    e.kinds[0] = Kind::kKeyText;
    e.values[0] = StoreText(std::string(key_field) + " " + FieldValueText(key));
  }
  e.values[1] = Store(before, e.kinds[1]);
  e.values[2] = Store(after, e.kinds[2]);
  entries_.push_back(e);
}

void ChangeList::Add(const FieldChange& change) {
  Entry e{};
  e.names = NamesOf(change.table, "", change.field);
  e.kinds[0] = Kind::kKeyText;
  e.values[0] = StoreText(change.key);
  e.values[1] = Store(change.before, e.kinds[1]);
  e.values[2] = Store(change.after, e.kinds[2]);
  entries_.push_back(e);
}

FieldChange ChangeList::operator[](std::size_t i) const {
  const Entry& e = entries_[i];
  const auto& names = names_[e.names];
  std::string key = e.kinds[0] == Kind::kNumber ? names[1] + std::to_string(e.values[0])
                                                 : std::string(TextAt(e.values[0]));
  return {names[0], std::move(key), names[2], ValueAt(e.kinds[1], e.values[1]), ValueAt(e.kinds[2], e.values[2])};
}

std::uint32_t ChangeList::NamesOf(std::string_view table, std::string_view key_prefix, std::string_view field) {
  scratch_.assign(table).append(1, '\x1f').append(key_prefix).append(1, '\x1f').append(field);
  if (const auto it = name_index_.find(scratch_); it != name_index_.end()) return it->second;
  const auto index = static_cast<std::uint32_t>(names_.size());
  names_.push_back({std::string(table), std::string(key_prefix), std::string(field)});
  name_index_.emplace(scratch_, index);
  return index;
}

std::int64_t ChangeList::Store(const FieldValue& value, Kind& kind) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    kind = Kind::kNumber;
    return *number;
  }
  if (const auto* text = std::get_if<std::string>(&value)) {
    kind = Kind::kText;
    return StoreText(*text);
  }
  kind = Kind::kNull;
  return 0;
}

std::int64_t ChangeList::StoreText(std::string_view text) {
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("a changed text of 4 GiB");
  const auto at = static_cast<std::int64_t>(texts_.size());
  const auto length = static_cast<std::uint32_t>(text.size());
  char head[sizeof length];
  std::memcpy(head, &length, sizeof length);
  texts_.append(head, sizeof head).append(text);
  return at;
}

std::string_view ChangeList::TextAt(std::int64_t at) const {
  std::uint32_t length = 0;
  const auto start = static_cast<std::size_t>(at);
  std::memcpy(&length, texts_.data() + start, sizeof length);
  return std::string_view(texts_).substr(start + sizeof length, length);
}

FieldValue ChangeList::ValueAt(Kind kind, std::int64_t value) const {
  switch (kind) {
    case Kind::kNull: return std::monostate{};
    case Kind::kNumber: return value;
    case Kind::kText:
    case Kind::kKeyText: return std::string(TextAt(value));
  }
  return std::monostate{};
}

}  // namespace kvr
