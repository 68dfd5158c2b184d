#include "tables/label_table_writer.h"

#include <algorithm>
#include <charconv>

#include "base/problems.h"
#include "base/round16.h"
#include "base/utf8.h"

namespace kvr {
namespace {

// Numeric comparison of a record's key with an entry's key; Null never equals.
bool KeyEquals(const FieldValue& record_key, std::int16_t key) {
  if (const auto* i = std::get_if<std::int64_t>(&record_key)) return *i == key;
  if (const auto* s = std::get_if<std::string>(&record_key)) {
    std::int64_t v = 0;
    const auto res = std::from_chars(s->data(), s->data() + s->size(), v);
    return res.ec == std::errc() && res.ptr == s->data() + s->size() && v == key;
  }
  return false;
}

}  // namespace

bool IsBlankText(std::string_view text) { return text.empty() || text == " " || text == "0"; }

std::string ShortLabel(std::string_view text) { return std::string(Utf8Prefix(text, 8)); }

void RecordEditor::Set(std::string_view field, FieldValue value) {
  try {
    records_.Assign(field, std::move(value));
  } catch (const DatabaseError& e) {
    problems_.Report(records_.Place(), "\"" + std::string(field) + "\" not written: " + e.what(),
                     ErrorCode::kDatabase);
  }
}

void RecordEditor::SetNumber(std::string_view field, std::int64_t value) { Set(field, value); }

void RecordEditor::SetText(std::string_view field, std::string_view value) { Set(field, std::string(value)); }

FieldValue RecordEditor::Read(std::string_view field) {
  try {
    return records_.Field(field);
  } catch (const DatabaseError& e) {
    problems_.Report(records_.Place(), "\"" + std::string(field) + "\" cannot be read: " + e.what(),
                     ErrorCode::kDatabase);
    return std::monostate{};
  }
}

std::optional<std::string> RecordEditor::Text(std::string_view field) {
  const FieldValue v = Read(field);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  return std::nullopt;
}

std::optional<std::int16_t> RecordEditor::Number(std::string_view field) {
  const FieldValue v = Read(field);
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    if (*i < -32768 || *i > 32767) return std::nullopt;
    return static_cast<std::int16_t>(*i);
  }
  // A stored fraction or numeric text ("3.5") rounds half to even like every
  // other number; text that is not a number as a whole holds no number.
  if (const auto* s = std::get_if<std::string>(&v)) {
    double d = 0;
    const auto res = std::from_chars(s->data(), s->data() + s->size(), d);
    if (s->empty() || res.ec != std::errc() || res.ptr != s->data() + s->size()) return std::nullopt;
    return RoundToInt16(d);
  }
  return std::nullopt;
}

void RecordEditor::SetTextUnlessBlank(std::string_view field, std::string_view value) {
  if (!IsBlankText(value)) SetText(field, value);
}

void RecordEditor::SetShortText(std::string_view field, std::string_view value, std::size_t chars,
                                bool unless_blank) {
  const std::string_view written = Utf8Prefix(value, chars);
  if (unless_blank && IsBlankText(written)) return;
  if (written.size() < value.size() && cuts_.count++ == 0) {
    cuts_.key = records_.Place().key;
    cuts_.field = field;
    cuts_.whole = value;
    cuts_.written = written;
  }
  SetText(field, written);
}

void RecordEditor::SetLabels(std::string_view label, std::string_view local_label) {
  SetShortText("Label", label, 8, true);
  if (!IsBlankText(local_label)) {
    SetShortText("LocalLabel", local_label, 8, false);
    return;
  }
  // The record's own label stands in: what it holds is no text of the workbook.
  std::string local(local_label);
  if (auto current = Text("Label")) local = std::move(*current);
  SetText("LocalLabel", ShortLabel(local));
}

namespace {

// The last entry written: those beyond the count, or from the first unfilled
// entry on when there is no count, are never written.
int LastEntry(const LabelTableTarget& target, const std::function<std::int16_t(int)>& key) {
  int last = target.entries - 1;
  if (target.count) return std::min(last, *target.count);
  for (int i = 0; i <= last; ++i) {
    if (key(i) == 0) return i - 1;
  }
  return last;
}

// Entries `from` to `last` that met no record, said once with the first key.
void ReportUnmatched(const LabelTableTarget& target, const std::function<std::int16_t(int)>& key, int from, int last,
                     Problems& problems) {
  int unmatched = 0, first_key = 0;
  for (int k = from; k <= last; ++k) {
    if (key(k) == 0) continue;
    if (unmatched++ == 0) first_key = key(k);
  }
  if (unmatched == 0) return;
  if (target.spec != nullptr) {
    // What the sheet's cells said of these records' fields is not so.
    std::vector<std::string> fields;
    for (const FieldSpec& f : target.spec->fields) fields.emplace_back(f.name);
    const std::string why = "no record of " + std::string(target.table) + " has this " +
                            std::string(target.key_field) + ", so nothing of it is written";
    for (int k = from; k <= last; ++k) {
      if (key(k) != 0) problems.Disclaim(std::string(target.spec->noun) + " " + std::to_string(key(k)), fields, why);
    }
  }
  problems.Report(Where::Record(std::string(target.table), ""),
                  std::to_string(unmatched) + (unmatched == 1 ? " entry" : " entries") +
                      " from the workbook met no record, from " + std::string(target.key_field) + " " +
                      std::to_string(first_key) +
                      " on (the database's numbering has a gap there, or the table is shorter than the sheet)",
                  ErrorCode::kDatabase);
}

}  // namespace

void LabelTableWriter(SwitcherDatabase& database, const LabelTableTarget& target,
                      const std::function<std::int16_t(int)>& key,
                      const std::function<void(int, RecordEditor&)>& assign, Problems& problems,
                      const std::function<void(Recordset&)>& after) {
  std::unique_ptr<Recordset> records;
  try {
    records = database.OpenRecordset(target.table, target.key_field);
  } catch (const DatabaseError& e) {
    problems.Report(Where::Record(std::string(target.table), ""), std::string(e.what()) + "; the table was left unchanged",
                    ErrorCode::kDatabase);
    return;
  }
  const int last = LastEntry(target, key);
  int i = 0;
  RecordEditor editor(*records, problems);
  for (records->MoveFirst(); !records->AtEnd() && i <= last; records->MoveNext()) {
    if (!KeyEquals(records->Key(), key(i))) continue;
    try {
      records->Edit();
      assign(i, editor);
      records->Update();
    } catch (const DatabaseError& e) {
      problems.Report(records->Place(), std::string("record not updated: ") + e.what(), ErrorCode::kDatabase);
    }
    ++i;
  }
  auto failed = [&](const Where& place, const std::string& why) {
    problems.Report(place, "record not updated: " + why, ErrorCode::kDatabase);
  };
  // A numbering that follows walks the same records: what the merge left
  // pending is sent with it, so a record both change is written once.
  if (!after) records->Flush(failed);
  ReportUnmatched(target, key, i, last, problems);
  if (const auto& cuts = editor.cuts(); cuts.count > 0) {
    // Placed on the first record cut, which the message names too.
    problems.Note(Where::Record(std::string(target.table), cuts.key),
                  std::to_string(cuts.count) + (cuts.count == 1 ? " text was" : " texts were") +
                      " cut to the characters their field takes; the first, \"" + cuts.field + "\" of " + cuts.key +
                      ": \"" + cuts.whole + "\" is written as \"" + cuts.written + "\"", "text-cut");
  }
  if (after) {
    after(*records);
    records->Flush(failed);
  }
}

}  // namespace kvr
