#include "tables/table_export.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "base/index.h"
#include "base/utf8.h"
#include "base/words.h"
#include "tables/label_table_writer.h"
#include "tables/named_tables.h"
#include "tables/switcher_tables.h"

namespace kvr {
namespace {

// "5, 9 to 11, 40" of ascending numbers, the first `listed` runs named and
// the rest counted.
std::string KeyRuns(const std::vector<std::int64_t>& keys, std::size_t listed = 10) {
  std::string text;
  std::size_t runs = 0, unnamed = 0;
  for (std::size_t i = 0; i < keys.size();) {
    std::size_t j = i;
    while (j + 1 < keys.size() && keys[j + 1] <= keys[j] + 1) ++j;
    if (runs++ < listed) {
      text += (text.empty() ? "" : ", ") + std::to_string(keys[i]) +
              (keys[j] != keys[i] ? " to " + std::to_string(keys[j]) : "");
    } else {
      unnamed += j - i + 1;
    }
    i = j + 1;
  }
  if (unnamed > 0) text += " and " + std::to_string(unnamed) + " more";
  return text;
}

// The records of a table that no conversion reaches, by why: they are on
// no sheet, so each kind is named with its keys.
struct Unreached {
  std::size_t no_key = 0;                  // Null or not a whole number
  std::vector<std::int64_t> not_positive;  // keys below 1
  std::vector<std::int64_t> shared;        // keys an earlier record holds
  std::vector<std::int64_t> after_gap;     // keys past the first gap
  std::vector<std::int64_t> past_limit;    // past the last channel a sheet numbers
  std::int64_t gap_at = 0;                 // the first number missing

  void Report(const std::string& table, std::string_view key, std::string_view sheet, Problems& problems) const {
    const std::string field = "\"" + std::string(key) + "\"";
    const std::string none = "; it is on no \"" + std::string(sheet) + "\" row, so the workbook does not give it back";
    auto say = [&](std::size_t n, const std::string& what) {
      const std::string none_n = n == 1 ? none : "; they are on no \"" + std::string(sheet) +
                                                     "\" row, so the workbook does not give them back";
      problems.Report(Where::Record(table, ""), what + none_n, ErrorCode::kDatabase, "export-record-left-out");
    };
    if (no_key > 0) {
      say(no_key, Counted(no_key, "record has no ", "records have no ") + field +
                      " (Null or not a whole number): a conversion numbers records by it");
    }
    if (!not_positive.empty()) {
      say(not_positive.size(), Counted(not_positive.size(), "record", "records") + " numbered below 1 (" + field + " " +
                                   KeyRuns(not_positive) + "): a sheet numbers records from 1");
    }
    if (!shared.empty()) {
      say(shared.size(), Counted(shared.size(), "record shares its ", "records share their ") + field +
                             " with an earlier record (" + KeyRuns(shared) +
                             "): a conversion writes the first record of a number, and the sheet gives that one");
    }
    if (!after_gap.empty()) {
      say(after_gap.size(), Counted(after_gap.size(), "record lies", "records lie") + " after the gap at " + field + " " +
                                std::to_string(gap_at) + " (" + KeyRuns(after_gap) +
                                "): a conversion writes no record past a gap in the numbers");
    }
    if (!past_limit.empty()) {
      say(past_limit.size(), Counted(past_limit.size(), "record", "records") + " numbered past 32767 (" + field + " " +
                                 KeyRuns(past_limit) + "): a sheet numbers at most 32767");
    }
  }
};

TableRows ReadTable(SwitcherDatabase& db, const TableSpec& spec, Problems& problems) {
  TableRows rows;
  rows.table = std::string(spec.name);
  Unreached unreached;
  try {
    auto records = db.OpenRecordset(spec.name, spec.key);
    records->MoveFirst();
    // The fields of the sheet the table has, told by its first record.
    for (const FieldSpec& field : spec.fields) {
      if (field.heading.empty()) continue;
      if (!records->AtEnd()) {
        try {
          (void)records->Field(field.name);
        } catch (const DatabaseError&) {
          continue;
        }
      }
      rows.fields.emplace_back(field.name);
    }
    std::int64_t last_key = 0;  // the key of the record before, in key order
    std::vector<FieldValue> values;
    for (; !records->AtEnd(); records->MoveNext()) {
      const FieldValue key = records->Key();
      const auto* number = std::get_if<std::int64_t>(&key);
      const auto expected = static_cast<std::int64_t>(rows.size()) + 1;
      if (number == nullptr) {
        ++unreached.no_key;
      } else if (*number < 1) {
        unreached.not_positive.push_back(*number);
      } else if (*number == last_key) {
        unreached.shared.push_back(*number);
      } else if (!unreached.after_gap.empty() || *number > expected) {
        // A gap: nothing after it is written.
        if (unreached.after_gap.empty()) unreached.gap_at = expected;
        unreached.after_gap.push_back(*number);
      } else if (expected > 32767) {
        unreached.past_limit.push_back(*number);
      } else {
        values.clear();
        for (const std::string& field : rows.fields) values.push_back(records->Field(field));
        rows.Append(values);
      }
      if (number != nullptr) last_key = *number;
    }
    rows.readable = true;
  } catch (const DatabaseError& e) {
    problems.Report(Where::Record(std::string(spec.name), ""),
                    std::string("cannot be read (") + e.what() + "); no \"" + std::string(spec.sheet) + "\" sheet written",
                    ErrorCode::kDatabase);
    rows.Clear();
    return rows;
  }
  unreached.Report(rows.table, spec.key, spec.sheet, problems);
  return rows;
}

void SetValue(OutSheet& sheet, int row, int column, const FieldValue& value, CellAs as) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    sheet.SetText(row, column, *text);
    return;
  }
  const auto* number = std::get_if<std::int64_t>(&value);
  if (number == nullptr) return;  // Null: an empty cell
  switch (as) {
    case CellAs::kText: sheet.SetText(row, column, std::to_string(*number)); break;
    case CellAs::kNumber: sheet.SetNumber(row, column, static_cast<double>(*number)); break;
    case CellAs::kIndex:
      if (*number != NoIndex) sheet.SetNumber(row, column, static_cast<double>(*number + 1));
      break;
  }
}

std::optional<FieldValue> ValueOf(const TableRows& rows, std::size_t record, std::string_view field) {
  const auto it = std::find(rows.fields.begin(), rows.fields.end(), field);
  if (it == rows.fields.end()) return std::nullopt;
  return rows.At(record, static_cast<std::size_t>(it - rows.fields.begin()));
}

// Why the record's label is left to the database (its cell left empty, so
// that a conversion keeps it), or nothing: a label a conversion would hide
// its channel by on a channel that is not hidden, or one longer than a
// conversion writes.
std::string LabelLeftOut(const TableSpec& spec, const TableRows& rows, std::size_t record) {
  const std::optional<FieldValue> label = ValueOf(rows, record, "Label");
  const auto* text = label ? std::get_if<std::string>(&*label) : nullptr;
  if (text == nullptr) return {};
  if (Utf8Prefix(*text, spec.label_chars).size() < text->size()) {
    return "is longer than the " + std::to_string(spec.label_chars) + " characters a conversion writes";
  }
  const std::optional<FieldValue> hidden = ValueOf(rows, record, "Hidden");
  if (!spec.label_hides || !hidden || !HidesChannel(*text)) return {};
  const auto* flag = std::get_if<std::int64_t>(&*hidden);
  if (flag != nullptr && *flag == 1) return {};
  return "begins with \"{\" but the channel is not hidden, which no conversion writes";
}

OutSheet SheetOf(const TableSpec& spec, const TableRows& rows, std::size_t row_count, Problems& problems) {
  OutSheet sheet(std::string(spec.sheet));
  sheet.SetText(1, 1, std::string(spec.number_heading));
  int c = 2;
  std::vector<std::pair<int, const FieldSpec*>> columns;
  std::vector<std::size_t> field_of_column;  // each column's index into rows.fields
  for (const FieldSpec& field : spec.fields) {
    const auto it = std::find(rows.fields.begin(), rows.fields.end(), field.name);
    if (it == rows.fields.end()) continue;
    sheet.SetText(1, c, std::string(field.heading));
    columns.emplace_back(c++, &field);
    field_of_column.push_back(static_cast<std::size_t>(it - rows.fields.begin()));
  }
  for (std::size_t k = 0; k < std::min(row_count, rows.size()); ++k) {
    const int r = static_cast<int>(k) + 2;
    sheet.SetNumber(r, 1, static_cast<double>(k + 1));
    const std::string label_left_out = LabelLeftOut(spec, rows, k);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const auto& [column, field] = columns[i];
      if (!label_left_out.empty() && field->name == "Label") {
        problems.Note(Where::Sheet(sheet.name(), ColumnLetters(column) + std::to_string(r)),
                      "the label " + FieldValueText(*ValueOf(rows, k, "Label")) + " of " + rows.table + ", " +
                          std::string(spec.key) + " " + std::to_string(k + 1) + " " + label_left_out +
                          "; the cell is left empty, so a conversion keeps the database's label",
                      "export-label-left-out");
        continue;
      }
      SetValue(sheet, r, column, rows.At(k, field_of_column[i]), field->as);
    }
  }
  return sheet;
}

}  // namespace

PlantTables ReadPlantTables(SwitcherDatabase& db, Problems& problems) {
  PlantTables t;
  t.inputs = ReadTable(db, kInptAlphas, problems);
  t.outputs = ReadTable(db, kOutptAlphas, problems);
  t.optos = ReadTable(db, kOptoAlphas, problems);
  t.relays = ReadTable(db, kRelayAlphas, problems);
  t.locations = ReadTable(db, kLocationAlphas, problems);
  t.consoles = ReadTable(db, kConsoleAlphas, problems);
  t.sets = ReadTable(db, kOptoRelaySets, problems);
  return t;
}

FieldValue TableRows::At(std::size_t record, std::size_t field) const {
  const Slot& s = slots_[record * fields.size() + field];
  if (s.length == kNull) return std::monostate{};
  if (s.length == kNumber) return s.number;
  return texts_.substr(s.text_at, s.length);
}

void TableRows::Append(const std::vector<FieldValue>& values) {
  ++records_;
  for (const FieldValue& v : values) {
    Slot s;
    if (const auto* number = std::get_if<std::int64_t>(&v)) {
      s.number = *number;
      s.length = kNumber;
    } else if (const auto* text = std::get_if<std::string>(&v)) {
      s.text_at = static_cast<std::uint32_t>(texts_.size());
      s.length = static_cast<std::uint32_t>(text->size());
      texts_ += *text;
    }
    slots_.push_back(s);
  }
}

void TableRows::Clear() {
  slots_.clear();
  texts_.clear();
  records_ = 0;
}

bool HoldsNothing(const TableRows& rows, std::size_t record) {
  for (std::size_t f = 0; f < rows.fields.size(); ++f) {
    const FieldValue v = rows.At(record, f);
    if (const auto* text = std::get_if<std::string>(&v); text != nullptr && !text->empty()) return false;
    if (const auto* number = std::get_if<std::int64_t>(&v); number != nullptr && *number != 0) return false;
  }
  return true;
}

PlantRows FullRows(const PlantTables& t) {
  return {t.inputs.size(), t.outputs.size(), t.optos.size(), t.relays.size()};
}

std::vector<OutSheet> TableSheets(const PlantTables& t, const PlantRows& rows, Problems& problems) {
  std::vector<OutSheet> sheets;
  const std::pair<const TableSpec*, std::pair<const TableRows*, std::size_t>> all[] = {
      {&kInptAlphas, {&t.inputs, rows.inputs}},
      {&kOutptAlphas, {&t.outputs, rows.outputs}},
      {&kOptoAlphas, {&t.optos, rows.optos}},
      {&kRelayAlphas, {&t.relays, rows.relays}},
      {&kLocationAlphas, {&t.locations, std::tuple_size_v<LocationTable>}},
      {&kConsoleAlphas, {&t.consoles, std::tuple_size_v<ConsoleNameTable>}},
      {&kOptoRelaySets, {&t.sets, std::tuple_size_v<RcSetTable>}}};
  for (const auto& [spec, table] : all) {
    if (!table.first->readable) continue;
    sheets.push_back(SheetOf(*spec, *table.first, table.second, problems));
    // A fixed table's sheet holds as many rows as the table has entries; the
    // channel sheets' rows are chosen by the caller, which says why.
    if (!spec->label_hides && spec != &kOptoAlphas && spec != &kRelayAlphas && table.first->size() > table.second) {
      const std::size_t n = table.first->size() - table.second;
      problems.Report(Where::Record(table.first->table, ""),
                      Counted(n, "record", "records") + " numbered past " + std::to_string(table.second) + " (\"" +
                          std::string(spec->key) + "\" " + std::to_string(table.second + 1) +
                          (n > 1 ? " to " + std::to_string(table.first->size()) : "") +
                          "): a conversion writes at most " +
                          std::to_string(table.second) + ", so they are on no \"" + std::string(spec->sheet) +
                          "\" row and the workbook does not give them back",
                      ErrorCode::kDatabase, "export-record-left-out");
    }
  }
  return sheets;
}

}  // namespace kvr
