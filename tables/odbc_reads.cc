// A statement's results: read a block of rows at a time where the driver
// offers block cursors, else a row at a time, each value as text or a
// whole number.
#include <algorithm>

#include "tables/odbc_calls.h"

namespace kvr::odbc {

namespace {

// One column of a block of rows: texts of `room` characters (their
// terminator included), or numbers where `room` is 0.
struct BlockColumn {
  std::size_t room = 0;
  std::vector<SQLWCHAR> texts;
  std::vector<SQLBIGINT> numbers;
  std::vector<SQLINTEGER> narrow;  // a number where the driver gives no 64-bit integers
  std::vector<SQLLEN> lengths;
};

// Binds column `n` for `block` rows: a whole number where `width` is 0,
// else a text of up to `width` characters.
SQLRETURN BindBlockColumn(SQLHSTMT stmt, SQLUSMALLINT n, std::size_t width, SQLULEN block, BlockColumn& col,
                          bool& narrow) {
  col.lengths.assign(block, 0);
  if (width == 0) {
    // A driver that converts nothing to a 64-bit integer (Jet's) refuses
    // the wide bind (HYC00): known from the engine, or learnt at the first
    // refusal, its integers are read as 32-bit.
    if (!narrow) {
      col.numbers.assign(block, 0);
      if (Ok(SQLBindCol(stmt, n, SQL_C_SBIGINT, col.numbers.data(), sizeof(SQLBIGINT), col.lengths.data()))) {
        return SQL_SUCCESS;
      }
      narrow = true;
    }
    col.numbers.clear();
    col.narrow.assign(block, 0);
    return SQLBindCol(stmt, n, SQL_C_SLONG, col.narrow.data(), sizeof(SQLINTEGER), col.lengths.data());
  }
  col.room = width + 1;
  col.texts.assign(block * col.room, 0);
  return SQLBindCol(stmt, n, SQL_C_WCHAR, col.texts.data(), static_cast<SQLLEN>(col.room * sizeof(SQLWCHAR)),
                    col.lengths.data());
}

// Row `r` of `col` as `cell`; false where the value is longer than its room
// (handed as Null, to be read alone).
bool CellOf(const BlockColumn& col, SQLULEN r, FieldValue& cell) {
  const SQLLEN length = col.lengths[r];
  if (length == SQL_NULL_DATA) {
    cell = std::monostate{};
  } else if (col.room == 0) {
    cell = col.narrow.empty() ? std::int64_t{col.numbers[r]} : std::int64_t{col.narrow[r]};
  } else if (length == SQL_NO_TOTAL || length >= static_cast<SQLLEN>(col.room * sizeof(SQLWCHAR))) {
    cell = std::monostate{};
    return false;
  } else {
    cell = Narrow(col.texts.data() + r * col.room, static_cast<std::size_t>(length) / sizeof(SQLWCHAR));
  }
  return true;
}

}  // namespace

void Statement::ReadAll(const std::vector<FieldValue>& params, const std::vector<std::size_t>& widths,
                        std::size_t per_call,
                        const std::function<void(const std::vector<FieldValue>&, const std::vector<bool>&)>& row) {
  SQLHSTMT stmt = stmt_.get();
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLULEN block = std::max<std::size_t>(per_call, 1);
  if (block > 1 && (!Ok(SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block), 0)) ||
                    !Ok(SQLGetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &block, 0, nullptr)) || block == 0)) {
    SetAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, SQLULEN{1});
    block = 1;
  }
  SQLULEN fetched = 0;
  std::vector<SQLUSMALLINT> status(block, SQL_ROW_SUCCESS);
  SetAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, static_cast<void*>(&fetched));
  SetAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, static_cast<void*>(status.data()));
  std::vector<BlockColumn> columns(widths.size());
  for (std::size_t c = 0; c < widths.size(); ++c) {
    stmt_.Check(BindBlockColumn(stmt, static_cast<SQLUSMALLINT>(c + 1), widths[c], block, columns[c], narrow_integers_),
                "cannot read " + sql_);
  }
  auto reset = [&] {
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_UNBIND);
    SetAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, SQLULEN{1});
    SetAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, static_cast<void*>(nullptr));
    SetAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, static_cast<void*>(nullptr));
  };
  try {
    Execute(params);
    std::vector<FieldValue> cells(widths.size());
    std::vector<bool> whole(widths.size());
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt);
      if (rc == SQL_NO_DATA) break;
      stmt_.Check(rc, "cannot read from " + sql_);
      for (SQLULEN r = 0; r < fetched; ++r) {
        if (status[r] == SQL_ROW_NOROW || status[r] == SQL_ROW_ERROR) continue;
        for (std::size_t c = 0; c < columns.size(); ++c) whole[c] = CellOf(columns[c], r, cells[c]);
        row(cells, whole);
      }
    }
  } catch (...) {
    reset();
    throw;
  }
  reset();
}

bool Statement::Fetch() {
  const SQLRETURN rc = SQLFetch(stmt_.get());
  if (rc == SQL_NO_DATA) return false;
  stmt_.Check(rc, "cannot read from " + sql_);
  return true;
}

CellText Statement::Text(SQLUSMALLINT column) {
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

SQLLEN Statement::RowCount() {
  SQLLEN n = -1;
  if (!Ok(SQLRowCount(stmt_.get(), &n))) return -1;
  return n;
}

}  // namespace kvr::odbc
