#include "workbook/cell_reader.h"

#include <cctype>

#include "base/problems.h"
#include "workbook/cell_convert.h"

namespace kvr {
namespace {

// A consequence or outcome given as text.
struct Given {
  std::string_view text;
  std::string operator()() const { return std::string(text); }
};

}  // namespace

std::string IndexText(std::int16_t index, std::string_view points_to) {
  if (index == NoIndex) return std::to_string(index) + " (none)";
  if (points_to.empty() || index < 0) return std::to_string(index);
  return std::to_string(index) + " (" + std::string(points_to) + " " + std::to_string(index + 1) + ")";
}

std::string CellReader::Heading(int row, int column) const {
  if (headings_ == Headings::kNone || headings_ == Headings::kModules) return {};
  const bool row1 = headings_ == Headings::kRow1;
  if (row1 ? row == 1 : column == 1) return {};
  return CellText(grid_, row1 ? 1 : row, row1 ? column : 1).value_or("");
}

std::string CellReader::Described(int row, int column, const std::string& value, const std::string& what) const {
  std::string out = value;
  if (headings_ == Headings::kModules && row > 1 && column > 1) {
    // "in the row "Device ID:" under module 2": what the engineer sees there.
    std::string label = CellText(grid_, row, 1).value_or("");
    label.erase(0, label.find_first_not_of(' '));
    label.erase(label.find_last_not_of(' ') + 1);
    // An assignment row is named by its number in what the subject says.
    if (!label.empty() && !std::isdigit(static_cast<unsigned char>(label.front()))) out += " in the row \"" + label + "\"";
    const std::string module = CellText(grid_, 1, column).value_or("");
    if (!module.empty() && column > 2) out += " under module " + module;
    if (!what.empty()) out += " " + what;
    return out;
  }
  const std::string heading = Heading(row, column);
  if (heading.find_first_not_of(' ') != std::string::npos) out += " under \"" + heading + "\"";
  if (!what.empty()) out += " " + what;
  return out;
}

std::string CellReader::Outcome(std::string_view field, const std::string& value) {
  if (subject_.empty()) return "\"" + std::string(field) + "\" stays " + value;
  std::string said = std::string(field) + " of " + subject_ + " is written as " + value;
  pending_.emplace(std::string(field), said);
  return said;
}

void CellReader::KeepClaim(int row, int column) {
  if (!pending_) return;
  if (const auto entry = problems_.LastStored()) {
    problems_.Claim(*entry, subject_, pending_->first, pending_->second);
    claims_.push_back({*entry, row, column, std::move(pending_->first), std::move(pending_->second)});
  }
  pending_.reset();
}

void CellReader::EndRow(const FinalRule& rule) {
  for (const Claim& claim : claims_) {
    // A later column of the row that stored the same field decides it.
    int later = 0;
    for (const auto& [column, field] : stored_) {
      if (column > claim.column && field == claim.field) later = column;
    }
    if (later != 0) {
      const std::string heading = Heading(claim.row, later);
      problems_.Amend(claim.entry, claim.said,
                      claim.said.substr(0, claim.said.find(" is written as ")) +
                          " is not written from this cell: the later column" +
                          (heading.empty() ? std::string() : " \"" + heading + "\"") + " in " +
                          ColumnLetters(grid_.first_column() + later - 1) + " decides it");
      continue;
    }
    if (!rule) continue;
    if (const auto final = rule(claim.field)) {
      const std::string head = claim.said.substr(0, claim.said.find(" is written as ") + 15);
      if (claim.said != head + final->first) {
        problems_.Amend(claim.entry, claim.said, head + final->first + " (" + final->second + ")");
      }
    }
  }
  claims_.clear();
  stored_.clear();
  pending_.reset();
}

void CellReader::Report(int row, int column, const std::string& value, const std::string& what,
                        std::string_view field, std::string_view consequence, ErrorCode code) {
  std::string message = Described(row, column, value, what) + "; ";
  if (consequence.empty()) message += "\"" + std::string(field) + "\" left unchanged";
  else message += consequence;
  problems_.Report(grid_.At(row, column), std::move(message), code);
  KeepClaim(row, column);
}

void CellReader::NoteDoubtAs(int row, int column, const NumberDoubt& doubt, const std::string& outcome) {
  problems_.Note(grid_.At(row, column), Described(row, column, doubt.value, doubt.what) + ": " + outcome, "number-doubt");
  KeepClaim(row, column);
}

template <typename Consequence>
std::optional<std::string> CellReader::TextOr(int row, int column, std::string_view field,
                                              const Consequence& consequence) {
  auto text = CellText(grid_, row, column);
  if (!text) {
    Report(row, column, "the error value " + std::string(grid_.at(row, column).text), "", field, consequence(),
           ErrorCode::kTypeMismatch);
  }
  return text;
}

// A number read; when it fails, the cell holds an error value or a number
// outside the field's range, and the report says which.
template <typename T, typename Convert, typename Consequence>
std::optional<T> CellReader::Converted(int row, int column, std::string_view field, const Consequence& consequence,
                                       Convert convert, const char* range) {
  const std::optional<T> v = convert(grid_, row, column);
  if (v) return v;
  if (const auto text = TextOr(row, column, field, consequence)) {
    Report(row, column, *text, std::string("does not fit ") + range, field, consequence(), ErrorCode::kOverflow);
  }
  return v;
}

template <typename Consequence>
std::optional<std::int16_t> CellReader::IndexOr(int row, int column, std::string_view field,
                                                const Consequence& consequence) {
  const auto v = Converted<std::int16_t>(row, column, field, consequence, CellNumber, "a 16-bit number");
  if (!v) return std::nullopt;
  const auto index = ToTableIndex(*v);
  if (!index) {
    // Quoted as the cell shows it ("-32767.5"), not as the number it rounds to.
    Report(row, column, CellText(grid_, row, column).value_or(std::to_string(*v)), "gives no 16-bit table index", field,
           consequence(), ErrorCode::kOverflow);
  }
  return index;
}

std::optional<std::string> CellReader::Text(int row, int column, std::string_view field,
                                            std::string_view consequence) {
  return TextOr(row, column, field, Given{consequence});
}

std::optional<std::int16_t> CellReader::Number(int row, int column, std::string_view field,
                                               std::string_view consequence) {
  return Converted<std::int16_t>(row, column, field, Given{consequence}, CellNumber, "a 16-bit number");
}

namespace {

// What a text holds that the eye does not see where the sheet shows it: a
// blank at either edge, a tab or line break, a no-break, zero-width or
// other special space. "" when nothing.
std::string Unseen(std::string_view text) {
  if (text.empty()) return {};
  static constexpr std::pair<std::string_view, const char*> kSpecial[] = {
      {"\xC2\xA0", "a no-break space (U+00A0)"},      {"\xE2\x80\x8B", "a zero-width space (U+200B)"},
      {"\xE2\x80\xAF", "a narrow no-break space (U+202F)"}, {"\xEF\xBB\xBF", "a byte-order mark (U+FEFF)"},
      {"\xE2\x80\x8C", "a zero-width non-joiner (U+200C)"}, {"\xE2\x80\x8D", "a zero-width joiner (U+200D)"},
      {"\t", "a tab"}, {"\n", "a line break"}, {"\r", "a line break"}};
  for (const auto& [bytes, what] : kSpecial) {
    if (text.find(bytes) != std::string_view::npos) return what;
  }
  if (text.front() == ' ' && text.back() == ' ' && text.find_first_not_of(' ') != std::string_view::npos) {
    return "blanks at its start and end";
  }
  if (text.front() == ' ') return "a blank at its start";
  if (text.back() == ' ') return "a blank at its end";
  return {};
}

}  // namespace

void CellReader::TextInto(int row, int column, std::string& field, std::string_view field_name) {
  auto kept = [&] {
    if (!field.empty()) return Outcome(field_name, "\"" + field + "\"");
    if (subject_.empty()) return "\"" + std::string(field_name) + "\" stays empty";
    return "nothing of it reaches " + std::string(field_name) + " of " + subject_;
  };
  if (auto v = TextOr(row, column, field_name, kept)) {
    field = std::move(*v);
    Stored(column, field_name);
    if (const std::string unseen = Unseen(field); !unseen.empty() && field.find_first_not_of(' ') != std::string::npos) {
      problems_.Note(grid_.At(row, column),
                     Described(row, column, "\"" + field + "\"", "holds " + unseen + ", which the sheet does not show") +
                         "; " + Outcome(field_name, "\"" + field + "\""),
                     "text-unseen");
      KeepClaim(row, column);
    }
  }
}

void CellReader::NumberInto(int row, int column, std::int16_t& field, std::string_view field_name,
                            Transform stored) {
  const auto v = Converted<std::int16_t>(row, column, field_name, [&] { return Outcome(field_name, std::to_string(field)); },
                                         CellNumber, "a 16-bit number");
  if (!v) return;
  field = stored != nullptr ? stored(*v) : *v;
  Stored(column, field_name);
  NoteDoubt(row, column, [&] {
    return "it reads as " + std::to_string(*v) + (field == *v ? "" : ", stored as " + std::to_string(field)) + "; " +
           Outcome(field_name, std::to_string(field));
  });
}

void CellReader::ByteInto(int row, int column, std::uint8_t& field, std::string_view field_name) {
  const auto v = Converted<std::uint8_t>(row, column, field_name, [&] { return Outcome(field_name, std::to_string(field)); },
                                         CellByte, "a byte (0 to 255)");
  if (!v) return;
  field = *v;
  Stored(column, field_name);
  NoteDoubt(row, column, [&] { return "it reads as " + std::to_string(*v) + "; " + Outcome(field_name, std::to_string(field)); });
}

void CellReader::IndexInto(int row, int column, std::int16_t& field, std::string_view field_name,
                           std::string_view points_to) {
  const auto v = IndexOr(row, column, field_name, [&] { return Outcome(field_name, IndexText(field, points_to)); });
  if (!v) return;
  field = *v;
  Stored(column, field_name);
  NoteDoubt(row, column, [&] {
    return "it reads as " + std::to_string(CellNumber(grid_, row, column).value_or(0)) + "; " +
           Outcome(field_name, IndexText(field, points_to));
  });
  if (!points_to.empty() && field != NoIndex) {
    // Checked once the sheets that define what it points at are read.
    problems_.Refer(grid_.At(row, column), points_to, field + 1, [&] {
      const std::string written = IndexText(field, points_to);
      return Described(row, column, CellText(grid_, row, column).value_or(""), "") + "; " +
             (subject_.empty() ? "\"" + std::string(field_name) + "\" is " + written
                               : std::string(field_name) + " of " + subject_ + " is written as " + written);
    });
  }
}

}  // namespace kvr
