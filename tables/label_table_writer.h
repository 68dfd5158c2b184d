// LabelTableWriter: the merge of an in-memory channel table into the records
// of one database table, both in ascending key order.
//
//  1. Open the table's records ordered by the key field.
//  2. Walk them with entry counter i = 0. When the current record's key equals
//     entry i's key, edit the record, perform the table's assignments for
//     entry i in order, update it, and go on with entry i + 1.
//  3. A record whose key does not equal the next entry's key is skipped and
//     keeps its contents; an entry whose record has been passed never meets
//     it again, so a gap in the database's numbering stops every later entry.
//  4. With a count: once i exceeds the count the walk ends (at most count + 1
//     records are updated). Without a count the walk ends at the first
//     unfilled entry (key 0) or at the end of the table.
//
// Nothing is added or deleted. A failed assignment skips that field only; a
// failed update leaves that record as it was. Every failure is reported, and
// so is every filled entry that met no record (naming the first such key).
#ifndef KVR_TABLES_LABEL_TABLE_WRITER_H_
#define KVR_TABLES_LABEL_TABLE_WRITER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "tables/switcher_database.h"
#include "tables/switcher_tables.h"

namespace kvr {

class Problems;

// The assignments of one record, with failures reported instead of thrown.
class RecordEditor {
 public:
  RecordEditor(Recordset& records, Problems& problems) : records_(records), problems_(problems) {}

  void SetNumber(std::string_view field, std::int64_t value);
  void SetText(std::string_view field, std::string_view value);
  // Leaves the field as it is when `value` IsBlankText: an empty cell never
  // erases a name already in the database.
  void SetTextUnlessBlank(std::string_view field, std::string_view value);
  // `field` = the first `chars` characters of `value`, unless those are blank
  // text when `unless_blank`. A value cut short is counted (Cuts).
  void SetShortText(std::string_view field, std::string_view value, std::size_t chars, bool unless_blank);
  // "Label" = ShortLabel(label) unless blank; then "LocalLabel" =
  // ShortLabel(local_label), or, when that is blank, of the record's label as
  // it now stands (the value just written or the old one).
  void SetLabels(std::string_view label, std::string_view local_label);
  // The record's current value of `field` as text (the value assigned in this
  // edit if any); nullopt when it is Null or cannot be read (reported).
  std::optional<std::string> Text(std::string_view field);
  // The record's current value of `field` as a 16-bit number; nullopt when it
  // holds no number.
  std::optional<std::int16_t> Number(std::string_view field);


  // The texts cut short by SetShortText and SetLabels: how many, and the
  // first one (its place, field, whole text and the part written).
  struct Cuts {
    int count = 0;
    std::string key, field, whole, written;
  };
  const Cuts& cuts() const { return cuts_; }

 private:
  void Set(std::string_view field, FieldValue value);
  FieldValue Read(std::string_view field);  // Null after reporting a failed read
  Recordset& records_;
  Problems& problems_;
  Cuts cuts_;
};

struct LabelTableTarget {
  std::string_view table;
  std::string_view key_field;
  std::optional<int> count;  // nullopt: no count (walk to the first unfilled entry)
  int entries = 0;           // how many entries the in-memory table holds
  // The table's description, when the claims reports made of its records'
  // fields ("Label of input 19 is written as ...") are to be put right for
  // records the workbook gives that the table does not hold.
  const TableSpec* spec = nullptr;
};

// Runs the merge. `key(i)` gives entry i's key; `assign(i, editor)` performs
// entry i's assignments. When `after` is set it runs on the same recordset
// once the merge is done. A table that cannot be opened ends the step
// untouched and is reported. Texts cut short to fit are noticed once per
// table, with the count and the first one.
void LabelTableWriter(SwitcherDatabase& database, const LabelTableTarget& target,
                      const std::function<std::int16_t(int)>& key,
                      const std::function<void(int, RecordEditor&)>& assign, Problems& problems,
                      const std::function<void(Recordset&)>& after = nullptr);

// A label beginning "{" marks a channel the switcher hides.
inline bool HidesChannel(std::string_view label) { return !label.empty() && label.front() == '{'; }
// Why a channel is hidden whatever its "Hidden" cell says: `the label "{Spare}" begins with "{"`.
inline std::string HiddenBy(std::string_view label) {
  return "the label \"" + std::string(label) + "\" begins with \"{\"";
}

// IsBlankText: "", " " or "0": texts that never overwrite a database value.
bool IsBlankText(std::string_view text);

// ShortLabel: the first 8 characters.
std::string ShortLabel(std::string_view text);

}  // namespace kvr

#endif  // KVR_TABLES_LABEL_TABLE_WRITER_H_
