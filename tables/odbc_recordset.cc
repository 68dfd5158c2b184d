// The ODBC engine's reads: a table's keys when it is opened, its fields a
// range of records at a time when first needed, served from the image of
// that range; and the changes a walk makes, kept in the image until sent.
#include <algorithm>
#include <charconv>

#include "tables/odbc_engine.h"

namespace kvr::odbc {

FieldValue FromCell(const FieldValue& cell, const ColumnRule& rule) {
  const auto* text = std::get_if<std::string>(&cell);
  if (text == nullptr || rule.kind == ColumnRule::kText) return cell;
  std::int64_t n = 0;
  const auto r = std::from_chars(text->data(), text->data() + text->size(), n);
  if (!text->empty() && r.ec == std::errc() && r.ptr == text->data() + text->size()) return n;
  return cell;
}

std::size_t ReadWidth(const ColumnRule& rule, bool typed) {
  if (rule.kind == ColumnRule::kInteger) return typed ? 0 : 24;
  // Room for surrogate pairs too; a longer field (a memo) is read alone.
  if (rule.kind == ColumnRule::kText && rule.max_chars > 0) return std::min<std::size_t>(2 * rule.max_chars, 256);
  return 256;
}

void OdbcDatabase::ReadKeys(const std::string& table, const ColumnRule& key, OdbcRecordset::Contents& contents) {
  const std::string& row_id = contents.row_id;
  Statement s(dbc_->get(),
              "SELECT " + (row_id.empty() ? "" : Quote(row_id) + ", ") + Quote(key.name) + " FROM " + Quote(table) +
                  OrderBy(key.name, row_id),
              Timeout());
  if (dialect().ReadsNarrowIntegers()) s.ReadIntegersNarrow();
  const ColumnRule row_id_rule = IntegerRule(row_id);
  const std::size_t k = row_id.empty() ? 0 : 1;
  std::vector<std::size_t> widths(k + 1, ReadWidth(key, KeepsTypes()));
  if (k == 1) widths[0] = ReadWidth(row_id_rule, false);  // a row identifier need not be a number
  s.ReadAll({}, widths, RowsPerCall(), [&](const std::vector<FieldValue>& cells, const std::vector<bool>&) {
    if (k == 1) contents.row_ids.push_back(FromCell(cells[0], row_id_rule));
    contents.keys.push_back(FromCell(cells[k], key));
  });
}

void OdbcDatabase::PlanRanges(const std::string& table, const std::vector<ColumnRule>& columns, const std::string& key,
                              OdbcRecordset::Contents& contents) const {
  const std::vector<FieldValue>& keys = contents.keys;
  for (const ColumnRule& column : columns) contents.widths.push_back(ReadWidth(column, KeepsTypes()));
  contents.from = " FROM " + Quote(table) + " WHERE " + Quote(key);
  contents.order = OrderBy(key, contents.row_id);
  // The first ranges are short and each is twice the last, up to 4096
  // records: a plant of a few hundred channels reads little more than its
  // own records of a table sized for thousands.
  std::size_t range_size = 512;
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
      while (end < keys.size() && !is_null(end) && (end - first < range_size || keys[end] == keys[end - 1])) ++end;
      range_size = std::min<std::size_t>(2 * range_size, 4096);
      range.where = " >= ? AND " + Quote(key) + " <= ?";
      range.params = {keys[first], keys[end - 1]};
    }
    range.end = end;
    contents.ranges.push_back(std::move(range));
    first = end;
  }
}

void OdbcDatabase::ReadRange(const std::string& select, const std::vector<std::size_t>& which,
                             const std::vector<std::size_t>& widths, const std::vector<ColumnRule>& columns,
                             OdbcRecordset::Range& range, const std::string& table) {
  const std::size_t expected = range.end - range.first;
  const bool first_read = !range.image;
  if (first_read) {
    range.image = std::make_unique<TableImage>(columns.size(), expected);
    range.read.assign(columns.size(), false);
  }
  std::vector<std::size_t> read_widths;
  for (const std::size_t c : which) read_widths.push_back(widths[c]);
  std::size_t row = 0;
  try {
    Cached(select).ReadAll(range.params, read_widths, RowsPerCall(),
                           [&](const std::vector<FieldValue>& cells, const std::vector<bool>& whole) {
                             if (row < expected) {
                               for (std::size_t i = 0; i < which.size(); ++i) {
                                 range.image->Fill(row, which[i], cells[i], whole[i], columns[which[i]]);
                               }
                             }
                             ++row;
                           });
  } catch (const DatabaseError&) {
    if (first_read) range.image.reset();  // the range is read again when next needed
    throw;
  }
  if (row != expected) throw DatabaseFailure("table " + table + " changed while it was read");
  for (const std::size_t c : which) range.read[c] = true;
}

OdbcRecordset::OdbcRecordset(OdbcDatabase& db, std::string table, std::string key_field,
                             std::vector<ColumnRule> columns, std::size_t key_column, Contents contents)
    : BufferedRecordset(std::move(table), std::move(key_field), std::move(columns), std::move(contents.keys)),
      db_(db),
      key_column_(key_column),
      row_id_(std::move(contents.row_id)),
      row_ids_(std::move(contents.row_ids)),
      from_(std::move(contents.from)),
      order_(std::move(contents.order)),
      widths_(std::move(contents.widths)),
      ranges_(std::move(contents.ranges)) {
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
  auto mark = [&](std::size_t r, const std::string& why) {
    if (unaddressable_.empty()) unaddressable_.assign(RecordCount(), "");
    unaddressable_[r] = why;
  };
  // The records are in key order: those that share a key lie together.
  for (std::size_t first = 0, end = 0; first < RecordCount(); first = end) {
    const FieldValue& key = KeyOf(first);
    for (end = first + 1; end < RecordCount() && KeyOf(end) == key;) ++end;
    for (std::size_t r = first; r < end; ++r) {
      if (std::holds_alternative<std::monostate>(key)) {
        mark(r, "its key is Null, and the database offers no other way to address the record; not written");
      } else if (end - first > 1) {
        mark(r, std::to_string(end - first) + " records share the key " + FieldValueText(key) +
                    ", and the database offers no other way to address each alone; not written");
      }
    }
  }
}

std::string OdbcRecordset::WhereClause() const {
  return " WHERE " + db_.Quote(row_id_.empty() ? columns()[key_column_].name : row_id_) + "=?";
}

FieldValue OdbcRecordset::Address(std::size_t record) const {
  return row_id_.empty() ? KeyOf(record) : row_ids_[record];
}

OdbcRecordset::Range& OdbcRecordset::RangeOf(std::size_t record) {
  const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), record,
                                      [](std::size_t r, const Range& range) { return r < range.first; });
  return *(after - 1);
}

TableImage& OdbcRecordset::Image(std::size_t record, std::size_t& row) {
  Range& range = RangeOf(record);
  if (!range.image) Read(range, Wanted());
  row = record - range.first;
  return *range.image;
}

void OdbcRecordset::Read(Range& range, const std::vector<std::size_t>& which) {
  std::string select = "SELECT ";
  for (std::size_t i = 0; i < which.size(); ++i) select += (i == 0 ? "" : ", ") + db_.Quote(columns()[which[i]].name);
  db_.ReadRange(select + from_ + range.where + order_, which, widths_, columns(), range, table());
}

std::vector<std::size_t> OdbcRecordset::Wanted() const {
  std::vector<std::size_t> which;
  for (std::size_t c = 0; c < columns().size(); ++c) {
    if (!narrow_ || wanted_[c]) which.push_back(c);
  }
  if (which.empty()) {  // nothing asked for yet: every field
    for (std::size_t c = 0; c < columns().size(); ++c) which.push_back(c);
  }
  return which;
}

void OdbcRecordset::MoveFirst() {
  BufferedRecordset::MoveFirst();
  if (walked_ && !narrow_) {
    narrow_ = true;
    wanted_.assign(columns().size(), false);
  } else if (narrow_) {
    std::fill(wanted_.begin(), wanted_.end(), false);
  }
  walked_ = true;
}

void OdbcRecordset::ReadAhead(std::size_t records, const std::function<bool()>& enough) {
  for (Range& range : ranges_) {
    if (range.first >= records) return;
    if (range.image) continue;
    if (enough()) return;
    Read(range, Wanted());
  }
}

FieldValue OdbcRecordset::Stored(std::size_t column) {
  const std::size_t record = position();
  if (narrow_) wanted_[column] = true;
  std::size_t row = 0;
  TableImage& image = Image(record, row);
  if (Range& range = RangeOf(record); !range.read[column])
    Read(range, {column});  // a field this walk had not asked for
  if (image.Known(row, column)) return image.Get(row, column);
  // A value too long to read with the others is read alone.
  if (!unaddressable_.empty() && !unaddressable_[record].empty()) throw DatabaseError(unaddressable_[record]);
  Statement& select =
      db_.Cached("SELECT " + db_.Quote(columns()[column].name) + " FROM " + db_.Quote(table()) + WhereClause());
  select.Execute({Address(record)});
  if (!select.Fetch()) throw DatabaseError("the record has gone");
  const auto text = select.Text(1);
  FieldValue v = text ? FromCell(*text, columns()[column]) : FieldValue{};
  image.Set(row, column, v);
  return v;
}

void OdbcRecordset::Write(const Assignments& assignments) {
  const std::size_t record = position();
  if (!unaddressable_.empty() && !unaddressable_[record].empty()) throw DatabaseError(unaddressable_[record]);
  std::vector<std::pair<std::size_t, const FieldValue*>> written;
  for (const auto& [column, value] : assignments) {
    if (Stored(column) != value) written.emplace_back(column, &value);  // only what changes is written
  }
  if (db_.changes().active()) {
    LogChanges(
        assignments, [&](std::size_t i) { return Stored(assignments[i].first); }, db_.changes());
  }
  if (written.empty()) return;
  std::size_t image_row = 0;
  TableImage& image = Image(record, image_row);
  if (dirty_.empty()) dirty_.assign(RecordCount() * columns().size(), false);
  if (!AnyDirty(record)) ++dirty_records_;
  for (const auto& [column, value] : written) {
    image.Set(image_row, column, *value);
    dirty_[record * columns().size() + column] = true;
  }
}

FieldValue OdbcRecordset::Pending(std::size_t record, std::size_t column) {
  std::size_t row = 0;
  return Image(record, row).Get(row, column);
}

}  // namespace kvr::odbc
