#include "base/problems.h"

#include <cctype>
#include <set>
#include <utility>

#include "base/utf8.h"

namespace kvr {

const char* ErrorDescription(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOverflow: return "Overflow";
    case ErrorCode::kSubscriptOutOfRange: return "Subscript out of range";
    case ErrorCode::kTypeMismatch: return "Type mismatch";
    case ErrorCode::kFileNotFound: return "File not found";
    case ErrorCode::kFileAlreadyOpen: return "File already open";
    case ErrorCode::kDiskFull: return "Disk full";
    case ErrorCode::kPermissionDenied: return "Permission denied";
    case ErrorCode::kPathFileAccess: return "Path/File access error";
    case ErrorCode::kInvalidFormat: return "Invalid file format";
    case ErrorCode::kApplicationDefined: return "Application-defined or object-defined error";
    case ErrorCode::kDatabase: return "Database error";
  }
  return "Unknown error";
}

Where Where::Sheet(std::string sheet, std::string cells) {
  Where w;
  w.sheet = std::move(sheet);
  w.cells = std::move(cells);
  return w;
}

Where Where::Record(std::string table, std::string key) {
  Where w;
  w.table = std::move(table);
  w.key = std::move(key);
  return w;
}

std::string Where::ToString() const {
  if (!table.empty()) return key.empty() ? table : table + ", " + key;
  if (sheet.empty()) return other;
  bool plain = true;
  for (char c : sheet) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '_' || c == '.' || u >= 0x80)) plain = false;
  }
  // A sheet alone is named as it is unless blanks at its ends would hide.
  if (cells.empty() && (sheet.front() != ' ' && sheet.back() != ' ')) return sheet;
  if (plain) return sheet + "!" + cells;
  std::string quoted = "'";
  for (char c : sheet) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  quoted += "'";
  return cells.empty() ? quoted : quoted + "!" + cells;
}

std::string Problem::ToString() const {
  const std::string at = place();
  if (at.empty()) return EscapeControls(message);
  return EscapeControls(at) + ": " + EscapeControls(message);
}

void Problems::Append(const Problems& later) {
  for (const Problem& p : later.list_) Report(p);
  for (const Notice& n : later.notices_) Note(n.where, n.message);
}

void Problems::AppendNewPlaces(const Problems& later) {
  std::set<std::string> known;
  for (const Problem& p : list_) known.insert(p.place());
  for (const Notice& n : notices_) known.insert(n.place());
  for (const Problem& p : later.list_) {
    if (known.count(p.place()) == 0) Report(p);
  }
  for (const Notice& n : later.notices_) {
    if (known.count(n.place()) == 0) Note(n.where, n.message);
  }
}

void Problems::Report(Where where, std::string message, ErrorCode code) {
  error_text_ = ": Error #  " + std::to_string(static_cast<int>(code)) + " - " +
                ErrorDescription(code);
  list_.push_back(Problem{std::move(where), std::move(message), code});
  last_ = EntryRef{false, list_.size() - 1};
}

void Problems::Amend(EntryRef entry, std::string_view part, std::string_view replacement) {
  std::vector<Problem>& entries = entry.notice ? notices_ : list_;
  if (entry.index >= entries.size()) return;
  std::string& message = entries[entry.index].message;
  const std::size_t at = message.find(part);
  if (at != std::string::npos) message.replace(at, part.size(), replacement);
}

void Problems::Note(Where where, std::string message) {
  const std::string group = !where.sheet.empty() ? "sheet " + where.sheet : "table " + where.table + where.other;
  NoticeCount& seen = notices_per_place_[group];
  ++seen.count;
  if (seen.count > kNoticesPerPlace) {
    Where whole = where;
    whole.cells.clear();
    whole.key.clear();
    const std::string more = std::to_string(seen.count - kNoticesPerPlace);
    std::string text = more + " more " + (seen.count - kNoticesPerPlace == 1 ? "notice" : "notices") + " here, not listed";
    if (seen.summary == 0) {
      seen.summary = notices_.size() + 1;
      notices_.push_back(Notice{std::move(whole), std::move(text), ErrorCode::kApplicationDefined});
    } else {
      notices_[seen.summary - 1].message = std::move(text);
    }
    last_.reset();
    return;
  }
  notices_.push_back(Notice{std::move(where), std::move(message), ErrorCode::kApplicationDefined});
  last_ = EntryRef{true, notices_.size() - 1};
}

void Problems::Clear() {
  list_.clear();
  notices_.clear();
  notices_per_place_.clear();
  error_text_.clear();
  last_.reset();
}

}  // namespace kvr
