#include "tables/odbc_database.h"

#include <algorithm>
#include <fstream>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/buffered_recordset.h"
#include "tables/column_rule.h"
#include "tables/jet_locks.h"
#include "tables/odbc_calls.h"

namespace kvr {
namespace {

using odbc::Diagnose;
using odbc::Diagnostics;
using odbc::Handle;
using odbc::Narrow;
using odbc::Ok;
using odbc::Statement;
using odbc::Wide;
using odbc::WString;

// The SQLite ODBC driver runs on the process's SQLite library, which by
// default takes a global lock on every allocation to keep memory statistics
// nothing here reads; the driver allocates for every value it binds and
// reads, and those locks were a tenth of the largest plant's conversion
// through it. SQLite takes the setting only before its first use: at load.
[[maybe_unused]] const bool kSqliteMemoryStatisticsOff = [] { return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK; }();

// A value as read: a number stands; a text is a number where its column
// holds numbers and the whole text is one.
FieldValue FromCell(const FieldValue& cell, const ColumnRule& rule) {
  const auto* text = std::get_if<std::string>(&cell);
  if (text == nullptr || rule.kind == ColumnRule::kText) return cell;
  std::int64_t n = 0;
  const auto r = std::from_chars(text->data(), text->data() + text->size(), n);
  if (!text->empty() && r.ec == std::errc() && r.ptr == text->data() + text->size()) return n;
  return cell;
}

ColumnRule RuleForSqlType(std::string name, SQLSMALLINT type, SQLINTEGER size) {
  switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR:
      return ColumnRule{std::move(name), ColumnRule::kText, size > 0 ? static_cast<std::size_t>(size) : 0};
    case SQL_LONGVARCHAR: case SQL_WLONGVARCHAR:
      return ColumnRule{std::move(name), ColumnRule::kText, 0};
    case SQL_SMALLINT: return SmallIntRule(std::move(name));
    case SQL_TINYINT: return ByteRule(std::move(name));
    case SQL_INTEGER: return IntegerRule(std::move(name));
    default: return ColumnRule{std::move(name)};
  }
}

// The room, in characters, a column's values are read into a block at a
// time; a longer value is read alone. 0: an integer column read as a number,
// where the engine keeps every value to its column's type (`typed`).
std::size_t ReadWidth(const ColumnRule& rule, bool typed) {
  if (rule.kind == ColumnRule::kInteger) return typed ? 0 : 24;
  // Room for surrogate pairs too; a longer field (a memo) is read alone.
  if (rule.kind == ColumnRule::kText && rule.max_chars > 0) return std::min<std::size_t>(2 * rule.max_chars, 256);
  return 256;
}

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
      case kNumber: return c.number;
      case kText: return texts_.substr(c.text.offset, c.text.length);
      default: return std::monostate{};
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

// Records given the same values are written together from this many on, at
// most this many addresses to a statement.
constexpr std::size_t kSameValuesTogether = 4;
constexpr std::size_t kAddressesPerList = 256;

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
    std::string row_id;                 // the row identifier's column; "" to address by key
    std::vector<FieldValue> row_ids;    // per record, when there is one
    std::string from, order;            // the fields' query, less its fields and range
    std::vector<std::size_t> widths;    // each field's room when read
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
  std::vector<bool> dirty_;  // per record and column: changed and not yet sent
  std::size_t dirty_records_ = 0;
  std::vector<std::pair<std::size_t, std::string>> failed_;
};

class OdbcDatabase : public SwitcherDatabase {
 public:
  OdbcDatabase(const std::string& connection, const DatabaseOptions& options)
      : options_(options), env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    Connect(connection, connection);
    dbms_ = Info(SQL_DBMS_NAME);
    dbms_version_ = Info(SQL_DBMS_VER);
    if (Jet()) locks_.emplace(JetLocksPerFile(Info(SQL_DRIVER_NAME)));
    // The SQLite ODBC driver waits for another program's lock as long as its
    // own Timeout= attribute says, 100 s unless the connection string gives
    // one, and takes no query timeout: unless given, the program's own wait.
    // Its wait cannot be cut short by a stop either: this program then waits
    // in short tries of its own, and looks for a stop between them.
    const bool own_wait = Sqlite() && !HasConnectionKey(connection, "Timeout");
    if (own_wait) {
      SQLDisconnect(dbc_->get());
      connected_ = false;
      std::string bounded = connection;
      if (!bounded.empty() && bounded.back() != ';') bounded += ';';
      Connect(bounded + "Timeout=" + std::to_string(kSqliteTryMs) + ";", connection);
    }
    BeginTransaction();
    SQLWCHAR quote[8] = {};
    SQLSMALLINT quote_length = 0;
    if (Ok(SQLGetInfoW(dbc_->get(), SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quote_length))) {
      quote_ = Narrow(quote, static_cast<std::size_t>(quote_length) / sizeof(SQLWCHAR));
    }
    if (quote_ == " ") quote_.clear();  // the driver quotes no identifiers
    // The query timeout does not reach the driver's catalogue queries, which
    // wait for a table another program has locked as long as it holds it:
    // PostgreSQL's own lock timeout bounds every wait for a lock.
    if (Postgres()) {
      Run("SET lock_timeout = " + std::to_string(LockWaitMs()));
      ClaimPostgresTables();
    }
    // SQLite locks the whole file. A run that read under a shared lock and
    // then wanted to write would meet another run doing the same, and each
    // would wait for the other until one gave up: the write lock is taken
    // first, by a statement that writes nothing, so that a second run waits
    // for the first to end (as with a SQLite file directly) and then reads
    // what it kept. A database without the table has its step report it.
    if (Sqlite()) ClaimSqliteWriteLock(own_wait);
  }

  ~OdbcDatabase() override {
    ahead_.clear();
    for (OdbcRecordset* r : open_) r->DropPending();
    cache_.clear();
    if (in_transaction_) Rollback();
    if (connected_) SQLDisconnect(dbc_->get());
  }

  std::unique_ptr<Recordset> OpenRecordset(std::string_view table, std::string_view key_field) override {
    if (auto it = ahead_.find(AheadName(table, key_field)); it != ahead_.end()) {
      std::unique_ptr<Recordset> records = std::move(it->second);
      ahead_.erase(it);
      return records;
    }
    return OpenNow(table, key_field);
  }

  // Reading a range costs a round trip to the server and the driver's
  // conversions: done while the caller waits for something else, it is
  // off the run's way.
  void ReadAhead(std::string_view table, std::string_view key_field, std::size_t records,
                 const std::function<bool()>& enough) override {
    if (!in_transaction_) return;
    const std::string name = AheadName(table, key_field);
    try {
      auto it = ahead_.find(name);
      if (it == ahead_.end()) {
        if (enough()) return;
        it = ahead_.emplace(name, OpenNow(table, key_field)).first;
      }
      it->second->ReadAhead(records, enough);
    } catch (const DatabaseError&) {
      // Opened for its step, the table meets the same error, which the step reports.
    }
  }

  std::unique_ptr<OdbcRecordset> OpenNow(std::string_view table, std::string_view key_field) {
    const std::string actual = FindTable(table);
    std::vector<ColumnRule> columns = ReadColumns(actual);
    const auto key = std::find_if(columns.begin(), columns.end(),
                                  [&](const ColumnRule& c) { return Lower(c.name) == Lower(key_field); });
    if (key == columns.end()) throw DatabaseError("table " + actual + " has no field \"" + std::string(key_field) + "\"");
    const std::size_t key_column = static_cast<std::size_t>(key - columns.begin());
    OdbcRecordset::Contents contents;
    contents.row_id = RowIdColumn(actual, key->name);
    ReadKeys(actual, *key, contents);
    PlanRanges(actual, columns, key->name, contents);
    std::string key_name = key->name;
    return std::make_unique<OdbcRecordset>(*this, actual, std::move(key_name), std::move(columns), key_column,
                                           std::move(contents));
  }

  void Commit() override {
    if (!in_transaction_) throw DatabaseError("no transaction to commit");
    ahead_.clear();  // read ahead for a step that never came
    // Updates still pending are sent first; one that fails keeps nothing.
    std::string failure = std::move(late_failure_);
    for (OdbcRecordset* r : open_) {
      r->Flush([&](const Where& place, const std::string& why) {
        if (failure.empty()) failure = place.ToString() + ": " + why;
      });
    }
    if (!failure.empty()) {
      Rollback();
      throw DatabaseError("the changes could not be saved (" + failure + "); nothing was changed");
    }
    if (const std::string why = CannotKeep(); !why.empty()) {
      Rollback();
      throw DatabaseError(why);
    }
    cache_.clear();
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_COMMIT);
    if (!Ok(rc)) {
      const Diagnostics d = Diagnose(SQL_HANDLE_DBC, dbc_->get());
      Rollback();
      throw DatabaseError("the changes could not be saved (" + d.text + "); nothing was changed");
    }
    in_transaction_ = false;
    if (locks_) locks_->Reset();
  }

  std::string CannotKeep() const override { return locks_ && locks_->Exceeded() ? locks_->Refusal() : ""; }

  void Rollback() override {
    if (!in_transaction_) return;
    ahead_.clear();
    for (OdbcRecordset* r : open_) r->DropPending();
    late_failure_.clear();
    cache_.clear();
    SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
    in_transaction_ = false;
    if (locks_) locks_->Reset();
  }

  const ChangeLog& Changes() const override { return changes_; }

  Statement& Cached(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Statement>(dbc_->get(), sql, Timeout())).first;
    return *it->second;
  }
  std::string Quote(std::string_view name) const {
    if (quote_.empty()) return std::string(name);
    std::string q = quote_;
    for (char c : name) {
      q += c;
      if (std::string_view(&c, 1) == quote_) q += c;
    }
    return q + quote_;
  }
  ChangeLog& changes() { return changes_; }
  // True where several records are written in one statement joined to a
  // list of their values ("UPDATE t SET ... FROM (VALUES ...)"): engines
  // known to take it (SQLite from 3.33), unless one row a call is asked for.
  bool JoinsUpdates() const {
    if (!options_.join_updates || RowsPerCall() < 2) return false;
    if (Postgres()) return true;
    if (!Sqlite()) return false;
    int major = 0, minor = 0;
    return std::sscanf(dbms_version_.c_str(), "%d.%d", &major, &minor) == 2 && (major > 3 || (major == 3 && minor >= 33));
  }
  // True where a joined statement takes a record's numbers in one array
  // parameter.
  bool PacksNumbers() const { return Postgres() && options_.pack_numbers; }
  bool Postgres() const { return dbms_ == "PostgreSQL"; }
  bool Jet() const { return dbms_ == "ACCESS"; }
  // True when `records` more changed records may be sent in this
  // transaction (tables/jet_locks.h); they are counted either way.
  bool TakeLocks(std::size_t records) { return !locks_ || locks_->Take(records); }
  bool Sqlite() const { return dbms_.rfind("SQLite", 0) == 0; }
  // False for SQLite, which keeps any value in any column: its integer
  // columns are read as text, so that a text stored there reads as itself.
  bool KeepsTypes() const { return !Sqlite(); }
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
  void ClaimPostgresTables() {
    std::string names;
    for (const std::string_view t : kSwitcherTables) {
      names += std::string(names.empty() ? "" : ", ") + "'" + Lower(std::string(t)) + "'";
    }
    std::vector<std::string> present;
    {
      Statement list(dbc_->get(),
                     "SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                     "c.relnamespace WHERE c.relkind IN ('r', 'p') AND n.nspname = current_schema() AND "
                     "has_table_privilege(c.oid, 'UPDATE') AND lower(c.relname) IN (" + names + ")",
                     Timeout());
      list.Execute({});
      while (list.Fetch()) {
        if (const odbc::CellText name = list.Text(1)) present.push_back(Quote(*name));
      }
    }
    if (present.empty()) return;
    std::string sql = "LOCK TABLE ";
    for (std::size_t i = 0; i < present.size(); ++i) sql += (i == 0 ? "" : ", ") + present[i];
    try {
      Run(sql + " IN ROW EXCLUSIVE MODE");
    } catch (const DatabaseFailure& e) {
      if (InterruptRequested()) throw;
      throw DatabaseError("the database is locked by another program (" + std::string(e.what()) +
                          "); nothing was changed");
    }
  }

  // How long one try for a SQLite lock lasts where this program waits itself.
  static constexpr int kSqliteTryMs = 100;

  // Takes SQLite's write lock by a statement that writes nothing: in tries
  // of kSqliteTryMs up to the lock wait, a stop ending the wait, where
  // `own_wait`; else in one try, as long as the connection string's
  // Timeout= says. Once held, only the commit waits (for readers to end),
  // up to the lock wait.
  void ClaimSqliteWriteLock(bool own_wait) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(LockWaitMs());
    for (;;) {
      std::string why;
      try {
        Run("DELETE FROM " + Quote(kSwitcherTables.front()) + " WHERE 1=0");
        break;
      } catch (const DatabaseError& e) {
        why = e.what();
      } catch (const DatabaseFailure& e) {
        why = e.what();
      }
      // Only another program's lock is waited for; any other refusal (no
      // such table, a file that may only be read) is met by the step or the
      // statement that meets it, as without this claim.
      const std::string lower = Lower(why);
      if (lower.find("locked") == std::string::npos && lower.find("busy") == std::string::npos) break;
      if (!own_wait || InterruptRequested() || Clock::now() >= deadline) {
        throw DatabaseError("the database is locked by another program; nothing was changed");
      }
    }
    if (own_wait) Run("PRAGMA busy_timeout = " + std::to_string(LockWaitMs()));
  }

  // Connects with `connection`; `shown` is what a failure names (redacted).
  void Connect(const std::string& connection, const std::string& shown) {
    dbc_.reset();
    dbc_.emplace(SQL_HANDLE_DBC, env_.get());
    SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{10}), 0);
    WString w = Wide(connection);
    SQLWCHAR out[1024];
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc_->get(), nullptr, w.data(), static_cast<SQLSMALLINT>(w.size()), out,
                                           1024, &out_length, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      const Diagnostics d = Diagnose(SQL_HANDLE_DBC, dbc_->get());
      throw DatabaseError("cannot connect to " + RedactConnectionString(shown) + ": " + d.text);
    }
    connected_ = true;
  }

  // Turns autocommit off: from here on every statement belongs to the run's
  // one transaction.
  void BeginTransaction() {
    // A run must read and write one state of the database: two runs at
    // once would otherwise each write the fields where its plant differs
    // from what it read, and a record would end with fields of both.
    // Serializable transactions make the engine refuse the later of two
    // that overlap (or, where it locks, keep it waiting) instead.
    SQLUINTEGER isolation = 0;
    if (Ok(SQLGetInfoW(dbc_->get(), SQL_TXN_ISOLATION_OPTION, &isolation, sizeof isolation, nullptr)) &&
        (isolation & SQL_TXN_SERIALIZABLE) != 0) {
      SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(SQLULEN{SQL_TXN_SERIALIZABLE}),
                         SQL_IS_UINTEGER);
    }
    dbc_->Check(SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                   SQL_IS_UINTEGER),
                "the database offers no transactions");
    in_transaction_ = true;
  }

  // A text SQLGetInfo gives of the connection; "" where the driver gives none.
  std::string Info(SQLUSMALLINT what) const {
    SQLWCHAR text[64] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfoW(dbc_->get(), what, text, sizeof text, &length))) return "";
    return Narrow(text, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR),
                                              63));
  }

  std::string FindTable(std::string_view table) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    SQLWCHAR kind[] = {'T', 'A', 'B', 'L', 'E', 0};
    stmt.Check(SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, kind, SQL_NTS), "cannot list the tables");
    while (Ok(SQLFetch(stmt.get()))) {
      const std::string name = ReadText(stmt, 3);
      if (Lower(name) == Lower(table)) return name;
    }
    throw DatabaseError("the database has no table " + std::string(table));
  }

  std::vector<ColumnRule> ReadColumns(const std::string& table) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    WString w = Wide(table);
    stmt.Check(SQLColumnsW(stmt.get(), nullptr, 0, nullptr, 0, w.data(), static_cast<SQLSMALLINT>(w.size()), nullptr, 0),
               "cannot list the fields of " + table);
    std::vector<ColumnRule> columns;
    while (Ok(SQLFetch(stmt.get()))) {
      SQLSMALLINT type = 0;
      SQLINTEGER size = 0;
      SQLLEN ind = 0;
      SQLGetData(stmt.get(), 5, SQL_C_SSHORT, &type, 0, &ind);
      SQLGetData(stmt.get(), 7, SQL_C_SLONG, &size, 0, &ind);
      if (ind == SQL_NULL_DATA) size = 0;
      columns.push_back(RuleForSqlType(ReadText(stmt, 4), type, size));
    }
    return columns;
  }

  std::string OrderBy(const std::string& key, const std::string& row_id) const {
    return " ORDER BY " + Quote(key) + (row_id.empty() ? "" : ", " + Quote(row_id));
  }

  // The records' keys (and row identifiers) in key order: the order every
  // record keeps.
  void ReadKeys(const std::string& table, const ColumnRule& key, OdbcRecordset::Contents& contents) {
    const std::string& row_id = contents.row_id;
    Statement s(dbc_->get(),
                "SELECT " + (row_id.empty() ? "" : Quote(row_id) + ", ") + Quote(key.name) + " FROM " + Quote(table) +
                    OrderBy(key.name, row_id),
                Timeout());
    const ColumnRule row_id_rule = IntegerRule(row_id);
    const std::size_t k = row_id.empty() ? 0 : 1;
    std::vector<std::size_t> widths(k + 1, ReadWidth(key, KeepsTypes()));
    if (k == 1) widths[0] = ReadWidth(row_id_rule, false);  // a row identifier need not be a number
    s.ReadAll({}, widths, RowsPerCall(),
              [&](const std::vector<FieldValue>& cells, const std::vector<bool>&) {
                if (k == 1) contents.row_ids.push_back(FromCell(cells[0], row_id_rule));
                contents.keys.push_back(FromCell(cells[k], key));
              });
  }

  // The fields are read a range of keys at a time, each range when one of
  // its records is first needed: a run that writes a few records reads a
  // few ranges, and neither the driver nor this program holds more of the
  // table's text at once than one range besides what was read.
  void PlanRanges(const std::string& table, const std::vector<ColumnRule>& columns, const std::string& key,
                  OdbcRecordset::Contents& contents) const {
    const std::vector<FieldValue>& keys = contents.keys;
    for (const ColumnRule& column : columns) contents.widths.push_back(ReadWidth(column, KeepsTypes()));
    contents.from = " FROM " + Quote(table) + " WHERE " + Quote(key);
    contents.order = OrderBy(key, contents.row_id);
    // The first ranges are short and each is twice the last, up to 4096
    // records: a plant of a few hundred channels reads little more than its
    // own records of a table sized for thousands.
    std::size_t range_size = 512;
    auto is_null = [&](std::size_t i) { return std::holds_alternative<std::monostate>(keys[i]); };
    for (std::size_t first = 0; first < keys.size();) {
      OdbcRecordset::Range range;
      range.first = first;
      std::size_t end = first + 1;
      if (is_null(first)) {
        while (end < keys.size() && is_null(end)) ++end;
        range.where = " IS NULL";
      } else {
        // A range never ends inside a run of equal keys, nor takes in a Null.
        while (end < keys.size() && !is_null(end) && (end - first < range_size || keys[end] == keys[end - 1])) ++end;
        range_size = std::min<std::size_t>(2 * range_size, 4096);
        range.where = " >= ? AND " + Quote(key) + " <= ?";
        range.params = {keys[first], keys[end - 1]};
      }
      range.end = end;
      contents.ranges.push_back(std::move(range));
      first = end;
    }
  }

 public:
  // Reads `range` with `select` (its fields `which`, then its range) into its image.
  void ReadRange(const std::string& select, const std::vector<std::size_t>& which,
                 const std::vector<std::size_t>& widths, const std::vector<ColumnRule>& columns,
                 OdbcRecordset::Range& range, const std::string& table) {
    const std::size_t expected = range.end - range.first;
    const bool first_read = !range.image;
    if (first_read) {
      range.image = std::make_unique<TableImage>(columns.size(), expected);
      range.read.assign(columns.size(), false);
    }
    std::vector<std::size_t> read_widths;
    for (const std::size_t c : which) read_widths.push_back(widths[c]);
    std::size_t row = 0;
    try {
      Cached(select).ReadAll(range.params, read_widths, RowsPerCall(),
                             [&](const std::vector<FieldValue>& cells, const std::vector<bool>& whole) {
                               if (row < expected) {
                                 for (std::size_t i = 0; i < which.size(); ++i) {
                                   range.image->Fill(row, which[i], cells[i], whole[i], columns[which[i]]);
                                 }
                               }
                               ++row;
                             });
    } catch (const DatabaseError&) {
      if (first_read) range.image.reset();  // the range is read again when next needed
      throw;
    }
    if (row != expected) throw DatabaseFailure("table " + table + " changed while it was read");
    for (const std::size_t c : which) range.read[c] = true;
  }

 private:
  // The column that identifies each record of `table` for the whole
  // transaction (SQLite's rowid), when the driver names one other than the
  // key; "" when records are addressed by their key.
  std::string RowIdColumn(const std::string& table, const std::string& key) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    WString w = Wide(table);
    if (!Ok(SQLSpecialColumnsW(stmt.get(), SQL_BEST_ROWID, nullptr, 0, nullptr, 0, w.data(),
                               static_cast<SQLSMALLINT>(w.size()), SQL_SCOPE_TRANSACTION, SQL_NULLABLE))) {
      return "";
    }
    std::vector<std::string> names;
    while (Ok(SQLFetch(stmt.get()))) names.push_back(ReadText(stmt, 2));
    if (names.size() != 1 || Lower(names.front()) == Lower(key)) return "";
    return names.front();
  }

  static std::string ReadText(const Handle& stmt, SQLUSMALLINT column) {
    SQLWCHAR buffer[256];
    SQLLEN ind = 0;
    if (!Ok(SQLGetData(stmt.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &ind)) || ind == SQL_NULL_DATA) return "";
    const std::size_t units = ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buffer)
                                  ? sizeof buffer / sizeof(SQLWCHAR) - 1
                                  : static_cast<std::size_t>(ind) / sizeof(SQLWCHAR);
    return Narrow(buffer, units);
  }

  DatabaseOptions options_;
  Handle env_;
  std::optional<Handle> dbc_;
  bool connected_ = false;
  bool in_transaction_ = false;
  std::string quote_ = "\"";
  std::string dbms_, dbms_version_;  // the engine's name and version, as the driver gives them
  std::map<std::string, std::unique_ptr<Statement>> cache_;
  ChangeLog changes_{options_.count_changes, options_.track_changes};
  std::set<OdbcRecordset*> open_;
  std::string late_failure_;
  std::optional<JetLockCount> locks_;  // a Jet database's records changed in this transaction
  std::map<std::string, std::unique_ptr<OdbcRecordset>> ahead_;  // read ahead, by AheadName; open, in open_
};

OdbcRecordset::OdbcRecordset(OdbcDatabase& db, std::string table, std::string key_field, std::vector<ColumnRule> columns,
                             std::size_t key_column, Contents contents)
    : BufferedRecordset(std::move(table), std::move(key_field), std::move(columns), std::move(contents.keys)),
      db_(db), key_column_(key_column), row_id_(std::move(contents.row_id)), row_ids_(std::move(contents.row_ids)),
      from_(std::move(contents.from)), order_(std::move(contents.order)),
      widths_(std::move(contents.widths)), ranges_(std::move(contents.ranges)) {
  if (row_id_.empty()) MarkUnaddressable();
  db_.Opened(this);
}

OdbcRecordset::~OdbcRecordset() {
  std::string failure;
  try {
    Flush([&](const Where& place, const std::string& why) {
      if (failure.empty()) failure = place.ToString() + ": " + why;
    });
  } catch (const std::exception& e) {
    failure = e.what();
  }
  db_.Closed(this, std::move(failure));
}

// Addressed by key, a record whose key is Null matches no WHERE, and records
// that share a key would all take each one's values.
void OdbcRecordset::MarkUnaddressable() {
  auto mark = [&](std::size_t r, const std::string& why) {
    if (unaddressable_.empty()) unaddressable_.assign(RecordCount(), "");
    unaddressable_[r] = why;
  };
  // The records are in key order: those that share a key lie together.
  for (std::size_t first = 0, end = 0; first < RecordCount(); first = end) {
    const FieldValue& key = KeyOf(first);
    for (end = first + 1; end < RecordCount() && KeyOf(end) == key;) ++end;
    for (std::size_t r = first; r < end; ++r) {
      if (std::holds_alternative<std::monostate>(key)) {
        mark(r, "its key is Null, and the database offers no other way to address the record; not written");
      } else if (end - first > 1) {
        mark(r, std::to_string(end - first) + " records share the key " + FieldValueText(key) +
                    ", and the database offers no other way to address each alone; not written");
      }
    }
  }
}

std::string OdbcRecordset::WhereClause() const {
  return " WHERE " + db_.Quote(row_id_.empty() ? columns()[key_column_].name : row_id_) + "=?";
}

FieldValue OdbcRecordset::Address(std::size_t record) const {
  return row_id_.empty() ? KeyOf(record) : row_ids_[record];
}

OdbcRecordset::Range& OdbcRecordset::RangeOf(std::size_t record) {
  const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), record,
                                      [](std::size_t r, const Range& range) { return r < range.first; });
  return *(after - 1);
}

TableImage& OdbcRecordset::Image(std::size_t record, std::size_t& row) {
  Range& range = RangeOf(record);
  if (!range.image) Read(range, Wanted());
  row = record - range.first;
  return *range.image;
}

void OdbcRecordset::Read(Range& range, const std::vector<std::size_t>& which) {
  std::string select = "SELECT ";
  for (std::size_t i = 0; i < which.size(); ++i) select += (i == 0 ? "" : ", ") + db_.Quote(columns()[which[i]].name);
  db_.ReadRange(select + from_ + range.where + order_, which, widths_, columns(), range, table());
}

std::vector<std::size_t> OdbcRecordset::Wanted() const {
  std::vector<std::size_t> which;
  for (std::size_t c = 0; c < columns().size(); ++c) {
    if (!narrow_ || wanted_[c]) which.push_back(c);
  }
  if (which.empty()) {  // nothing asked for yet: every field
    for (std::size_t c = 0; c < columns().size(); ++c) which.push_back(c);
  }
  return which;
}

void OdbcRecordset::MoveFirst() {
  BufferedRecordset::MoveFirst();
  if (walked_ && !narrow_) {
    narrow_ = true;
    wanted_.assign(columns().size(), false);
  } else if (narrow_) {
    std::fill(wanted_.begin(), wanted_.end(), false);
  }
  walked_ = true;
}

void OdbcRecordset::ReadAhead(std::size_t records, const std::function<bool()>& enough) {
  for (Range& range : ranges_) {
    if (range.first >= records) return;
    if (range.image) continue;
    if (enough()) return;
    Read(range, Wanted());
  }
}

FieldValue OdbcRecordset::Stored(std::size_t column) {
  const std::size_t record = position();
  if (narrow_) wanted_[column] = true;
  std::size_t row = 0;
  TableImage& image = Image(record, row);
  if (Range& range = RangeOf(record); !range.read[column]) Read(range, {column});  // a field this walk had not asked for
  if (image.Known(row, column)) return image.Get(row, column);
  // A value too long to read with the others is read alone.
  if (!unaddressable_.empty() && !unaddressable_[record].empty()) throw DatabaseError(unaddressable_[record]);
  Statement& select = db_.Cached("SELECT " + db_.Quote(columns()[column].name) + " FROM " + db_.Quote(table()) + WhereClause());
  select.Execute({Address(record)});
  if (!select.Fetch()) throw DatabaseError("the record has gone");
  const auto text = select.Text(1);
  FieldValue v = text ? FromCell(*text, columns()[column]) : FieldValue{};
  image.Set(row, column, v);
  return v;
}

void OdbcRecordset::Write(const Assignments& assignments) {
  const std::size_t record = position();
  if (!unaddressable_.empty() && !unaddressable_[record].empty()) throw DatabaseError(unaddressable_[record]);
  std::vector<std::pair<std::size_t, const FieldValue*>> written;
  for (const auto& [column, value] : assignments) {
    if (Stored(column) != value) written.emplace_back(column, &value);  // only what changes is written
  }
  if (db_.changes().active()) {
    LogChanges(assignments, [&](std::size_t i) { return Stored(assignments[i].first); }, db_.changes());
  }
  if (written.empty()) return;
  std::size_t image_row = 0;
  TableImage& image = Image(record, image_row);
  if (dirty_.empty()) dirty_.assign(RecordCount() * columns().size(), false);
  if (!AnyDirty(record)) ++dirty_records_;
  for (const auto& [column, value] : written) {
    image.Set(image_row, column, *value);
    dirty_[record * columns().size() + column] = true;
  }
}

FieldValue OdbcRecordset::Pending(std::size_t record, std::size_t column) {
  std::size_t row = 0;
  return Image(record, row).Get(row, column);
}

// Joined statements of up to this many parameters. Engines take more
// (SQLite 32766, PostgreSQL 65535), but PostgreSQL's ODBC driver (13.02)
// loses the connection with some 8000, and longer statements gain nothing.
constexpr std::size_t kParametersPerStatement = 4000;
// Flags a mask parameter holds: bits of a positive 32-bit integer.
constexpr int kFlagsPerMask = 30;
// Records that change the same columns are written in statements of their
// own shape from this many on.
constexpr std::size_t kRecordsForOwnShape = 2048;

OdbcRecordset::JoinedShape OdbcRecordset::ShapeOf(const std::vector<std::size_t>& records) const {
  JoinedShape shape;
  int flags = 0;
  for (std::size_t c = 0; c < columns().size(); ++c) {
    std::size_t n = 0;
    for (const std::size_t r : records) n += Dirty(r, c) ? 1 : 0;
    if (n == 0) continue;
    shape.columns.push_back(c);
    shape.flag.push_back(n == records.size() ? -1 : flags++);
  }
  shape.masks = static_cast<std::size_t>((flags + kFlagsPerMask - 1) / kFlagsPerMask);
  shape.parameters = 1 + shape.masks + shape.columns.size();
  return shape;
}

std::size_t OdbcRecordset::JoinedPerStatement(const JoinedShape& shape, bool pack) const {
  std::size_t parameters = shape.parameters;
  if (pack) {
    parameters = 1;
    for (const std::size_t c : shape.columns) parameters += columns()[c].kind == ColumnRule::kInteger ? 0 : 1;
  }
  return std::max<std::size_t>(1, std::min(db_.RowsPerCall(), (kParametersPerStatement - 2) / parameters));
}

bool OdbcRecordset::SendJoined(const JoinedShape& shape, const std::vector<std::size_t>& records, bool pack) {
  const std::string table = db_.Quote(this->table());
  const std::string address = table + "." + db_.Quote(row_id_.empty() ? columns()[key_column_].name : row_id_);
  auto packed = [&](const ColumnRule& rule) { return pack && rule.kind == ColumnRule::kInteger; };
  // The first row gives each column of the list its type: engines that
  // infer a parameter's type from its place would take them all for texts.
  auto typed = [&](const ColumnRule& rule) -> std::string {
    if (rule.kind == ColumnRule::kText) return "CAST(? AS VARCHAR)";
    if (rule.kind == ColumnRule::kAny) return "?";
    return "CAST(? AS INTEGER)";
  };
  const ColumnRule number = IntegerRule("");
  // A VALUES list's columns are named column1, column2, ...: the address
  // (or the numbers), the masks, then the values.
  std::string first_row = pack ? "(CAST(? AS BIGINT[])" : "(" + typed(number), row = "(?";
  std::size_t next_column = 2, next_element = 2;
  auto place = [&](bool in_array) {
    if (in_array) return "v.column1[" + std::to_string(next_element++) + "]";
    return "v.column" + std::to_string(next_column++);
  };
  std::vector<std::string> masks;
  for (std::size_t m = 0; m < shape.masks; ++m) {
    masks.push_back(place(pack));
    if (!pack) {
      first_row += "," + typed(number);
      row += ",?";
    }
  }
  std::string set;
  for (std::size_t j = 0; j < shape.columns.size(); ++j) {
    const ColumnRule& rule = columns()[shape.columns[j]];
    const std::string name = db_.Quote(rule.name);
    const std::string value = place(packed(rule));
    set += (j == 0 ? "" : ",") + name + "=";
    if (!packed(rule)) {
      first_row += "," + typed(rule);
      row += ",?";
    }
    if (const int f = shape.flag[j]; f >= 0) {
      set += "CASE WHEN (" + masks[static_cast<std::size_t>(f / kFlagsPerMask)] + " & " +
             std::to_string(1 << (f % kFlagsPerMask)) + ")<>0 THEN " + value + " ELSE " + table + "." + name + " END";
    } else {
      set += value;
    }
  }
  first_row += ")";
  row += ")";
  std::string values = first_row;
  for (std::size_t i = 1; i < records.size(); ++i) values += "," + row;
  std::vector<FieldValue> params;
  params.reserve(records.size() * (pack ? 1 + shape.columns.size() : shape.parameters) + 2);
  std::vector<std::int64_t> mask(shape.masks);
  std::string numbers;
  FieldValue low = Address(records.front()), high = low;
  for (const std::size_t r : records) {
    const FieldValue at = Address(r);
    low = std::min(low, at);
    high = std::max(high, at);
    std::size_t row = 0;
    const TableImage& image = Image(r, row);  // the record's values, found once
    auto value = [&](std::size_t c) { return Dirty(r, c) ? image.Get(row, c) : FieldValue{}; };
    std::fill(mask.begin(), mask.end(), 0);
    for (std::size_t j = 0; j < shape.columns.size(); ++j) {
      if (const int f = shape.flag[j]; f >= 0 && Dirty(r, shape.columns[j])) {
        mask[static_cast<std::size_t>(f / kFlagsPerMask)] |= std::int64_t{1} << (f % kFlagsPerMask);
      }
    }
    if (pack) {
      numbers = "{" + FieldValueText(at);
      for (const std::int64_t m : mask) numbers += "," + std::to_string(m);
      for (const std::size_t c : shape.columns) {
        if (!packed(columns()[c])) continue;
        const FieldValue v = value(c);
        // Values are made numbers before they are written to an integer
        // field; were a text ever to come, it is not put into the array
        // but written by the statements that bind each value alone.
        if (std::holds_alternative<std::string>(v)) return false;
        numbers += "," + (std::holds_alternative<std::int64_t>(v) ? FieldValueText(v) : std::string("NULL"));
      }
      params.emplace_back(numbers + "}");
    } else {
      params.push_back(at);
      params.insert(params.end(), mask.begin(), mask.end());
    }
    for (const std::size_t c : shape.columns) {
      if (!packed(columns()[c])) params.push_back(value(c));
    }
  }
  // The range of addresses lets the engine find the records by its index
  // instead of reading the whole table to join them.
  params.push_back(low);
  params.push_back(high);
  const std::string joined_address = pack ? "v.column1[1]" : "v.column1";
  try {
    // Statements of one shape and size are prepared once: the engine plans
    // them once.
    Statement& update = db_.Cached("UPDATE " + table + " SET " + set + " FROM (VALUES " + values + ") AS v WHERE " +
                                   address + "=" + joined_address + " AND " + address + " BETWEEN ? AND ?");
    update.Execute(params);
    // Fewer records updated than sent: some were not found at their
    // address; written again by their columns, each tells whether it was.
    const SQLLEN affected = update.RowCount();
    if (affected >= 0 && static_cast<std::size_t>(affected) < records.size()) return false;
  } catch (const DatabaseFailure&) {
    throw;
  } catch (const DatabaseError&) {
    return false;  // the statement failed as a whole: nothing of it was written
  }
  return true;
}

void OdbcRecordset::SendJoinedInChunks(const std::vector<std::size_t>& records) {
  const JoinedShape shape = ShapeOf(records);
  // Where the engine has arrays, a record's address, masks and integer
  // values travel in one parameter ("{17,4,-1,NULL}", column1 of the list),
  // read back by position: its ODBC driver converts each parameter on its
  // own, and a record of the largest tables has some thirty.
  const bool pack = db_.PacksNumbers();
  const std::size_t per_statement = JoinedPerStatement(shape, pack);
  for (std::size_t first = 0; first < records.size(); first += per_statement) {
    const auto from = records.begin() + static_cast<std::ptrdiff_t>(first);
    const std::vector<std::size_t> chunk(from, from + static_cast<std::ptrdiff_t>(
                                                         std::min(per_statement, records.size() - first)));
    // A value the database refuses (a constraint, a trigger) fails the
    // whole statement: its records are written again by their columns,
    // which tells which of them failed.
    if (!SendJoined(shape, chunk, pack)) SendGrouped(chunk);
  }
}

std::map<std::vector<std::size_t>, std::vector<std::size_t>> OdbcRecordset::ByColumns(
    const std::vector<std::size_t>& records) const {
  std::map<std::vector<std::size_t>, std::vector<std::size_t>> by_columns;
  for (const std::size_t r : records) {
    std::vector<std::size_t> changed;
    for (std::size_t c = 0; c < columns().size(); ++c) {
      if (Dirty(r, c)) changed.push_back(c);
    }
    by_columns[changed].push_back(r);
  }
  return by_columns;
}

void OdbcRecordset::SendGrouped(const std::vector<std::size_t>& records) {
  for (const auto& [changed, group] : ByColumns(records)) {
    for (std::size_t first = 0; first < group.size(); first += db_.RowsPerCall()) {
      const auto from = group.begin() + static_cast<std::ptrdiff_t>(first);
      SendColumns(changed, {from, from + static_cast<std::ptrdiff_t>(std::min(db_.RowsPerCall(), group.size() - first))});
    }
  }
}

void OdbcRecordset::SendColumns(const std::vector<std::size_t>& changed, const std::vector<std::size_t>& records) {
  std::string set = "UPDATE " + db_.Quote(table()) + " SET ";
  for (std::size_t i = 0; i < changed.size(); ++i) set += (i == 0 ? "" : ",") + db_.Quote(columns()[changed[i]].name) + "=?";
  // Records given the same values are written a few hundred to a statement
  // ("WHERE key IN (...)"): a numbering that gives most records one value
  // costs a few statements, not one a record.
  std::map<std::vector<FieldValue>, std::vector<std::size_t>> same;
  for (const std::size_t r : records) {
    std::vector<FieldValue> values;
    for (const std::size_t c : changed) values.push_back(Pending(r, c));
    same[std::move(values)].push_back(r);
  }
  std::vector<std::vector<FieldValue>> alone;
  std::vector<std::size_t> alone_records;
  auto send_alone = [&](const std::vector<FieldValue>& values, std::size_t r) {
    alone.push_back(values);
    alone.back().push_back(Address(r));
    alone_records.push_back(r);
  };
  const std::string address = db_.Quote(row_id_.empty() ? columns()[key_column_].name : row_id_);
  for (const auto& [values, group] : same) {
    if (group.size() < kSameValuesTogether) {
      for (const std::size_t r : group) send_alone(values, r);
      continue;
    }
    for (std::size_t first = 0; first < group.size(); first += kAddressesPerList) {
      const std::size_t end = std::min(first + kAddressesPerList, group.size());
      std::vector<FieldValue> params = values;
      std::string in;
      for (std::size_t i = first; i < end; ++i) {
        in += i == first ? "?" : ",?";
        params.push_back(Address(group[i]));
      }
      try {
        Statement& update = db_.Cached(set + " WHERE " + address + " IN (" + in + ")");
        update.Execute(params);
        const SQLLEN affected = update.RowCount();
        if (affected >= 0 && static_cast<std::size_t>(affected) < end - first) {
          for (std::size_t i = first; i < end; ++i) send_alone(values, group[i]);  // each alone tells which was not found
        }
      } catch (const DatabaseError&) {
        for (std::size_t i = first; i < end; ++i) send_alone(values, group[i]);  // each alone tells which failed
      }
    }
  }
  db_.Cached(set + WhereClause()).ExecuteRows(alone, db_.RowsPerCall(), [&](std::size_t row, const std::string& why) {
    failed_.emplace_back(alone_records[row], why);
  });
}

void OdbcRecordset::SendPending() {
  if (dirty_records_ == 0) return;
  std::vector<std::size_t> records;
  records.reserve(dirty_records_);
  for (std::size_t r = 0; r < RecordCount(); ++r) {
    if (AnyDirty(r)) records.push_back(r);
  }
  // Past a Jet engine's lock limit nothing more is sent: the commit keeps
  // nothing and says how many records the run needed.
  if (!db_.TakeLocks(records.size())) {
    DropPending();
    return;
  }
  // A statement joined to its values addresses records by a number.
  bool joined = db_.JoinsUpdates();
  for (std::size_t i = 0; joined && i < records.size(); ++i) {
    joined = std::holds_alternative<std::int64_t>(Address(records[i]));
  }
  if (!joined) {
    SendGrouped(records);
  } else {
    // Records that change the same fields, enough of them, are written in
    // statements of their own that carry no flags (the aux numbering of a
    // large table beside a small plant's merge); the rest share one shape.
    std::vector<std::size_t> rest;
    for (const auto& [changed, group] : ByColumns(records)) {
      if (group.size() >= kRecordsForOwnShape) SendJoinedInChunks(group);
      else rest.insert(rest.end(), group.begin(), group.end());
    }
    std::sort(rest.begin(), rest.end());
    if (!rest.empty()) SendJoinedInChunks(rest);
  }
  DropPending();
}

void OdbcRecordset::Flush(const FailedRecord& failed) {
  SendPending();
  std::vector<std::pair<std::size_t, std::string>> failures = std::move(failed_);
  failed_.clear();
  std::sort(failures.begin(), failures.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [record, why] : failures) failed(PlaceOf(record), why);
}

// The first installed driver whose name says it reads .mdb files, or, for
// a file of the newer engine's format (`ace`), .accdb files: the older
// driver cannot open those.
std::optional<std::string> FindJetDriver(bool ace) {
  // No driver manager of this program's word size, no driver through it:
  // the run says what to install, as for no Jet driver.
  std::optional<Handle> env;
  try {
    env.emplace(SQL_HANDLE_ENV, static_cast<SQLHANDLE>(nullptr));
  } catch (const DatabaseError&) {
    return std::nullopt;
  }
  SQLSetEnvAttr(env->get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLWCHAR name[256];
  SQLWCHAR attributes[1024];
  SQLSMALLINT name_length = 0, attributes_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (Ok(SQLDriversW(env->get(), direction, name, 256, &name_length, attributes, 1024, &attributes_length))) {
    direction = SQL_FETCH_NEXT;
    const std::string driver = Narrow(name, static_cast<std::size_t>(std::max<SQLSMALLINT>(name_length, 0)));
    if (Lower(driver).find(ace ? "*.accdb" : "*.mdb") != std::string::npos) return driver;
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<SwitcherDatabase> OpenOdbcDatabase(const std::string& connection, const DatabaseOptions& options) {
  return std::make_unique<OdbcDatabase>(connection, options);
}

std::optional<std::string> JetConnectionString(const std::filesystem::path& path) {
  std::string header(20, '\0');
  {
    std::ifstream in(path, std::ios::binary);
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
  }
  const auto driver = FindJetDriver(header.compare(4, 15, "Standard ACE DB") == 0);
  if (!driver) return std::nullopt;
  // Braced, so that a path holding ';' or '}' stays one value.
  return "Driver=" + BracedConnectionValue(*driver) + ";Dbq=" + BracedConnectionValue(Utf8Path(path)) + ";";
}

void CreateOdbcSwitcherDatabase(const std::string& connection, const DatabaseSizes& sizes) {
  for (int n : {sizes.inputs, sizes.outputs, sizes.consoles, sizes.locations, sizes.sets}) {
    if (n < 0 || n > 32767) throw DatabaseError("a table size must lie in 0 to 32767");
  }
  auto db = std::make_unique<OdbcDatabase>(connection, DatabaseOptions{});
  for (const TableDef& t : SwitcherSchema(sizes)) {
    bool exists = true;
    try {
      db->OpenRecordset(t.name, t.key);
    } catch (const DatabaseError&) {
      exists = false;
    }
    if (exists) {
      throw DatabaseError("table " + std::string(t.name) + " already exists in " + RedactConnectionString(connection) +
                          "; new-database never overwrites a table");
    }
  }
  db->Rollback();
  // Each statement runs on its own connection state; the tables and their
  // records are committed together.
  db = std::make_unique<OdbcDatabase>(connection, DatabaseOptions{});
  // PostgreSQL writes a new version of a record on every update, on the same
  // page only where the page has room, and every conversion updates each
  // record of the large tables: its tables leave two thirds of each page
  // free (the first conversion's updates then stay on their pages and need
  // no new index entries, half the server's time), and the key's index is
  // built once the records are in, faster than entry by entry.
  const bool postgres = db->Postgres();
  for (const TableDef& t : SwitcherSchema(sizes)) {
    StopIfInterrupted();  // the tables made so far are rolled back with the rest
    std::string sql = "CREATE TABLE " + db->Quote(t.name) + " (" + db->Quote(t.key) + " SMALLINT NOT NULL";
    if (!postgres) sql += " PRIMARY KEY";
    for (const auto& [name, type] : t.fields) {
      std::string declared = type;
      // Engines without a one-byte integer keep such fields as SMALLINT.
      if (declared.rfind("TINYINT", 0) == 0) declared.replace(0, 7, "SMALLINT");
      sql += ", " + db->Quote(name) + " " + declared;
    }
    sql += ")";
    if (postgres) sql += " WITH (fillfactor = 30)";
    db->Cached(sql).Execute({});
    // Keys 1 to n: PostgreSQL counts them itself in one statement; on other
    // engines the first is inserted alone, then each statement copies the
    // keys so far, moved past them, doubling the table: sixteen statements
    // for 32767 records, standard SQL. The numbers are this program's own,
    // safe to spell out.
    const std::string table = db->Quote(t.name), key = db->Quote(t.key);
    if (postgres && t.records > 0) {
      db->Run("INSERT INTO " + table + " (" + key + ") SELECT generate_series(1, " + std::to_string(t.records) + ")");
    } else if (t.records > 0) {
      db->Run("INSERT INTO " + table + " (" + key + ") VALUES (1)");
      for (int have = 1; have < t.records;) {
        const int add = std::min(have, t.records - have);
        db->Run("INSERT INTO " + table + " (" + key + ") SELECT " + key + " + " + std::to_string(have) + " FROM " +
                table + " WHERE " + key + " <= " + std::to_string(add));
        have += add;
      }
    }
    if (postgres) db->Run("ALTER TABLE " + table + " ADD PRIMARY KEY (" + key + ")");
  }
  StopIfInterrupted();
  db->Commit();
}

}  // namespace kvr
