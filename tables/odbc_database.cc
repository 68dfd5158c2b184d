// The ODBC engine's connection: connecting, the run's one transaction and
// what holds the database for it, the catalogue (tables, fields, row
// identifiers), and the commit.
#include "tables/odbc_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/odbc_engine.h"

namespace kvr::odbc {
namespace {

// The SQLite ODBC driver runs on the process's SQLite library, which by
// default takes a global lock on every allocation to keep memory statistics
// nothing here reads; the driver allocates for every value it binds and
// reads, and those locks were a tenth of the largest plant's conversion
// through it. SQLite takes the setting only before its first use: at load.
[[maybe_unused]] const bool kSqliteMemoryStatisticsOff = [] {
  return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
}();

ColumnRule RuleForSqlType(std::string name, SQLSMALLINT type, SQLINTEGER size) {
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
      return ColumnRule{std::move(name), ColumnRule::kText, size > 0 ? static_cast<std::size_t>(size) : 0};
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return ColumnRule{std::move(name), ColumnRule::kText, 0};
    case SQL_SMALLINT:
      return SmallIntRule(std::move(name));
    case SQL_TINYINT:
      return ByteRule(std::move(name));
    case SQL_INTEGER:
      return IntegerRule(std::move(name));
    default:
      return ColumnRule{std::move(name)};
  }
}

}  // namespace

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


OdbcDatabase::OdbcDatabase(const std::string& connection, const DatabaseOptions& options)
    : options_(options), env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
  SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  Connect(connection, connection);
  SQLWCHAR quote[8] = {};
  SQLSMALLINT quote_length = 0;
  std::string quote_char = "\"";
  if (Ok(SQLGetInfoW(dbc_->get(), SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quote_length))) {
    quote_char = Narrow(quote, static_cast<std::size_t>(quote_length) / sizeof(SQLWCHAR));
  }
  dialect_.emplace(Info(SQL_DBMS_NAME), Info(SQL_DBMS_VER), quote_char);
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

OdbcDatabase::~OdbcDatabase() {
  ahead_.clear();
  for (OdbcRecordset* r : open_) r->DropPending();
  cache_.clear();
  if (in_transaction_) Rollback();
  if (connected_) SQLDisconnect(dbc_->get());
}

std::unique_ptr<Recordset> OdbcDatabase::OpenRecordset(std::string_view table, std::string_view key_field) {
  if (auto it = ahead_.find(AheadName(table, key_field)); it != ahead_.end()) {
    std::unique_ptr<Recordset> records = std::move(it->second);
    ahead_.erase(it);
    return records;
  }
  return OpenNow(table, key_field);
}

void OdbcDatabase::ReadAhead(std::string_view table, std::string_view key_field, std::size_t records,
                             const std::function<bool()>& enough) {
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

std::unique_ptr<OdbcRecordset> OdbcDatabase::OpenNow(std::string_view table, std::string_view key_field) {
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

void OdbcDatabase::Commit() {
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

void OdbcDatabase::Rollback() {
  if (!in_transaction_) return;
  ahead_.clear();
  for (OdbcRecordset* r : open_) r->DropPending();
  late_failure_.clear();
  cache_.clear();
  SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
  in_transaction_ = false;
  if (locks_) locks_->Reset();
}

void OdbcDatabase::ClaimPostgresTables() {
  std::string names;
  for (const std::string_view t : kSwitcherTables) {
    names += std::string(names.empty() ? "" : ", ") + "'" + Lower(std::string(t)) + "'";
  }
  std::vector<std::string> present;
  {
    Statement list(dbc_->get(),
                   "SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                   "c.relnamespace WHERE c.relkind IN ('r', 'p') AND n.nspname = current_schema() AND "
                   "has_table_privilege(c.oid, 'UPDATE') AND lower(c.relname) IN (" +
                       names + ")",
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

void OdbcDatabase::ClaimSqliteWriteLock(bool own_wait) {
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

void OdbcDatabase::Connect(const std::string& connection, const std::string& shown) {
  dbc_.reset();
  dbc_.emplace(SQL_HANDLE_DBC, env_.get());
  SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{10}), 0);
  WString w = Wide(connection);
  SQLWCHAR out[1024];
  SQLSMALLINT out_length = 0;
  const SQLRETURN rc = SQLDriverConnectW(dbc_->get(), nullptr, w.data(), static_cast<SQLSMALLINT>(w.size()), out, 1024,
                                         &out_length, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    const Diagnostics d = Diagnose(SQL_HANDLE_DBC, dbc_->get());
    throw DatabaseError("cannot connect to " + RedactConnectionString(shown) + ": " + d.text);
  }
  connected_ = true;
}

void OdbcDatabase::BeginTransaction() {
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

std::string OdbcDatabase::Info(SQLUSMALLINT what) const {
  SQLWCHAR text[64] = {};
  SQLSMALLINT length = 0;
  if (!Ok(SQLGetInfoW(dbc_->get(), what, text, sizeof text, &length))) return "";
  return Narrow(
      text, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR), 63));
}

std::string OdbcDatabase::FindTable(std::string_view table) {
  Handle stmt(SQL_HANDLE_STMT, dbc_->get());
  // A Jet file lists a table attached from another file as a SYNONYM
  // (learn.microsoft.com/sql/odbc/microsoft/sqltables-access-driver); its
  // records are read and written through the link as a table's are.
  WString kind = Wide("'TABLE','SYNONYM'");
  stmt.Check(SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, kind.data(), SQL_NTS),
             "cannot list the tables");
  while (Ok(SQLFetch(stmt.get()))) {
    const std::string name = ReadText(stmt, 3);
    if (Lower(name) == Lower(table)) return name;
  }
  throw DatabaseError("the database has no table " + std::string(table));
}

std::vector<ColumnRule> OdbcDatabase::ReadColumns(const std::string& table) {
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

std::string OdbcDatabase::RowIdColumn(const std::string& table, const std::string& key) {
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

std::string OdbcDatabase::ReadText(const Handle& stmt, SQLUSMALLINT column) {
  SQLWCHAR buffer[256];
  SQLLEN ind = 0;
  if (!Ok(SQLGetData(stmt.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &ind)) || ind == SQL_NULL_DATA) return "";
  const std::size_t units = ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buffer)
                                ? sizeof buffer / sizeof(SQLWCHAR) - 1
                                : static_cast<std::size_t>(ind) / sizeof(SQLWCHAR);
  return Narrow(buffer, units);
}

}  // namespace kvr::odbc

namespace kvr {

std::unique_ptr<SwitcherDatabase> OpenOdbcDatabase(const std::string& connection, const DatabaseOptions& options) {
  return std::make_unique<odbc::OdbcDatabase>(connection, options);
}

std::optional<std::string> JetConnectionString(const std::filesystem::path& path) {
  std::string header(20, '\0');
  {
    std::ifstream in(path, std::ios::binary);
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
  }
  const auto driver = odbc::FindJetDriver(header.compare(4, 15, "Standard ACE DB") == 0);
  if (!driver) return std::nullopt;
  // Braced, so that a path holding ';' or '}' stays one value.
  return "Driver=" + BracedConnectionValue(*driver) + ";Dbq=" + BracedConnectionValue(Utf8Path(path)) + ";";
}

}  // namespace kvr
