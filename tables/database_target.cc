#include "tables/database_target.h"

#include "base/output_file.h"
#include "base/utf8.h"
#include "tables/connection_string.h"
#include "tables/odbc_database.h"

namespace kvr {

std::string DatabaseTarget::Shown() const {
  return file() ? where : std::string(kOdbcPrefix) + RedactConnectionString(where);
}

std::string NoJetDriverAdvice() {
#ifdef _WIN32
  if constexpr (sizeof(void*) == 8) {
    return "this is a Jet database, and no Jet ODBC driver for 64-bit programs is installed: use the 32-bit "
           "package of this program (kvrconversion-windows-i686), which the Jet driver Windows carries serves, or "
           "install a 64-bit Jet ODBC driver";
  }
  return "this is a Jet database, and no Jet ODBC driver is installed (Windows carries one for 32-bit programs; "
         "it may have been removed): install one, or give an ODBC connection string as odbc:...";
#else
  return "this is a Jet database, and this machine has no Jet ODBC driver to open it with: give an ODBC "
         "connection string as odbc:... (a data source that reaches the file), or run the Windows package beside it";
#endif
}

Result<DatabaseTarget> LocateDatabase(std::string_view argument) {
  const DatabaseLocation location = ParseDatabaseLocation(argument);
  if (location.odbc()) return DatabaseTarget{DatabaseKind::kOdbc, location.value};
  const std::string& path = location.value;
  if (const auto why = UnreadableFileReason(PathFromUtf8(path))) {
    return Status::Error(why->missing ? "database not found: " + path
                                      : "not a switcher database: " + path + " " + why->why);
  }
  const Result<DatabaseKind> kind = DetectDatabaseKind(PathFromUtf8(path));
  if (!kind.ok()) return kind.status();
  if (*kind == DatabaseKind::kOther) {
    return Status::Error("not a switcher database: " + path + " is neither a SQLite nor a Jet database file");
  }
  return DatabaseTarget{*kind, path};
}

std::unique_ptr<SwitcherDatabase> OpenDatabase(const DatabaseTarget& target, const DatabaseOptions& options) {
  switch (target.kind) {
    case DatabaseKind::kSqlite: return OpenSqliteDatabase(PathFromUtf8(target.where), options);
    case DatabaseKind::kOdbc: return OpenOdbcDatabase(target.where, options);
    case DatabaseKind::kJet:
    case DatabaseKind::kOther: break;
  }
  if (const auto jet = JetConnectionString(std::filesystem::absolute(PathFromUtf8(target.where)))) {
    return OpenOdbcDatabase(*jet, options);
  }
  throw DatabaseError(NoJetDriverAdvice());
}

}  // namespace kvr
