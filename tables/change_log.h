// The changes a run makes to the switcher database: counted per table, and
// kept one by one when a dry run or a preview lists them.
#ifndef KVR_TABLES_CHANGE_LOG_H_
#define KVR_TABLES_CHANGE_LOG_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kvr {

// A field value: Null, a whole number or text.
using FieldValue = std::variant<std::monostate, std::int64_t, std::string>;

std::string FieldValueText(const FieldValue& v);  // "Null", "12", "\"Mic 1\""

// One change as a dry run lists it.
struct FieldChange {
  std::string table;
  std::string key;  // "Chan Num 7"
  std::string field;
  FieldValue before;
  FieldValue after;
};

// How many records and fields of one table a run changed.
struct ChangeCount {
  int records = 0;
  int fields = 0;
};

// Changes in the order they were made. A change is kept in 32 bytes, its
// texts in one buffer shared by all, and the list grows a block at a time:
// the largest plant's 1.2 million changes take about 45 MB and are never
// copied whole while they are gathered. A change is handed out as a
// FieldChange made on the spot.
class ChangeList {
 public:
  ChangeList() = default;
  ChangeList(std::initializer_list<FieldChange> changes) {
    for (const FieldChange& c : changes) Add(c);
  }

  // A change of `field` in the record of `table` whose `key_field` is `key`.
  void Add(std::string_view table, std::string_view key_field, const FieldValue& key, std::string_view field,
           const FieldValue& before, const FieldValue& after);
  void Add(const FieldChange& change);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  FieldChange operator[](std::size_t i) const;

  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = FieldChange;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = FieldChange;

    const_iterator(const ChangeList* list, std::size_t at) : list_(list), at_(at) {}
    FieldChange operator*() const { return (*list_)[at_]; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    const ChangeList* list_;
    std::size_t at_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, entries_.size()}; }

 private:
  enum class Kind : std::uint8_t { kNull, kNumber, kText, kKeyText };
  struct Entry {
    std::uint32_t names;  // index into names_: table, key's prefix, field
    Kind kinds[3];        // the key's, before's and after's
    std::int64_t values[3];  // a number, or where a text starts in texts_
  };

  std::uint32_t NamesOf(std::string_view table, std::string_view key_prefix, std::string_view field);
  std::int64_t Store(const FieldValue& value, Kind& kind);
  std::int64_t StoreText(std::string_view text);
  std::string_view TextAt(std::int64_t at) const;
  FieldValue ValueAt(Kind kind, std::int64_t value) const;

  std::deque<Entry> entries_;
  std::string texts_;  // each text: its length in 4 bytes, then its bytes
  std::vector<std::array<std::string, 3>> names_;
  std::map<std::string, std::uint32_t, std::less<>> name_index_;  // names joined by '\x1f'
  std::string scratch_;
};

// The changes an open database has made, when asked: counted per table (a
// report, the window's details), and kept one by one too (a dry run lists
// them, a preview shows them). Knowing them costs a read of each record
// before its update, so a run that shows none asks for none.
class ChangeLog {
 public:
  ChangeLog(bool count, bool keep) : count_(count || keep), keep_(keep) {}
  bool active() const { return count_; }
  bool keeps() const { return keep_; }
  // One update of a record of `table` changed `fields` fields; `first` when
  // it is the first update that changed that record.
  void Count(const std::string& table, int fields, bool first) {
    if (fields == 0) return;
    ChangeCount& count = counts_[table];
    count.records += first ? 1 : 0;
    count.fields += fields;
  }
  void Keep(std::string_view table, std::string_view key_field, const FieldValue& key, std::string_view field,
            const FieldValue& before, const FieldValue& after) {
    if (keep_) list_.Add(table, key_field, key, field, before, after);
  }
  const ChangeList& list() const { return list_; }
  const std::map<std::string, ChangeCount>& counts() const { return counts_; }

 private:
  bool count_, keep_;
  ChangeList list_;
  std::map<std::string, ChangeCount> counts_;
};

}  // namespace kvr

#endif  // KVR_TABLES_CHANGE_LOG_H_
