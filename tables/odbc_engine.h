// The ODBC engine's parts, shared by the files that make it up: the
// connection and its transaction (odbc_database.cc), the reads of a
// table's records (odbc_recordset.cc), the updates sent back
// (odbc_updates.cc) and the tables a new database is made of
// (odbc_new_database.cc); the SQL each engine takes comes from its dialect
// (odbc_dialect.h). Not for use outside tables/.
#ifndef KVR_TABLES_ODBC_ENGINE_H_
#define KVR_TABLES_ODBC_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tables/buffered_recordset.h"
#include "tables/column_rule.h"
#include "tables/jet_locks.h"
#include "tables/odbc_calls.h"
#include "tables/odbc_dialect.h"
#include "tables/switcher_database.h"

namespace kvr::odbc {

// The first installed driver whose name says it reads .mdb files, or, for
// a file of the newer engine's format (`ace`), .accdb files: the older
// driver cannot open those.
std::optional<std::string> FindJetDriver(bool ace);

// A value as read: a number stands; a text is a number where its column
// holds numbers and the whole text is one.
FieldValue FromCell(const FieldValue& cell, const ColumnRule& rule);

// The room, in characters, a column's values are read into a block at a
// time; a longer value is read alone. 0: an integer column read as a number,
// where the engine keeps every value to its column's type (`typed`).
std::size_t ReadWidth(const ColumnRule& rule, bool typed);

// A range of a table's records as read: every field of each, in key order,
// kept compactly (a large table has a million fields).
class TableImage {
 public:
  // An image of `rows` records of `columns` fields each, every field unknown
  // until read.
  TableImage(std::size_t columns, std::size_t rows)
      : columns_(columns), cells_(columns * rows), kinds_(columns * rows, kUnknown) {}
  // A field as read: unknown still where the read could not hold it whole.
  void Fill(std::size_t row, std::size_t column, const FieldValue& cell, bool whole, const ColumnRule& rule) {
    if (whole) Put(row * columns_ + column, FromCell(cell, rule));
  }
  bool Known(std::size_t row, std::size_t column) const { return kinds_[row * columns_ + column] != kUnknown; }
  FieldValue Get(std::size_t row, std::size_t column) const {
    const std::size_t i = row * columns_ + column;
    const Cell& c = cells_[i];
    switch (kinds_[i]) {
      case kNumber:
        return c.number;
      case kText:
        return texts_.substr(c.text.offset, c.text.length);
      default:
        return std::monostate{};
    }
  }
  void Set(std::size_t row, std::size_t column, const FieldValue& v) { Put(row * columns_ + column, v); }

 private:
  // 8 bytes a field and 1 for its kind (a large table has a million
  // fields, and two may be read ahead while the workbook is in memory too).
  union Cell {
    std::int64_t number = 0;
    struct {
      std::uint32_t offset, length;
    } text;  // where the text lies in texts_
  };
  enum Kind : std::uint8_t { kNull, kNumber, kText, kUnknown };
  void Put(std::size_t i, const FieldValue& v) {
    Cell& c = cells_[i];
    c = Cell{};
    kinds_[i] = kNull;
    if (const auto* n = std::get_if<std::int64_t>(&v)) {
      c.number = *n;
      kinds_[i] = kNumber;
    } else if (const auto* t = std::get_if<std::string>(&v)) {
      c.text = {static_cast<std::uint32_t>(texts_.size()), static_cast<std::uint32_t>(t->size())};
      kinds_[i] = kText;
      texts_ += *t;
    }
  }
  std::size_t columns_;
  std::vector<Cell> cells_;
  std::vector<Kind> kinds_;
  std::string texts_;
};

class OdbcDatabase;

// A table's records: their keys read when opened, their fields a range at a
// time when first needed and served from that image. An update writes only
// the fields whose value changes, into the image, and marks them; the marked
// fields are sent when the recordset is flushed or closed, so that a record
// updated twice (a numbering after the merge) is written once. Where the
// engine takes it, one statement writes a few hundred records, joined to a
// list of VALUES rows; elsewhere records are written a parameter array at a
// time, and records given the same values in one statement. Each record is
// addressed by the driver's row identifier where it offers one, else by its
// key; records whose key is Null or shared cannot then be addressed alone
// and are not written.
class OdbcRecordset : public BufferedRecordset {
 public:
  // A run of records whose fields are read together, when first needed:
  // records [first, end) in key order, selected by `where` and `params`.
  struct Range {
    std::size_t first = 0, end = 0;
    std::string where;
    std::vector<FieldValue> params;
    std::unique_ptr<TableImage> image;  // once read
    std::vector<bool> read;             // per column: read into the image
  };
  struct Contents {
    std::vector<FieldValue> keys;
    std::string row_id;               // the row identifier's column; "" to address by key
    std::vector<FieldValue> row_ids;  // per record, when there is one
    std::string from, order;          // the fields' query, less its fields and range
    std::vector<std::size_t> widths;  // each field's room when read
    std::vector<Range> ranges;
  };
  OdbcRecordset(OdbcDatabase& db, std::string table, std::string key_field, std::vector<ColumnRule> columns,
                std::size_t key_column, Contents contents);
  ~OdbcRecordset() override;

  void MoveFirst() override;
  void Flush(const FailedRecord& failed) override;
  // Reads the ranges that hold the first `records` records, until `enough()`.
  void ReadAhead(std::size_t records, const std::function<bool()>& enough);
  // Sends the pending updates; what fails is kept for the next Flush.
  void SendPending();
  // Sends the updates of `records`, joined where the engine joins them.
  void Send(const std::vector<std::size_t>& records);
  // Forgets the pending updates (the transaction was rolled back).
  void DropPending() {
    dirty_.clear();
    dirty_records_ = 0;
  }

 protected:
  FieldValue Stored(std::size_t column) override;
  void Write(const Assignments& assignments) override;

 private:
  std::string WhereClause() const;
  FieldValue Address(std::size_t record) const;
  Range& RangeOf(std::size_t record);
  // The image that holds `record`, read when first needed; `row` is the
  // record's row in it.
  TableImage& Image(std::size_t record, std::size_t& row);
  // Reads the fields `which` of the records of `range` into its image.
  void Read(Range& range, const std::vector<std::size_t>& which);
  // The fields a range is read with: every field on the first walk over
  // the records; on a later walk (the aux numbering after the merge), those
  // this walk has asked for, so that it reads two fields of the records
  // the first walk did not reach, not all of them.
  std::vector<std::size_t> Wanted() const;
  bool Dirty(std::size_t record, std::size_t column) const { return dirty_[record * columns().size() + column]; }
  bool AnyDirty(std::size_t record) const {
    for (std::size_t c = 0; c < columns().size(); ++c) {
      if (Dirty(record, c)) return true;
    }
    return false;
  }
  // The value `record` is to be given in `column`, from the image.
  FieldValue Pending(std::size_t record, std::size_t column);
  // The columns a statement joined to its values writes: every column a
  // record of its changes, each with a flag where not all of them do; the
  // flags are bits of masks, one mask a record for every 30 flags.
  struct JoinedShape {
    std::vector<std::size_t> columns;
    std::vector<int> flag;  // per column: its flag, or -1 where every record changes it
    std::size_t masks = 0;
    std::size_t parameters = 1;  // per record: its address, masks and values
  };
  JoinedShape ShapeOf(const std::vector<std::size_t>& records) const;
  // How many records one joined statement writes.
  std::size_t JoinedPerStatement(const JoinedShape& shape, bool pack) const;
  // Writes `records` in one statement that joins each to its values (with
  // `pack`, each record's numbers in one array); false when the engine
  // refused the statement or it could not be made (nothing of it was
  // written).
  bool SendJoined(const JoinedShape& shape, const std::vector<std::size_t>& records, bool pack);
  // The parameters of that statement: each record's address, masks and
  // values (with `pack`, its numbers in one array), then the lowest and
  // highest address; false where a record's values cannot go that way.
  bool JoinedParams(const JoinedShape& shape, const std::vector<std::size_t>& records, bool pack,
                    std::vector<FieldValue>& params);
  // Writes `records` in joined statements of one shape, as many as it takes.
  void SendJoinedInChunks(const std::vector<std::size_t>& records);
  // `records` by the set of columns each changes, in key order within each.
  std::map<std::vector<std::size_t>, std::vector<std::size_t>> ByColumns(const std::vector<std::size_t>& records) const;
  // Writes `records` a statement per set of columns they change.
  void SendGrouped(const std::vector<std::size_t>& records);
  // Writes `records`, which all change `changed`.
  void SendColumns(const std::vector<std::size_t>& changed, const std::vector<std::size_t>& records);
  void MarkUnaddressable();

  OdbcDatabase& db_;
  std::size_t key_column_;
  std::string row_id_;
  std::vector<FieldValue> row_ids_;
  std::string from_, order_;
  std::vector<std::size_t> widths_;
  bool walked_ = false, narrow_ = false;  // a walk began; a later one, reading what it asks for
  std::vector<bool> wanted_;              // per column: asked for on this later walk
  std::vector<Range> ranges_;
  std::vector<std::string> unaddressable_;  // per record: why it cannot be written alone ("" when it can)
  std::vector<bool> dirty_;                 // per record and column: changed and not yet sent
  std::size_t dirty_records_ = 0;
  std::vector<std::pair<std::size_t, std::string>> failed_;
};

class OdbcDatabase : public SwitcherDatabase {
 public:
  OdbcDatabase(const std::string& connection, const DatabaseOptions& options);

  ~OdbcDatabase() override;

  std::unique_ptr<Recordset> OpenRecordset(std::string_view table, std::string_view key_field) override;

  // Reading a range costs a round trip to the server and the driver's
  // conversions: done while the caller waits for something else, it is
  // off the run's way.
  void ReadAhead(std::string_view table, std::string_view key_field, std::size_t records,
                 const std::function<bool()>& enough) override;

  std::unique_ptr<OdbcRecordset> OpenNow(std::string_view table, std::string_view key_field);

  void Commit() override;

  std::string CannotKeep() const override { return locks_ && locks_->Exceeded() ? locks_->Refusal() : ""; }

  void Rollback() override;

  const ChangeLog& Changes() const override { return changes_; }

  Statement& Cached(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) {
      it = cache_.emplace(sql, std::make_unique<Statement>(dbc_->get(), sql, Timeout())).first;
      if (dialect_->ReadsNarrowIntegers()) it->second->ReadIntegersNarrow();
    }
    return *it->second;
  }
  std::string Quote(std::string_view name) const { return dialect_->Quote(name); }
  const OdbcDialect& dialect() const { return *dialect_; }
  ChangeLog& changes() { return changes_; }
  // True where several records are written in one statement joined to a
  // list of their values ("UPDATE t SET ... FROM (VALUES ...)"): engines
  // known to take it (SQLite from 3.33), unless one row a call is asked for.
  bool JoinsUpdates() const { return options_.join_updates && RowsPerCall() >= 2 && dialect_->JoinsUpdates(); }
  // True where a joined statement takes a record's numbers in one array
  // parameter.
  bool PacksNumbers() const { return dialect_->HasArrays() && options_.pack_numbers; }
  bool Postgres() const { return dialect_->engine() == OdbcDialect::Engine::kPostgres; }
  bool Jet() const { return dialect_->engine() == OdbcDialect::Engine::kJet; }
  // True when `records` more changed records may be sent in this
  // transaction (tables/jet_locks.h); they are counted either way.
  bool TakeLocks(std::size_t records) { return !locks_ || locks_->Take(records); }
  bool Sqlite() const { return dialect_->engine() == OdbcDialect::Engine::kSqlite; }
  bool KeepsTypes() const { return dialect_->KeepsTypes(); }
  // Runs one statement that takes no parameters.
  void Run(const std::string& sql) { Statement(dbc_->get(), sql, Timeout()).Execute({}); }
  std::size_t RowsPerCall() const { return std::max<std::size_t>(options_.rows_per_call, 1); }

  // A lock held by another program ends a statement after this long (where
  // the driver supports a query timeout).
  SQLULEN Timeout() const { return static_cast<SQLULEN>(std::max(1, options_.lock_wait_ms / 1000)); }

  void Opened(OdbcRecordset* r) { open_.insert(r); }
  // A recordset closed with updates that failed, or a database that failed
  // while it sent them: the commit keeps nothing.
  void Closed(OdbcRecordset* r, std::string failure) {
    open_.erase(r);
    if (late_failure_.empty()) late_failure_ = std::move(failure);
  }

 private:
  static std::string AheadName(std::string_view table, std::string_view key_field) {
    return Lower(table) + '\n' + Lower(key_field);
  }

  int LockWaitMs() const { return std::max(1, options_.lock_wait_ms); }

  // The driver runs its catalogue queries on statements of its own, which
  // a cancel of this program's statements does not reach, and they wait for
  // a table that another session holds locked: the run first takes the lock
  // an update takes (ROW EXCLUSIVE, which other runs' updates share) on each
  // switcher table there is that it may update (a statement refused for want
  // of that right would end the transaction), in a statement of its own,
  // bounded by the lock timeout and ended by a stop. Held to the end of the
  // transaction, it lets no other session take the table from under the run.
  void ClaimPostgresTables();

  // How long one try for a SQLite lock lasts where this program waits itself.
  static constexpr int kSqliteTryMs = 100;

  // Takes SQLite's write lock by a statement that writes nothing: in tries
  // of kSqliteTryMs up to the lock wait, a stop ending the wait, where
  // `own_wait`; else in one try, as long as the connection string's
  // Timeout= says. Once held, only the commit waits (for readers to end),
  // up to the lock wait.
  void ClaimSqliteWriteLock(bool own_wait);

  // Connects with `connection`; `shown` is what a failure names (redacted).
  void Connect(const std::string& connection, const std::string& shown);

  // Turns autocommit off: from here on every statement belongs to the run's
  // one transaction.
  void BeginTransaction();

  // A text SQLGetInfo gives of the connection; "" where the driver gives none.
  std::string Info(SQLUSMALLINT what) const;

  std::string FindTable(std::string_view table);

  std::vector<ColumnRule> ReadColumns(const std::string& table);

  std::string OrderBy(const std::string& key, const std::string& row_id) const {
    return " ORDER BY " + Quote(key) + (row_id.empty() ? "" : ", " + Quote(row_id));
  }

  // The records' keys (and row identifiers) in key order: the order every
  // record keeps.
  void ReadKeys(const std::string& table, const ColumnRule& key, OdbcRecordset::Contents& contents);

  // The fields are read a range of keys at a time, each range when one of
  // its records is first needed: a run that writes a few records reads a
  // few ranges, and neither the driver nor this program holds more of the
  // table's text at once than one range besides what was read.
  void PlanRanges(const std::string& table, const std::vector<ColumnRule>& columns, const std::string& key,
                  OdbcRecordset::Contents& contents) const;

 public:
  // Reads `range` with `select` (its fields `which`, then its range) into its image.
  void ReadRange(const std::string& select, const std::vector<std::size_t>& which,
                 const std::vector<std::size_t>& widths, const std::vector<ColumnRule>& columns,
                 OdbcRecordset::Range& range, const std::string& table);

 private:
  // The column that identifies each record of `table` for the whole
  // transaction (SQLite's rowid), when the driver names one other than the
  // key; "" when records are addressed by their key.
  std::string RowIdColumn(const std::string& table, const std::string& key);

  static std::string ReadText(const Handle& stmt, SQLUSMALLINT column);

  DatabaseOptions options_;
  Handle env_;
  std::optional<Handle> dbc_;
  bool connected_ = false;
  bool in_transaction_ = false;
  std::optional<OdbcDialect> dialect_;  // once connected
  std::map<std::string, std::unique_ptr<Statement>> cache_;
  ChangeLog changes_{options_.count_changes, options_.track_changes};
  std::set<OdbcRecordset*> open_;
  std::string late_failure_;
  std::optional<JetLockCount> locks_;                            // a Jet database's records changed in this transaction
  std::map<std::string, std::unique_ptr<OdbcRecordset>> ahead_;  // read ahead, by AheadName; open, in open_
};

}  // namespace kvr::odbc

#endif  // KVR_TABLES_ODBC_ENGINE_H_
