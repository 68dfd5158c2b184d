// A new switcher database through ODBC: the seven tables and their keyed
// records, made in one transaction.
#include <algorithm>

#include "base/interrupt.h"
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

}  // namespace

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
