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

std::string OdbcDialect::JoinedUpdate(std::string_view table_name, std::string_view address_name,
                                      const std::vector<JoinedField>& fields, std::size_t masks, std::size_t records,
                                      bool pack) const {
  const std::string table = Quote(table_name);
  const std::string address = table + "." + Quote(address_name);
  auto packed = [&](ColumnRule::Kind kind) { return pack && kind == ColumnRule::kInteger; };
  // The first row gives each column of the list its type: engines that
  // infer a parameter's type from its place would take them all for texts.
  auto typed = [](ColumnRule::Kind kind) -> std::string {
    if (kind == ColumnRule::kText) return "CAST(? AS VARCHAR)";
    if (kind == ColumnRule::kAny) return "?";
    return "CAST(? AS INTEGER)";
  };
  // A VALUES list's columns are named column1, column2, ...: the address
  // (or the numbers), the masks, then the values.
  std::string first_row = pack ? "(CAST(? AS BIGINT[])" : "(" + typed(ColumnRule::kInteger), row = "(?";
  std::size_t next_column = 2, next_element = 2;
  auto place = [&](bool in_array) {
    if (in_array) return "v.column1[" + std::to_string(next_element++) + "]";
    return "v.column" + std::to_string(next_column++);
  };
  std::vector<std::string> mask_places;
  for (std::size_t m = 0; m < masks; ++m) {
    mask_places.push_back(place(pack));
    if (!pack) {
      first_row += "," + typed(ColumnRule::kInteger);
      row += ",?";
    }
  }
  std::string set;
  for (std::size_t j = 0; j < fields.size(); ++j) {
    const JoinedField& field = fields[j];
    const std::string name = Quote(field.name);
    const std::string value = place(packed(field.kind));
    set += (j == 0 ? "" : ",") + name + "=";
    if (!packed(field.kind)) {
      first_row += "," + typed(field.kind);
      row += ",?";
    }
    if (field.flag >= 0) {
      set += "CASE WHEN (" + mask_places[static_cast<std::size_t>(field.flag / kFlagsPerMask)] + " & " +
             std::to_string(1 << (field.flag % kFlagsPerMask)) + ")<>0 THEN " + value + " ELSE " + table + "." + name +
             " END";
    } else {
      set += value;
    }
  }
  std::string values = first_row + ")";
  for (std::size_t i = 1; i < records; ++i) values += "," + row + ")";
  const std::string joined_address = pack ? "v.column1[1]" : "v.column1";
  return "UPDATE " + table + " SET " + set + " FROM (VALUES " + values + ") AS v WHERE " + address + "=" +
         joined_address + " AND " + address + " BETWEEN ? AND ?";
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
