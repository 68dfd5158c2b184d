#include "workbook/channel_row_scan.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "base/nearest.h"
#include "base/problems.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"

namespace kvr {

namespace {

// Rows the scan passed over, from the first with anything in column 1 after
// the last row it took; what matters is whether any of them is numbered.
class PassedRows {
 public:
  explicit PassedRows(const SheetGrid& grid) : grid_(grid) {}

  void Passed(int row, std::optional<std::int16_t> number) {
    const Cell cell = grid_.at(row, 1);
    if (first_ == 0) {
      if (cell.kind == CellKind::kEmpty) return;
      first_ = row;
    }
    // Numbered: a number, or text that reads as one without doubt.
    if (!number || *number == 0 || (cell.kind != CellKind::kNumber && NumberReadingDoubt(grid_, row, 1))) return;
    if (first_number_ == 0) first_number_ = *number;
    last_number_ = *number;
    last_ = row;
  }

  // Notices the gap, if it holds a numbered row, and starts anew. `awaited`
  // is the number the scan waited for; `resumed_at` the row that carried
  // it, or 0 when none did.
  void End(int awaited, int resumed_at, Problems& problems) {
    if (last_ != 0) {
      std::string message = Rows() + " passed over while the scan waited for number " + std::to_string(awaited);
      const auto first = CellText(grid_, first_, 1).value_or("");
      if (first_number_ != CellNumber(grid_, first_, 1).value_or(0) || first != std::to_string(first_number_)) {
        message += " (" + grid_.CellName(first_, 1) + " holds " + (first.empty() ? "nothing" : "\"" + first + "\"") + ")";
      }
      if (resumed_at != 0) {
        message += ", which came in row " + std::to_string(Row(resumed_at)) + "; nothing of them was read";
      } else {
        message += ", which never came: nothing of them was read, and no record from number " +
                   std::to_string(awaited) + " on is written";
      }
      problems.Note(grid_.Span(first_, 1, last_, 1), std::move(message), "rows-passed-over");
    }
    first_ = last_ = first_number_ = last_number_ = 0;
  }

  // Notices numbered rows after a scan that stopped in `stop_row` at its
  // count, `last` being the number read there.
  void EndPastCount(int stop_row, int last, std::string_view count_key, Problems& problems) {
    if (last_ == 0) return;
    std::string key = count_key.empty() ? std::string("the count") : "\"" + std::string(count_key) + "\"";
    problems.Note(grid_.Span(first_, 1, last_, 1),
                  Rows() + " never read: " + key + " on the System sheet is " + std::to_string(last - 1) +
                      ", so the scan stopped after number " + std::to_string(last) + " in row " +
                      std::to_string(Row(stop_row)), "rows-past-count");
  }

  static std::string Range(int a, int b) { return a == b ? std::to_string(a) : std::to_string(a) + " to " + std::to_string(b); }

  // "rows 10 to 193 (numbered 10 to 192) were", "row 4 (numbered 2) was".
  std::string Rows() const {
    const bool one = first_ == last_;
    return (one ? "row " : "rows ") + Range(Row(first_), Row(last_)) + " (numbered " +
           Range(first_number_, last_number_) + (one ? ") was" : ") were");
  }

 private:
  int Row(int grid_row) const { return grid_.first_row() + grid_row - 1; }  // as the sheet numbers it

  const SheetGrid& grid_;
  int first_ = 0, last_ = 0, first_number_ = 0, last_number_ = 0;
};


// The sheet's row number of grid row `row`.
int SheetRow(const SheetGrid& grid, int row) { return grid.first_row() + row - 1; }

// True when the row holds values past column 1: at least two, so that a
// lone remark between blocks of channels does not count.
bool HoldsValues(const SheetGrid& grid, int row) {
  const SheetGrid::Quiet quiet(grid);
  int values = 0;
  for (int c = 2; c <= grid.columns() && values < 2; ++c) values += grid.at(row, c).kind != CellKind::kEmpty;
  return values >= 2;
}

// Rows with values but nothing in column 1, met between rows the scan
// took: noticed once the scan takes a row again (rows after the last
// record are a sheet's own remarks).
class UnnumberedRows {
 public:
  explicit UnnumberedRows(const SheetGrid& grid) : grid_(grid) {}
  void Passed(int row) {
    if (grid_.at(row, 1).kind != CellKind::kEmpty || !HoldsValues(grid_, row)) return;
    if (!rows_.empty() && rows_.back().second == row - 1) rows_.back().second = row;
    else rows_.emplace_back(row, row);
  }
  void Taken(Problems& problems) {
    for (const auto& [first, last] : rows_) {
      const bool one = first == last;
      problems.Note(grid_.Span(first, 1, last, 1),
                    (one ? "row " + std::to_string(SheetRow(grid_, first)) + " holds"
                         : "rows " + std::to_string(SheetRow(grid_, first)) + " to " +
                               std::to_string(SheetRow(grid_, last)) + " hold") +
                        " values but no number in column " + ColumnLetters(grid_.first_column()) +
                        ", so " + (one ? "it is" : "they are") + " passed over and nothing of " +
                        (one ? "it" : "them") + " is read", "row-without-number");
    }
    rows_.clear();
  }
  void Clear() { rows_.clear(); }

 private:
  const SheetGrid& grid_;
  std::vector<std::pair<int, int>> rows_;
};

// A row numbered 0 just before the row numbered 1: the sheet probably
// counts from 0, and every row lands one number below the one meant.
bool NumberedZero(const SheetGrid& grid, int row) {
  const Cell cell = grid.at(row, 1);
  if (cell.kind == CellKind::kNumber) return cell.number == 0;
  return cell.kind == CellKind::kText && cell.text.find_first_not_of(' ') != std::string_view::npos &&
         cell.text.substr(cell.text.find_first_not_of(' ')).starts_with('0') &&
         CellNumber(grid, row, 1).value_or(1) == 0 && !NumberReadingDoubt(grid, row, 1);
}

}  // namespace

void ChannelRowScan(const SheetGrid& grid, ScanLimit limit, int count, Problems& problems,
                    const std::function<void(int index, int row)>& take, std::string_view count_key) {
  CellReader cells(grid, problems);
  PassedRows passed(grid);
  UnnumberedRows unnumbered(grid);
  RowsBeyondTable beyond(grid, static_cast<std::size_t>(std::max(count + 1, 0)), CountCause(count_key, count));
  int counter = 0;
  int zero_row = 0;  // the last row numbered 0 before the first record
  int r = 1;
  for (; r <= grid.rows(); ++r) {
    // An empty or plain-text first cell reads as 0 or as its leading number
    // without complaint; only an unreadable one is reported.
    const auto number = cells.Number(r, 1, "channel number", "row passed over");
    if (!number || *number != counter + 1) {
      passed.Passed(r, number);
      if (counter > 0) unnumbered.Passed(r);
      if (counter == 0 && NumberedZero(grid, r)) zero_row = r;
      else if (counter == 0 && grid.at(r, 1).kind != CellKind::kEmpty) zero_row = 0;
      continue;
    }
    if (counter == 0 && zero_row != 0) {
      problems.Note(grid.At(zero_row, 1),
                    "row " + std::to_string(SheetRow(grid, zero_row)) + " is numbered 0, but numbers count from 1, "
                    "so it is passed over and nothing of it is read; if the sheet counts from 0, every later row "
                    "reaches the record one below the one meant (row " + std::to_string(SheetRow(grid, r)) +
                    ", numbered 1, is the first record)", "numbered-from-zero");
    }
    unnumbered.Taken(problems);
    passed.End(counter + 1, r, problems);
    if (limit != ScanLimit::kIgnorePastCount || counter <= count) take(counter, r);
    else beyond.Add(r, counter);
    ++counter;
    if (limit == ScanLimit::kStopAfterCount && counter > count) break;
  }
  beyond.Report(problems);
  if (r <= grid.rows()) {  // stopped at its count: numbered rows after it are never read
    PassedRows rest(grid);
    for (int row = r + 1; row <= grid.rows(); ++row) rest.Passed(row, CellNumber(grid, row, 1));
    rest.EndPastCount(r, counter, count_key, problems);
  } else {
    passed.End(counter + 1, 0, problems);
  }
}

void RowsBeyondTable::Add(int row, int index) {
  if (first_row_ == 0) {
    first_row_ = row;
    first_index_ = index;
  }
  last_row_ = row;
  last_index_ = index;
}

void RowsBeyondTable::Report(Problems& problems) {
  if (first_row_ == 0) return;
  const bool one = first_row_ == last_row_;
  const std::string entries = std::to_string(entries_) + (entries_ == 1 ? " entry" : " entries");
  const std::string cause = why_.empty() ? "the table holds " + entries : why_ + ", so the table holds " + entries;
  const std::string rows =
      one ? "row " + std::to_string(SheetRow(grid_, first_row_)) + " (numbered " + std::to_string(first_index_ + 1) + ") lies"
          : "rows " + std::to_string(SheetRow(grid_, first_row_)) + " to " + std::to_string(SheetRow(grid_, last_row_)) +
                " (numbered " + std::to_string(first_index_ + 1) + " to " + std::to_string(last_index_ + 1) + ") lie";
  problems.Report(grid_.Span(first_row_, 1, last_row_, 1),
                  cause + ": " + rows + " beyond it, and nothing of " + (one ? "it" : "them") + " is stored",
                  ErrorCode::kSubscriptOutOfRange, "rows-beyond-table");
  first_row_ = 0;
}

std::string CountCause(std::string_view count_key, int count) {
  if (count_key.empty()) return {};
  return "\"" + std::string(count_key) + "\" on the System sheet is " + std::to_string(count);
}

namespace {

// True when `a` and `b` differ only in digits: "Meter #6" and "Meter #1"
// name different things, and neither is a slip of the other.
bool DifferOnlyInDigits(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a == b) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !(std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[i])))) {
      return false;
    }
  }
  return true;
}

std::string Digits(std::string_view s) {
  std::string digits;
  for (const char c : s) {
    if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
  }
  return digits;
}

}  // namespace

std::optional<std::string_view> KeywordMeant(std::string_view heading, const std::vector<std::string_view>& keywords) {
  const std::string h = Folded(heading);
  if (h.empty()) return std::nullopt;
  std::optional<std::string_view> best;
  // 0: one begins the other once case and blanks are set aside (the longest
  // such keyword is the most specific); 1: one holds the other; 2: a slip of
  // a key or two.
  std::size_t best_score = 3, best_length = 0;
  for (const std::string_view keyword : keywords) {
    const std::string k = Folded(keyword);
    if (DifferOnlyInDigits(h.substr(0, k.size()), k)) continue;
    std::size_t score = 3;
    if (h.rfind(k, 0) == 0 || (h.size() >= 4 && k.rfind(h, 0) == 0)) score = 0;
    else if ((h.size() >= 4 && k.find(h) != std::string::npos) || h.find(k) != std::string::npos) score = 1;
    else if (EditDistance(h.substr(0, k.size()), k) <= (k.size() >= 6 ? 2u : 1u) &&
             Digits(h.substr(0, k.size())) == Digits(k)) {
      score = 2;  // a slip, but never one that changes a number
    }
    if (score < best_score || (score == best_score && score == 0 && k.size() > best_length)) {
      best_score = score;
      best_length = k.size();
      best = keyword;
    }
  }
  return best;
}

namespace {

// How many columns of `row` (from column 2) begin with a keyword.
int KeywordColumns(const SheetGrid& grid, int row, const std::vector<std::string_view>& keywords) {
  const SheetGrid::Quiet quiet(grid);
  int found = 0;
  for (int c = 2; c <= grid.columns(); ++c) {
    const std::string h = CellText(grid, row, c).value_or("");
    found += std::any_of(keywords.begin(), keywords.end(), [&](std::string_view k) { return HeaderMatches(h, k); });
  }
  return found;
}

// Headings one or a few rows down, under a title row: row 1 matches no
// keyword while a row below it matches two or more. The row, or 0.
int HeadingsBelow(const SheetGrid& grid, const std::vector<std::string_view>& keywords) {
  if (KeywordColumns(grid, 1, keywords) > 0) return 0;
  for (int r = 2; r <= std::min(grid.rows(), 5); ++r) {
    if (KeywordColumns(grid, r, keywords) >= std::min<int>(2, static_cast<int>(keywords.size()))) return r;
  }
  return 0;
}

// True when the heading's first word, of three letters or more, is the
// first word of a keyword: "Meter #6" beside "Meter #1" to "Meter #5".
bool SharesFirstWord(std::string_view heading, const std::vector<std::string_view>& keywords) {
  auto first_word = [](std::string_view text) {
    std::string word;
    for (const char ch : text) {
      if (std::isalpha(static_cast<unsigned char>(ch))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      else if (!word.empty()) break;
    }
    return word;
  };
  const std::string h = first_word(heading);
  if (h.size() < 3) return false;
  return std::any_of(keywords.begin(), keywords.end(), [&](std::string_view k) { return first_word(k) == h; });
}

// Notes on the headings once matched: a heading that begins with no keyword
// (with the keyword probably meant, of those no other column fills: one that
// has a column already would only be a second column of the same field),
// and a later column of a field an earlier column fills.
void NoteHeadings(const SheetGrid& grid, const std::vector<std::string_view>& keywords, const KeywordFields& fields,
                  const std::vector<std::optional<std::string>>& headers, const std::vector<int>& match,
                  Problems& problems) {
  auto repeatable = [&](int k) {
    return std::find(fields.repeatable.begin(), fields.repeatable.end(), k) != fields.repeatable.end();
  };
  std::vector<std::string_view> free_keywords;
  for (std::size_t k = 0; k < keywords.size(); ++k) {
    if (repeatable(static_cast<int>(k)) || std::find(match.begin(), match.end(), static_cast<int>(k)) == match.end()) {
      free_keywords.push_back(keywords[k]);
    }
  }
  // The field each keyword fills, named by its first keyword; the column that filled it last.
  std::vector<int> field(keywords.size());
  for (std::size_t k = 0; k < keywords.size(); ++k) field[k] = static_cast<int>(k);
  for (const auto& [first, second] : fields.same_field) field[static_cast<std::size_t>(second)] = first;
  std::vector<int> filled_by(keywords.size(), 0);
  for (int c = 2; c <= grid.columns(); ++c) {
    const auto& header = headers[static_cast<std::size_t>(c)];
    if (!header) continue;
    const int k = match[static_cast<std::size_t>(c)];
    if (k < 0) {
      if (header->find_first_not_of(" \t\n") == std::string::npos) continue;
      // A heading like no keyword is the engineer's own column ("Comment"):
      // the account of the sheet's cells lists it once the sheet is read.
      // One like a keyword is probably that keyword mistyped.
      const auto meant = KeywordMeant(*header, free_keywords);
      if (!meant && !SharesFirstWord(*header, keywords)) continue;
      std::string message = "the heading \"" + *header + "\" begins with no keyword of this sheet, so its column is not read";
      if (meant) message += "; \"" + std::string(*meant) + "\" is probably meant";
      problems.Note(grid.At(1, c), std::move(message), "heading-unknown");
      continue;
    }
    if (repeatable(k)) continue;
    int& before = filled_by[static_cast<std::size_t>(field[static_cast<std::size_t>(k)])];
    if (before != 0) {
      const int k_before = match[static_cast<std::size_t>(before)];
      const std::string earlier = "\"" + CellText(grid, 1, before).value_or("") + "\" in " + grid.CellName(1, before);
      problems.Note(grid.At(1, c),
                    "the heading \"" + *header + "\" " +
                        (k_before == k ? "is read as \"" + std::string(keywords[static_cast<std::size_t>(k)]) + "\", as " +
                                             earlier + " is"
                                       : "fills the same field as " + earlier) +
                        "; this later column's values are the ones stored", "heading-repeats-field");
    }
    before = c;
  }
}

}  // namespace

std::vector<int> MatchHeaderColumns(const SheetGrid& grid, const std::vector<std::string_view>& keywords,
                                    Problems& problems, const KeywordFields& fields) {
  CellReader cells(grid, problems);
  std::vector<int> match(static_cast<std::size_t>(grid.columns()) + 1, -1);
  if (const int below = HeadingsBelow(grid, keywords); below != 0) {
    const std::string title = CellText(grid, 1, 1).value_or("");
    problems.Note(grid.Span(1, 1, 1, grid.columns()),
                  "the headings stand in row " + std::to_string(grid.first_row() + below - 1) +
                      ", but they are read from the first row, row " + std::to_string(grid.first_row()) +
                      (title.empty() ? std::string() : " (\"" + title + "\")") +
                      ", which names no column: no column of this sheet is read", "headings-below-title");
    grid.MarkRead(1, 2, grid.rows(), grid.columns());  // said of them all above
    return match;
  }
  std::vector<std::optional<std::string>> headers(static_cast<std::size_t>(grid.columns()) + 1);
  for (int c = 2; c <= grid.columns(); ++c) {
    headers[static_cast<std::size_t>(c)] = cells.Text(1, c, "header", "column ignored");
    if (!headers[static_cast<std::size_t>(c)]) continue;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
      if (HeaderMatches(*headers[static_cast<std::size_t>(c)], keywords[k])) {
        match[static_cast<std::size_t>(c)] = static_cast<int>(k);
        break;
      }
    }
  }
  NoteHeadings(grid, keywords, fields, headers, match, problems);
  return match;
}

std::vector<int> MatchHeaderColumns(const SheetGrid& grid, std::initializer_list<std::string_view> keywords,
                                    Problems& problems, const KeywordFields& fields) {
  return MatchHeaderColumns(grid, std::vector<std::string_view>(keywords), problems, fields);
}

}  // namespace kvr
