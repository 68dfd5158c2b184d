#include "tables/new_database.h"

#include <cctype>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "base/interrupt.h"
#include "base/utf8.h"
#include "base/output_file.h"
#include "tables/column_rule.h"
#include "tables/odbc_database.h"
#include "tables/switcher_database.h"
#include "tables/switcher_tables.h"

namespace kvr {
namespace {

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    const std::string why = err != nullptr ? err : "unknown error";
    sqlite3_free(err);
    throw DatabaseError(why);
  }
}

}  // namespace

std::string_view DeclaredType(FieldType type) {
  switch (type) {
    case FieldType::kSmallInt: return "SMALLINT NOT NULL DEFAULT 0";
    case FieldType::kTinyInt: return "TINYINT NOT NULL DEFAULT 0";
    case FieldType::kText8: return "VARCHAR(8) NOT NULL DEFAULT ''";
    case FieldType::kText16: return "VARCHAR(16) NOT NULL DEFAULT ''";
    case FieldType::kText255: return "VARCHAR(255) NOT NULL DEFAULT ''";
  }
  return {};
}

int RecordsOf(const TableSpec& table, const DatabaseSizes& s) {
  switch (table.sized_by) {
    case SizedBy::kInputs: return s.inputs;
    case SizedBy::kOutputs: return s.outputs;
    case SizedBy::kConsoles: return s.consoles;
    case SizedBy::kLocations: return s.locations;
    case SizedBy::kSets: return s.sets;
  }
  return 0;
}

std::vector<TableDef> SwitcherSchema(const DatabaseSizes& sizes) {
  std::vector<TableDef> tables;
  for (const TableSpec* spec : kTableSpecs) {
    TableDef t{spec->name, spec->key, {}, RecordsOf(*spec, sizes)};
    for (const FieldSpec& f : spec->fields) t.fields.emplace_back(f.name, DeclaredType(f.type));
    tables.push_back(std::move(t));
  }
  return tables;
}

namespace {

// Refuses a name that must not become a new SQLite database: a Jet file's
// name, anything that stands there, a journal left beside it.
void CheckNewDatabasePath(const std::filesystem::path& path) {
  if (path.empty()) throw DatabaseError("no database file given");
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    throw DatabaseError(Utf8Path(path) + " already exists; new-database never overwrites a file");
  }
  // A journal (or write-ahead log) left beside the name by a run that was
  // stopped belongs to the database that stood there: SQLite would play it
  // into the new file at its first open and damage it.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    std::filesystem::path leftover = path;
    leftover += suffix;
    if (std::filesystem::exists(std::filesystem::symlink_status(leftover, ec))) {
      throw DatabaseError("cannot create " + Utf8Path(path) + ": " + Utf8Path(leftover.filename()) +
                          " lies beside it, left by a database of that name whose run was stopped; it would be "
                          "played into the new file. Put that database back to have it restored, or remove " +
                          Utf8Path(leftover.filename()) + " if it is no longer wanted");
    }
  }
}

// Inserts the records keyed 1 to t.records of table `t`.
void InsertKeys(sqlite3* db, const TableDef& t) {
  sqlite3_stmt* insert = nullptr;
  const std::string ins = "INSERT INTO \"" + std::string(t.name) + "\" (\"" + std::string(t.key) + "\") VALUES (?)";
  sqlite3_prepare_v2(db, ins.c_str(), -1, &insert, nullptr);
  for (int k = 1; k <= t.records; ++k) {
    sqlite3_bind_int(insert, 1, k);
    const int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    if (rc != SQLITE_DONE) {
      sqlite3_finalize(insert);
      throw DatabaseError(sqlite3_errmsg(db));
    }
  }
  sqlite3_finalize(insert);
}

// The bytes of a new database of `sizes`, built in memory.
std::string DatabaseImage(sqlite3* db, const DatabaseSizes& sizes) {
  Exec(db, "BEGIN");
  for (const TableDef& t : SwitcherSchema(sizes)) {
    std::string sql = "CREATE TABLE \"" + std::string(t.name) + "\" (\"" + std::string(t.key) +
                      "\" SMALLINT NOT NULL PRIMARY KEY";
    for (const auto& [name, type] : t.fields) sql += ", \"" + std::string(name) + "\" " + std::string(type);
    Exec(db, sql + ")");
    InsertKeys(db, t);
  }
  Exec(db, "COMMIT");
  sqlite3_int64 size = 0;
  unsigned char* image = sqlite3_serialize(db, "main", &size, 0);
  if (image == nullptr) throw DatabaseError("out of memory");
  std::string bytes(reinterpret_cast<const char*>(image), static_cast<std::size_t>(size));
  sqlite3_free(image);
  return bytes;
}

}  // namespace

Status CheckTableSizes(const DatabaseSizes& sizes) {
  for (int n : {sizes.inputs, sizes.outputs, sizes.consoles, sizes.locations, sizes.sets}) {
    if (n < 0 || n > 32767) return Status::Error("a table size must lie in 0 to 32767");
  }
  return Status::Ok();
}

Status CreateSwitcherDatabase(const std::filesystem::path& path, const DatabaseSizes& sizes) {
  if (const Status s = CheckTableSizes(sizes); !s.ok()) return s;
  // A Jet file's name asks for a Jet database, made through its driver: a
  // SQLite file so named would be taken for one and refused by Access.
  const std::string ext = Lower(Utf8Path(path.extension()));
  if (ext == ".mdb" || ext == ".accdb") return CreateJetSwitcherDatabase(path, sizes);
  try {
    CheckNewDatabasePath(path);
  } catch (const DatabaseError& e) {
    return Status::Error(e.what());
  }
  // Built in memory and written whole, so a full disk or a kill never leaves
  // a partial database or a journal behind.
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return Status::Error("cannot create " + Utf8Path(path) + ": out of memory");
  }
  std::string bytes;
  try {
    bytes = DatabaseImage(db, sizes);
  } catch (const DatabaseError& e) {
    sqlite3_close(db);
    return Status::Error("cannot create " + Utf8Path(path) + ": " + e.what());
  }
  sqlite3_close(db);
  StopIfInterrupted();  // nothing is made
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    return Status::Error(Utf8Path(path) + " already exists; new-database never overwrites a file");
  }
  if (const Status s = WriteFileAtomically(path, bytes); !s.ok()) {
    return Status::Error("cannot create " + Utf8Path(path) + ": " + s.why());
  }
  return Status::Ok();
}

}  // namespace kvr
