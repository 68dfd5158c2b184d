// The switcher database over SQLite, through a thin RAII layer of its own.
//
// A recordset lists the rowids of its table in key order once, then reads
// single fields on demand and writes an edit as one prepared UPDATE of the
// assigned fields; statements are cached by their text, so a table step
// prepares each distinct statement once. Declared column types are enforced
// per assignment, as Jet's declared types do: VARCHAR(n) and its kin hold
// at most n characters, SMALLINT 16 bits, TINYINT 0..255, INTEGER 32 bits.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>

#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/buffered_recordset.h"
#include "tables/column_rule.h"
#include "tables/switcher_database.h"

namespace kvr {

Result<DatabaseKind> DetectDatabaseKind(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error("cannot open " + Utf8Path(path) + ": " + std::strerror(errno));
  char head[32] = {};
  in.read(head, sizeof head);
  const std::string_view h(head, static_cast<std::size_t>(in.gcount()));
  if (h.substr(0, 16) == std::string_view("SQLite format 3\0", 16)) return DatabaseKind::kSqlite;
  if (h.size() >= 19 && (h.substr(4, 15) == "Standard Jet DB" || h.substr(4, 15) == "Standard ACE DB")) {
    return DatabaseKind::kJet;
  }
  return DatabaseKind::kOther;
}

std::filesystem::path JournalOf(const std::filesystem::path& database) {
  std::filesystem::path journal = database;
  journal += "-journal";
  return journal;
}

namespace {

std::string Quote(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

// Another program's lock is waited for up to `wait_ms`, and a stop asked for
// ends the wait, or a statement that runs long, within a few milliseconds:
// the statement then fails with SQLITE_BUSY or SQLITE_INTERRUPT and the run
// rolls back.
// `wait_ms` must outlive the connection.
void WaitForLocks(sqlite3* db, const int* wait_ms) {
  struct Wait {
    static int Busy(void* limit, int tries) {
      constexpr int kStepMs = 10;
      if (InterruptRequested() || tries * kStepMs >= *static_cast<const int*>(limit)) return 0;
      sqlite3_sleep(kStepMs);
      return 1;
    }
    static int Progress(void*) { return InterruptRequested() ? 1 : 0; }
  };
  sqlite3_busy_handler(db, &Wait::Busy, const_cast<int*>(wait_ms));
  sqlite3_progress_handler(db, 10000, &Wait::Progress, nullptr);
}

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
      throw DatabaseError(sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void Bind(int index, const FieldValue& v) {
    int rc;
    if (const auto* i = std::get_if<std::int64_t>(&v)) rc = sqlite3_bind_int64(stmt_, index, *i);
    else if (const auto* s = std::get_if<std::string>(&v)) rc = sqlite3_bind_text(stmt_, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
    else rc = sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK) throw DatabaseError(sqlite3_errmsg(db_));
  }
  // True while a row is available. A value the record refuses throws
  // DatabaseError; anything else is the database failing: DatabaseFailure.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    switch (rc & 0xFF) {
      case SQLITE_CONSTRAINT: case SQLITE_MISMATCH: case SQLITE_TOOBIG: case SQLITE_RANGE:
        throw DatabaseError(sqlite3_errmsg(db_));
      default:
        if (sqlite3_extended_errcode(db_) == SQLITE_READONLY_DIRECTORY) {
          throw DatabaseFailure(
              "the folder the database lies in cannot be written, and SQLite keeps the journal of the file's earlier "
              "contents there while it changes it: allow writing in that folder, or move the database to one that "
              "allows it");
        }
        throw DatabaseFailure(sqlite3_errmsg(db_));
    }
  }
  FieldValue Column(int i) const {
    switch (sqlite3_column_type(stmt_, i)) {
      case SQLITE_NULL: return std::monostate{};
      case SQLITE_INTEGER: return static_cast<std::int64_t>(sqlite3_column_int64(stmt_, i));
      case SQLITE_FLOAT: {
        // A whole REAL reads as an integer; any other (3.5, 1E+300) as its
        // text, which the reader converts as it converts a stored text.
        const double d = sqlite3_column_double(stmt_, i);
        if (std::fabs(d) < 9.0e18 && d == std::trunc(d)) return static_cast<std::int64_t>(d);
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i)));
      }
      default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return std::string(p != nullptr ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
      }
    }
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDatabase;

class SqliteRecordset : public BufferedRecordset {
 public:
  SqliteRecordset(SqliteDatabase& db, std::string table, std::string key_field, std::vector<ColumnRule> columns,
                  std::vector<std::int64_t> rowids, std::vector<FieldValue> keys)
      : BufferedRecordset(std::move(table), std::move(key_field), std::move(columns), std::move(keys)),
        db_(db), rowids_(std::move(rowids)) {}

 protected:
  FieldValue Stored(std::size_t column) override;
  void Write(const Assignments& assignments) override;

 private:
  std::string ColumnList(const Assignments& assignments, const char* separator) const {
    std::string list;
    for (const auto& p : assignments) list += (list.empty() ? "" : separator) + Quote(columns()[p.first].name);
    return list;
  }

  SqliteDatabase& db_;
  std::vector<std::int64_t> rowids_;  // the records' rowids in key order
  // The current record's fields, read whole at the first field asked for:
  // a reader of every field (export) makes one lookup a record, not one a
  // field. Read again once the record is written or another is current.
  Statement* select_row_ = nullptr;
  std::vector<FieldValue> row_;
  std::size_t row_at_ = static_cast<std::size_t>(-1);
  // Per set of columns written: the statement that reads them before the
  // update, and the update.
  struct Writers {
    Statement* before;
    Statement* update;
  };
  std::map<std::vector<std::size_t>, Writers> writers_;
  std::vector<std::size_t> write_columns_;  // the current write's, reused
};

class SqliteDatabase : public SwitcherDatabase {
 public:
  SqliteDatabase(const std::filesystem::path& path, const DatabaseOptions& options)
      : path_(path), options_(options) {
    const std::string file = Utf8Path(path);
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw DatabaseError("cannot open " + file + ": " + why);
    }
    WaitForLocks(db_, &options_.lock_wait_ms);
    try {
      Exec("BEGIN IMMEDIATE");
    } catch (const DatabaseError& e) {
      const int code = sqlite3_errcode(db_);
      sqlite3_close(db_);
      if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        throw DatabaseError(file + " is locked by another program; nothing was changed");
      }
      throw DatabaseError("cannot update " + file + ": " + e.what());
    }
    in_transaction_ = true;
  }

  ~SqliteDatabase() override { Rollback(); }

  std::unique_ptr<Recordset> OpenRecordset(std::string_view table, std::string_view key_field) override {
    // Table and field names match without regard to case: a database made
    // elsewhere may spell "InptAlphas" or "Chan Num" in another case.
    std::string actual_table;
    {
      Statement s(db_, "SELECT name FROM sqlite_master WHERE type='table' AND lower(name)=lower(?)");
      s.Bind(1, std::string(table));
      if (!s.Step()) throw DatabaseError("the database has no table " + std::string(table));
      actual_table = std::get<std::string>(s.Column(0));
    }
    std::vector<ColumnRule> columns;
    {
      Statement s(db_, "SELECT name, type FROM pragma_table_info(?)");
      s.Bind(1, actual_table);
      while (s.Step()) {
        auto name = std::get<std::string>(s.Column(0));
        const auto type = s.Column(1);
        columns.push_back(RuleFor(name, std::holds_alternative<std::string>(type) ? std::get<std::string>(type) : ""));
      }
    }
    const auto key = std::find_if(columns.begin(), columns.end(),
                                  [&](const ColumnRule& c) { return Lower(c.name) == Lower(key_field); });
    if (key == columns.end()) {
      throw DatabaseError("table " + actual_table + " has no field \"" + std::string(key_field) + "\"");
    }
    const std::string key_name = key->name;
    std::vector<std::int64_t> rowids;
    std::vector<FieldValue> keys;
    Statement s(db_, "SELECT rowid, " + Quote(key_name) + " FROM " + Quote(actual_table) + " ORDER BY " +
                         Quote(key_name));
    while (s.Step()) {
      rowids.push_back(std::get<std::int64_t>(s.Column(0)));
      keys.push_back(s.Column(1));
    }
    return std::make_unique<SqliteRecordset>(*this, actual_table, key_name, std::move(columns), std::move(rowids),
                                             std::move(keys));
  }

  void Commit() override {
    if (!in_transaction_) throw DatabaseError("no transaction to commit");
    cache_.clear();
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      const std::string why = sqlite3_errmsg(db_);
      Rollback();
      throw DatabaseError("the changes could not be saved (" + why + "); " +
                          (left_over_.empty() ? "nothing was changed" : left_over_));
    }
    in_transaction_ = false;
    sqlite3_close(db_);
    db_ = nullptr;
  }

  void Rollback() override {
    if (db_ == nullptr) return;
    cache_.clear();
    if (in_transaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    in_transaction_ = false;
    sqlite3_close(db_);
    db_ = nullptr;
    FinishRollback();
  }

  std::string LeftOver() const override { return left_over_; }

  const ChangeLog& Changes() const override { return changes_; }

  Statement& Cached(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Statement>(db_, sql)).first;
    it->second->Reset();
    return *it->second;
  }
  ChangeLog& changes() { return changes_; }
  sqlite3* handle() const { return db_; }

 private:
  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      const std::string why = err != nullptr ? err : "unknown error";
      sqlite3_free(err);
      throw DatabaseError(why);
    }
  }

  // After a failure of the file itself (a full disk, an I/O error) SQLite
  // cannot put the file back at once: it stays as far as the writes got,
  // with the journal of its earlier contents beside it, until the file is
  // next opened. Opening it again here completes the rollback before the
  // run ends; where even that fails, left_over_ says what state the file is
  // in and what restores it.
  void FinishRollback() {
    const std::filesystem::path journal = JournalOf(path_);
    std::error_code ec;
    if (!std::filesystem::exists(journal, ec) || std::filesystem::file_size(journal, ec) == 0) return;
    sqlite3* again = nullptr;
    if (sqlite3_open_v2(Utf8Path(path_).c_str(), &again, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
        SQLITE_OK) {
      // Not cut short by a stop: this completes the stop's rollback.
      sqlite3_busy_timeout(again, options_.lock_wait_ms);
      // The first read of a file with a hot journal beside it plays the journal back.
      sqlite3_exec(again, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    sqlite3_close(again);
    if (std::filesystem::exists(journal, ec) && std::filesystem::file_size(journal, ec) > 0) {
      left_over_ = "the file was left partly written, with the journal " + Utf8Path(journal.filename()) +
                   " beside it that restores it unchanged the next time it is opened: keep the two together "
                   "(do not move, copy or delete either alone) and open the database once space is free";
    }
  }

  std::filesystem::path path_;
  std::string left_over_;
  sqlite3* db_ = nullptr;
  DatabaseOptions options_;
  bool in_transaction_ = false;
  std::map<std::string, std::unique_ptr<Statement>> cache_;
  ChangeLog changes_{options_.count_changes, options_.track_changes};
};

FieldValue SqliteRecordset::Stored(std::size_t column) {
  if (row_at_ != position()) {
    if (select_row_ == nullptr) {
      std::string list;
      for (const ColumnRule& c : columns()) list += (list.empty() ? "" : ",") + Quote(c.name);
      select_row_ = &db_.Cached("SELECT " + list + " FROM " + Quote(table()) + " WHERE rowid=?");
    }
    select_row_->Reset();
    select_row_->Bind(1, rowids_[position()]);
    if (!select_row_->Step()) throw DatabaseError("the record has gone");
    row_.clear();
    for (std::size_t i = 0; i < columns().size(); ++i) row_.push_back(select_row_->Column(static_cast<int>(i)));
    row_at_ = position();
  }
  return row_[column];
}

void SqliteRecordset::Write(const Assignments& assignments) {
  const std::int64_t rowid = rowids_[position()];
  // Records of one table are written with a few sets of fields (a blank
  // label or note leaves its field out), so the statements are kept per set.
  write_columns_.clear();
  for (const auto& p : assignments) write_columns_.push_back(p.first);
  auto it = writers_.find(write_columns_);
  if (it == writers_.end()) {
    Writers w{&db_.Cached("SELECT " + ColumnList(assignments, ",") + " FROM " + Quote(table()) + " WHERE rowid=?"),
              &db_.Cached("UPDATE " + Quote(table()) + " SET " + ColumnList(assignments, "=?,") + "=? WHERE rowid=?")};
    it = writers_.emplace(write_columns_, w).first;
  }
  Statement& before = *it->second.before;
  Statement& update = *it->second.update;
  // The values before, for the change log: a record that already holds
  // every value assigned is not written again.
  if (db_.changes().active()) {
    int changed = -1;
    if (row_at_ == position()) {
      changed = LogChanges(assignments, [&](std::size_t i) { return row_[assignments[i].first]; }, db_.changes());
    } else {
      before.Reset();
      before.Bind(1, rowid);
      if (before.Step()) {
        changed = LogChanges(assignments, [&](std::size_t i) { return before.Column(static_cast<int>(i)); },
                             db_.changes());
      }
    }
    if (changed == 0) return;
  }
  row_at_ = static_cast<std::size_t>(-1);
  update.Reset();
  int index = 1;
  for (const auto& p : assignments) update.Bind(index++, p.second);
  update.Bind(index, rowid);
  update.Step();
  // A trigger may keep a record from being updated: that is said, not
  // counted as written.
  if (sqlite3_changes(db_.handle()) == 0) throw DatabaseError(kReachedNoRecord);
}

}  // namespace

std::unique_ptr<SwitcherDatabase> OpenSqliteDatabase(const std::filesystem::path& path,
                                                     const DatabaseOptions& options) {
  return std::make_unique<SqliteDatabase>(path, options);
}

}  // namespace kvr
