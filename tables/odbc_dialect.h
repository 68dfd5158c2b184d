// The SQL an engine takes through ODBC, chosen once from what its driver
// says (SQL_DBMS_NAME, SQL_DBMS_VER, SQL_IDENTIFIER_QUOTE_CHAR): how names
// are quoted, whether an UPDATE may be joined to a list of VALUES, whether
// integers are read back typed, and the statements that make a new
// database's tables and their keyed records. Every statement is text, so
// each dialect is tested without a server.
#ifndef KVR_TABLES_ODBC_DIALECT_H_
#define KVR_TABLES_ODBC_DIALECT_H_

#include <string>
#include <string_view>
#include <vector>

#include "tables/column_rule.h"
#include "tables/new_database.h"

namespace kvr::odbc {

// Flags a mask parameter of a joined update holds: bits of a positive
// 32-bit integer.
inline constexpr int kFlagsPerMask = 30;

// A field a joined update writes: its name and kind, and its flag (-1 where
// every record of the statement changes it, else the bit of the masks that
// says whether a record does).
struct JoinedField {
  std::string name;
  ColumnRule::Kind kind = ColumnRule::kAny;
  int flag = -1;
};

class OdbcDialect {
 public:
  enum class Engine { kSqlite, kPostgres, kJet, kOther };

  // `quote` is the driver's identifier quote; " " or "" for none.
  OdbcDialect(std::string dbms, std::string version, std::string quote);

  Engine engine() const { return engine_; }
  const std::string& dbms() const { return dbms_; }

  // `name` quoted, a quote inside it doubled.
  std::string Quote(std::string_view name) const;
  // The engine takes "UPDATE t SET ... FROM (VALUES ...) AS v WHERE ...":
  // PostgreSQL, SQLite from 3.33.
  bool JoinsUpdates() const;
  // A joined statement may take a record's numbers in one array parameter.
  bool HasArrays() const { return engine_ == Engine::kPostgres; }
  // False for SQLite, which keeps any value in any column: its integer
  // columns are read as text, so that a text stored there reads as itself.
  bool KeepsTypes() const { return engine_ != Engine::kSqlite; }
  // Jet's integers are 32 bits at most and its driver refuses a 64-bit
  // bind (HYC00; SQL_CONVERT_BIGINT is 0): integer columns are read as
  // 32-bit from the start, not tried wide first. Every column this program
  // reads from a Jet table is a 16-bit switcher field or key.
  bool ReadsNarrowIntegers() const { return engine_ == Engine::kJet; }
  // Jet's driver lists no parameter arrays: its updates go one set of
  // parameters a call, not tried as arrays and refused.
  bool TakesParameterArrays() const { return engine_ != Engine::kJet; }

  // "UPDATE table SET ... FROM (VALUES ...) AS v WHERE ..." writing
  // `fields` of `records` records, each addressed by `address` (a number);
  // each row of the list holds a record's address, its `masks` and its
  // values (with `pack`, the address, masks and integer values in one array
  // parameter first). Two more parameters bound the addresses, so that the
  // engine finds the records by its index.
  std::string JoinedUpdate(std::string_view table, std::string_view address, const std::vector<JoinedField>& fields,
                           std::size_t masks, std::size_t records, bool pack) const;

  // The statements that make table `t` and its records keyed 1 to
  // t.records, each field at its default, in order.
  std::vector<std::string> MakeTable(const TableDef& t) const;

 private:
  std::string CreateTable(const TableDef& t) const;
  std::vector<std::string> FillKeys(const TableDef& t) const;

  std::string dbms_, version_, quote_;
  Engine engine_ = Engine::kOther;
};

}  // namespace kvr::odbc

#endif  // KVR_TABLES_ODBC_DIALECT_H_
