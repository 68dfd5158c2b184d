// A new switcher database through ODBC: the seven tables and their keyed
// records, made in one transaction.
#include <algorithm>

#include "base/interrupt.h"
#include "tables/odbc_database.h"
#include "tables/odbc_engine.h"

namespace kvr {

void CreateOdbcSwitcherDatabase(const std::string& connection, const DatabaseSizes& sizes) {
  for (int n : {sizes.inputs, sizes.outputs, sizes.consoles, sizes.locations, sizes.sets}) {
    if (n < 0 || n > 32767) throw DatabaseError("a table size must lie in 0 to 32767");
  }
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

}  // namespace kvr
