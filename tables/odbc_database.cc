#include "tables/odbc_database.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "tables/buffered_recordset.h"
#include "tables/column_rule.h"

namespace kvr {
namespace {

using WString = std::basic_string<SQLWCHAR>;

WString Wide(std::string_view utf8) {
  WString out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < utf8.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 14 && i + 2 < utf8.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 30 && i + 3 < utf8.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(utf8[i + 3]) & 0x3Fu);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(cp));
    }
  }
  return out;
}

std::string Narrow(const SQLWCHAR* text, std::size_t units) {
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The driver's diagnostics for a handle: "[SQLSTATE] message; ...", and the
// first SQLSTATE.
struct Diagnostics {
  std::string text;
  std::string state;
};

Diagnostics Diagnose(SQLSMALLINT type, SQLHANDLE handle) {
  Diagnostics d;
  for (SQLSMALLINT i = 1; i <= 8; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetDiagRecW(type, handle, i, state, &native, message, 1024, &length))) break;
    const std::string s = Narrow(state, 5);
    if (d.state.empty()) d.state = s;
    if (!d.text.empty()) d.text += "; ";
    d.text += "[" + s + "] " + Narrow(message, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), 1023));
  }
  if (d.text.empty()) d.text = "the driver gave no reason";
  return d;
}

// Throws the error a failed call stands for. A SQLSTATE of a lost
// connection, a timeout (a lock held too long), a rolled-back transaction or
// an exhausted resource means the database itself fails: the transaction
// cannot go on. Anything else concerns the one statement (a value that does
// not fit, a missing table or field).
[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  const Diagnostics d = Diagnose(type, handle);
  const std::string message = what + ": " + d.text;
  const std::string_view c = std::string_view(d.state).substr(0, 2);
  if (c == "08" || c == "25" || c == "40" || c == "53" || c == "57" || c == "58" || d.state == "HYT00" || d.state == "HYT01" ||
      d.state == "HY001" || d.state == "HY008") {
    throw DatabaseFailure(message);
  }
  throw DatabaseError(message);
}

class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!Ok(SQLAllocHandle(type, parent, &handle_))) throw DatabaseError("the ODBC driver manager has no room");
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  void Check(SQLRETURN rc, const std::string& what) const {
    if (!Ok(rc)) Fail(type_, handle_, what);
  }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// A prepared statement with its parameters bound per execution.
class Statement {
 public:
  Statement(SQLHDBC dbc, const std::string& sql, SQLULEN timeout_s) : sql_(sql), stmt_(SQL_HANDLE_STMT, dbc) {
    if (timeout_s > 0) {
      SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout_s), 0);
    }
    WString w = Wide(sql);
    stmt_.Check(SQLPrepareW(stmt_.get(), w.data(), static_cast<SQLINTEGER>(w.size())), "cannot prepare " + sql);
  }

  // Runs the statement with `params`; the previous result is closed first.
  void Execute(const std::vector<FieldValue>& params) {
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
    buffers_.assign(params.size(), Buffer{});
    for (std::size_t i = 0; i < params.size(); ++i) {
      Buffer& b = buffers_[i];
      const auto n = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN rc;
      if (const auto* v = std::get_if<std::int64_t>(&params[i])) {
        b.number = static_cast<SQLINTEGER>(*v);  // switcher fields are 16-bit, keys too
        rc = SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &b.number, 0, nullptr);
      } else if (const auto* s = std::get_if<std::string>(&params[i])) {
        b.text = Wide(*s);
        b.length = static_cast<SQLLEN>(b.text.size() * sizeof(SQLWCHAR));
        rc = SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(b.text.size(), 1), 0, b.text.data(), b.length, &b.length);
      } else {
        b.length = SQL_NULL_DATA;
        rc = SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &b.number, 0, &b.length);
      }
      stmt_.Check(rc, "cannot bind a value");
    }
    const SQLRETURN rc = SQLExecute(stmt_.get());
    if (rc != SQL_NO_DATA) stmt_.Check(rc, "cannot run " + sql_);
  }

  bool Fetch() {
    const SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) return false;
    stmt_.Check(rc, "cannot read from " + sql_);
    return true;
  }

  // Column `column` (1-based) of the fetched row, read as text; Null as such.
  std::optional<std::string> Text(SQLUSMALLINT column) {
    std::string out;
    for (;;) {
      SQLWCHAR chunk[512];
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt_.get(), column, SQL_C_WCHAR, chunk, sizeof chunk, &indicator);
      if (rc == SQL_NO_DATA) break;
      stmt_.Check(rc, "cannot read a value");
      if (indicator == SQL_NULL_DATA) return std::nullopt;
      std::size_t units = 0;
      if (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof chunk)) {
        units = sizeof chunk / sizeof(SQLWCHAR) - 1;  // the chunk is full but for its terminator
      } else {
        units = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
      }
      out += Narrow(chunk, units);
      if (rc == SQL_SUCCESS) break;
    }
    return out;
  }

  SQLLEN RowCount() {
    SQLLEN n = -1;
    SQLRowCount(stmt_.get(), &n);
    return n;
  }

 private:
  struct Buffer {
    SQLINTEGER number = 0;
    WString text;
    SQLLEN length = 0;
  };
  std::string sql_;
  Handle stmt_;
  std::vector<Buffer> buffers_;
};

// A value as read: a whole number in an integer column as a number, as the
// SQLite engine gives it; everything else as the text the driver gives.
FieldValue FromText(const std::optional<std::string>& text, const ColumnRule& rule) {
  if (!text) return std::monostate{};
  if (rule.kind != ColumnRule::kText) {
    std::int64_t n = 0;
    const auto r = std::from_chars(text->data(), text->data() + text->size(), n);
    if (!text->empty() && r.ec == std::errc() && r.ptr == text->data() + text->size()) return n;
  }
  return *text;
}

ColumnRule RuleForSqlType(std::string name, SQLSMALLINT type, SQLINTEGER size) {
  switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR:
      return ColumnRule{std::move(name), ColumnRule::kText, size > 0 ? static_cast<std::size_t>(size) : 0};
    case SQL_LONGVARCHAR: case SQL_WLONGVARCHAR:
      return ColumnRule{std::move(name), ColumnRule::kText, 0};
    case SQL_SMALLINT: return SmallIntRule(std::move(name));
    case SQL_TINYINT: return ByteRule(std::move(name));
    case SQL_INTEGER: return IntegerRule(std::move(name));
    default: return ColumnRule{std::move(name)};
  }
}

class OdbcDatabase;

class OdbcRecordset : public BufferedRecordset {
 public:
  OdbcRecordset(OdbcDatabase& db, std::string table, std::string key_field, std::vector<ColumnRule> columns,
                std::size_t key_column, std::vector<FieldValue> keys)
      : BufferedRecordset(std::move(table), std::move(key_field), std::move(columns), std::move(keys)), db_(db),
        key_column_(key_column), selects_(this->columns().size(), nullptr) {}

 protected:
  FieldValue Stored(std::size_t column) override;
  void Write(const Assignments& assignments) override;

 private:
  std::string Where() const;
  std::string ColumnList(const Assignments& assignments, const char* separator) const;

  OdbcDatabase& db_;
  std::size_t key_column_;
  std::vector<Statement*> selects_;
};

class OdbcDatabase : public SwitcherDatabase {
 public:
  OdbcDatabase(const std::string& connection, const DatabaseOptions& options)
      : options_(options), env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    dbc_.emplace(SQL_HANDLE_DBC, env_.get());
    SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{10}), 0);
    WString w = Wide(connection);
    SQLWCHAR out[1024];
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc_->get(), nullptr, w.data(), static_cast<SQLSMALLINT>(w.size()), out,
                                           1024, &out_length, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      const Diagnostics d = Diagnose(SQL_HANDLE_DBC, dbc_->get());
      throw DatabaseError("cannot connect to " + RedactConnectionString(connection) + ": " + d.text);
    }
    connected_ = true;
    dbc_->Check(SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                   SQL_IS_UINTEGER),
                "the database offers no transactions");
    in_transaction_ = true;
    SQLWCHAR quote[8] = {};
    SQLSMALLINT quote_length = 0;
    if (Ok(SQLGetInfoW(dbc_->get(), SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quote_length))) {
      quote_ = Narrow(quote, static_cast<std::size_t>(quote_length) / sizeof(SQLWCHAR));
    }
    if (quote_ == " ") quote_.clear();  // the driver quotes no identifiers
  }

  ~OdbcDatabase() override {
    cache_.clear();
    if (in_transaction_) Rollback();
    if (connected_) SQLDisconnect(dbc_->get());
  }

  std::unique_ptr<Recordset> OpenRecordset(std::string_view table, std::string_view key_field) override {
    const std::string actual = FindTable(table);
    std::vector<ColumnRule> columns = ReadColumns(actual);
    const auto key = std::find_if(columns.begin(), columns.end(),
                                  [&](const ColumnRule& c) { return Lower(c.name) == Lower(key_field); });
    if (key == columns.end()) throw DatabaseError("table " + actual + " has no field \"" + std::string(key_field) + "\"");
    const std::size_t key_column = static_cast<std::size_t>(key - columns.begin());
    std::vector<FieldValue> keys;
    Statement s(dbc_->get(), "SELECT " + Quote(key->name) + " FROM " + Quote(actual) + " ORDER BY " + Quote(key->name),
                Timeout());
    s.Execute({});
    while (s.Fetch()) keys.push_back(FromText(s.Text(1), *key));
    std::string key_name = key->name;
    return std::make_unique<OdbcRecordset>(*this, actual, std::move(key_name), std::move(columns), key_column,
                                           std::move(keys));
  }

  void Commit() override {
    if (!in_transaction_) throw DatabaseError("no transaction to commit");
    cache_.clear();
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_COMMIT);
    if (!Ok(rc)) {
      const Diagnostics d = Diagnose(SQL_HANDLE_DBC, dbc_->get());
      Rollback();
      throw DatabaseError("the changes could not be saved (" + d.text + "); nothing was changed");
    }
    in_transaction_ = false;
  }

  void Rollback() override {
    if (!in_transaction_) return;
    cache_.clear();
    SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
    in_transaction_ = false;
  }

  const ChangeLog& Changes() const override { return changes_; }

  Statement& Cached(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Statement>(dbc_->get(), sql, Timeout())).first;
    return *it->second;
  }
  std::string Quote(std::string_view name) const {
    if (quote_.empty()) return std::string(name);
    std::string q = quote_;
    for (char c : name) {
      q += c;
      if (std::string_view(&c, 1) == quote_) q += c;
    }
    return q + quote_;
  }
  ChangeLog& changes() { return changes_; }

 private:
  // A lock held by another program ends a statement after this long (where
  // the driver supports a query timeout).
  SQLULEN Timeout() const { return static_cast<SQLULEN>(std::max(1, options_.lock_wait_ms / 1000)); }

  std::string FindTable(std::string_view table) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    SQLWCHAR kind[] = {'T', 'A', 'B', 'L', 'E', 0};
    stmt.Check(SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, kind, SQL_NTS), "cannot list the tables");
    while (Ok(SQLFetch(stmt.get()))) {
      const std::string name = ReadText(stmt, 3);
      if (Lower(name) == Lower(table)) return name;
    }
    throw DatabaseError("the database has no table " + std::string(table));
  }

  std::vector<ColumnRule> ReadColumns(const std::string& table) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    WString w = Wide(table);
    stmt.Check(SQLColumnsW(stmt.get(), nullptr, 0, nullptr, 0, w.data(), static_cast<SQLSMALLINT>(w.size()), nullptr, 0),
               "cannot list the fields of " + table);
    std::vector<ColumnRule> columns;
    while (Ok(SQLFetch(stmt.get()))) {
      SQLSMALLINT type = 0;
      SQLINTEGER size = 0;
      SQLLEN ind = 0;
      SQLGetData(stmt.get(), 5, SQL_C_SSHORT, &type, 0, &ind);
      SQLGetData(stmt.get(), 7, SQL_C_SLONG, &size, 0, &ind);
      if (ind == SQL_NULL_DATA) size = 0;
      columns.push_back(RuleForSqlType(ReadText(stmt, 4), type, size));
    }
    return columns;
  }

  static std::string ReadText(const Handle& stmt, SQLUSMALLINT column) {
    SQLWCHAR buffer[256];
    SQLLEN ind = 0;
    if (!Ok(SQLGetData(stmt.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &ind)) || ind == SQL_NULL_DATA) return "";
    const std::size_t units = ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buffer)
                                  ? sizeof buffer / sizeof(SQLWCHAR) - 1
                                  : static_cast<std::size_t>(ind) / sizeof(SQLWCHAR);
    return Narrow(buffer, units);
  }

  DatabaseOptions options_;
  Handle env_;
  std::optional<Handle> dbc_;
  bool connected_ = false;
  bool in_transaction_ = false;
  std::string quote_ = "\"";
  std::map<std::string, std::unique_ptr<Statement>> cache_;
  ChangeLog changes_{options_.count_changes, options_.track_changes};
};

std::string OdbcRecordset::Where() const { return " WHERE " + db_.Quote(columns()[key_column_].name) + "=?"; }

std::string OdbcRecordset::ColumnList(const Assignments& assignments, const char* separator) const {
  std::string list;
  for (const auto& p : assignments) list += (list.empty() ? "" : separator) + db_.Quote(columns()[p.first].name);
  return list;
}

FieldValue OdbcRecordset::Stored(std::size_t column) {
  Statement*& select = selects_[column];
  if (select == nullptr) {
    select = &db_.Cached("SELECT " + db_.Quote(columns()[column].name) + " FROM " + db_.Quote(table()) + Where());
  }
  select->Execute({key()});
  if (!select->Fetch()) throw DatabaseError("the record has gone");
  return FromText(select->Text(1), columns()[column]);
}

void OdbcRecordset::Write(const Assignments& assignments) {
  if (db_.changes().active()) {
    Statement& before = db_.Cached("SELECT " + ColumnList(assignments, ",") + " FROM " + db_.Quote(table()) + Where());
    before.Execute({key()});
    if (before.Fetch()) {
      LogChanges(assignments, [&](std::size_t i) {
        return FromText(before.Text(static_cast<SQLUSMALLINT>(i + 1)), columns()[assignments[i].first]);
      }, db_.changes());
    }
  }
  Statement& update =
      db_.Cached("UPDATE " + db_.Quote(table()) + " SET " + ColumnList(assignments, "=?,") + "=?" + Where());
  std::vector<FieldValue> params;
  for (const auto& p : assignments) params.push_back(p.second);
  params.push_back(key());
  update.Execute(params);
  if (update.RowCount() == 0) throw DatabaseError("the record has gone");
}

// "Driver={...};Dbq=path;" for the first installed driver whose name says it
// reads .mdb files.
std::optional<std::string> FindJetDriver() {
  Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLWCHAR name[256];
  SQLWCHAR attributes[1024];
  SQLSMALLINT name_length = 0, attributes_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (Ok(SQLDriversW(env.get(), direction, name, 256, &name_length, attributes, 1024, &attributes_length))) {
    direction = SQL_FETCH_NEXT;
    const std::string driver = Narrow(name, static_cast<std::size_t>(std::max<SQLSMALLINT>(name_length, 0)));
    if (Lower(driver).find("*.mdb") != std::string::npos) return driver;
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<SwitcherDatabase> OpenOdbcDatabase(const std::string& connection, const DatabaseOptions& options) {
  return std::make_unique<OdbcDatabase>(connection, options);
}

std::optional<std::string> JetConnectionString(const std::filesystem::path& path) {
  const auto driver = FindJetDriver();
  if (!driver) return std::nullopt;
  return "Driver={" + *driver + "};Dbq=" + Utf8Path(path) + ";";
}

void CreateOdbcSwitcherDatabase(const std::string& connection, const DatabaseSizes& sizes) {
  for (int n : {sizes.inputs, sizes.outputs, sizes.consoles, sizes.locations, sizes.sets}) {
    if (n < 0 || n > 32767) throw DatabaseError("a table size must lie in 0 to 32767");
  }
  auto db = std::make_unique<OdbcDatabase>(connection, DatabaseOptions{});
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
  db = std::make_unique<OdbcDatabase>(connection, DatabaseOptions{});
  for (const TableDef& t : SwitcherSchema(sizes)) {
    std::string sql = "CREATE TABLE " + db->Quote(t.name) + " (" + db->Quote(t.key) + " SMALLINT NOT NULL PRIMARY KEY";
    for (const auto& [name, type] : t.fields) {
      std::string declared = type;
      // Engines without a one-byte integer keep such fields as SMALLINT.
      if (declared.rfind("TINYINT", 0) == 0) declared.replace(0, 7, "SMALLINT");
      sql += ", " + db->Quote(name) + " " + declared;
    }
    db->Cached(sql + ")").Execute({});
    Statement& insert = db->Cached("INSERT INTO " + db->Quote(t.name) + " (" + db->Quote(t.key) + ") VALUES (?)");
    for (int k = 1; k <= t.records; ++k) insert.Execute({std::int64_t{k}});
  }
  db->Commit();
}

}  // namespace kvr
