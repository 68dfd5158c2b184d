#include "tables/named_tables.h"

#include "base/problems.h"
#include "base/utf8.h"
#include "tables/column_rule.h"
#include "tables/label_table_writer.h"
#include "tables/switcher_tables.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {
namespace {

// The fields of the five opto and relay slots of a remote-control set.
constexpr const char* kOptoFields[] = {"Opto1", "Opto2", "Opto3", "Opto4", "Opto5"};
constexpr const char* kRelayFields[] = {"Relay1", "Relay2", "Relay3", "Relay4", "Relay5"};

// Scans a sheet without a count into a fixed table; a qualifying row past the
// table's end is reported and stores nothing.
// `cells` is told which record each row fills, by `noun` and number.
template <typename Table, typename Fill>
void ScanIntoTable(const SheetGrid& grid, Table& table, CellReader& cells, std::string_view noun, Problems& problems,
                   Fill fill) {
  RowsBeyondTable beyond(grid, table.size());
  ChannelRowScan(grid, ScanLimit::kNoCount, 0, problems, [&](int k, int r) {
    if (static_cast<std::size_t>(k) >= table.size()) {
      beyond.Add(r, k);
      return;
    }
    cells.SetSubject(std::string(noun) + " " + std::to_string(k + 1));
    fill(table[static_cast<std::size_t>(k)], k, r);
  });
  beyond.Report(problems);
}

// Locations and console names share one shape: a number, a name ("Label")
// and a note ("Notes").
template <typename Entry, std::size_t N>
void ReadNames(const SheetGrid& grid, std::array<Entry, N>& table, const TableSpec& spec,
               std::int16_t Entry::*number, std::string Entry::*label, std::string Entry::*notes,
               std::string_view noun, Problems& problems) {
  const auto columns = FieldColumns(grid, spec, problems);
  CellReader cells(grid, problems);
  ScanIntoTable(grid, table, cells, noun, problems, [&](Entry& e, int k, int r) {
    e.*number = static_cast<std::int16_t>(k + 1);
    for (int c = 2; c <= grid.columns(); ++c) {
      const int field = columns[static_cast<std::size_t>(c)];
      if (field == FieldIndex(spec, "Label")) cells.TextInto(r, c, e.*label, "Label");
      else if (field == FieldIndex(spec, "Notes")) cells.TextInto(r, c, e.*notes, "Notes");
    }
  });
}

// Their database step: the name cut to 16 characters, neither text written when blank.
template <typename Entry, std::size_t N>
void WriteNames(SwitcherDatabase& database, const TableSpec& spec, const std::array<Entry, N>& table,
                std::int16_t Entry::*number, std::string Entry::*label, std::string Entry::*notes,
                Problems& problems) {
  LabelTableWriter(
      database, {spec.name, spec.key, std::nullopt, static_cast<int>(table.size()), &spec},
      [&](int i) { return table[static_cast<std::size_t>(i)].*number; },
      [&](int i, RecordEditor& rec) {
        const Entry& e = table[static_cast<std::size_t>(i)];
        rec.SetShortText("Label", e.*label, spec.label_chars, true);
        rec.SetTextUnlessBlank("Notes", e.*notes);
      },
      problems);
}

}  // namespace

void ReadLocationSheet(const SheetGrid& grid, LocationTable& table, Problems& problems) {
  ReadNames(grid, table, kLocationAlphas, &LocationEntry::locationNumber, &LocationEntry::locationLabel,
            &LocationEntry::locationNotes, "location", problems);
}

void ReadConsoleNameSheet(const SheetGrid& grid, ConsoleNameTable& table, Problems& problems) {
  ReadNames(grid, table, kConsoleAlphas, &ConsoleNameEntry::consoleNumber, &ConsoleNameEntry::consoleLabel,
            &ConsoleNameEntry::consoleNotes, "console", problems);
}

void ReadRemoteControlSheet(const SheetGrid& grid, RcSetTable& table, Problems& problems) {
  enum Keyword { kSetName, kOpto, kRelay, kNotes };
  const auto columns = MatchHeaderColumns(grid, {"Set Name", "Opto", "Relay", "Notes"}, problems, {{kOpto, kRelay}, {}});
  // The slot of an "Opto"/"Relay" column: Val of the one character at
  // position 6 or 7 of its header, minus 1; outside 0..4 it stores nothing.
  std::vector<int> slot(columns.size(), -1);
  int filled_by[2][5] = {};  // per kind and slot, the column that fills it
  for (int c = 2; c <= grid.columns(); ++c) {
    const int keyword = columns[static_cast<std::size_t>(c)];
    if (keyword != kOpto && keyword != kRelay) continue;
    const std::string header = CellText(grid, 1, c).value_or("");
    const std::size_t position = keyword == kOpto ? 5 : 6;  // 0-based
    const std::string_view before = Utf8Prefix(header, position);
    const std::string_view ch = Utf8Prefix(std::string_view(header).substr(before.size()), 1);
    const int s = static_cast<int>(Val(ch)) - 1;
    slot[static_cast<std::size_t>(c)] = s;
    const char* kind = keyword == kOpto ? "Opto" : "Relay";
    if (s < 0 || s > 4) {
      // The slot digit the heading probably meant: the first digit 1 to 5 after the keyword.
      const std::string rest = header.substr(std::string_view(kind).size());
      const std::size_t digit = rest.find_first_of("12345");
      std::string message = "the heading \"" + header + "\" names no " + Lower(kind) + " slot (the slot is the " +
                            "character after \"" + kind + "\" and one separator, 1 to 5), so its column is not read";
      if (digit != std::string::npos) message += std::string("; \"") + kind + " " + rest[digit] + "\" is probably meant";
      problems.Note(grid.At(1, c), std::move(message), "rc-heading-no-slot");
      continue;
    }
    int& before_column = filled_by[keyword == kOpto ? 0 : 1][s];
    if (before_column != 0) {
      problems.Note(grid.At(1, c), "the heading \"" + header + "\" fills " + Lower(kind) + " slot " +
                                       std::to_string(s + 1) + " as \"" + CellText(grid, 1, before_column).value_or("") +
                                       "\" in " + grid.CellName(1, before_column) +
                                       " does; this later column's values are the ones stored", "rc-slot-repeated");
    }
    before_column = c;
  }
  CellReader cells(grid, problems);
  ScanIntoTable(grid, table, cells, "set", problems, [&](RcSetEntry& e, int k, int r) {
    e.setNumber = static_cast<std::int16_t>(k + 1);
    for (int c = 2; c <= grid.columns(); ++c) {
      const int keyword = columns[static_cast<std::size_t>(c)];
      const int s = slot[static_cast<std::size_t>(c)];
      switch (keyword) {
        case kSetName: cells.TextInto(r, c, e.setLabel, "Label"); break;
        case kOpto:
          if (s >= 0 && s < 5) {
            cells.IndexInto(r, c, e.setOptos[static_cast<std::size_t>(s)], kOptoFields[s],
                            PointsTo(kOptoRelaySets, kOptoFields[s]));
          }
          break;
        case kRelay:
          if (s >= 0 && s < 5) {
            cells.IndexInto(r, c, e.setRelays[static_cast<std::size_t>(s)], kRelayFields[s],
                            PointsTo(kOptoRelaySets, kRelayFields[s]));
          }
          break;
        case kNotes: cells.TextInto(r, c, e.setNotes, "Notes"); break;
        default: break;
      }
    }
  });
}

void WriteLocationAlphas(SwitcherDatabase& database, const LocationTable& table, Problems& problems) {
  WriteNames(database, kLocationAlphas, table, &LocationEntry::locationNumber, &LocationEntry::locationLabel,
             &LocationEntry::locationNotes, problems);
}

void WriteConsoleAlphas(SwitcherDatabase& database, const ConsoleNameTable& table, Problems& problems) {
  WriteNames(database, kConsoleAlphas, table, &ConsoleNameEntry::consoleNumber, &ConsoleNameEntry::consoleLabel,
             &ConsoleNameEntry::consoleNotes, problems);
}

void WriteOptoRelaySets(SwitcherDatabase& database, const RcSetTable& table, Problems& problems) {
  LabelTableWriter(
      database, {kOptoRelaySets.name, kOptoRelaySets.key, std::nullopt, static_cast<int>(table.size()), &kOptoRelaySets},
      [&](int i) { return table[static_cast<std::size_t>(i)].setNumber; },
      [&](int i, RecordEditor& rec) {
        const RcSetEntry& e = table[static_cast<std::size_t>(i)];
        rec.SetShortText("Label", e.setLabel, 8, true);
        for (std::size_t k = 0; k < 5; ++k) {
          rec.SetNumber(kOptoFields[k], e.setOptos[k]);
          rec.SetNumber(kRelayFields[k], e.setRelays[k]);
        }
        rec.SetTextUnlessBlank("Notes", e.setNotes);
      },
      problems);
}

}  // namespace kvr
