// The switcher database through ODBC: a Jet database through the Jet ODBC
// driver, or any engine an installation keeps (a DSN, a server), behind the
// same SwitcherDatabase interface and with the same behaviour as the SQLite
// engine.
//
// Text crosses the driver as UTF-16 (the wide ODBC calls), so names keep
// their characters whatever the machine's code page. Records are addressed
// by their key field, which the switcher's tables hold once per record.
#ifndef KVR_TABLES_ODBC_DATABASE_H_
#define KVR_TABLES_ODBC_DATABASE_H_

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tables/connection_string.h"
#include "tables/new_database.h"
#include "tables/switcher_database.h"

namespace kvr {

// Opens the database that the ODBC connection string `connection` names,
// with autocommit off: every update belongs to one transaction that Commit
// ends. Throws DatabaseError with the driver's diagnostics; a password in
// the connection string never appears in a message.
std::unique_ptr<SwitcherDatabase> OpenOdbcDatabase(const std::string& connection, const DatabaseOptions& options);

// The connection string that opens the Jet file at `path` through a Jet
// ODBC driver installed on this machine that reads its format (a file of
// the newer engine's, "Standard ACE DB", needs the "*.accdb" driver), or
// nullopt when there is none.
std::optional<std::string> JetConnectionString(const std::filesystem::path& path);

// Creates the seven tables with records keyed 1..N in the database that
// `connection` names; refuses when any of them exists already. A stop asked
// for meanwhile throws RunInterrupted, with nothing made.
Status CreateOdbcSwitcherDatabase(const std::string& connection, const DatabaseSizes& sizes);

// Creates a Jet file at `path` (an .mdb name) through the Jet ODBC driver
// and the seven tables in it, or says why not: a file that exists is never
// written over, and a file the run made is removed when its tables cannot
// be made or a stop is asked for. On Windows only, where the driver runs.
Status CreateJetSwitcherDatabase(const std::filesystem::path& path, const DatabaseSizes& sizes);

}  // namespace kvr

#endif  // KVR_TABLES_ODBC_DATABASE_H_
