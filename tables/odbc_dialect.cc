#include "tables/odbc_dialect.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kvr::odbc {
namespace {

// A field's declared type ("SMALLINT NOT NULL DEFAULT 0") in its parts.
struct Declared {
  std::string type;          // "SMALLINT", "VARCHAR(8)"
  std::string constraints;   // " NOT NULL", or ""
  std::string default_value; // "0", "''", or "" for none
};

Declared Split(std::string_view declared) {
  Declared d;
  std::string_view rest = declared;
  if (const auto at = rest.find(" DEFAULT "); at != std::string_view::npos) {
    d.default_value = std::string(rest.substr(at + 9));
    rest = rest.substr(0, at);
  }
  if (const auto at = rest.find(" NOT NULL"); at != std::string_view::npos) {
    d.constraints = std::string(rest.substr(at));
    rest = rest.substr(0, at);
  }
  d.type = std::string(rest);
  return d;
}

}  // namespace

OdbcDialect::OdbcDialect(std::string dbms, std::string version, std::string quote)
    : dbms_(std::move(dbms)), version_(std::move(version)), quote_(std::move(quote)) {
  if (quote_ == " ") quote_.clear();  // the driver quotes no identifiers
  if (dbms_ == "PostgreSQL") engine_ = Engine::kPostgres;
  else if (dbms_.rfind("SQLite", 0) == 0) engine_ = Engine::kSqlite;
  else if (dbms_ == "ACCESS") engine_ = Engine::kJet;
}

std::string OdbcDialect::Quote(std::string_view name) const {
  if (quote_.empty()) return std::string(name);
  std::string q = quote_;
  for (char c : name) {
    q += c;
    if (std::string_view(&c, 1) == quote_) q += c;
  }
  return q + quote_;
}

bool OdbcDialect::JoinsUpdates() const {
  if (engine_ == Engine::kPostgres) return true;
  if (engine_ != Engine::kSqlite) return false;
  int major = 0, minor = 0;
  return std::sscanf(version_.c_str(), "%d.%d", &major, &minor) == 2 && (major > 3 || (major == 3 && minor >= 33));
}

std::vector<std::string> OdbcDialect::MakeTable(const TableDef& t) const {
  std::vector<std::string> statements = {CreateTable(t)};
  for (std::string& s : FillKeys(t)) statements.push_back(std::move(s));
  // PostgreSQL builds the key's index once the records are in, faster than
  // entry by entry.
  if (engine_ == Engine::kPostgres) {
    statements.push_back("ALTER TABLE " + Quote(t.name) + " ADD PRIMARY KEY (" + Quote(t.key) + ")");
  }
  return statements;
}

// PostgreSQL writes a new version of a record on every update, on the same
// page only where the page has room, and every conversion updates each
// record of the large tables: its tables leave two thirds of each page free
// (the first conversion's updates then stay on their pages and need no new
// index entries, half the server's time). Jet's CREATE TABLE has no DEFAULT
// clause (learn.microsoft.com/office/client-developer/access/desktop-
// database-reference/create-table-statement-microsoft-access-sql; DEFAULT
// comes only with ExtendedAnsiSQL), names a one-byte integer BYTE, and makes
// a primary key by a CONSTRAINT clause: its records get their defaults when
// inserted instead.
std::string OdbcDialect::CreateTable(const TableDef& t) const {
  const bool jet = engine_ == Engine::kJet;
  std::string sql = "CREATE TABLE " + Quote(t.name) + " (" + Quote(t.key) + " SMALLINT NOT NULL";
  if (jet) sql += " CONSTRAINT " + Quote("PrimaryKey") + " PRIMARY KEY";
  else if (engine_ != Engine::kPostgres) sql += " PRIMARY KEY";
  for (const auto& [name, declared] : t.fields) {
    Declared d = Split(declared);
    // Engines without a one-byte integer keep such fields as SMALLINT.
    if (d.type == "TINYINT") d.type = jet ? "BYTE" : "SMALLINT";
    sql += ", " + Quote(name) + " " + d.type + d.constraints;
    if (!jet && !d.default_value.empty()) sql += " DEFAULT " + d.default_value;
  }
  sql += ")";
  if (engine_ == Engine::kPostgres) sql += " WITH (fillfactor = 30)";
  return sql;
}

// Keys 1 to n: PostgreSQL counts them itself in one statement; on other
// engines the first record is inserted alone, then each statement copies
// the records so far, their keys moved past them, doubling the table:
// sixteen statements for 32767 records, standard SQL. Where the table
// declares no defaults (Jet), the first record is given each field's and the
// copies take them along. The numbers are this program's own, safe to spell
// out.
std::vector<std::string> OdbcDialect::FillKeys(const TableDef& t) const {
  std::vector<std::string> statements;
  if (t.records <= 0) return statements;
  const std::string table = Quote(t.name), key = Quote(t.key);
  if (engine_ == Engine::kPostgres) {
    statements.push_back("INSERT INTO " + table + " (" + key + ") SELECT generate_series(1, " +
                         std::to_string(t.records) + ")");
    return statements;
  }
  std::string names = key, values = "1";
  if (engine_ == Engine::kJet) {
    for (const auto& [name, declared] : t.fields) {
      names += ", " + Quote(name);
      values += ", " + Split(declared).default_value;
    }
  }
  statements.push_back("INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")");
  const std::string rest = names.substr(key.size());  // ", `Label`, ..." or ""
  for (int have = 1; have < t.records;) {
    const int add = std::min(have, t.records - have);
    statements.push_back("INSERT INTO " + table + " (" + names + ") SELECT " + key + " + " + std::to_string(have) +
                         rest + " FROM " + table + " WHERE " + key + " <= " + std::to_string(add));
    have += add;
  }
  return statements;
}

}  // namespace kvr::odbc
