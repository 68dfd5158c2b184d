// A switcher database as a run is given it, told apart once: a SQLite file,
// a Jet file, or an ODBC connection string ("odbc:" and the string). Every
// later step takes the kind from here instead of looking again.
#ifndef KVR_TABLES_DATABASE_TARGET_H_
#define KVR_TABLES_DATABASE_TARGET_H_

#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/switcher_database.h"

namespace kvr {

struct DatabaseTarget {
  DatabaseKind kind = DatabaseKind::kSqlite;  // kSqlite, kJet or kOdbc; never kOther
  std::string where;  // the file's path as given, or the connection string without "odbc:"

  bool file() const { return kind != DatabaseKind::kOdbc; }
  // As it may be shown anywhere: the file's path, or "odbc:" and the
  // connection string with every password replaced by "***".
  std::string Shown() const;
};

// What `argument` names: a connection string, or a file whose first bytes
// say SQLite or Jet. Fails, in words fit to show, when the file is missing,
// unreadable, or neither.
Result<DatabaseTarget> LocateDatabase(std::string_view argument);

// What to do when a Jet file is given and no Jet driver is found: on 64-bit
// Windows, the 32-bit package (which Windows' own Jet driver serves) or a
// 64-bit Jet driver; elsewhere, an ODBC connection string.
std::string NoJetDriverAdvice();

// Opens the database for update and begins its transaction. A Jet file is
// reached through a Jet ODBC driver. Throws DatabaseError (the words say
// what to do when no Jet driver is installed) or DatabaseFailure.
std::unique_ptr<SwitcherDatabase> OpenDatabase(const DatabaseTarget& target, const DatabaseOptions& options);

}  // namespace kvr

#endif  // KVR_TABLES_DATABASE_TARGET_H_
