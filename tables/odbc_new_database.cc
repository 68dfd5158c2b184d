// A new switcher database through ODBC: the seven tables and their keyed
// records, made in one transaction.
#include <algorithm>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <odbcinst.h>
#endif

#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/column_rule.h"
#include "tables/connection_string.h"
#include "tables/odbc_database.h"
#include "tables/odbc_engine.h"

namespace kvr {

namespace {

void CreateTables(const std::string& connection, const DatabaseSizes& sizes) {
  auto db = std::make_unique<odbc::OdbcDatabase>(connection, DatabaseOptions{});
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
  db = std::make_unique<odbc::OdbcDatabase>(connection, DatabaseOptions{});
  for (const TableDef& t : SwitcherSchema(sizes)) {
    StopIfInterrupted();  // the tables made so far are rolled back with the rest
    for (const std::string& sql : db->dialect().MakeTable(t)) db->Run(sql);
  }
  StopIfInterrupted();
  db->Commit();
}

#ifdef _WIN32
// Makes an empty Jet file at `path` through the driver's setup routine: the
// driver makes files only when asked with CREATE_DB, the path quoted, in
// the General sort order when none is given (learn.microsoft.com/sql/odbc/
// microsoft/sqlconfigdatasource-access-driver). It refuses a path where a
// database exists.
Status MakeJetFile(const std::string& driver, const std::filesystem::path& path) {
  // The attributes end with two zeros: one after the pair, one after the list.
  const std::wstring attributes = L"CREATE_DB=\"" + path.wstring() + L"\"" + std::wstring(1, L'\0');
  const odbc::WString name = odbc::Wide(driver);
  if (SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, reinterpret_cast<const WCHAR*>(name.c_str()), attributes.c_str())) {
    return Status::Ok();
  }
  std::string why;
  for (WORD i = 1; i <= 8; ++i) {
    DWORD code = 0;
    WCHAR message[512] = {};
    WORD length = 0;
    const RETCODE rc = SQLInstallerErrorW(i, &code, message, 511, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    if (!why.empty()) why += "; ";
    why += odbc::Narrow(reinterpret_cast<const SQLWCHAR*>(message), std::min<std::size_t>(length, 511));
  }
  return Status::Error(why.empty() ? "the driver gave no reason" : why);
}
#endif

}  // namespace

Status CreateJetSwitcherDatabase(const std::filesystem::path& path, const DatabaseSizes& sizes) {
  const std::string name = Utf8Path(path);
  if (Lower(Utf8Path(path.extension())) != ".mdb") {
    return Status::Error("cannot create " + name + ": new-database makes a Jet database as an .mdb file, the "
                         "format the Jet driver's CREATE_DB makes (name it .mdb, or .db for a SQLite file)");
  }
#ifndef _WIN32
  (void)sizes;
  return Status::Error("cannot create " + name + ": a Jet database is made through the Jet ODBC driver, which "
                       "runs on Windows only; here new-database makes SQLite files (name it .db)");
#else
  if (const Status s = CheckTableSizes(sizes); !s.ok()) return s;
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    return Status::Error(name + " already exists; new-database never overwrites a file");
  }
  const std::optional<std::string> driver = odbc::FindJetDriver(false);
  if (!driver) {
    return Status::Error("cannot create " + name + ": no Jet ODBC driver is installed to make it with");
  }
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (const Status made = MakeJetFile(*driver, absolute); !made.ok()) {
    return Status::Error("cannot create " + name + ": " + made.why());
  }
  // The file is this run's own from here: when its tables cannot be made,
  // or a stop is asked for, it goes again, so nothing half-made is left.
  Status tables = Status::Ok();
  try {
    tables = CreateOdbcSwitcherDatabase("Driver=" + BracedConnectionValue(*driver) +
                                            ";Dbq=" + BracedConnectionValue(Utf8Path(absolute)) + ";",
                                        sizes);
  } catch (...) {  // a stop, or the database failing
    std::filesystem::remove(absolute, ec);
    throw;
  }
  if (!tables.ok()) {
    std::filesystem::remove(absolute, ec);
    return Status::Error("cannot create " + name + ": " + tables.why());
  }
  return Status::Ok();
#endif
}

Status CreateOdbcSwitcherDatabase(const std::string& connection, const DatabaseSizes& sizes) {
  if (const Status s = CheckTableSizes(sizes); !s.ok()) return s;
  try {
    CreateTables(connection, sizes);
  } catch (const DatabaseError& e) {
    return Status::Error(e.what());
  }
  return Status::Ok();
}

}  // namespace kvr
