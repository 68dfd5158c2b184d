#include "app/core/run_sheets.h"

#include <algorithm>
#include <memory>

#include "app/core/step.h"
#include "base/interrupt.h"
#include "console/console_sheets.h"
#include "demo/demo_model.h"
#include "workbook/cell_account.h"

namespace kvr {
namespace {

constexpr SheetShape kHeadingsInRow1{true, true};
constexpr SheetShape kLabelledRows{false, true};

// Sheets of `workbook` by name, a missing one reported as OpenSheetGrid does.
SheetSource SheetsOf(Workbook& workbook, Problems& problems) {
  return [&workbook, &problems](const std::string& name) { return OpenSheetGrid(workbook, name, problems); };
}

// Reads sheet `name` with `read`, then names the cells it holds that nothing read.
template <typename Read>
void ReadAccounted(const SheetSource& sheet, const std::string& name, SheetShape shape, Problems& problems,
                   const Read& read) {
  Step(problems, name, [&] {
    const ProblemsMark mark = ProblemsMark::Of(problems);
    const SheetGrid grid = sheet(name);
    read(grid);
    AccountForCells(grid, shape, mark, problems);
  });
}

// A console sheet serves two runs: convert reads its modules' assignments,
// demo-ini their types and device and template rows. What the other run reads
// is read here too, into `scratch`, so that neither names the other's cells.
void AccountForConsoleSheet(const SheetGrid& grid, int n, bool demo_read, ConsoleTable& scratch,
                            ProblemsMark mark, Problems& problems) {
  Problems ignored;
  if (demo_read) ReadConsoleModuleSheet(grid, n, false, scratch, ignored);
  else ReadDemoConsoleSheet(grid, n, scratch, ignored);
  AccountForCells(grid, kLabelledRows, mark, problems);
}

// Notices what the System settings do to the conversion that the engineer
// may not expect: an empty name in the file names, console sheets past the
// count left unread.
void NoteSystemOutcome(const SystemSettings& system, const Workbook& workbook, Problems& problems) {
  if (system.SystemName.empty()) {
    problems.Note(Where::Sheet("System"),
                  "the system name is empty (no \"Name:\" row, or nothing beside it), so the console configuration "
                  "file is named \".con\" (hidden on many systems) and a console without a name gets the module "
                  "file \" Console N.cns\"", "system-name-empty");
  }
  std::vector<int> unread;
  for (int n = std::max<int>(system.ConsoleCount, 0) + 1; n < static_cast<int>(kConsoles); ++n) {
    if (FindSheet(workbook, "Console #" + std::to_string(n))) unread.push_back(n);
  }
  if (!unread.empty()) {
    problems.Note(Where::Sheet("System"),
                  "\"Consoles\" is " + std::to_string(system.ConsoleCount) + ", so the sheet" +
                      (unread.size() == 1 ? " \"Console #" + std::to_string(unread.front()) + "\" is"
                                          : "s \"Console #" + std::to_string(unread.front()) + "\" to \"Console #" +
                                                std::to_string(unread.back()) + "\" are") +
                      " not read and no module file is written for " + (unread.size() == 1 ? "it" : "them"), "console-sheets-unread");
  }
}

// Why channel `n` is none of a table of `entries` entries, which the System
// sheet's `key` ("Inputs") sizes by `count`; nullopt when it is one.
std::optional<std::string> ChannelOutside(int n, std::size_t entries, const char* key, int count) {
  if (n >= 1 && static_cast<std::size_t>(n) <= entries) return std::nullopt;
  if (n < 1) return std::string("no table has");
  return "lies past the " + std::to_string(entries) + " the table holds (\"" + key + "\" on the System sheet is " +
         std::to_string(count) + ")";
}

// The entries of the channel table `noun` counts, nullopt for a noun that
// counts no channel. A table is sized once, by the System sheet's count.
std::optional<std::size_t> ChannelEntries(const Variables& vars, std::string_view noun) {
  if (noun == "input") return vars.inputs.size();
  if (noun == "output") return vars.outputs.size();
  if (noun == "opto") return vars.optos.size();
  if (noun == "relay") return vars.relays.size();
  return std::nullopt;
}

// Each index a sheet gave that points at something the workbook does not
// define: a channel past its table (which the System sheet's count sizes),
// a location no row of the "Location" sheet numbers (when it numbers any: a
// sheet missing is a problem of its own).
void CheckSheetReferences(const Variables& vars, const SystemSettings& system, Problems& problems) {
  const bool locations_listed = std::any_of(vars.locations.begin(), vars.locations.end(),
                                            [](const LocationEntry& e) { return e.locationNumber != 0; });
  problems.CheckReferences([&](std::string_view noun, int n) -> std::optional<std::string> {
    if (const auto entries = ChannelEntries(vars, noun)) {
      const bool inputs = noun == "input" || noun == "opto";
      return ChannelOutside(n, *entries, inputs ? "Inputs" : "Outputs", inputs ? system.InputCount : system.OutputCount);
    }
    if (noun == "location" && locations_listed) {
      if (n >= 1 && static_cast<std::size_t>(n) <= vars.locations.size() &&
          vars.locations[static_cast<std::size_t>(n - 1)].locationNumber == n) {
        return std::nullopt;
      }
      return std::string("no row of the \"Location\" sheet numbers");
    }
    return std::nullopt;  // salvos: the workbook lists none
  });
}

}  // namespace

SystemSettings ReadSystemSheet(Workbook& workbook, Problems& problems) {
  SystemSettings system;
  ReadAccounted(SheetsOf(workbook, problems), "System",
                kLabelledRows, problems, [&](const SheetGrid& grid) { system = ReadSystemSettings(grid, problems); });
  return system;
}

std::vector<CrosspointRecord> ReadCrosspointSheet(Workbook& workbook, Problems& problems) {
  std::vector<CrosspointRecord> records;
  ReadAccounted(SheetsOf(workbook, problems), "Crosspoints",
                kHeadingsInRow1, problems, [&](const SheetGrid& grid) { records = ReadCrosspoints(grid, problems); });
  // Either end of a crosspoint names a channel of the switcher: one past
  // the tables the System sheet's counts size is none (said when the counts
  // are given; the System sheet is otherwise read by the run it serves).
  Problems ignored;
  SystemSettings system;
  if (FindSheet(workbook, "System")) system = ReadSystemSettings(OpenSheetGrid(workbook, "System", ignored), ignored);
  problems.CheckReferences([&](std::string_view noun, int n) -> std::optional<std::string> {
    const bool input = noun == "input";
    const int count = input ? system.InputCount : noun == "output" ? system.OutputCount : 0;
    if (count <= 0) return std::nullopt;
    return ChannelOutside(n, static_cast<std::size_t>(count) + 1, input ? "Inputs" : "Outputs", count);
  });
  return records;
}

// The conversion's "System" sheet, noticed for what it does to the outputs.
SystemSettings ReadConversionSystem(Workbook& workbook, Problems& problems) {
  SystemSettings system = ReadSystemSheet(workbook, problems);
  NoteSystemOutcome(system, workbook, problems);
  return system;
}

// The conversion's sheets after "System", in reading order.
std::vector<std::string> ConversionSheetNames(int last_console) {
  std::vector<std::string> names = {"Sources", "Destinations", "Opto", "Relay", "Location", "Console Name", "RC",
                                    "Console Config"};
  for (int n = 1; n <= last_console; ++n) names.push_back("Console #" + std::to_string(n));
  return names;
}

void ReportConsolesPastTable(const SystemSettings& system, int last_console, Problems& problems) {
  if (system.ConsoleCount <= last_console) return;
  problems.Report(Where::Sheet("System"), "ConsoleCount " + std::to_string(system.ConsoleCount) + " is more than the " +
                                              std::to_string(kConsoles - 1) + " consoles kept; consoles past " +
                                              std::to_string(kConsoles - 1) + " not read",
                  ErrorCode::kSubscriptOutOfRange);
}

// The conversion's sheets after "System", in the conversion's order; `progress`
// hears of each channel sheet once it is read, and of the end.
void ReadRunSheets(const SheetSource& sheet, const SystemSettings& system, int last_console, Variables& vars,
                   bool big_switch, Problems& problems, SheetProgress& progress) {
  const std::size_t first_notice = problems.notices().size();
  // A channel table's size is final once it is sized (an empty table
  // defines nothing yet): references into it need not be kept. The filter
  // looks at `vars`, so it goes with this call, however the call ends.
  problems.KnownDefined([&](std::string_view noun, int n) {
    const auto entries = ChannelEntries(vars, noun);
    return entries && n >= 1 && static_cast<std::size_t>(n) <= *entries;
  });
  struct DropFilter {
    Problems& problems;
    ~DropFilter() { problems.KnownDefined(nullptr); }
  } drop_filter{problems};
  // The opto table is allocated with the inputs, the relay table with the outputs.
  vars.optos.assign(system.InputCount >= 0 ? static_cast<std::size_t>(system.InputCount) + 1 : 0, OptoRecord{});
  ReadAccounted(sheet, "Sources", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadSources(g, system.InputCount, vars.inputs, problems); });
  progress.Reached(kSources);
  vars.relays.assign(system.OutputCount >= 0 ? static_cast<std::size_t>(system.OutputCount) + 1 : 0, RelayRecord{});
  ReadAccounted(sheet, "Destinations", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadDestinations(g, system.OutputCount, vars.outputs, problems); });
  progress.Reached(kDestinations);
  ReadAccounted(sheet, "Opto", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadOpto(g, system.InputCount, vars.optos, problems); });
  progress.Reached(kOpto);
  ReadAccounted(sheet, "Relay", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadRelay(g, system.OutputCount, vars.relays, problems); });
  progress.Reached(kRelay);
  ReadAccounted(sheet, "Location", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadLocationSheet(g, vars.locations, problems); });
  progress.Reached(kLocation);
  ReadAccounted(sheet, "Console Name", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadConsoleNameSheet(g, vars.console_names, problems); });
  progress.Reached(kConsoleName);
  ReadAccounted(sheet, "RC", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadRemoteControlSheet(g, vars.rc_sets, problems); });
  progress.Reached(kRc);
  ReadAccounted(sheet, "Console Config", kHeadingsInRow1, problems,
                [&](const SheetGrid& g) { ReadConsoleConfigSheet(g, vars.console_config, problems); });
  progress.Reached(kConsoleConfig);
  auto scratch = std::make_unique<ConsoleTable>();
  for (int n = 1; n <= last_console; ++n) {
    const std::string name = "Console #" + std::to_string(n);
    Step(problems, name, [&] {
      const ProblemsMark mark = ProblemsMark::Of(problems);
      const SheetGrid grid = sheet(name);
      ReadConsoleModuleSheet(grid, n, big_switch, vars.consoles, problems);
      AccountForConsoleSheet(grid, n, false, *scratch, mark, problems);
    });
  }
  CheckSheetReferences(vars, system, problems);
  problems.FoldAcrossSheets(first_notice);
  progress.Reached(kAllSheets);
}

// The demo run's sheets after "System" (read by the caller into `demo`).
void ReadDemoSheets(Workbook& workbook, DemoSystem& demo, Variables& vars, Problems& problems,
                    SheetCounter& counter, bool frames_required) {
  const std::vector<std::string> sheet_names = workbook.SheetNames();
  const std::size_t first_notice = problems.notices().size();
  counter.Next("32QX");
  Step(problems, "32QX", [&] {
    if (!FindSheet(workbook, "32QX")) {
      if (!frames_required) return;
      problems.Report(Where(), "the workbook has no sheet \"32QX\"; no frames or slots written",
                      ErrorCode::kSubscriptOutOfRange, "sheet-missing");
      return;
    }
    const ProblemsMark mark = ProblemsMark::Of(problems);
    const SheetGrid grid = OpenSheetGrid(workbook, "32QX", problems);
    demo.FrameCount = ReadFrameSheet(grid, vars.frames, vars.consoles, problems);
    AccountForCells(grid, kLabelledRows, mark, problems);
  });
  auto scratch = std::make_unique<ConsoleTable>();
  for (int i = 0; i < demo.ConsoleCount && i < static_cast<int>(kConsoles); ++i) {
    vars.consoles[static_cast<std::size_t>(i)].consoleIndex = static_cast<std::int16_t>(i);
    const std::string name = ConsoleSheetName(sheet_names, i + 1);
    if (name.empty()) {
      problems.Report(Where(),
                      "the workbook has no sheet for console " + std::to_string(i + 1) +
                          " (\"Console #" + std::to_string(i + 1) + "\" or a lettered one); it and later consoles not read",
                      ErrorCode::kSubscriptOutOfRange, "sheet-missing");
      break;
    }
    StopIfInterrupted();
    counter.Next(name);
    Step(problems, name, [&] {
      const ProblemsMark mark = ProblemsMark::Of(problems);
      const SheetGrid grid = OpenSheetGrid(workbook, name, problems);
      ReadDemoConsoleSheet(grid, i + 1, vars.consoles, problems);
      AccountForConsoleSheet(grid, i + 1, true, *scratch, mark, problems);
    });
  }
  problems.FoldAcrossSheets(first_notice);
}

DemoSystem DemoSystemFrom(const SystemSettings& s) {
  return DemoSystem{s.SystemName, s.InputCount, s.OutputCount, 0, s.ConsoleCount};
}

// The crosspoint run's notice of an empty system name, which names its file.
void NoteCrosspointFileName(const std::string& system_name, Problems& problems) {
  if (!system_name.empty()) return;
  problems.Note(Where::Sheet("System"), "the system name is empty (no \"Name:\" row, or nothing beside it), so "
                                        "the crosspoint file is named \" Crosspoints.xpt\"", "system-name-empty");
}

}  // namespace kvr
