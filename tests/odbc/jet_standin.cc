// The calls where the Jet ODBC driver differs from the driver underneath.
// Each difference names the page of the published documentation it follows.
#include "tests/odbc/jet_standin.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <strings.h>
#include <vector>

namespace kvr::standin {
namespace {

struct Said {
  std::string state;
  SQLINTEGER native = 0;
  std::string text;
};

std::mutex mutex;
std::map<SQLHANDLE, Said>& Pending() {
  static std::map<SQLHANDLE, Said> said;
  return said;
}

// Records what the stand-in refuses a call on `handle` with, for the
// diagnostics the driver manager reads next. The engine's errors have
// negative native numbers, the driver's own positive ones
// (learn.microsoft.com/sql/odbc/microsoft/native-error).
SQLRETURN Refuse(SQLHANDLE handle, const char* state, SQLINTEGER native, const std::string& text,
                 const char* call = "") {
  std::lock_guard lock(mutex);
  // Each refusal is also written to the file KVR_STANDIN_REFUSALS names,
  // so that a test can require that the program sent nothing Jet refuses
  // (a program that falls back quietly would otherwise pass).
  if (const char* log = std::getenv("KVR_STANDIN_REFUSALS"); log != nullptr && *log != '\0') {
    if (std::FILE* f = std::fopen(log, "a")) {
      std::fprintf(f, "[%s] %s%s%s\n", state, call, *call != '\0' ? ": " : "", text.c_str());
      std::fclose(f);
    }
  }
  Pending()[handle] = {state, native, "[Microsoft][ODBC Microsoft Access Driver] " + text};
  return SQL_ERROR;
}

// Hands a diagnostic record to the driver manager's buffers.
SQLRETURN Tell(const Said& said, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT room,
               SQLSMALLINT* length) {
  if (state != nullptr) std::snprintf(reinterpret_cast<char*>(state), 6, "%s", said.state.c_str());
  if (native != nullptr) *native = said.native;
  if (text != nullptr && room > 0) {
    std::snprintf(reinterpret_cast<char*>(text), static_cast<std::size_t>(room), "%s", said.text.c_str());
  }
  if (length != nullptr) *length = static_cast<SQLSMALLINT>(said.text.size());
  return SQL_SUCCESS;
}

bool IsBigint(SQLSMALLINT c_type) { return c_type == SQL_C_SBIGINT || c_type == SQL_C_UBIGINT; }

bool IsText(SQLSMALLINT sql_type) {
  return sql_type == SQL_CHAR || sql_type == SQL_VARCHAR || sql_type == SQL_WCHAR || sql_type == SQL_WVARCHAR;
}

// "Dbq=..." of a connection string, braced or not.
std::string DbqOf(const std::string& in) {
  for (std::size_t at = 0; at < in.size();) {
    const std::size_t eq = in.find('=', at);
    if (eq == std::string::npos) break;
    std::string key = in.substr(at, eq - at);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t end;
    std::string value;
    if (eq + 1 < in.size() && in[eq + 1] == '{') {
      end = in.find('}', eq + 2);
      value = in.substr(eq + 2, end - eq - 2);
      end = in.find(';', end);
    } else {
      end = in.find(';', eq);
      value = in.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
    }
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    if (key == "dbq") return value;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return {};
}

// The host's name of a file a Windows program under Wine names: a drive
// letter is the link of that name in the Wine prefix's dosdevices folder
// (Z: is the host's root in a prefix Wine made), backslashes are slashes.
// A host name is kept as it is.
std::string HostPath(std::string path) {
  if (path.size() < 3 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' ||
      (path[2] != '\\' && path[2] != '/')) {
    return path;
  }
  const char* prefix = std::getenv("WINEPREFIX");
  const char* home = std::getenv("HOME");
  std::string drive = prefix != nullptr && *prefix != '\0' ? prefix : std::string(home != nullptr ? home : "") + "/.wine";
  drive += "/dosdevices/";
  drive += static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
  drive += ':';
  for (char& c : path) c = c == '\\' ? '/' : c;
  return drive + path.substr(2);
}

// Locks: the engine takes one a record a transaction changes (record-level
// locking) and, where a transaction would take more than MaxLocksPerFile
// (9,500 unless the registry says otherwise), splits it into parts and
// commits the part done, without an error (learn.microsoft.com/office/
// client-developer/access/desktop-database-reference/initializing-the-
// microsoft-access-database-engine-database-driver, "MaxLocksPerFile").
// KVR_STANDIN_MAXLOCKSPERFILE stands for the registry entry.
std::size_t MaxLocksPerFile() {
  const char* given = std::getenv("KVR_STANDIN_MAXLOCKSPERFILE");
  return given != nullptr && *given != '\0' ? std::strtoul(given, nullptr, 10) : 9500;
}
std::map<SQLHANDLE, SQLHANDLE>& ConnectionOf() {  // statement -> connection
  static std::map<SQLHANDLE, SQLHANDLE> of;
  return of;
}
std::map<SQLHANDLE, bool>& Writes() {  // statement -> prepared as an UPDATE, INSERT or DELETE
  static std::map<SQLHANDLE, bool> writes;
  return writes;
}
std::map<SQLHANDLE, bool>& Ace() {  // connection -> through the "(*.mdb, *.accdb)" driver
  static std::map<SQLHANDLE, bool> ace;
  return ace;
}
std::map<SQLHANDLE, bool>& ExtendedAnsi() {  // connection -> ExtendedAnsiSQL=1 given
  static std::map<SQLHANDLE, bool> extended;
  return extended;
}
std::map<SQLHANDLE, std::size_t>& Locks() {  // connection -> locks of its transaction
  static std::map<SQLHANDLE, std::size_t> locks;
  return locks;
}

// Jet's one-byte number field (BYTE) is listed by SQLColumns as
// SQL_TINYINT (learn.microsoft.com/sql/odbc/microsoft/microsoft-access-data-
// types: "NUMBER (FieldSize= BYTE) | SQL_TINYINT"). The SQLite underneath
// knows no BYTE and would list such a column as text, so the stand-in keeps
// it there as TINYINT, which its driver lists as SQL_TINYINT. Names quoted
// with "`" and literals are left as they are.
std::string ByteAsTinyint(const std::string& sql) {
  std::string out;
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote != 0) {
      quote = c == quote ? 0 : quote;
    } else if (c == '`' || c == '\'' || c == '"') {
      quote = c;
    } else if ((i == 0 || !std::isalnum(static_cast<unsigned char>(sql[i - 1]))) && sql.size() - i >= 4 &&
               strncasecmp(sql.c_str() + i, "BYTE", 4) == 0 &&
               (i + 4 == sql.size() || !std::isalnum(static_cast<unsigned char>(sql[i + 4])))) {
      out += "TINYINT";
      i += 3;
      continue;
    }
    out += c;
  }
  return out;
}

// What Access SQL does not have, as the engine refuses it: one record per
// INSERT ... VALUES (a "single-record append query"; more come from a
// SELECT: learn.microsoft.com/office/client-developer/access/desktop-
// database-reference/insert-into-statement-microsoft-access-sql), TOP
// instead of LIMIT (.../select-statement-microsoft-access-sql), and no
// CASE expression or CAST (the Access SQL reference has neither; IIf,
// Switch and the conversion functions take their place). Names quoted
// with "`" and literals are not looked into.
std::optional<std::string> NotAccessSql(const std::string& sql) {
  std::vector<std::string> words;
  std::string word;
  char quote = 0;
  int depth = 0, values_depth = -1;
  bool values_closed = false;
  for (std::size_t i = 0; i <= sql.size(); ++i) {
    const char c = i < sql.size() ? sql[i] : ' ';
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      continue;
    }
    if (!word.empty()) {
      if (word == "CASE" || word == "CAST") return "Syntax error (missing operator) in query expression.";
      if (word == "LIMIT") return "Syntax error in FROM clause.";
      if (word == "VALUES") values_depth = depth;
      word.clear();
    }
    if (c == '`' || c == '\'' || c == '"') quote = c;
    if (c == '(') ++depth;
    if (c == ')' && --depth == values_depth) values_closed = true;
    if (c == ',' && values_closed && depth == values_depth) return "Missing semicolon (;) at end of SQL statement.";
    if (!std::isspace(static_cast<unsigned char>(c)) && c != ')' && c != ',') values_closed = false;
  }
  return std::nullopt;
}

bool StartsWith(const SQLCHAR* sql, SQLINTEGER length, const char* word) {
  std::size_t at = 0;
  const std::size_t n = length == SQL_NTS ? SIZE_MAX : static_cast<std::size_t>(length);
  while (at < n && sql[at] == ' ') ++at;
  for (std::size_t i = 0; word[i] != '\0'; ++i, ++at) {
    if (at >= n || std::toupper(static_cast<int>(sql[at])) != word[i]) return false;
  }
  return true;
}

// A planted failure of the engine: the Nth write of a connection
// (KVR_STANDIN_FAIL_AT, counted from 1) fails as a full disk does, with a
// general error and a negative native number, as the driver passes on the
// engine's errors (learn.microsoft.com/sql/odbc/microsoft/native-error:
// "Negative error codes are generated by Microsoft Jet").
std::size_t FailAt() {
  const char* given = std::getenv("KVR_STANDIN_FAIL_AT");
  return given != nullptr && *given != '\0' ? std::strtoul(given, nullptr, 10) : 0;
}
std::map<SQLHANDLE, std::size_t>& WritesRun() {  // connection -> writes run
  static std::map<SQLHANDLE, std::size_t> runs;
  return runs;
}

// Tables linked from another file: SQLTables lists them with the type
// SYNONYM, not TABLE. KVR_STANDIN_LINKED names them, separated by commas.
std::string Linked() {
  const char* given = std::getenv("KVR_STANDIN_LINKED");
  return given != nullptr ? given : "";
}

// The table types a SQLTables call asks for ("'TABLE','SYNONYM'", "TABLE"),
// upper case, without quotes; none asked is every type.
std::vector<std::string> TypesAsked(const SQLCHAR* types, SQLSMALLINT length) {
  std::string text;
  if (types != nullptr) {
    text = length == SQL_NTS ? std::string(reinterpret_cast<const char*>(types))
                             : std::string(reinterpret_cast<const char*>(types), static_cast<std::size_t>(length));
  }
  std::vector<std::string> out;
  std::string word;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',') {
      if (!word.empty()) out.push_back(word);
      word.clear();
    } else if (text[i] != '\'' && text[i] != ' ') {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
  }
  return out;
}

}  // namespace

void* Real(const char* name) {
  static void* driver = [] {
    void* d = dlopen(KVR_STANDIN_UNDERNEATH, RTLD_NOW | RTLD_LOCAL);
    if (d == nullptr) {
      std::fprintf(stderr, "jet stand-in: cannot load %s: %s\n", KVR_STANDIN_UNDERNEATH, dlerror());
      std::abort();
    }
    return d;
  }();
  void* fn = dlsym(driver, name);
  if (fn == nullptr) {
    std::fprintf(stderr, "jet stand-in: the driver underneath has no %s\n", name);
    std::abort();
  }
  return fn;
}

// A record another connection holds: the engine tries again LockRetry
// times and then fails the statement with an error of its own, which the
// driver passes on with a negative native number (learn.microsoft.com/
// office/vba/access/concepts/miscellaneous/5-database-engine-driver-1-of-2;
// learn.microsoft.com/sql/odbc/microsoft/native-error). Underneath, that is
// SQLite's busy or locked error (5, 6) at the end of the same wait.
bool Locked(SQLHSTMT stmt) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR text[256] = {};
  SQLSMALLINT length = 0;
  using Fn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                                 SQLSMALLINT*);
  if (!SQL_SUCCEEDED(reinterpret_cast<Fn>(Real("SQLGetDiagRec"))(SQL_HANDLE_STMT, stmt, 1, state, &native, text,
                                                                 sizeof text, &length))) {
    return false;
  }
  return native == 5 || native == 6;
}

void Forget(SQLHANDLE handle) {
  std::lock_guard lock(mutex);
  Pending().erase(handle);
}

}  // namespace kvr::standin

using kvr::standin::Forget;
using kvr::standin::Real;
using kvr::standin::Refuse;

extern "C" {

// Connecting: the Jet file named by Dbq must exist; its tables are the
// SQLite file beside it.
SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT in_length, SQLCHAR* out,
                                   SQLSMALLINT out_room, SQLSMALLINT* out_length, SQLUSMALLINT completion) {
  Forget(dbc);
  const std::string given = in_length == SQL_NTS ? std::string(reinterpret_cast<char*>(in))
                                                 : std::string(reinterpret_cast<char*>(in), in_length);
  const std::string dbq = kvr::standin::DbqOf(given);
  const std::string file = kvr::standin::HostPath(dbq);
  std::FILE* f = file.empty() ? nullptr : std::fopen(file.c_str(), "rb");
  if (f == nullptr) {
    // The driver's own words for a file it cannot find (native error -1811).
    return Refuse(dbc, "HY024", -1811, "Could not find file '" + dbq + "'.");
  }
  char header[20] = {};
  const std::size_t got = std::fread(header, 1, sizeof header, f);
  std::fclose(f);
  // The older driver, "Microsoft Access Driver (*.mdb)", reads Jet's own
  // format only; a file of the newer engine ("Standard ACE DB") needs the
  // "(*.mdb, *.accdb)" driver (learn.microsoft.com/office/client-developer/
  // access/desktop-database-reference/microsoft-access-database-engine).
  std::string driver = given;
  for (char& c : driver) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool ace = driver.find("*.accdb") != std::string::npos;
  {
    std::lock_guard lock(kvr::standin::mutex);
    kvr::standin::Ace()[dbc] = ace;
    kvr::standin::ExtendedAnsi()[dbc] = driver.find("extendedansisql=1") != std::string::npos;
  }
  if (got == sizeof header && std::memcmp(header + 4, "Standard ACE DB", 15) == 0 && !ace) {
    return Refuse(dbc, "HY000", -1206, "Unrecognized database format '" + file + "'.");
  }
  // A record or page another connection holds is tried again LockRetry
  // times, LockDelay ms apart (20 and 100 by default: learn.microsoft.com/
  // office/vba/access/concepts/miscellaneous/5-database-engine-driver-1-of-2),
  // then the statement fails with a lock conflict. The SQLite underneath
  // waits that long for its lock and no longer.
  const std::string underneath = "Database=" + file + ".standin;Timeout=" + std::to_string(20 * 100) + ";";
  using Fn = SQLRETURN(SQL_API*)(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*,
                                 SQLUSMALLINT);
  const SQLRETURN rc = reinterpret_cast<Fn>(Real("SQLDriverConnect"))(
      dbc, window, reinterpret_cast<SQLCHAR*>(const_cast<char*>(underneath.c_str())), SQL_NTS, nullptr, 0, nullptr,
      SQL_DRIVER_NOPROMPT);
  if (SQL_SUCCEEDED(rc) && out != nullptr && out_room > 0) {
    std::snprintf(reinterpret_cast<char*>(out), static_cast<std::size_t>(out_room), "%s", given.c_str());
  }
  if (out_length != nullptr) *out_length = static_cast<SQLSMALLINT>(given.size());
  return rc;
}

// The driver converts no column to a 64-bit integer: SQLGetInfo reports
// SQL_CONVERT_BIGINT as 0, and a bind to SQL_C_SBIGINT is an optional
// feature not implemented (learn.microsoft.com/sql/odbc/reference/syntax/
// sqlbindcol-function, HYC00; .../sqlgetinfo-function, SQL_CONVERT_BIGINT).
SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                             SQLLEN room, SQLLEN* length) {
  Forget(stmt);
  if (kvr::standin::IsBigint(c_type)) return Refuse(stmt, "HYC00", 1, "Optional feature not implemented", "SQLBindCol");
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);
  return reinterpret_cast<Fn>(Real("SQLBindCol"))(stmt, column, c_type, value, room, length);
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value, SQLLEN room,
                             SQLLEN* length) {
  Forget(stmt);
  if (kvr::standin::IsBigint(c_type)) return Refuse(stmt, "HYC00", 1, "Optional feature not implemented", "SQLGetData");
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);
  return reinterpret_cast<Fn>(Real("SQLGetData"))(stmt, column, c_type, value, room, length);
}

// Parameters: no 64-bit integers (as above), and a Text parameter of more
// than 255 characters is an invalid precision; longer texts go as Memo,
// SQL_LONGVARCHAR (learn.microsoft.com/sql/odbc/microsoft/microsoft-access-
// data-types: TEXT holds 1 to 255 characters; .../sqlbindparameter-function,
// HY104).
SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT direction, SQLSMALLINT c_type,
                                   SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
                                   SQLLEN room, SQLLEN* length) {
  Forget(stmt);
  if (kvr::standin::IsBigint(c_type) || sql_type == SQL_BIGINT) {
    return Refuse(stmt, "HYC00", 1, "Optional feature not implemented", "SQLBindParameter");
  }
  if (kvr::standin::IsText(sql_type) && size > 255) {
    return Refuse(stmt, "HY104", 1, "Invalid precision value", "SQLBindParameter");
  }
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN, SQLSMALLINT,
                                 SQLPOINTER, SQLLEN, SQLLEN*);
  return reinterpret_cast<Fn>(Real("SQLBindParameter"))(stmt, number, direction, c_type, sql_type, size, digits,
                                                        value, room, length);
}

// Statements: each is known by its connection, and as writing or not, for
// the locks it takes.
SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE parent, SQLHANDLE* out) {
  Forget(parent);
  using Fn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
  const SQLRETURN rc = reinterpret_cast<Fn>(Real("SQLAllocHandle"))(type, parent, out);
  if (SQL_SUCCEEDED(rc) && type == SQL_HANDLE_STMT) {
    std::lock_guard lock(kvr::standin::mutex);
    kvr::standin::ConnectionOf()[*out] = parent;
  }
  return rc;
}

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT* out) {
  Forget(dbc);
  using Fn = SQLRETURN(SQL_API*)(SQLHDBC, SQLHSTMT*);
  const SQLRETURN rc = reinterpret_cast<Fn>(Real("SQLAllocStmt"))(dbc, out);
  if (SQL_SUCCEEDED(rc)) {
    std::lock_guard lock(kvr::standin::mutex);
    kvr::standin::ConnectionOf()[*out] = dbc;
  }
  return rc;
}

// The Jet driver has no row id: for SQL_BEST_ROWID it returns a unique
// index's columns if the table has one, and nothing for SQL_ROWVER
// (learn.microsoft.com/sql/odbc/microsoft/sqlspecialcolumns-desktop-
// database-drivers). The SQLite underneath would offer its rowid. The
// stand-in answers as for a table whose only unique index is its key, or
// that has none: no column the program could address a record by besides
// its key (the SQLite driver's empty SQL_ROWVER answer). A table with a
// unique index on another column would get that column from Jet.
SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT stmt, SQLUSMALLINT type, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                                    SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                                    SQLSMALLINT table_length, SQLUSMALLINT scope, SQLUSMALLINT nullable) {
  Forget(stmt);
  (void)type;
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLUSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                 SQLSMALLINT, SQLUSMALLINT, SQLUSMALLINT);
  return reinterpret_cast<Fn>(Real("SQLSpecialColumns"))(stmt, SQL_ROWVER, catalog, catalog_length, schema,
                                                         schema_length, table, table_length, scope, nullable);
}

// Access SQL's CREATE TABLE has no DEFAULT clause unless the connection
// asks for ANSI-92 SQL with ExtendedAnsiSQL=1 (learn.microsoft.com/office/
// client-developer/access/desktop-database-reference/create-table-
// statement-microsoft-access-sql; learn.microsoft.com/sql/odbc/microsoft/
// setting-extendedansisql).
SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* sql, SQLINTEGER length) {
  Forget(stmt);
  if (const auto refused = kvr::standin::NotAccessSql(
          length == SQL_NTS ? std::string(reinterpret_cast<char*>(sql))
                            : std::string(reinterpret_cast<char*>(sql), static_cast<std::size_t>(length)))) {
    return Refuse(stmt, "42000", -3100, *refused);
  }
  if (kvr::standin::StartsWith(sql, length, "CREATE")) {
    std::string text = length == SQL_NTS ? std::string(reinterpret_cast<char*>(sql))
                                         : std::string(reinterpret_cast<char*>(sql), static_cast<std::size_t>(length));
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    SQLHANDLE dbc = nullptr;
    {
      std::lock_guard lock(kvr::standin::mutex);
      dbc = kvr::standin::ConnectionOf()[stmt];
    }
    if (text.find(" DEFAULT ") != std::string::npos && !kvr::standin::ExtendedAnsi()[dbc]) {
      return Refuse(stmt, "42000", -1, "Syntax error in CREATE TABLE statement.");
    }
    std::string kept = kvr::standin::ByteAsTinyint(
        length == SQL_NTS ? std::string(reinterpret_cast<char*>(sql))
                          : std::string(reinterpret_cast<char*>(sql), static_cast<std::size_t>(length)));
    using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
    return reinterpret_cast<Fn>(Real("SQLPrepare"))(stmt, reinterpret_cast<SQLCHAR*>(kept.data()), SQL_NTS);
  }
  {
    std::lock_guard lock(kvr::standin::mutex);
    kvr::standin::Writes()[stmt] = kvr::standin::StartsWith(sql, length, "UPDATE") ||
                                   kvr::standin::StartsWith(sql, length, "INSERT") ||
                                   kvr::standin::StartsWith(sql, length, "DELETE");
  }
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
  return reinterpret_cast<Fn>(Real("SQLPrepare"))(stmt, sql, length);
}

// A write takes a lock a record it reaches; past the limit the transaction
// so far is committed and the next part begins.
SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) {
  Forget(stmt);
  {
    std::lock_guard lock(kvr::standin::mutex);
    const std::size_t fail_at = kvr::standin::FailAt();
    if (fail_at > 0 && kvr::standin::Writes()[stmt] &&
        ++kvr::standin::WritesRun()[kvr::standin::ConnectionOf()[stmt]] == fail_at) {
      kvr::standin::Pending()[stmt] = {"HY000", -1022,
                                       "[Microsoft][ODBC Microsoft Access Driver] Disk or network error."};
      return SQL_ERROR;
    }
  }
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT);
  const SQLRETURN rc = reinterpret_cast<Fn>(Real("SQLExecute"))(stmt);
  if (rc == SQL_ERROR && kvr::standin::Locked(stmt)) {
    return Refuse(stmt, "HY000", -1102, "Could not update; currently locked.");
  }
  if (!SQL_SUCCEEDED(rc)) return rc;
  SQLHANDLE dbc = nullptr;
  {
    std::lock_guard lock(kvr::standin::mutex);
    if (!kvr::standin::Writes()[stmt]) return rc;
    dbc = kvr::standin::ConnectionOf()[stmt];
  }
  // A parameter array (refused above, counted should one pass) writes a
  // record a set of parameters; the driver underneath counts the rows of
  // its last set only.
  SQLULEN sets = 1;
  using GetAttr = SQLRETURN(SQL_API*)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*);
  reinterpret_cast<GetAttr>(Real("SQLGetStmtAttr"))(stmt, SQL_ATTR_PARAMSET_SIZE, &sets, 0, nullptr);
  SQLLEN rows = 0;
  using RowCount = SQLRETURN(SQL_API*)(SQLHSTMT, SQLLEN*);
  if (!SQL_SUCCEEDED(reinterpret_cast<RowCount>(Real("SQLRowCount"))(stmt, &rows))) rows = 0;
  if (sets > 1) rows = static_cast<SQLLEN>(sets);
  if (rows <= 0) return rc;
  bool split = false;
  {
    std::lock_guard lock(kvr::standin::mutex);
    std::size_t& locks = kvr::standin::Locks()[dbc];
    locks += static_cast<std::size_t>(rows);
    split = locks > kvr::standin::MaxLocksPerFile();
    if (split) locks = 0;
  }
  if (split) {
    using EndTran = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT);
    reinterpret_cast<EndTran>(Real("SQLEndTran"))(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
    }
  return rc;
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  Forget(handle);
  if (type == SQL_HANDLE_DBC) {
    std::lock_guard lock(kvr::standin::mutex);
    kvr::standin::Locks()[handle] = 0;
  }
  using Fn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT);
  return reinterpret_cast<Fn>(Real("SQLEndTran"))(type, handle, completion);
}

// Tables: a table attached from another file is listed as a SYNONYM
// (learn.microsoft.com/sql/odbc/microsoft/sqltables-access-driver: "SYNONYM"
// is supported for attached tables); its records are read and written
// through the link like a table's. The
// stand-in lists the tables underneath itself, those KVR_STANDIN_LINKED
// names as SYNONYM, the rest as TABLE, and only the types asked for.
SQLRETURN SQL_API SQLTables(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length, SQLCHAR* schema,
                            SQLSMALLINT schema_length, SQLCHAR* table, SQLSMALLINT table_length, SQLCHAR* types,
                            SQLSMALLINT types_length) {
  Forget(stmt);
  std::string linked = "''";
  const std::string names = kvr::standin::Linked();
  for (std::size_t at = 0; at < names.size();) {
    std::size_t end = names.find(',', at);
    if (end == std::string::npos) end = names.size();
    linked += ",'" + names.substr(at, end - at) + "'";
    at = end + 1;
  }
  std::string sql =
      "SELECT NULL AS TABLE_CAT, NULL AS TABLE_SCHEM, name AS TABLE_NAME, CASE WHEN name IN (" + linked +
      ") THEN 'SYNONYM' ELSE 'TABLE' END AS TABLE_TYPE, NULL AS REMARKS FROM sqlite_master WHERE type = 'table'";
  const std::vector<std::string> asked = kvr::standin::TypesAsked(types, types_length);
  if (!asked.empty()) {
    sql += " AND TABLE_TYPE IN (''";
    for (const std::string& type : asked) sql += ",'" + type + "'";
    sql += ")";
  }
  if (table != nullptr) {
    sql += " AND name LIKE '" +
           (table_length == SQL_NTS ? std::string(reinterpret_cast<char*>(table))
                                    : std::string(reinterpret_cast<char*>(table), static_cast<std::size_t>(table_length))) +
           "'";
  }
  sql += " ORDER BY TABLE_TYPE, TABLE_NAME";
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
  return reinterpret_cast<Fn>(Real("SQLExecDirect"))(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
}

// Parameter arrays: the driver's documentation lists none for it (its
// SQLGetInfo answers have SQL_BATCH_SUPPORT 0 and no SQL_PARAM_ARRAY_*
// entry: learn.microsoft.com/sql/odbc/microsoft/sqlgetinfo-returned-values-
// for-access), so the stand-in takes the stricter reading and refuses more
// than one set of parameters, an optional feature not implemented (HYC00).
SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  Forget(stmt);
  if (attribute == SQL_ATTR_PARAMSET_SIZE && reinterpret_cast<SQLULEN>(value) > 1) {
    return Refuse(stmt, "HYC00", 1, "Optional feature not implemented", "SQLSetStmtAttr");
  }
  using Fn = SQLRETURN(SQL_API*)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER);
  return reinterpret_cast<Fn>(Real("SQLSetStmtAttr"))(stmt, attribute, value, length);
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT what, SQLPOINTER value, SQLSMALLINT room,
                             SQLSMALLINT* length) {
  Forget(dbc);
  if (what == SQL_CONVERT_BIGINT) {
    if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = 0;
    if (length != nullptr) *length = sizeof(SQLUINTEGER);
    return SQL_SUCCESS;
  }
  // Names are quoted with a back quote (learn.microsoft.com/sql/odbc/
  // microsoft/sqlgetinfo-returned-values-for-access).
  if (what == SQL_IDENTIFIER_QUOTE_CHAR) {
    if (value != nullptr && room > 1) std::snprintf(static_cast<char*>(value), static_cast<std::size_t>(room), "`");
    if (length != nullptr) *length = 1;
    return SQL_SUCCESS;
  }
  if (what == SQL_DRIVER_NAME || what == SQL_DBMS_NAME) {
    // The older driver's file is OdbcJt32.dll (learn.microsoft.com/sql/odbc/
    // microsoft/sqlgetinfo-returned-values-for-access); the newer one's ACEODBC.DLL.
    bool ace = false;
    {
      std::lock_guard lock(kvr::standin::mutex);
      ace = kvr::standin::Ace()[dbc];
    }
    // KVR_STANDIN_DBMS names the engine otherwise: a driver that refuses
    // what Jet's refuses, under a name the program does not know.
    const char* other = std::getenv("KVR_STANDIN_DBMS");
    const char* name = what == SQL_DRIVER_NAME ? (ace ? "ACEODBC.DLL" : "OdbcJt32.dll")
                       : other != nullptr && *other != '\0' ? other
                                                             : "ACCESS";
    if (value != nullptr && room > 0) std::snprintf(static_cast<char*>(value), static_cast<std::size_t>(room), "%s", name);
    if (length != nullptr) *length = static_cast<SQLSMALLINT>(std::strlen(name));
    return SQL_SUCCESS;
  }
  using Fn = SQLRETURN(SQL_API*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*);
  return reinterpret_cast<Fn>(Real("SQLGetInfo"))(dbc, what, value, room, length);
}

// Diagnostics: what the stand-in refused with, else the driver underneath's.
SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT room, SQLSMALLINT* length) {
  {
    std::lock_guard lock(kvr::standin::mutex);
    const auto it = kvr::standin::Pending().find(handle);
    if (it != kvr::standin::Pending().end()) {
      if (record != 1) return SQL_NO_DATA;
      return kvr::standin::Tell(it->second, state, native, text, room, length);
    }
  }
  using Fn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                                 SQLSMALLINT*);
  return reinterpret_cast<Fn>(Real("SQLGetDiagRec"))(type, handle, record, state, native, text, room, length);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER value, SQLSMALLINT room, SQLSMALLINT* length) {
  {
    std::lock_guard lock(kvr::standin::mutex);
    if (kvr::standin::Pending().count(handle) && record == 0 && field == SQL_DIAG_NUMBER) {
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = 1;
      return SQL_SUCCESS;
    }
  }
  using Fn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLSMALLINT, SQLPOINTER, SQLSMALLINT,
                                 SQLSMALLINT*);
  return reinterpret_cast<Fn>(Real("SQLGetDiagField"))(type, handle, record, field, value, room, length);
}

// The diagnostics as ODBC 2 reads them, one at a time: what the stand-in
// refused with is said once.
SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* state, SQLINTEGER* native,
                           SQLCHAR* text, SQLSMALLINT room, SQLSMALLINT* length) {
  {
    std::lock_guard lock(kvr::standin::mutex);
    for (SQLHANDLE handle : {static_cast<SQLHANDLE>(stmt), static_cast<SQLHANDLE>(dbc), static_cast<SQLHANDLE>(env)}) {
      const auto it = handle != nullptr ? kvr::standin::Pending().find(handle) : kvr::standin::Pending().end();
      if (it == kvr::standin::Pending().end()) continue;
      const kvr::standin::Said said = it->second;
      kvr::standin::Pending().erase(it);
      return kvr::standin::Tell(said, state, native, text, room, length);
    }
  }
  using Fn = SQLRETURN(SQL_API*)(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                                 SQLSMALLINT*);
  return reinterpret_cast<Fn>(Real("SQLError"))(env, dbc, stmt, state, native, text, room, length);
}

}  // extern "C"
