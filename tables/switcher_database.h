// Access to the switcher database: records are walked in key order, edited,
// assigned by field name and updated in place; nothing is added or deleted.
//
// The engine sits behind this interface: SQLite directly (sqlite_database.cc)
// or any engine through ODBC (odbc_database.cc). A database file is told by
// its first bytes (DetectDatabaseKind): a Jet file is reached through a Jet
// ODBC driver where the machine has one.
#ifndef KVR_TABLES_SWITCHER_DATABASE_H_
#define KVR_TABLES_SWITCHER_DATABASE_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/problems.h"
#include "base/status.h"
#include "tables/change_log.h"
#include "tables/switcher_tables.h"

namespace kvr {

// The field all of them but OptoRelaySets ("SetNum") are keyed by.
inline constexpr std::string_view kChannelKeyField = "Chan Num";

// A database operation that failed: no such table or field, a value that does
// not fit its field, a locked or damaged file.
class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& what) : std::runtime_error(what) {}
};

// A failure of the database itself (disk full, I/O error, damaged file): the
// transaction cannot go on, and nothing of it will be kept.
// It is a type of its own, not a kind of DatabaseError: a handler of one
// statement's DatabaseError never swallows it, and it ends the database
// phase wherever it is thrown.
class DatabaseFailure : public std::runtime_error {
 public:
  explicit DatabaseFailure(const std::string& what) : std::runtime_error(what) {}
};

// Why an update that reached no record was not written: its record is gone
// from its address, or a trigger kept it as it was.
inline constexpr const char* kReachedNoRecord = "the database found no record at its address, so it was not updated";

// The records of one table in ascending order of its key field.
class Recordset {
 public:
  virtual ~Recordset() = default;

  virtual bool AtEnd() const = 0;  // past the last record (or the table is empty)
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;

  // The key field's value of the current record.
  virtual FieldValue Key() const = 0;

  // The current record's value of `field`; inside an edit, the value assigned
  // in that edit if there is one. Throws DatabaseError for an unknown field.
  virtual FieldValue Field(std::string_view field) = 0;

  // Starts an edit of the current record; a pending edit is discarded.
  virtual void Edit() = 0;
  // Buffers one assignment. Throws DatabaseError when the table has no such
  // field or the value does not fit the field's declared type; the edit's
  // other assignments are unaffected.
  virtual void Assign(std::string_view field, FieldValue value) = 0;
  // Writes the buffered assignments to the current record and ends the edit.
  // Throws DatabaseError; the record then keeps its old contents. Throws
  // DatabaseFailure when the database itself fails.
  virtual void Update() = 0;

  // "InptAlphas, Chan Num 7": where a problem with the current record stands.
  virtual Where Place() const = 0;

  // Writes what Update left pending (an engine may send its updates in
  // batches) and tells `failed` of each record an Update could not write,
  // with its place and why, as a failed Update would have. Throws
  // DatabaseFailure when the database itself fails.
  using FailedRecord = std::function<void(const Where& place, const std::string& why)>;
  virtual void Flush(const FailedRecord& failed) { (void)failed; }
};

// An open switcher database. All updates belong to one transaction, begun at
// open: Commit makes them permanent together, and anything else (Rollback,
// destruction, a crash or a kill) leaves the file exactly as it was.
class SwitcherDatabase {
 public:
  virtual ~SwitcherDatabase() = default;

  // The records of `table` ordered by `key_field`. Throws DatabaseError when
  // the table or the key field is missing. A recordset holds statements of
  // this database: it must not outlive the database, and must not be used
  // after Commit or Rollback, which end the transaction it belongs to.
  virtual std::unique_ptr<Recordset> OpenRecordset(std::string_view table, std::string_view key_field) = 0;

  // Reads ahead what OpenRecordset(table, key_field) is to serve: the
  // fields of its first `records` records in key order, stopping as soon as
  // `enough()` is true between reads. For a caller with time to spare before
  // it needs the table; an engine whose reads cost little reads nothing
  // ahead. A table that cannot be read is left for OpenRecordset to report;
  // throws DatabaseFailure when the database itself fails.
  virtual void ReadAhead(std::string_view table, std::string_view key_field, std::size_t records,
                         const std::function<bool()>& enough) {
    (void)table, (void)key_field, (void)records, (void)enough;
  }

  // Why a commit of the changes made so far would keep nothing, known
  // before it is tried (a Jet engine's lock limit); "" when it may succeed.
  virtual std::string CannotKeep() const { return ""; }
  virtual void Commit() = 0;  // throws DatabaseError; nothing is then changed
  virtual void Rollback() = 0;
  // After Rollback: "" when the database holds nothing of the transaction;
  // else what state it was left in and what restores it (a file whose
  // rollback the engine could only leave to its next open).
  virtual std::string LeftOver() const { return ""; }

  // The changes made so far: counted per table when opened with
  // count_changes, and listed one by one too with track_changes.
  virtual const ChangeLog& Changes() const = 0;
};

// kOdbc: not a file but an ODBC connection string ("odbc:DSN=plant").
enum class DatabaseKind { kSqlite, kJet, kOdbc, kOther };

// Tells the kind of database file at `path` from its first bytes, or why
// the file cannot be read.
Result<DatabaseKind> DetectDatabaseKind(const std::filesystem::path& path);

struct DatabaseOptions {
  bool track_changes = false;  // list every changed field (a dry run, a preview)
  int lock_wait_ms = 5000;     // how long to wait for another program's lock
  bool count_changes = false;  // count the records and fields changed per table
  // ODBC: records read, and updates sent, in one call where the driver
  // allows (block cursors, parameter arrays); 1 reads and writes one at a time.
  std::size_t rows_per_call = 512;
  // ODBC: where the engine takes it, several records written in one
  // statement joined to their values; false writes them by parameter arrays.
  bool join_updates = true;
  // ODBC: where the engine has arrays, a joined statement takes each
  // record's numbers in one array parameter; false binds each alone.
  bool pack_numbers = true;
};

// The rollback journal SQLite keeps beside `database` while a transaction
// writes: left behind by a run that was killed, it restores the file at its
// next open and belongs to that file alone.
std::filesystem::path JournalOf(const std::filesystem::path& database);

// Opens a SQLite switcher database for update and begins the transaction.
// Throws DatabaseError: not a database, locked by another program (after
// waiting), cannot be opened.
std::unique_ptr<SwitcherDatabase> OpenSqliteDatabase(const std::filesystem::path& path,
                                                     const DatabaseOptions& options);

}  // namespace kvr

#endif  // KVR_TABLES_SWITCHER_DATABASE_H_
