// The ODBC calls behind the ODBC engine: handles that free themselves,
// diagnostics in plain words, UTF-16 text, and prepared statements that
// run one set of parameters or many in one call (a parameter array), and
// read their result a block of rows at a time (a block cursor).
//
// Drivers differ in what they offer: a statement asks for blocks and arrays
// and falls back to one row at a time where the driver refuses, so every
// caller gets the same results either way.
#ifndef KVR_TABLES_ODBC_CALLS_H_
#define KVR_TABLES_ODBC_CALLS_H_

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/switcher_database.h"

namespace kvr::odbc {

using WString = std::basic_string<SQLWCHAR>;
WString Wide(std::string_view utf8);
std::string Narrow(const SQLWCHAR* text, std::size_t units);

inline bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Sets a statement attribute, a number or a pointer; a driver that refuses
// it is met where the attribute matters.
inline void SetAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLULEN value) {
  SQLSetStmtAttrW(stmt, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
}
inline void SetAttr(SQLHSTMT stmt, SQLINTEGER attribute, void* pointer) { SQLSetStmtAttrW(stmt, attribute, pointer, 0); }

// The driver's diagnostics for a handle: "[SQLSTATE] message; ...", and the
// first record's SQLSTATE and native error number.
struct Diagnostics {
  std::string text;
  std::string state;
  SQLINTEGER native = 0;
};
Diagnostics Diagnose(SQLSMALLINT type, SQLHANDLE handle);

// Whether a diagnostic is the database itself failing (a lost connection, a
// timeout, a rolled-back transaction, an exhausted resource) rather than
// one statement (a value that does not fit, a missing table or field).
bool IsDatabaseFailure(const Diagnostics& d);

// Throws the error a failed call stands for: DatabaseFailure when the
// database itself fails, DatabaseError when only the one statement does.
[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, const std::string& what);

class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent);
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return handle_; }
  void Check(SQLRETURN rc, const std::string& what) const {
    if (!Ok(rc)) Fail(type_, handle_, what);
  }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// One value as a statement reads it: Null, or the driver's text of it.
using CellText = std::optional<std::string>;

// The longest text sent as a VARCHAR parameter; longer ones go as long
// texts (SQL_WLONGVARCHAR).
inline constexpr std::size_t kLongTextAfter = 255;

class Statement {
 public:
  Statement(SQLHDBC dbc, const std::string& sql, SQLULEN timeout_s);

  // Runs the statement with one set of parameters; the previous result is
  // closed first. The parameters stay bound from one run to the next while
  // their kinds allow: a statement run many times with thousands of
  // parameters binds them once.
  void Execute(const std::vector<FieldValue>& params);

  // Runs the statement, an UPDATE of one record a row, once per row of
  // `rows` (each a set of parameters), up to `per_call` rows in one call
  // where the driver takes parameter arrays. `failed(row, why)` hears of
  // each row that could not be run or reached no record; a
  // failure of the database itself throws DatabaseFailure. Where a driver
  // does not say which rows of an array failed, each is run again alone to
  // learn it: the statement must do the same when run twice (an UPDATE), or
  // its caller give up at the first failure.
  void ExecuteRows(const std::vector<std::vector<FieldValue>>& rows, std::size_t per_call,
                   const std::function<void(std::size_t row, const std::string& why)>& failed);

  // Runs the statement with `params` and hands `row` every row of its result, a block of
  // up to `per_call` rows fetched at a time where the driver offers block
  // cursors. A column of width 0 is read as a whole number; the others as
  // text, `widths` giving each one's room in characters: a value longer than
  // that is handed as Null with `whole` false, for the caller to read alone.
  void ReadAll(const std::vector<FieldValue>& params, const std::vector<std::size_t>& widths, std::size_t per_call,
               const std::function<void(const std::vector<FieldValue>& cells, const std::vector<bool>& whole)>& row);

  // Integer columns read as 32-bit, without a 64-bit bind tried first.
  void ReadIntegersNarrow() { narrow_integers_ = true; }

  bool Fetch();
  // Column `column` (1-based) of the fetched row, read as text; Null as such.
  CellText Text(SQLUSMALLINT column);
  SQLLEN RowCount();

 private:
  // A bound parameter's room: a number, or a text of up to `room` UTF-16
  // units (the buffer holds a terminator more).
  struct Buffer {
    enum Kind : unsigned char { kUnbound, kNumber, kWideNumber, kText } kind = kUnbound;
    SQLINTEGER number = 0;
    SQLBIGINT wide = 0;
    std::vector<SQLWCHAR> text;
    std::size_t room = 0;
    SQLLEN length = 0;
  };
  // Puts `value` in parameter `i`'s buffer, binding it anew where the bound
  // buffer cannot take it.
  void Put(std::size_t i, const FieldValue& value);
  // Runs up to `count` rows from `first` in one call; false when the driver
  // takes no parameter arrays (nothing was run).
  bool ExecuteArray(const std::vector<std::vector<FieldValue>>& rows, std::size_t first, std::size_t count,
                    const std::function<void(std::size_t, const std::string&)>& failed);
  void ExecuteOne(const std::vector<FieldValue>& params, const std::function<void(const std::string&)>& failed);

  bool narrow_integers_ = false;  // a driver that refuses 64-bit integer binds
  std::string sql_;
  Handle stmt_;
  std::vector<Buffer> buffers_;
  bool arrays_refused_ = false;
};

}  // namespace kvr::odbc

#endif  // KVR_TABLES_ODBC_CALLS_H_
