// IniWriter: an ordered INI document. Sections and keys keep the order in
// which they were first set; setting an existing key replaces its value.
// Saved as UTF-8 "key=value" lines with CRLF line ends, a blank line between
// sections, for the Windows software that reads these files.
#ifndef KVR_DEMO_INI_WRITER_H_
#define KVR_DEMO_INI_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kvr {

class IniWriter {
 public:
  // Selects the current section, creating it at the end when new.
  void SelectSection(std::string_view name);
  // Sets a key of the current section.
  void Set(std::string_view key, std::string_view value);
  void Set(std::string_view key, std::int64_t value) { Set(key, std::string_view(std::to_string(value))); }

  std::string Serialize() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> index_;
  std::size_t current_ = 0;
};

}  // namespace kvr

#endif  // KVR_DEMO_INI_WRITER_H_
