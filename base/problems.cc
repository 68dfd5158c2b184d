#include "base/problems.h"

#include <algorithm>


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

const char* TagOf(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOverflow: return "value-too-large";
    case ErrorCode::kSubscriptOutOfRange: return "out-of-range";
    case ErrorCode::kTypeMismatch: return "error-value";
    case ErrorCode::kFileNotFound: return "file-not-found";
    case ErrorCode::kFileAlreadyOpen: return "file-in-use";
    case ErrorCode::kDiskFull: return "disk-full";
    case ErrorCode::kPermissionDenied: return "permission-denied";
    case ErrorCode::kPathFileAccess: return "file-access";
    case ErrorCode::kInvalidFormat: return "invalid-format";
    case ErrorCode::kApplicationDefined: return "failed";
    case ErrorCode::kDatabase: return "database";
  }
  return "failed";
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
  for (const Notice& n : later.notices_) CarryOver(n, later.UnlistedAt(n));
  for (const Disclaimed& d : later.disclaimed_) {
    disclaimed_.push_back(d);
    PutRight(d);
  }
}

void Problems::AppendNewPlaces(const Problems& later) {
  std::set<std::string> known;
  for (const Problem& p : list_) known.insert(p.place());
  for (const Notice& n : notices_) known.insert(n.place());
  for (const Problem& p : later.list_) {
    if (known.count(p.place()) == 0) Report(p);
  }
  for (const Notice& n : later.notices_) {
    if (known.count(n.place()) == 0) CarryOver(n, later.UnlistedAt(n));
  }
}

void Problems::Report(Where where, std::string message, ErrorCode code, std::string tag) {
  error_text_ = ": Error #  " + std::to_string(static_cast<int>(code)) + " - " +
                ErrorDescription(code);
  if (tag.empty()) tag = TagOf(code);
  list_.push_back(Problem{std::move(where), std::move(message), code, std::move(tag)});
  last_ = EntryRef{false, list_.size() - 1};
}

void Problems::Amend(EntryRef entry, std::string_view part, std::string_view replacement) {
  std::vector<Problem>& entries = entry.notice ? notices_ : list_;
  if (entry.index >= entries.size()) return;
  std::string& message = entries[entry.index].message;
  const std::size_t at = message.find(part);
  if (at != std::string::npos) message.replace(at, part.size(), replacement);
}

void Problems::Note(Where where, std::string message, std::string tag) {
  NoticeCount& seen = notices_per_place_[GroupOf(where)];
  if (++seen.count > kNoticesPerPlace) {
    CountUnlisted(std::move(where), seen);
    return;
  }
  notices_.push_back(Notice{std::move(where), std::move(message), ErrorCode::kApplicationDefined, std::move(tag)});
  last_ = EntryRef{true, notices_.size() - 1};
}

std::size_t Problems::NoticesNotListings() const {
  return static_cast<std::size_t>(std::count_if(notices_.begin(), notices_.end(), [](const Notice& n) { return !IsListing(n); }));
}

std::string Problems::GroupOf(const Where& where) {
  return !where.sheet.empty() ? "sheet " + where.sheet : "table " + where.table + where.other;
}

// The notice that counts the unlisted ones of a place, made or brought up to date.
void Problems::CountUnlisted(Where where, NoticeCount& seen) {
  where.cells.clear();
  where.key.clear();
  const std::size_t more = seen.count - kNoticesPerPlace;
  std::string text = std::to_string(more) + " more " + (more == 1 ? "notice" : "notices") + " here, not listed";
  if (seen.summary == 0) {
    seen.summary = notices_.size() + 1;
    notices_.push_back(Notice{std::move(where), std::move(text), ErrorCode::kApplicationDefined, kUnlistedTag});
  } else {
    notices_[seen.summary - 1].message = std::move(text);
  }
  last_.reset();
}

void Problems::CarryOver(const Notice& n, std::size_t unlisted) {
  if (n.tag != kUnlistedTag) {
    Note(n.where, n.message, n.tag);
    return;
  }
  NoticeCount& seen = notices_per_place_[GroupOf(n.where)];
  seen.count = std::max(seen.count, kNoticesPerPlace) + unlisted;
  CountUnlisted(n.where, seen);
}

std::size_t Problems::UnlistedAt(const Notice& n) const {
  if (n.tag != kUnlistedTag) return 0;
  const auto it = notices_per_place_.find(GroupOf(n.where));
  return it == notices_per_place_.end() || it->second.count < kNoticesPerPlace ? 0 : it->second.count - kNoticesPerPlace;
}

std::vector<std::pair<std::string, std::size_t>> Problems::Unlisted() const {
  std::vector<std::pair<std::string, std::size_t>> unlisted;
  for (const auto& [group, seen] : notices_per_place_) {
    if (seen.summary != 0) unlisted.emplace_back(notices_[seen.summary - 1].place(), seen.count - kNoticesPerPlace);
  }
  return unlisted;
}

namespace {

// A notice's words with each run of digits as one '#', and without the
// closing "(8 values: D6, F6:G6)" that says where on its sheet: the key under
// which notices of many sheets are the same.
std::string DigitsFolded(std::string_view text) {
  if (const std::size_t open = text.rfind(" ("); open != std::string_view::npos && text.back() == ')' &&
                                                  open + 2 < text.size() &&
                                                  std::isdigit(static_cast<unsigned char>(text[open + 2]))) {
    text = text.substr(0, open);
  }
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      out += '#';
      while (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool Folds(const Notice& n) {
  static constexpr std::string_view kTags[] = {Problems::kNotReadTag, "cells-unread", "template-row-labelled"};
  return !n.where.sheet.empty() && std::find(std::begin(kTags), std::end(kTags), n.tag) != std::end(kTags);
}

}  // namespace

void Problems::Claim(EntryRef entry, std::string_view subject, std::string_view field, std::string said) {
  auto it = claims_.find(subject);
  if (it == claims_.end()) it = claims_.emplace(std::string(subject), std::vector<Claimed>{}).first;
  it->second.push_back({entry, std::string(field), std::move(said)});
}

void Problems::Disclaim(std::string subject, std::vector<std::string> fields, std::string why) {
  disclaimed_.push_back({std::move(subject), std::move(fields), std::move(why)});
  PutRight(disclaimed_.back());
}

void Problems::PutRight(const Disclaimed& d) {
  const auto it = claims_.find(d.subject);
  if (it == claims_.end()) return;
  for (const Claimed& c : it->second) {
    if (std::find(d.fields.begin(), d.fields.end(), c.field) == d.fields.end()) continue;
    Amend(c.entry, c.said, c.field + " of " + d.subject + " is not written: " + d.why);
  }
}

int Problems::ReferenceName(std::string_view name) {
  const auto it = reference_names_.find(name);
  if (it != reference_names_.end()) return it->second;
  const int number = static_cast<int>(reference_names_.size());
  reference_names_.emplace(std::string(name), number);
  return number;
}

void Problems::Refer(const Where& where, std::string_view noun, int number, const std::function<std::string()>& said) {
  const std::size_t seen = references_seen_++;
  if (known_defined_ && known_defined_(noun, number)) return;
  const std::uint64_t key = (static_cast<std::uint64_t>(ReferenceName(where.sheet)) << 44) |
                            (static_cast<std::uint64_t>(ReferenceName(noun)) << 32) | static_cast<std::uint32_t>(number);
  const auto [it, fresh] = reference_of_.try_emplace(key, references_.size());
  if (!fresh) {
    Reference& r = references_[it->second];
    r.last = where.cells;
    ++r.count;
    r.last_seen = seen;
    return;
  }
  references_.push_back(Reference{where, std::string(noun), number, said(), where.cells, 1, seen});
}

void Problems::CheckReferences(const Undefined& undefined) {
  const std::vector<Reference> references = std::move(references_);
  references_.clear();
  reference_of_.clear();
  reference_names_.clear();
  known_defined_ = nullptr;
  // One notice per sheet, kind of thing and reason: the first reference in
  // full, with how many more of the sheet have the same fault and where the
  // last stands (a count the System sheet gives wrong faults them all).
  struct Group {
    const Reference* first = nullptr;
    const Reference* last = nullptr;
    std::string why;
    std::size_t count = 0;
  };
  std::vector<Group> groups;
  std::map<std::string, std::size_t> group_of;
  for (const Reference& r : references) {  // in the order each thing was first pointed at
    auto why = undefined(r.noun, r.number);
    if (!why) continue;
    const std::string key = r.where.sheet + '\n' + r.noun + '\n' + *why;
    auto [it, fresh] = group_of.try_emplace(key, groups.size());
    if (fresh) groups.push_back({&r, &r, std::move(*why), 0});
    Group& g = groups[it->second];
    if (r.last_seen > g.last->last_seen) g.last = &r;
    g.count += r.count;
  }
  for (const Group& g : groups) {
    const Reference& r = *g.first;
    // "... points at location 7, which ...; Location of input 2 is written as 6 (location 7)"
    const std::size_t cut = r.said.find("; ");
    const std::string head = r.said.substr(0, cut), tail = cut == std::string::npos ? "" : r.said.substr(cut);
    std::string message = head + " points at " + r.noun + " " + std::to_string(r.number) + ", which " + g.why + tail;
    if (g.count > 1) {
      message += "; " + std::to_string(g.count - 1) + " more " + (g.count == 2 ? "cell" : "cells") +
                 " of this sheet point at " + r.noun + "s the workbook does not define either, the last at " +
                 g.last->last;
    }
    Note(r.where, std::move(message), "reference-undefined");
  }
}

void Problems::FoldAcrossSheets(std::size_t from) {
  struct Fold {
    std::size_t first;
    std::vector<std::string> sheets;  // the other sheets, in order
  };
  std::map<std::string, Fold> folds;
  std::vector<Notice> kept(notices_.begin(), notices_.begin() + static_cast<std::ptrdiff_t>(std::min(from, notices_.size())));
  std::vector<std::size_t> moved_to(notices_.size());  // each notice's index once folded
  for (std::size_t i = 0; i < kept.size(); ++i) moved_to[i] = i;
  for (std::size_t i = kept.size(); i < notices_.size(); ++i) {
    Notice& n = notices_[i];
    moved_to[i] = kept.size();
    if (!Folds(n)) {
      kept.push_back(std::move(n));
      continue;
    }
    const std::string key = n.tag + '\n' + DigitsFolded(n.message);
    auto [it, first] = folds.try_emplace(key, Fold{kept.size(), {}});
    moved_to[i] = it->second.first;
    if (first) kept.push_back(std::move(n));
    else if (kept[it->second.first].where.sheet != n.where.sheet) it->second.sheets.push_back(n.where.sheet);
  }
  for (auto& [subject, claims] : claims_) {
    for (Claimed& c : claims) {
      if (c.entry.notice && c.entry.index < moved_to.size()) c.entry.index = moved_to[c.entry.index];
    }
  }
  for (const auto& [key, fold] : folds) {
    const std::size_t more = fold.sheets.size();
    if (more == 0) continue;
    auto quoted = [](const std::string& sheet) { return "\"" + sheet + "\""; };
    std::string which = quoted(fold.sheets.front());
    if (more == 2) which += " and " + quoted(fold.sheets.back());
    if (more > 2) which += " to " + quoted(fold.sheets.back());
    kept[fold.first].message +=
        "; so too on " + std::to_string(more) + (more == 1 ? " more sheet (" : " more sheets (") + which + ")";
  }
  notices_ = std::move(kept);
  last_.reset();
}

void Problems::Clear() {
  list_.clear();
  notices_.clear();
  notices_per_place_.clear();
  claims_.clear();
  disclaimed_.clear();
  references_.clear();
  reference_of_.clear();
  reference_names_.clear();
  known_defined_ = nullptr;
  error_text_.clear();
  last_.reset();
}

}  // namespace kvr
