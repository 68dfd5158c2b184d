// The ODBC engine's updates: the fields a walk changed, sent when a
// recordset is flushed or closed, a few hundred records to a statement
// where the engine takes one joined to their values, else a parameter
// array (or a list of addresses) at a time.
#include <algorithm>
#include <map>

#include "tables/odbc_engine.h"

namespace kvr::odbc {
namespace {

// Records given the same values are written together from this many on, at
// most this many addresses to a statement.
constexpr std::size_t kSameValuesTogether = 4;
constexpr std::size_t kAddressesPerList = 256;
// Joined statements of up to this many parameters. Engines take more
// (SQLite 32766, PostgreSQL 65535), but PostgreSQL's ODBC driver (13.02)
// loses the connection with some 8000, and longer statements gain nothing.
constexpr std::size_t kParametersPerStatement = 4000;
// Records that change the same columns are written in statements of their
// own shape from this many on.
constexpr std::size_t kRecordsForOwnShape = 2048;

}  // namespace

OdbcRecordset::JoinedShape OdbcRecordset::ShapeOf(const std::vector<std::size_t>& records) const {
  JoinedShape shape;
  int flags = 0;
  for (std::size_t c = 0; c < columns().size(); ++c) {
    std::size_t n = 0;
    for (const std::size_t r : records) n += Dirty(r, c) ? 1 : 0;
    if (n == 0) continue;
    shape.columns.push_back(c);
    shape.flag.push_back(n == records.size() ? -1 : flags++);
  }
  shape.masks = static_cast<std::size_t>((flags + kFlagsPerMask - 1) / kFlagsPerMask);
  shape.parameters = 1 + shape.masks + shape.columns.size();
  return shape;
}

std::size_t OdbcRecordset::JoinedPerStatement(const JoinedShape& shape, bool pack) const {
  std::size_t parameters = shape.parameters;
  if (pack) {
    parameters = 1;
    for (const std::size_t c : shape.columns) parameters += columns()[c].kind == ColumnRule::kInteger ? 0 : 1;
  }
  return std::max<std::size_t>(1, std::min(db_.RowsPerCall(), (kParametersPerStatement - 2) / parameters));
}

bool OdbcRecordset::JoinedParams(const JoinedShape& shape, const std::vector<std::size_t>& records, bool pack,
                                 std::vector<FieldValue>& params) {
  auto packed = [&](const ColumnRule& rule) { return pack && rule.kind == ColumnRule::kInteger; };
  params.reserve(records.size() * (pack ? 1 + shape.columns.size() : shape.parameters) + 2);
  std::vector<std::int64_t> mask(shape.masks);
  std::string numbers;
  FieldValue low = Address(records.front()), high = low;
  for (const std::size_t r : records) {
    const FieldValue at = Address(r);
    low = std::min(low, at);
    high = std::max(high, at);
    std::size_t row = 0;
    const TableImage& image = Image(r, row);  // the record's values, found once
    auto value = [&](std::size_t c) { return Dirty(r, c) ? image.Get(row, c) : FieldValue{}; };
    std::fill(mask.begin(), mask.end(), 0);
    for (std::size_t j = 0; j < shape.columns.size(); ++j) {
      if (const int f = shape.flag[j]; f >= 0 && Dirty(r, shape.columns[j])) {
        mask[static_cast<std::size_t>(f / kFlagsPerMask)] |= std::int64_t{1} << (f % kFlagsPerMask);
      }
    }
    if (pack) {
      numbers = "{" + FieldValueText(at);
      for (const std::int64_t m : mask) numbers += "," + std::to_string(m);
      for (const std::size_t c : shape.columns) {
        if (!packed(columns()[c])) continue;
        const FieldValue v = value(c);
        // Values are made numbers before they are written to an integer
        // field; were a text ever to come, it is not put into the array
        // but written by the statements that bind each value alone.
        if (std::holds_alternative<std::string>(v)) return false;
        numbers += "," + (std::holds_alternative<std::int64_t>(v) ? FieldValueText(v) : std::string("NULL"));
      }
      params.emplace_back(numbers + "}");
    } else {
      params.push_back(at);
      params.insert(params.end(), mask.begin(), mask.end());
    }
    for (const std::size_t c : shape.columns) {
      if (!packed(columns()[c])) params.push_back(value(c));
    }
  }
  // The range of addresses lets the engine find the records by its index
  // instead of reading the whole table to join them.
  params.push_back(low);
  params.push_back(high);
  return true;
}

bool OdbcRecordset::SendJoined(const JoinedShape& shape, const std::vector<std::size_t>& records, bool pack) {
  std::vector<FieldValue> params;
  if (!JoinedParams(shape, records, pack, params)) return false;
  std::vector<JoinedField> fields;
  for (std::size_t j = 0; j < shape.columns.size(); ++j) {
    const ColumnRule& rule = columns()[shape.columns[j]];
    fields.push_back({rule.name, rule.kind, shape.flag[j]});
  }
  try {
    // Statements of one shape and size are prepared once: the engine plans
    // them once.
    Statement& update = db_.Cached(db_.dialect().JoinedUpdate(
        table(), row_id_.empty() ? columns()[key_column_].name : row_id_, fields, shape.masks, records.size(), pack));
    update.Execute(params);
    // Fewer records updated than sent: some were not found at their
    // address; written again by their columns, each tells whether it was.
    const SQLLEN affected = update.RowCount();
    if (affected >= 0 && static_cast<std::size_t>(affected) < records.size()) return false;
  } catch (const DatabaseFailure&) {
    throw;
  } catch (const DatabaseError&) {
    return false;  // the statement failed as a whole: nothing of it was written
  }
  return true;
}

void OdbcRecordset::SendJoinedInChunks(const std::vector<std::size_t>& records) {
  const JoinedShape shape = ShapeOf(records);
  // Where the engine has arrays, a record's address, masks and integer
  // values travel in one parameter ("{17,4,-1,NULL}", column1 of the list),
  // read back by position: its ODBC driver converts each parameter on its
  // own, and a record of the largest tables has some thirty.
  const bool pack = db_.PacksNumbers();
  const std::size_t per_statement = JoinedPerStatement(shape, pack);
  for (std::size_t first = 0; first < records.size(); first += per_statement) {
    const auto from = records.begin() + static_cast<std::ptrdiff_t>(first);
    const std::vector<std::size_t> chunk(
        from, from + static_cast<std::ptrdiff_t>(std::min(per_statement, records.size() - first)));
    // A value the database refuses (a constraint, a trigger) fails the
    // whole statement: its records are written again by their columns,
    // which tells which of them failed.
    if (!SendJoined(shape, chunk, pack)) SendGrouped(chunk);
  }
}

std::map<std::vector<std::size_t>, std::vector<std::size_t>> OdbcRecordset::ByColumns(
    const std::vector<std::size_t>& records) const {
  std::map<std::vector<std::size_t>, std::vector<std::size_t>> by_columns;
  for (const std::size_t r : records) {
    std::vector<std::size_t> changed;
    for (std::size_t c = 0; c < columns().size(); ++c) {
      if (Dirty(r, c)) changed.push_back(c);
    }
    by_columns[changed].push_back(r);
  }
  return by_columns;
}

void OdbcRecordset::SendGrouped(const std::vector<std::size_t>& records) {
  for (const auto& [changed, group] : ByColumns(records)) {
    for (std::size_t first = 0; first < group.size(); first += db_.RowsPerCall()) {
      const auto from = group.begin() + static_cast<std::ptrdiff_t>(first);
      SendColumns(changed,
                  {from, from + static_cast<std::ptrdiff_t>(std::min(db_.RowsPerCall(), group.size() - first))});
    }
  }
}

void OdbcRecordset::SendColumns(const std::vector<std::size_t>& changed, const std::vector<std::size_t>& records) {
  std::string set = "UPDATE " + db_.Quote(table()) + " SET ";
  for (std::size_t i = 0; i < changed.size(); ++i)
    set += (i == 0 ? "" : ",") + db_.Quote(columns()[changed[i]].name) + "=?";
  // Records given the same values are written a few hundred to a statement
  // ("WHERE key IN (...)"): a numbering that gives most records one value
  // costs a few statements, not one a record.
  std::map<std::vector<FieldValue>, std::vector<std::size_t>> same;
  for (const std::size_t r : records) {
    std::vector<FieldValue> values;
    for (const std::size_t c : changed) values.push_back(Pending(r, c));
    same[std::move(values)].push_back(r);
  }
  std::vector<std::vector<FieldValue>> alone;
  std::vector<std::size_t> alone_records;
  auto send_alone = [&](const std::vector<FieldValue>& values, std::size_t r) {
    alone.push_back(values);
    alone.back().push_back(Address(r));
    alone_records.push_back(r);
  };
  const std::string address = db_.Quote(row_id_.empty() ? columns()[key_column_].name : row_id_);
  for (const auto& [values, group] : same) {
    if (group.size() < kSameValuesTogether) {
      for (const std::size_t r : group) send_alone(values, r);
      continue;
    }
    for (std::size_t first = 0; first < group.size(); first += kAddressesPerList) {
      const std::size_t end = std::min(first + kAddressesPerList, group.size());
      std::vector<FieldValue> params = values;
      std::string in;
      for (std::size_t i = first; i < end; ++i) {
        in += i == first ? "?" : ",?";
        params.push_back(Address(group[i]));
      }
      try {
        Statement& update = db_.Cached(set + " WHERE " + address + " IN (" + in + ")");
        update.Execute(params);
        const SQLLEN affected = update.RowCount();
        if (affected >= 0 && static_cast<std::size_t>(affected) < end - first) {
          for (std::size_t i = first; i < end; ++i)
            send_alone(values, group[i]);  // each alone tells which was not found
        }
      } catch (const DatabaseError&) {
        for (std::size_t i = first; i < end; ++i) send_alone(values, group[i]);  // each alone tells which failed
      }
    }
  }
  const std::size_t sets = db_.dialect().TakesParameterArrays() ? db_.RowsPerCall() : 1;
  db_.Cached(set + WhereClause()).ExecuteRows(alone, sets, [&](std::size_t row, const std::string& why) {
    failed_.emplace_back(alone_records[row], why);
  });
}

void OdbcRecordset::SendPending() {
  if (dirty_records_ == 0) return;
  std::vector<std::size_t> records;
  records.reserve(dirty_records_);
  for (std::size_t r = 0; r < RecordCount(); ++r) {
    if (AnyDirty(r)) records.push_back(r);
  }
  // Past a Jet engine's lock limit nothing more is sent: the commit keeps
  // nothing and says how many records the run needed.
  if (!db_.TakeLocks(records.size())) {
    DropPending();
    return;
  }
  try {
    Send(records);
  } catch (const DatabaseFailure&) {
    // The database failed: the run ends with the transaction rolled back,
    // and nothing pending is sent again when the recordset closes (which
    // would wait for the same lock or connection a second time).
    DropPending();
    throw;
  }
  DropPending();
}

void OdbcRecordset::Send(const std::vector<std::size_t>& records) {
  // A statement joined to its values addresses records by a number.
  bool joined = db_.JoinsUpdates();
  for (std::size_t i = 0; joined && i < records.size(); ++i) {
    joined = std::holds_alternative<std::int64_t>(Address(records[i]));
  }
  if (!joined) {
    SendGrouped(records);
  } else {
    // Records that change the same fields, enough of them, are written in
    // statements of their own that carry no flags (the aux numbering of a
    // large table beside a small plant's merge); the rest share one shape.
    std::vector<std::size_t> rest;
    for (const auto& [changed, group] : ByColumns(records)) {
      if (group.size() >= kRecordsForOwnShape)
        SendJoinedInChunks(group);
      else
        rest.insert(rest.end(), group.begin(), group.end());
    }
    std::sort(rest.begin(), rest.end());
    if (!rest.empty()) SendJoinedInChunks(rest);
  }
}

void OdbcRecordset::Flush(const FailedRecord& failed) {
  SendPending();
  std::vector<std::pair<std::size_t, std::string>> failures = std::move(failed_);
  failed_.clear();
  std::sort(failures.begin(), failures.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [record, why] : failures) failed(PlaceOf(record), why);
}

}  // namespace kvr::odbc
