#include "tables/odbc_database.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "tables/buffered_recordset.h"
#include "tables/column_rule.h"
#include "tables/odbc_calls.h"

namespace kvr {
namespace {

using odbc::CellText;
using odbc::Diagnose;
using odbc::Diagnostics;
using odbc::Handle;
using odbc::Narrow;
using odbc::Ok;
using odbc::Statement;
using odbc::Wide;
using odbc::WString;

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

// The room, in characters, a column's values are read into a block at a
// time; a longer value is read alone.
std::size_t ReadWidth(const ColumnRule& rule) {
  if (rule.kind == ColumnRule::kInteger) return 24;
  // Room for surrogate pairs too; a longer field (a memo) is read alone.
  if (rule.kind == ColumnRule::kText && rule.max_chars > 0) return std::min<std::size_t>(2 * rule.max_chars, 256);
  return 256;
}

// A range of a table's records as read: every field of each, in key order,
// kept compactly (a large table has a million fields).
class TableImage {
 public:
  explicit TableImage(std::size_t columns) : columns_(columns) {}
  std::size_t rows() const { return columns_ == 0 ? 0 : cells_.size() / columns_; }
  void Append(const CellText& text, bool whole, const ColumnRule& rule) {
    cells_.emplace_back();
    if (!whole) cells_.back().kind = Cell::kUnknown;
    else Put(cells_.back(), FromText(text, rule));
  }
  bool Known(std::size_t row, std::size_t column) const { return At(row, column).kind != Cell::kUnknown; }
  FieldValue Get(std::size_t row, std::size_t column) const {
    const Cell& c = At(row, column);
    switch (c.kind) {
      case Cell::kNumber: return c.number;
      case Cell::kText: return texts_.substr(c.text.offset, c.text.length);
      default: return std::monostate{};
    }
  }
  void Set(std::size_t row, std::size_t column, const FieldValue& v) { Put(cells_[row * columns_ + column], v); }

 private:
  struct Cell {  // 16 bytes: a number or where its text lies in texts_
    union {
      std::int64_t number = 0;
      struct {
        std::uint32_t offset, length;
      } text;
    };
    enum Kind : std::uint8_t { kNull, kNumber, kText, kUnknown } kind = kNull;
  };
  const Cell& At(std::size_t row, std::size_t column) const { return cells_[row * columns_ + column]; }
  void Put(Cell& c, const FieldValue& v) {
    c = Cell{};
    if (const auto* n = std::get_if<std::int64_t>(&v)) {
      c.number = *n;
      c.kind = Cell::kNumber;
    } else if (const auto* t = std::get_if<std::string>(&v)) {
      c.text = {static_cast<std::uint32_t>(texts_.size()), static_cast<std::uint32_t>(t->size())};
      c.kind = Cell::kText;
      texts_ += *t;
    }
  }
  std::size_t columns_;
  std::vector<Cell> cells_;
  std::string texts_;
};

// Records given the same values are written together from this many on, at
// most this many addresses to a statement.
constexpr std::size_t kSameValuesTogether = 4;
constexpr std::size_t kAddressesPerList = 256;

class OdbcDatabase;

// A table's records: their keys read when opened, their fields a range at a
// time when first needed and served from that image. An update writes only
// the fields whose value changes, and updates are sent a batch at a time
// (one call per batch where the driver takes parameter arrays, one
// statement for records given the same values). Each record is addressed by the driver's row
// identifier where it offers one, else by its key; records whose key is
// Null or shared cannot then be addressed alone and are not written.
class OdbcRecordset : public BufferedRecordset {
 public:
  // A run of records whose fields are read together, when first needed:
  // records [first, end) in key order, selected by `where` and `params`.
  struct Range {
    std::size_t first = 0, end = 0;
    std::string where;
    std::vector<FieldValue> params;
    std::unique_ptr<TableImage> image;  // once read
  };
  struct Contents {
    std::vector<FieldValue> keys;
    std::string row_id;                 // the row identifier's column; "" to address by key
    std::vector<FieldValue> row_ids;    // per record, when there is one
    std::string select, order;          // the fields' query, less its range
    std::vector<std::size_t> widths;    // each field's room when read
    std::vector<Range> ranges;
  };
  OdbcRecordset(OdbcDatabase& db, std::string table, std::string key_field, std::vector<ColumnRule> columns,
                std::size_t key_column, Contents contents);
  ~OdbcRecordset() override;

  void Flush(const FailedRecord& failed) override;
  // Sends the pending updates; what fails is kept for the next Flush.
  void SendPending();
  // Forgets the pending updates (the transaction was rolled back).
  void DropPending() { batches_.clear(); }

 protected:
  FieldValue Stored(std::size_t column) override;
  void Write(const Assignments& assignments) override;

 private:
  struct Batch {
    std::vector<std::vector<FieldValue>> rows;  // the values, then the record's address
    std::vector<std::size_t> records;
  };
  std::string WhereClause() const;
  FieldValue Address(std::size_t record) const;
  // The image that holds `record`, read when first needed; `row` is the
  // record's row in it.
  TableImage& Image(std::size_t record, std::size_t& row);
  void Send(const std::vector<std::size_t>& columns, Batch& batch);
  void MarkUnaddressable();

  OdbcDatabase& db_;
  std::size_t key_column_;
  std::string row_id_;
  std::vector<FieldValue> row_ids_;
  std::string select_, order_;
  std::vector<std::size_t> widths_;
  std::vector<Range> ranges_;
  std::vector<std::string> unaddressable_;  // per record: why it cannot be written alone ("" when it can)
  std::map<std::vector<std::size_t>, Batch> batches_;  // per set of columns written
  std::vector<std::pair<std::size_t, std::string>> failed_;
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
    SQLWCHAR dbms[64] = {};
    SQLSMALLINT dbms_length = 0;
    if (Ok(SQLGetInfoW(dbc_->get(), SQL_DBMS_NAME, dbms, sizeof dbms, &dbms_length))) {
      dbms_ = Narrow(dbms, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(dbms_length, 0)) /
                                                     sizeof(SQLWCHAR), 63));
    }
  }

  ~OdbcDatabase() override {
    for (OdbcRecordset* r : open_) r->DropPending();
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
    OdbcRecordset::Contents contents;
    contents.row_id = RowIdColumn(actual, key->name);
    ReadKeys(actual, *key, contents);
    PlanRanges(actual, columns, key->name, contents);
    std::string key_name = key->name;
    return std::make_unique<OdbcRecordset>(*this, actual, std::move(key_name), std::move(columns), key_column,
                                           std::move(contents));
  }

  void Commit() override {
    if (!in_transaction_) throw DatabaseError("no transaction to commit");
    // Updates still pending are sent first; one that fails keeps nothing.
    std::string failure = std::move(late_failure_);
    for (OdbcRecordset* r : open_) {
      r->Flush([&](const Where& place, const std::string& why) {
        if (failure.empty()) failure = place.ToString() + ": " + why;
      });
    }
    if (!failure.empty()) {
      Rollback();
      throw DatabaseError("the changes could not be saved (" + failure + "); nothing was changed");
    }
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
    for (OdbcRecordset* r : open_) r->DropPending();
    late_failure_.clear();
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
  // True for engines known to take a list of rows in one INSERT
  // ("VALUES (1),(2)"); others are sent parameter arrays.
  bool TakesRowLists() const { return dbms_ == "PostgreSQL" || dbms_.rfind("SQLite", 0) == 0; }
  // Runs one statement that takes no parameters.
  void Run(const std::string& sql) { Statement(dbc_->get(), sql, Timeout()).Execute({}); }
  std::size_t RowsPerCall() const { return std::max<std::size_t>(options_.rows_per_call, 1); }

  void Opened(OdbcRecordset* r) { open_.insert(r); }
  // A recordset closed with updates that failed, or a database that failed
  // while it sent them: the commit keeps nothing.
  void Closed(OdbcRecordset* r, std::string failure) {
    open_.erase(r);
    if (late_failure_.empty()) late_failure_ = std::move(failure);
  }

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

  std::string OrderBy(const std::string& key, const std::string& row_id) const {
    return " ORDER BY " + Quote(key) + (row_id.empty() ? "" : ", " + Quote(row_id));
  }

  // The records' keys (and row identifiers) in key order: the order every
  // record keeps.
  void ReadKeys(const std::string& table, const ColumnRule& key, OdbcRecordset::Contents& contents) {
    const std::string& row_id = contents.row_id;
    Statement s(dbc_->get(),
                "SELECT " + (row_id.empty() ? "" : Quote(row_id) + ", ") + Quote(key.name) + " FROM " + Quote(table) +
                    OrderBy(key.name, row_id),
                Timeout());
    const ColumnRule row_id_rule = IntegerRule(row_id);
    const std::size_t k = row_id.empty() ? 0 : 1;
    s.ReadAll({}, std::vector<std::size_t>(k + 1, ReadWidth(key)), RowsPerCall(),
              [&](const std::vector<CellText>& cells, const std::vector<bool>&) {
                if (k == 1) contents.row_ids.push_back(FromText(cells[0], row_id_rule));
                contents.keys.push_back(FromText(cells[k], key));
              });
  }

  // The fields are read a range of keys at a time, each range when one of
  // its records is first needed: a run that writes a few records reads a
  // few ranges, and neither the driver nor this program holds more of the
  // table's text at once than one range besides what was read.
  void PlanRanges(const std::string& table, const std::vector<ColumnRule>& columns, const std::string& key,
                  OdbcRecordset::Contents& contents) const {
    const std::vector<FieldValue>& keys = contents.keys;
    contents.select = "SELECT ";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      contents.select += (c == 0 ? "" : ", ") + Quote(columns[c].name);
      contents.widths.push_back(ReadWidth(columns[c]));
    }
    contents.select += " FROM " + Quote(table) + " WHERE " + Quote(key);
    contents.order = OrderBy(key, contents.row_id);
    constexpr std::size_t kRange = 4096;
    auto is_null = [&](std::size_t i) { return std::holds_alternative<std::monostate>(keys[i]); };
    for (std::size_t first = 0; first < keys.size();) {
      OdbcRecordset::Range range;
      range.first = first;
      std::size_t end = first + 1;
      if (is_null(first)) {
        while (end < keys.size() && is_null(end)) ++end;
        range.where = " IS NULL";
      } else {
        // A range never ends inside a run of equal keys, nor takes in a Null.
        while (end < keys.size() && !is_null(end) && (end - first < kRange || keys[end] == keys[end - 1])) ++end;
        range.where = " >= ? AND " + Quote(key) + " <= ?";
        range.params = {keys[first], keys[end - 1]};
      }
      range.end = end;
      contents.ranges.push_back(std::move(range));
      first = end;
    }
  }

 public:
  // The fields of the records of `range`.
  std::unique_ptr<TableImage> ReadRange(const std::string& select, const std::string& order,
                                        const std::vector<std::size_t>& widths, const std::vector<ColumnRule>& columns,
                                        const OdbcRecordset::Range& range, const std::string& table) {
    auto image = std::make_unique<TableImage>(columns.size());
    const std::size_t expected = range.end - range.first;
    Cached(select + range.where + order)
        .ReadAll(range.params, widths, RowsPerCall(), [&](const std::vector<CellText>& cells, const std::vector<bool>& whole) {
          if (image->rows() >= expected) return;  // counted below
          for (std::size_t c = 0; c < columns.size(); ++c) image->Append(cells[c], whole[c], columns[c]);
        });
    if (image->rows() != expected) throw DatabaseFailure("table " + table + " changed while it was read");
    return image;
  }

 private:
  // The column that identifies each record of `table` for the whole
  // transaction (SQLite's rowid), when the driver names one other than the
  // key; "" when records are addressed by their key.
  std::string RowIdColumn(const std::string& table, const std::string& key) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    WString w = Wide(table);
    if (!Ok(SQLSpecialColumnsW(stmt.get(), SQL_BEST_ROWID, nullptr, 0, nullptr, 0, w.data(),
                               static_cast<SQLSMALLINT>(w.size()), SQL_SCOPE_TRANSACTION, SQL_NULLABLE))) {
      return "";
    }
    std::vector<std::string> names;
    while (Ok(SQLFetch(stmt.get()))) names.push_back(ReadText(stmt, 2));
    if (names.size() != 1 || Lower(names.front()) == Lower(key)) return "";
    return names.front();
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
  std::string dbms_;  // the engine's name, as the driver gives it
  std::map<std::string, std::unique_ptr<Statement>> cache_;
  ChangeLog changes_{options_.count_changes, options_.track_changes};
  std::set<OdbcRecordset*> open_;
  std::string late_failure_;
};

OdbcRecordset::OdbcRecordset(OdbcDatabase& db, std::string table, std::string key_field, std::vector<ColumnRule> columns,
                             std::size_t key_column, Contents contents)
    : BufferedRecordset(std::move(table), std::move(key_field), std::move(columns), std::move(contents.keys)),
      db_(db), key_column_(key_column), row_id_(std::move(contents.row_id)), row_ids_(std::move(contents.row_ids)),
      select_(std::move(contents.select)), order_(std::move(contents.order)),
      widths_(std::move(contents.widths)), ranges_(std::move(contents.ranges)) {
  if (row_id_.empty()) MarkUnaddressable();
  db_.Opened(this);
}

OdbcRecordset::~OdbcRecordset() {
  std::string failure;
  try {
    Flush([&](const Where& place, const std::string& why) {
      if (failure.empty()) failure = place.ToString() + ": " + why;
    });
  } catch (const std::exception& e) {
    failure = e.what();
  }
  db_.Closed(this, std::move(failure));
}

// Addressed by key, a record whose key is Null matches no WHERE, and records
// that share a key would all take each one's values.
void OdbcRecordset::MarkUnaddressable() {
  std::map<std::string, std::vector<std::size_t>> by_key;
  std::vector<std::size_t> nulls;
  for (std::size_t r = 0; r < RecordCount(); ++r) {
    const FieldValue& key = KeyOf(r);
    if (std::holds_alternative<std::monostate>(key)) nulls.push_back(r);
    else by_key[FieldValueText(key)].push_back(r);
  }
  auto mark = [&](std::size_t r, const std::string& why) {
    if (unaddressable_.empty()) unaddressable_.assign(RecordCount(), "");
    unaddressable_[r] = why;
  };
  for (const std::size_t r : nulls) {
    mark(r, "its key is Null, and the database offers no other way to address the record; not written");
  }
  for (const auto& [key, records] : by_key) {
    if (records.size() < 2) continue;
    for (const std::size_t r : records) {
      mark(r, std::to_string(records.size()) + " records share the key " + key +
                  ", and the database offers no other way to address each alone; not written");
    }
  }
}

std::string OdbcRecordset::WhereClause() const {
  return " WHERE " + db_.Quote(row_id_.empty() ? columns()[key_column_].name : row_id_) + "=?";
}

FieldValue OdbcRecordset::Address(std::size_t record) const {
  return row_id_.empty() ? KeyOf(record) : row_ids_[record];
}

TableImage& OdbcRecordset::Image(std::size_t record, std::size_t& row) {
  const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), record,
                                      [](std::size_t r, const Range& range) { return r < range.first; });
  Range& range = *(after - 1);
  if (!range.image) range.image = db_.ReadRange(select_, order_, widths_, columns(), range, table());
  row = record - range.first;
  return *range.image;
}

FieldValue OdbcRecordset::Stored(std::size_t column) {
  const std::size_t record = position();
  std::size_t row = 0;
  TableImage& image = Image(record, row);
  if (image.Known(row, column)) return image.Get(row, column);
  // A value too long to read with the others is read alone.
  if (!unaddressable_.empty() && !unaddressable_[record].empty()) throw DatabaseError(unaddressable_[record]);
  Statement& select = db_.Cached("SELECT " + db_.Quote(columns()[column].name) + " FROM " + db_.Quote(table()) + WhereClause());
  select.Execute({Address(record)});
  if (!select.Fetch()) throw DatabaseError("the record has gone");
  FieldValue v = FromText(select.Text(1), columns()[column]);
  image.Set(row, column, v);
  return v;
}

void OdbcRecordset::Write(const Assignments& assignments) {
  const std::size_t record = position();
  if (!unaddressable_.empty() && !unaddressable_[record].empty()) throw DatabaseError(unaddressable_[record]);
  std::vector<std::size_t> written;
  std::vector<FieldValue> row;
  for (const auto& [column, value] : assignments) {
    if (Stored(column) == value) continue;  // only what changes is written
    written.push_back(column);
    row.push_back(value);
  }
  if (db_.changes().active()) {
    LogChanges(assignments, [&](std::size_t i) { return Stored(assignments[i].first); }, db_.changes());
  }
  if (written.empty()) return;
  std::size_t image_row = 0;
  TableImage& image = Image(record, image_row);
  for (std::size_t i = 0; i < written.size(); ++i) image.Set(image_row, written[i], row[i]);
  row.push_back(Address(record));
  Batch& batch = batches_[written];
  batch.rows.push_back(std::move(row));
  batch.records.push_back(record);
  if (batch.rows.size() >= db_.RowsPerCall()) Send(written, batch);
}

void OdbcRecordset::Send(const std::vector<std::size_t>& columns, Batch& batch) {
  if (batch.rows.empty()) return;
  Batch sending = std::move(batch);
  batch = Batch{};
  std::string set = "UPDATE " + db_.Quote(table()) + " SET ";
  for (std::size_t i = 0; i < columns.size(); ++i) set += (i == 0 ? "" : ",") + db_.Quote(this->columns()[columns[i]].name) + "=?";
  // A record written twice before it was sent keeps its last values.
  std::vector<std::size_t> last;
  std::unordered_set<std::size_t> seen;
  for (std::size_t r = sending.rows.size(); r-- > 0;) {
    if (seen.insert(sending.records[r]).second) last.push_back(r);
  }
  std::reverse(last.begin(), last.end());
  // Records given the same values are written a few hundred to a statement
  // ("WHERE key IN (...)"): a numbering that gives most records one value
  // costs a few statements, not one a record.
  std::map<std::vector<FieldValue>, std::vector<std::size_t>> same;
  for (const std::size_t r : last) same[{sending.rows[r].begin(), sending.rows[r].end() - 1}].push_back(r);
  std::vector<std::vector<FieldValue>> alone;
  std::vector<std::size_t> alone_records;
  auto send_alone = [&](std::size_t r) {
    alone.push_back(std::move(sending.rows[r]));
    alone_records.push_back(sending.records[r]);
  };
  const std::string address = db_.Quote(row_id_.empty() ? this->columns()[key_column_].name : row_id_);
  for (const auto& [values, rows] : same) {
    if (rows.size() < kSameValuesTogether) {
      for (const std::size_t r : rows) send_alone(r);
      continue;
    }
    for (std::size_t first = 0; first < rows.size(); first += kAddressesPerList) {
      const std::size_t end = std::min(first + kAddressesPerList, rows.size());
      std::vector<FieldValue> params = values;
      std::string in;
      for (std::size_t i = first; i < end; ++i) {
        in += i == first ? "?" : ",?";
        params.push_back(sending.rows[rows[i]].back());
      }
      try {
        db_.Cached(set + " WHERE " + address + " IN (" + in + ")").Execute(params);
      } catch (const DatabaseError&) {
        for (std::size_t i = first; i < end; ++i) send_alone(rows[i]);  // each alone tells which failed
      }
    }
  }
  db_.Cached(set + WhereClause()).ExecuteRows(alone, db_.RowsPerCall(), [&](std::size_t row, const std::string& why) {
    failed_.emplace_back(alone_records[row], why);
  });
}

void OdbcRecordset::SendPending() {
  for (auto& [columns, batch] : batches_) Send(columns, batch);
  batches_.clear();
}

void OdbcRecordset::Flush(const FailedRecord& failed) {
  SendPending();
  std::vector<std::pair<std::size_t, std::string>> failures = std::move(failed_);
  failed_.clear();
  std::sort(failures.begin(), failures.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [record, why] : failures) failed(PlaceOf(record), why);
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
    const std::string insert = "INSERT INTO " + db->Quote(t.name) + " (" + db->Quote(t.key) + ") VALUES ";
    if (db->TakesRowLists()) {
      // The keys are this program's own numbers: a list of them is safe to spell out.
      for (int first = 1; first <= t.records; first += 1024) {
        std::string sql = insert;
        for (int k = first; k <= std::min(first + 1023, t.records); ++k) {
          sql += (k == first ? "(" : ",(") + std::to_string(k) + ")";
        }
        db->Run(sql);
      }
      continue;
    }
    std::vector<std::vector<FieldValue>> rows;
    for (int k = 1; k <= t.records; ++k) rows.push_back({std::int64_t{k}});
    db->Cached(insert + "(?)").ExecuteRows(rows, db->RowsPerCall(), [&](std::size_t row, const std::string& why) {
      throw DatabaseError("record " + std::to_string(row + 1) + " of " + std::string(t.name) + " not made: " + why);
    });
  }
  db->Commit();
}

}  // namespace kvr
