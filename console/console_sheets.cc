#include "console/console_sheets.h"

#include <cmath>
#include <optional>
#include <vector>

#include "base/index.h"
#include "base/nearest.h"
#include "base/problems.h"
#include "base/round16.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {
namespace {

// The whole text is one decimal number ("3", "3.0", "+3"), as a numeric test
// would accept it; "3a", "3 (top)" and "" are not.
bool IsWholeNumber(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  bool digits = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; digits = true; }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; digits = true; }
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool exp = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; exp = true; }
    if (!exp) return false;
  }
  return i == s.size();
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// MFD code of a row keyword; -1 for "MFD Proc" and any other text.
int MfdCode(std::string_view s) {
  static const std::pair<std::string_view, int> kCodes[] = {
      {"MFD Router Control", 0}, {"MFD Ch Mode", 1}, {"MFD Ch Pan/Balance", 2}, {"MFD Send Pre/Post", 3},
      {"MFD Mix-Minus", 4}, {"MFD Rec Split & Pre/Post", 5}, {"MFD Ch Phase", 12}};
  for (const auto& [keyword, code] : kCodes) {
    if (s == keyword) return code;
  }
  return -1;
}

}  // namespace

ModuleType ModuleTypeFor(std::string_view keyword) {
  static const std::pair<std::string_view, ModuleType> kTypes[] = {
      {"blank", {3999, 0}}, {"Blank", {3999, 0}}, {"Input", {3601, 12}}, {"Control Rm", {3610, 16}},
      {"CRM", {3610, 16}}, {"Studio Mon", {3612, 8}}, {"Remote Ctl", {3616, 0}}, {"Console Ctl", {3620, 16}},
      {"CCM", {3620, 16}}, {"Return", {3605, 12}}, {"SLInput", {3631, 8}}, {"SLControl Rm", {3635, 8}},
      {"SLCRM", {3635, 8}}, {"SLConsole Ctl", {3640, 9}}, {"SLCCM", {3640, 9}}, {"MInput", {3631, 8}},
      {"Minput", {3631, 8}}, {"MRCM", {3631, 8}}, {"MCRM", {3635, 8}}, {"MCCM", {3620, 16}}};
  for (const auto& [k, type] : kTypes) {
    if (keyword == k) return type;
  }
  return {3999, 0};
}

std::int16_t FunctionCodeFor(std::int16_t module_type, std::string_view label, bool big_switch) {
  switch (module_type) {
    case 3610: case 3635: case 3612: return big_switch ? 10 : 5;
    case 3620: case 3640: return big_switch ? 30 : 70;
    case 3601: case 3631:
      if (label == "Src Sel") return 0;
      if (label == "Bus Assn") return big_switch ? 100 : 10;
      if (label == "SOLO") return big_switch ? 521 : 17;
      if (label == "CUE" || label == "Cue") return big_switch ? 520 : 16;
      if (label == "IFB") return big_switch ? 510 : 15;
      return 255;
    default: return 255;
  }
}

// Each meter a field of its own in reports, named as its column is.
constexpr const char* kMeterNames[] = {"Meter #1", "Meter #2", "Meter #3", "Meter #4", "Meter #5"};

void ReadConsoleConfigSheet(const SheetGrid& grid, ConsoleConfigTable& table, Problems& problems) {
  enum Keyword { kLocation, kMic, kMonitor, kCueSpkr, kCueBus, kTalkback, kHpOutput, kHpBus, kDimValue,
                 kSourceSelect, kCancelCue, kCueType, kFader, kTimerStart, kTimerStop, kTimerHold, kTimerReset,
                 kTimerExternal, kMeter1, kMeter2, kMeter3, kMeter4, kMeter5 };
  const auto columns = MatchHeaderColumns(
      grid, {"Location #", "Mic", "Monitor", "Cue Spkr", "Cue Bus", "Talkback", "HP Output", "HP Bus", "Dim Value",
             "Source Select", "Cancel Cue", "Cue Type", "Fader", "Timer Start", "Timer Stop", "Timer Hold",
             "Timer Reset", "Timer External", "Meter #1", "Meter #2", "Meter #3", "Meter #4", "Meter #5"},
      problems);
  CellReader cells(grid, problems);
  ChannelRowScan(grid, ScanLimit::kNoCount, 0, problems, [&](int e, int r) {
    if (static_cast<std::size_t>(e) >= table.size()) {
      problems.Report(grid.At(r, 1), "console " + std::to_string(e + 1) +
                                              " is past the " + std::to_string(table.size()) +
                                              " the table holds; row ignored",
                      ErrorCode::kSubscriptOutOfRange);
      return;
    }
    cells.SetSubject("console " + std::to_string(e + 1));
    ConsoleConfigRecord& rec = table[static_cast<std::size_t>(e)];
    for (int c = 2; c <= grid.columns(); ++c) {
      const int keyword = columns[static_cast<std::size_t>(c)];
      switch (keyword) {
        case kLocation: cells.IndexInto(r, c, rec.location, "Location #", "location"); break;
        case kMic: cells.IndexInto(r, c, rec.mic, "Mic"); break;
        case kMonitor: cells.IndexInto(r, c, rec.monitor, "Monitor"); break;
        case kCueSpkr: cells.IndexInto(r, c, rec.cueSpeaker, "Cue Spkr"); break;
        case kCueBus: cells.IndexInto(r, c, rec.cueBus, "Cue Bus"); break;
        case kTalkback: cells.IndexInto(r, c, rec.talkback, "Talkback"); break;
        case kHpOutput: cells.IndexInto(r, c, rec.hpOutput, "HP Output"); break;
        case kHpBus: cells.IndexInto(r, c, rec.hpBus, "HP Bus"); break;
        case kDimValue: cells.ByteInto(r, c, rec.dimValue, "Dim Value"); break;
        case kSourceSelect: cells.NumberInto(r, c, rec.sourceSelect, "Source Select"); break;
        case kCancelCue: cells.NumberInto(r, c, rec.cancelCue, "Cancel Cue"); break;
        case kCueType: cells.NumberInto(r, c, rec.cueType, "Cue Type"); break;
        case kFader: cells.NumberInto(r, c, rec.fader, "Fader"); break;
        case kTimerStart: cells.IndexInto(r, c, rec.timerStart, "Timer Start"); break;
        case kTimerStop: cells.IndexInto(r, c, rec.timerStop, "Timer Stop"); break;
        case kTimerHold: cells.IndexInto(r, c, rec.timerHold, "Timer Hold"); break;
        case kTimerReset: cells.IndexInto(r, c, rec.timerReset, "Timer Reset"); break;
        case kTimerExternal: cells.IndexInto(r, c, rec.timerExternal, "Timer External"); break;
        case kMeter1: case kMeter2: case kMeter3: case kMeter4: case kMeter5:
          cells.IndexInto(r, c, rec.meters[static_cast<std::size_t>(keyword - kMeter1)], kMeterNames[keyword - kMeter1]);
          break;
        default: break;
      }
    }
    // The console configuration file keeps no Timer Hold: what a cell gave
    // stays in the record, and the file holds 16383 in its place.
    cells.EndRow([](std::string_view field) -> std::optional<std::pair<std::string, std::string>> {
      if (field != "Timer Hold") return std::nullopt;
      return std::pair<std::string, std::string>(
          std::to_string(NoIndex), "none: the console configuration file keeps no Timer Hold, and 16383 always "
                                   "stands in its place");
    });
  });
}

namespace {

// One "Console #n" sheet read into its console: row 1 gives the module
// count and each data column's module number; each later row is a mask row
// (an MFD code), an assignment row (the next assignment number) and/or a
// mix-minus row, read across the module columns.
class ModuleSheetReader {
 public:
  ModuleSheetReader(const SheetGrid& grid, ConsoleRecord& console, bool big_switch, Problems& problems)
      : grid_(grid), cells_(grid, problems, CellReader::Headings::kModules), console_(console), big_switch_(big_switch), problems_(problems) {}

  void Read() {
    cells_.TextInto(1, 1, console_.consoleName, "the console name");
    ReadModuleColumns();
    int k = 0;  // assignments read so far
    for (int r = 1; r <= grid_.rows(); ++r) {
      const auto first = cells_.Text(r, 1, "row label", "row passed over");
      if (!first) continue;
      const std::string_view s = TrimBlanks(*first);
      if (const int code = MfdCode(s); code >= 0) {
        ReadMaskRow(r, code);
        continue;
      }
      if (s == "MFD Proc") continue;
      int v = 0;
      if (IsWholeNumber(s)) v = RoundToInt16(Val(s)).value_or(0);
      if (v == k + 1) {
        ReadAssignmentRow(r, k++);
        NotePassedAssignments(r);
      } else if (v != 0) {
        passed_.push_back({r, v, k + 1});
      }
      if (!ReadMixMinusRow(r, *first) && v == 0) NoteRowSlip(r, *first);
    }
    NotePassedAssignments(0);
  }

 private:
  // Numbered rows passed over while the assignments waited for the next
  // number: said once per wait, when the number came (in row `came`) or the
  // sheet ended (0).
  struct Passed {
    int row, number, expected;
  };
  std::vector<Passed> passed_;
  void NotePassedAssignments(int came) {
    if (passed_.empty()) return;
    const Passed& first = passed_.front();
    const Passed& last = passed_.back();
    const bool one = passed_.size() == 1;
    const std::string rows = one ? "row " + std::to_string(grid_.first_row() + first.row - 1)
                                 : "rows " + std::to_string(grid_.first_row() + first.row - 1) + " to " +
                                       std::to_string(grid_.first_row() + last.row - 1);
    const std::string numbers = one ? "numbered " + std::to_string(first.number)
                                    : "numbered " + std::to_string(first.number) + " to " + std::to_string(last.number);
    problems_.Note(grid_.Span(first.row, 1, last.row, 1),
                   rows + " (" + numbers + ") " + (one ? "was" : "were") +
                       " passed over while the assignments waited for number " + std::to_string(first.expected) +
                       (came != 0 ? ", which came in row " + std::to_string(grid_.first_row() + came - 1)
                                  : std::string(", which never came")) +
                       ": " + (one ? "its" : "their") + " module cells are not read as assignments",
                   "rows-passed-over");
    passed_.clear();
  }

  // The module count (the largest row-1 number from column 3 on, at least 1)
  // and the module number of each data column (from column 4 on), read once;
  // a column whose number cannot be read or lies outside the table is
  // reported and stores nothing.
  void ReadModuleColumns() {
    std::int16_t max_module = 1;
    for (int x = 3; x <= grid_.columns(); ++x) {
      if (auto v = cells_.Number(1, x, "the module count")) max_module = std::max(max_module, *v);
    }
    console_.moduleCount = max_module;
    mfd_bits_.assign(static_cast<std::size_t>(max_module) + 1, 0);
    ResetConsoleAssignments(console_);
    module_of_.assign(static_cast<std::size_t>(grid_.columns()) + 1, -1);
    for (int c = 4; c <= grid_.columns(); ++c) {
      const auto m = cells_.Number(1, c, "module number", "column ignored");
      if (!m) continue;
      if (*m < 0 || *m >= static_cast<int>(kModules)) {
        problems_.Report(grid_.At(1, c), "module number " + std::to_string(*m) + " lies outside 0 to " +
                                                  std::to_string(kModules - 1) + "; column ignored",
                         ErrorCode::kSubscriptOutOfRange);
        continue;
      }
      module_of_[static_cast<std::size_t>(c)] = *m;
    }
  }

  // Calls `each(column, module)` for every column with a module number.
  template <typename Each>
  void ForModuleColumns(Each each) {
    for (int c = 4; c <= grid_.columns(); ++c) {
      const int m = module_of_[static_cast<std::size_t>(c)];
      if (m >= 0) each(c, console_.modules[static_cast<std::size_t>(m)], static_cast<std::size_t>(m));
    }
  }

  // A mask row: "Show" or "Yes" under a module sets the row's bit in its mask.
  void ReadMaskRow(int r, int code) {
    const auto bit = static_cast<std::int32_t>(std::pow(2.0, code));
    ForModuleColumns([&](int c, ModuleRecord& module, std::size_t m) {
      const auto mark = CellText(grid_, r, c);
      if (mark && (*mark == "Show" || *mark == "Yes")) mfd_bits_[m] |= bit;
      else if (mark && (Folded(*mark) == "show" || Folded(*mark) == "yes")) {
        problems_.Note(grid_.At(r, c), "the mark \"" + *mark + "\" is not \"Show\" or \"Yes\" (only case or blanks "
                                           "differ), so \"" + std::string(TrimBlanks(CellText(grid_, r, 1).value_or(""))) +
                                           "\" is not marked for module " + std::to_string(m), "mfd-mark-case");
      }
      module.mfdMask = mfd_bits_[m];
    });
  }

  // A module type that differs from a keyword only by case or blanks reads
  // as a blank module.
  // A module type that is none of the keywords reads as a blank module too:
  // said, with the keyword probably meant.
  void NoteTypeSlip(int c, const std::string& typed, std::size_t m) {
    if (typed.empty() || ModuleTypeFor(typed).code != 3999 || Folded(typed) == "blank") return;
    static const std::vector<std::string_view> kKeywords = {
        "Input", "Control Rm", "CRM", "Studio Mon", "Remote Ctl", "Console Ctl", "CCM", "Return", "SLInput",
        "SLControl Rm", "SLCRM", "SLConsole Ctl", "SLCCM", "MInput", "MRCM", "MCRM", "MCCM"};
    const std::string blank = ", so module " + std::to_string(m) + " is read as a blank module (3999) with no assignments";
    for (const std::string_view keyword : kKeywords) {
      if (Folded(typed) != Folded(keyword)) continue;
      problems_.Note(grid_.At(2, c), "the module type \"" + typed + "\" is not \"" + std::string(keyword) +
                                         "\" (only case or blanks differ)" + blank, "module-type-case");
      return;
    }
    const auto meant = KeywordMeant(typed, kKeywords);
    problems_.Note(grid_.At(2, c),
                   "the module type \"" + typed + "\" is none of the module types" + blank +
                       (meant ? "; \"" + std::string(*meant) + "\" is probably meant" : std::string()),
                   "module-type-unknown");
  }

  // A row label that begins as an MFD or mix-minus keyword but differs from
  // it by case or blanks, or (an MFD keyword, which is read only alone) by
  // more text after it: the row is not read, and the note says which.
  void NoteRowSlip(int r, std::string_view label) {
    const std::string folded = Folded(label);
    if (folded.empty()) return;
    for (const char* keyword : {"MFD Router Control", "MFD Ch Mode", "MFD Ch Pan/Balance", "MFD Send Pre/Post",
                                "MFD Mix-Minus", "MFD Rec Split & Pre/Post", "MFD Ch Phase", "Mix Minus On",
                                "Mix Minus Off"}) {
      if (folded.rfind(Folded(keyword), 0) != 0) continue;
      // A mix-minus label may run on after its keyword; an MFD label is the keyword alone.
      const bool added_text = folded != Folded(keyword) && std::string_view(keyword).rfind("MFD", 0) == 0;
      problems_.Note(grid_.At(r, 1), "the row label \"" + std::string(label) + "\" is not \"" + keyword + "\" (" +
                                         (added_text ? "an MFD row's label is its keyword alone, and this one has "
                                                       "more after it"
                                                     : "only case or blanks differ") +
                                         "), so the row is not read",
                     "row-label-case");
      return;
    }
  }

  // Assignment k (0-based): its function from the row's label and the
  // module's type, its target from the cell; the first also sets the types.
  void ReadAssignmentRow(int r, int k) {
    if (k >= static_cast<int>(kAssignments)) {
      problems_.Report(grid_.At(r, 1),
                       "assignment " + std::to_string(k + 1) + " is past the " + std::to_string(kAssignments) +
                           " a module holds; row ignored",
                       ErrorCode::kSubscriptOutOfRange);
      return;
    }
    const std::string label = CellText(grid_, r, 2).value_or("");
    ForModuleColumns([&](int c, ModuleRecord& module, std::size_t m) {
      cells_.SetSubject("assignment " + std::to_string(k + 1) + " of module " + std::to_string(m));
      if (k == 0) {
        if (auto type = cells_.Text(2, c, "the module type")) {
          const ModuleType t = ModuleTypeFor(*type);
          module.moduleTypeCode = t.code;
          module.assignmentCount = t.assignments;
          NoteTypeSlip(c, *type, m);
        }
      }
      FunctionAssignment& a = module.assignments[static_cast<std::size_t>(k)];
      cells_.IndexInto(r, c, a.targetIndex, "the target");
      a.functionCode = FunctionCodeFor(module.moduleTypeCode, label, big_switch_);
    });
  }

  // A row headed "Mix Minus On"/"Mix Minus Off": each module's index.
  bool ReadMixMinusRow(int r, std::string_view label) {
    const bool on = HeaderMatches(label, "Mix Minus On");
    if (!on && !HeaderMatches(label, "Mix Minus Off")) return false;
    ForModuleColumns([&](int c, ModuleRecord& module, std::size_t m) {
      cells_.SetSubject("module " + std::to_string(m));
      cells_.IndexInto(r, c, on ? module.mixMinusOn : module.mixMinusOff, on ? "Mix Minus On" : "Mix Minus Off");
    });
    return true;
  }

  const SheetGrid& grid_;
  CellReader cells_;
  ConsoleRecord& console_;
  bool big_switch_;
  Problems& problems_;
  std::vector<std::int32_t> mfd_bits_;  // per module, the mask so far
  std::vector<int> module_of_;          // per column, its module (-1: none)
};

}  // namespace

void ReadConsoleModuleSheet(const SheetGrid& grid, int n, bool big_switch, ConsoleTable& table,
                            Problems& problems) {
  if (n < 0 || static_cast<std::size_t>(n) >= table.size()) {
    problems.Report(Where::Sheet(grid.sheet_name()),
                    "console " + std::to_string(n) + " is past the " + std::to_string(table.size() - 1) +
                        " the table holds; not read",
                    ErrorCode::kSubscriptOutOfRange);
    return;
  }
  ConsoleRecord& console = table[static_cast<std::size_t>(n)];
  console.consoleIndex = static_cast<std::int16_t>(n);
  ModuleSheetReader(grid, console, big_switch, problems).Read();
}

}  // namespace kvr
