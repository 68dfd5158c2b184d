#include "tables/odbc_calls.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "base/interrupt.h"

#include "base/utf8.h"

namespace kvr::odbc {

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

Diagnostics Diagnose(SQLSMALLINT type, SQLHANDLE handle) {
  Diagnostics d;
  for (SQLSMALLINT i = 1; i <= 8; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetDiagRecW(type, handle, i, state, &native, message, 1024, &length))) break;
    const std::string s = Narrow(state, 5);
    if (d.state.empty()) {
      d.state = s;
      d.native = native;
    }
    if (!d.text.empty()) d.text += "; ";
    d.text += "[" + s + "] " +
              Narrow(message, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), 1023));
  }
  if (d.text.empty()) d.text = "the driver gave no reason";
  return d;
}

bool IsDatabaseFailure(const Diagnostics& d) {
  const std::string& state = d.state;
  const std::string_view c = std::string_view(state).substr(0, 2);
  // 55P03: a lock not granted within the lock timeout (PostgreSQL).
  if (c == "08" || c == "25" || c == "40" || c == "53" || c == "57" || c == "58" || state == "HYT00" ||
      state == "HYT01" || state == "HY001" || state == "HY008" || state == "55P03") {
    return true;
  }
  // The Jet driver passes the engine's own errors on with negative native
  // numbers, its own with positive ones (learn.microsoft.com/sql/odbc/
  // microsoft/native-error). An engine error the driver gives no SQLSTATE
  // of its own, a general error, is the engine failing (a full disk, a
  // lock it cannot take or place, a damaged file), not one record: a value
  // that does not fit or a repeated key comes with its own class.
  return d.native < 0 && (state == "HY000" || state == "S1000");
}

void Fail(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  const Diagnostics d = Diagnose(type, handle);
  std::string message = what + ": " + d.text;
  // A serialization failure or deadlock: another run or program changed
  // the records this run read; run again on what it kept.
  if (d.state.rfind("40", 0) == 0 && d.state != "40003") {
    message += " - another program changed the same records during this run; run it again";
  }
  if (IsDatabaseFailure(d)) throw DatabaseFailure(message);
  throw DatabaseError(message);
}

namespace {

// A stop asked for while a statement runs cancels it (SQLCancel, which ODBC
// lets another thread call on a statement busy in a call): a driver waiting
// for a lock or a server answers within a tenth of a second instead of at
// the end of its wait. Every statement handle is known here while it lives.
class CancelWatch {
 public:
  static CancelWatch& Get() {
    static CancelWatch watch;
    return watch;
  }
  void Add(SQLHANDLE stmt) {
    std::lock_guard lock(mutex_);
    statements_.insert(stmt);
    if (!thread_.joinable()) thread_ = std::thread([this] { Watch(); });
  }
  void Remove(SQLHANDLE stmt) {
    std::lock_guard lock(mutex_);
    statements_.erase(stmt);
  }
  ~CancelWatch() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (!InterruptRequested()) continue;
      // Every tick: a statement cancelled before its call began would
      // otherwise go on to wait unhindered. On one idle, SQLCancel only
      // closes its cursor, and the run is stopping.
      for (SQLHANDLE stmt : statements_) SQLCancel(stmt);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<SQLHANDLE> statements_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
  if (!Ok(SQLAllocHandle(type, parent, &handle_))) {
    // No environment: no driver manager this program can load (none is
    // installed, or only one built for the other word size).
    throw DatabaseError(type == SQL_HANDLE_ENV
                            ? "no ODBC driver manager could be loaded (none is installed for programs of this "
                              "program's word size: 32 or 64 bits)"
                            : "the ODBC driver manager gave no handle (out of memory, or a driver that failed)");
  }
  if (type_ == SQL_HANDLE_STMT) CancelWatch::Get().Add(handle_);
}

Handle::~Handle() {
  if (handle_ == SQL_NULL_HANDLE) return;
  if (type_ == SQL_HANDLE_STMT) CancelWatch::Get().Remove(handle_);
  SQLFreeHandle(type_, handle_);
}

Statement::Statement(SQLHDBC dbc, const std::string& sql, SQLULEN timeout_s) : sql_(sql), stmt_(SQL_HANDLE_STMT, dbc) {
  if (timeout_s > 0) SetAttr(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT, SQLULEN{timeout_s});
  WString w = Wide(sql);
  stmt_.Check(SQLPrepareW(stmt_.get(), w.data(), static_cast<SQLINTEGER>(w.size())), "cannot prepare " + sql);
}

void Statement::Put(std::size_t i, const FieldValue& value) {
  Buffer& b = buffers_[i];
  const auto n = static_cast<SQLUSMALLINT>(i + 1);
  // The buffer a parameter is bound to stays where it is until the driver
  // has taken another: a bind the driver refuses leaves the earlier one
  // bound and its memory whole, never freed under the driver.
  auto bind_number = [&](Buffer::Kind kind) {
    const bool wide = kind == Buffer::kWideNumber;
    stmt_.Check(SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, wide ? SQL_C_SBIGINT : SQL_C_SLONG,
                                 wide ? SQL_BIGINT : SQL_INTEGER, 0, 0,
                                 wide ? static_cast<void*>(&b.wide) : static_cast<void*>(&b.number), 0, &b.length),
                "cannot bind a value");
    b.kind = kind;
  };
  if (const auto* v = std::get_if<std::int64_t>(&value)) {
    // Switcher fields and keys are 16-bit; a row identifier may be wider
    // (SQLite's rowid), and is bound as wide as it is, never cut.
    const bool fits = *v >= INT32_MIN && *v <= INT32_MAX;
    const Buffer::Kind kind = fits ? Buffer::kNumber : Buffer::kWideNumber;
    if (b.kind != kind) bind_number(kind);
    b.number = fits ? static_cast<SQLINTEGER>(*v) : 0;
    b.wide = *v;
    b.length = 0;
    return;
  }
  const auto* s = std::get_if<std::string>(&value);
  if (s == nullptr) {  // Null: a buffer bound for either kind takes it
    if (b.kind == Buffer::kUnbound) bind_number(Buffer::kNumber);
    b.length = SQL_NULL_DATA;
    return;
  }
  const WString w = Wide(*s);
  if (b.kind != Buffer::kText || w.size() > b.room) {
    const std::size_t room = std::max<std::size_t>({w.size(), 2 * b.room, 16});
    std::vector<SQLWCHAR> text(room + 1, 0);
    // Past 255 characters a text goes as a long text: drivers refuse a
    // VARCHAR parameter longer than their own VARCHAR.
    stmt_.Check(SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                 room > kLongTextAfter ? SQL_WLONGVARCHAR : SQL_WVARCHAR, room, 0, text.data(),
                                 static_cast<SQLLEN>((room + 1) * sizeof(SQLWCHAR)), &b.length),
                "cannot bind a value");
    b.text.swap(text);  // the earlier buffer is freed only now, no longer bound
    b.room = room;
    b.kind = Buffer::kText;
  }
  std::copy(w.begin(), w.end(), b.text.begin());
  b.text[w.size()] = 0;
  b.length = static_cast<SQLLEN>(w.size() * sizeof(SQLWCHAR));
}

void Statement::Execute(const std::vector<FieldValue>& params) {
  SQLFreeStmt(stmt_.get(), SQL_CLOSE);
  if (params.size() != buffers_.size()) {
    SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
    buffers_.clear();  // the bound buffers must not move: sized once
    buffers_.resize(params.size());
  }
  for (std::size_t i = 0; i < params.size(); ++i) Put(i, params[i]);
  const SQLRETURN rc = SQLExecute(stmt_.get());
  if (rc != SQL_NO_DATA) stmt_.Check(rc, "cannot run " + sql_);
}

void Statement::ExecuteOne(const std::vector<FieldValue>& params, const std::function<void(const std::string&)>& failed) {
  try {
    Execute(params);
  } catch (const DatabaseError& e) {
    failed(e.what());
    return;
  }
  if (RowCount() == 0) failed(kReachedNoRecord);
}

void Statement::ExecuteRows(const std::vector<std::vector<FieldValue>>& rows, std::size_t per_call,
                            const std::function<void(std::size_t, const std::string&)>& failed) {
  std::size_t i = 0;
  while (i < rows.size()) {
    const std::size_t n = std::min(std::max<std::size_t>(per_call, 1), rows.size() - i);
    if (n > 1 && !arrays_refused_ && ExecuteArray(rows, i, n, failed)) {
      i += n;
      continue;
    }
    ExecuteOne(rows[i], [&](const std::string& why) { failed(i, why); });
    ++i;
  }
}

namespace {

// One parameter's column-wise array: numbers, or texts of the widest's room.
struct ArrayColumn {
  std::vector<SQLINTEGER> numbers;
  std::vector<SQLBIGINT> wide_numbers;
  std::vector<SQLWCHAR> texts;
  std::vector<SQLLEN> lengths;
};

// Binds parameter `p` of rows [first, first + count) as an array held in `c`.
SQLRETURN BindArrayColumn(SQLHSTMT stmt, const std::vector<std::vector<FieldValue>>& rows, std::size_t first,
                          std::size_t count, std::size_t p, ArrayColumn& c) {
  c.lengths.assign(count, SQL_NULL_DATA);
  bool text = false;
  for (std::size_t r = 0; r < count; ++r) text |= std::holds_alternative<std::string>(rows[first + r][p]);
  if (!text) {
    // 32-bit where every value fits (some drivers take no 64-bit
    // parameter), else 64-bit: a row identifier is never cut.
    bool fits = true;
    c.wide_numbers.assign(count, 0);
    for (std::size_t r = 0; r < count; ++r) {
      if (const auto* v = std::get_if<std::int64_t>(&rows[first + r][p])) {
        c.wide_numbers[r] = *v;
        c.lengths[r] = 0;
        fits &= *v >= INT32_MIN && *v <= INT32_MAX;
      }
    }
    if (fits) {
      c.numbers.assign(c.wide_numbers.begin(), c.wide_numbers.end());
      return SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                              c.numbers.data(), 0, c.lengths.data());
    }
    return SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                            c.wide_numbers.data(), 0, c.lengths.data());
  }
  std::vector<WString> wide(count);
  std::size_t width = 1;
  for (std::size_t r = 0; r < count; ++r) {
    const FieldValue& v = rows[first + r][p];
    if (const auto* s = std::get_if<std::string>(&v)) wide[r] = Wide(*s);
    else if (const auto* i = std::get_if<std::int64_t>(&v)) wide[r] = Wide(std::to_string(*i));
    width = std::max(width, wide[r].size());
  }
  c.texts.assign(count * (width + 1), 0);
  for (std::size_t r = 0; r < count; ++r) {
    if (std::holds_alternative<std::monostate>(rows[first + r][p])) continue;
    std::copy(wide[r].begin(), wide[r].end(), c.texts.begin() + static_cast<std::ptrdiff_t>(r * (width + 1)));
    c.lengths[r] = static_cast<SQLLEN>(wide[r].size() * sizeof(SQLWCHAR));
  }
  return SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                          width > kLongTextAfter ? SQL_WLONGVARCHAR : SQL_WVARCHAR, width, 0, c.texts.data(),
                          static_cast<SQLLEN>((width + 1) * sizeof(SQLWCHAR)), c.lengths.data());
}

// The rows of an array just run that are run again alone to learn which
// failed: those whose status says so (a driver that keeps no status said
// SQL_SUCCESS for all), or every row where the records updated fall short
// of the rows run (each row updates one record).
std::vector<std::size_t> RowsToRunAgain(SQLHSTMT stmt, SQLRETURN rc, const std::vector<SQLUSMALLINT>& status) {
  const std::size_t count = status.size();
  std::vector<std::size_t> again;
  for (std::size_t r = 0; r < count && rc == SQL_SUCCESS_WITH_INFO; ++r) {
    if (status[r] == SQL_PARAM_ERROR) again.push_back(r);
  }
  SQLLEN affected = -1;
  if (!Ok(SQLRowCount(stmt, &affected))) affected = -1;
  if (affected >= 0 && static_cast<std::size_t>(affected) < count - again.size()) {
    again.clear();
    for (std::size_t r = 0; r < count; ++r) again.push_back(r);
  }
  return again;
}

}  // namespace

bool Statement::ExecuteArray(const std::vector<std::vector<FieldValue>>& rows, std::size_t first, std::size_t count,
                             const std::function<void(std::size_t, const std::string&)>& failed) {
  SQLHSTMT stmt = stmt_.get();
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  buffers_.clear();
  SQLULEN size = 0;
  if (!Ok(SQLSetStmtAttrW(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(count), 0)) ||
      !Ok(SQLGetStmtAttrW(stmt, SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr)) || size != count) {
    SetAttr(stmt, SQL_ATTR_PARAMSET_SIZE, SQLULEN{1});
    arrays_refused_ = true;
    return false;
  }
  std::vector<SQLUSMALLINT> status(count, SQL_PARAM_UNUSED);
  SetAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, static_cast<void*>(status.data()));
  auto reset = [&] {
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    SetAttr(stmt, SQL_ATTR_PARAMSET_SIZE, SQLULEN{1});
    SetAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, static_cast<void*>(nullptr));
  };
  const std::size_t params = rows[first].size();
  std::vector<ArrayColumn> columns(params);
  for (std::size_t p = 0; p < params; ++p) {
    const SQLRETURN rc = BindArrayColumn(stmt, rows, first, count, p, columns[p]);
    if (!Ok(rc)) {
      reset();
      arrays_refused_ = true;
      return false;
    }
  }
  const SQLRETURN rc = SQLExecute(stmt);
  if (rc != SQL_NO_DATA && !Ok(rc)) {
    const Diagnostics d = Diagnose(SQL_HANDLE_STMT, stmt);
    reset();
    if (IsDatabaseFailure(d)) throw DatabaseFailure("cannot run " + sql_ + ": " + d.text);
    // Which rows failed is told differently by each driver: every row is run
    // alone to learn it (an update written twice writes the same).
    for (std::size_t r = 0; r < count; ++r) {
      ExecuteOne(rows[first + r], [&](const std::string& why) { failed(first + r, why); });
    }
    return true;
  }
  const std::vector<std::size_t> again = RowsToRunAgain(stmt, rc, status);
  reset();
  for (const std::size_t r : again) {
    ExecuteOne(rows[first + r], [&](const std::string& why) { failed(first + r, why); });
  }
  return true;
}

}  // namespace kvr::odbc
