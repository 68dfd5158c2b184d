#include "demo/ini_writer.h"

namespace kvr {

void IniWriter::SelectSection(std::string_view name) {
  const auto it = index_.find(std::string(name));
  if (it != index_.end()) {
    current_ = it->second;
    return;
  }
  sections_.push_back(Section{std::string(name), {}});
  current_ = sections_.size() - 1;
  index_.emplace(std::string(name), current_);
}

void IniWriter::Set(std::string_view key, std::string_view value) {
  if (sections_.empty()) SelectSection("");
  auto& keys = sections_[current_].keys;
  for (auto& [k, v] : keys) {
    if (k == key) {
      v = std::string(value);
      return;
    }
  }
  keys.emplace_back(std::string(key), std::string(value));
}

std::string IniWriter::Serialize() const {
  std::string out;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    if (i > 0) out += "\r\n";
    out += "[" + sections_[i].name + "]\r\n";
    for (const auto& [k, v] : sections_[i].keys) out += k + "=" + v + "\r\n";
  }
  return out;
}

}  // namespace kvr
