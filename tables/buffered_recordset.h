// What both database engines' recordsets share: the keys read in key order,
// the position, the fields matched by name without regard to case, and the
// edit that buffers typed assignments until Update. An engine adds how a
// field is read and how an update is written.
#ifndef KVR_TABLES_BUFFERED_RECORDSET_H_
#define KVR_TABLES_BUFFERED_RECORDSET_H_

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tables/column_rule.h"
#include "tables/switcher_database.h"

namespace kvr {

class BufferedRecordset : public Recordset {
 public:
  BufferedRecordset(std::string table, std::string key_field, std::vector<ColumnRule> columns,
                    std::vector<FieldValue> keys)
      : table_(std::move(table)), key_field_(std::move(key_field)), columns_(std::move(columns)),
        keys_(std::move(keys)) {
    for (std::size_t i = 0; i < columns_.size(); ++i) lower_.emplace(Lower(columns_[i].name), i);
  }

  bool AtEnd() const override { return pos_ >= keys_.size(); }
  void MoveFirst() override { pos_ = 0; editing_ = false; }
  void MoveNext() override {
    if (pos_ < keys_.size()) ++pos_;
    editing_ = false;
  }
  FieldValue Key() const override { return AtEnd() ? FieldValue{} : keys_[pos_]; }

  // The value assigned in the current edit, else the engine's stored value.
  FieldValue Field(std::string_view field) override {
    const std::size_t column = Column(field);
    if (editing_) {
      for (const auto& p : pending_) {
        if (p.first == column) return p.second;
      }
    }
    if (AtEnd()) throw DatabaseError("no current record");
    return Stored(column);
  }

  void Edit() override {
    if (AtEnd()) throw DatabaseError("no current record");
    editing_ = true;
    pending_.clear();
  }
  void Assign(std::string_view field, FieldValue value) override {
    if (!editing_) throw DatabaseError("the record is not being edited");
    const std::size_t column = Column(field);
    FieldValue v = Coerce(columns_[column], std::move(value));
    for (auto& p : pending_) {
      if (p.first == column) {
        p.second = std::move(v);
        return;
      }
    }
    pending_.emplace_back(column, std::move(v));
  }
  void Update() override {
    if (!editing_) throw DatabaseError("the record is not being edited");
    editing_ = false;
    if (pending_.empty()) return;
    std::vector<std::pair<std::size_t, FieldValue>> pending = std::move(pending_);
    pending_.clear();
    Write(pending);
  }
  Where Place() const override { return PlaceOf(pos_); }

 protected:
  using Assignments = std::vector<std::pair<std::size_t, FieldValue>>;  // column, value

  // The stored value of `column` in the current record.
  virtual FieldValue Stored(std::size_t column) = 0;
  // Writes the assignments to the current record.
  virtual void Write(const Assignments& assignments) = 0;

  // Counts into `log` the fields the assignments change, from the values
  // before the update (`before(i)` for assignment i), and keeps each change
  // when the log keeps them.
  template <typename Before>
  // Logs the assignments that change what the record holds; how many do.
  int LogChanges(const Assignments& assignments, Before before, ChangeLog& log) {
    int changed = 0;
    for (std::size_t i = 0; i < assignments.size(); ++i) {
      FieldValue old = before(i);
      if (old == assignments[i].second) continue;
      ++changed;
      if (log.keeps()) {
        log.Keep(table_, key_field_, keys_[pos_], columns_[assignments[i].first].name, old,
                 assignments[i].second);
      }
    }
    if (changed == 0) return 0;
    if (changed_.empty()) changed_.assign(keys_.size(), false);
    log.Count(table_, changed, !changed_[pos_]);
    changed_[pos_] = true;
    return changed;
  }

  // Where a problem with record `record` (in key order) stands.
  Where PlaceOf(std::size_t record) const {
    return Where::Record(table_,
                         key_field_ + " " + (record >= keys_.size() ? std::string("(none)") : FieldValueText(keys_[record])));
  }
  const std::string& table() const { return table_; }
  const std::vector<ColumnRule>& columns() const { return columns_; }
  std::size_t position() const { return pos_; }
  const FieldValue& key() const { return keys_[pos_]; }
  const FieldValue& KeyOf(std::size_t record) const { return keys_[record]; }
  std::size_t RecordCount() const { return keys_.size(); }

 private:
  // The column of `field`, matched without regard to case; each spelling is
  // resolved once.
  std::size_t Column(std::string_view field) {
    const auto hit = spelled_.find(field);
    if (hit != spelled_.end()) return hit->second;
    const auto it = lower_.find(Lower(field));
    if (it == lower_.end()) throw DatabaseError("table " + table_ + " has no field \"" + std::string(field) + "\"");
    spelled_.emplace(std::string(field), it->second);
    return it->second;
  }

  std::string table_, key_field_;
  std::vector<ColumnRule> columns_;
  std::unordered_map<std::string, std::size_t> lower_;        // lower-case name -> column
  std::map<std::string, std::size_t, std::less<>> spelled_;  // names as callers spell them -> column
  std::vector<FieldValue> keys_;
  std::vector<bool> changed_;  // per record: changed by an update already
  std::size_t pos_ = 0;
  bool editing_ = false;
  Assignments pending_;
};

}  // namespace kvr

#endif  // KVR_TABLES_BUFFERED_RECORDSET_H_
