#include "app/core/run_sheets.h"

#include <algorithm>

#include "app/core/step.h"
#include "base/interrupt.h"
#include "console/console_sheets.h"

namespace kvr {
namespace {

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

}  // namespace

// The conversion's "System" sheet, noticed for what it does to the outputs.
SystemSettings ReadConversionSystem(Workbook& workbook, Problems& problems) {
  SystemSettings system;
  Step(problems, "System", [&] { system = ReadSystemSettings(OpenSheetGrid(workbook, "System", problems), problems); });
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
  // The opto table is allocated with the inputs, the relay table with the outputs.
  vars.optos.assign(system.InputCount >= 0 ? static_cast<std::size_t>(system.InputCount) + 1 : 0, OptoRecord{});
  Step(problems, "Sources", [&] { ReadSources(sheet("Sources"), system.InputCount, vars.inputs, problems); });
  progress.Reached(kSources);
  vars.relays.assign(system.OutputCount >= 0 ? static_cast<std::size_t>(system.OutputCount) + 1 : 0, RelayRecord{});
  Step(problems, "Destinations",
       [&] { ReadDestinations(sheet("Destinations"), system.OutputCount, vars.outputs, problems); });
  progress.Reached(kDestinations);
  Step(problems, "Opto", [&] { ReadOpto(sheet("Opto"), system.InputCount, vars.optos, problems); });
  progress.Reached(kOpto);
  Step(problems, "Relay", [&] { ReadRelay(sheet("Relay"), system.OutputCount, vars.relays, problems); });
  progress.Reached(kRelay);
  Step(problems, "Location", [&] { ReadLocationSheet(sheet("Location"), vars.locations, problems); });
  progress.Reached(kLocation);
  Step(problems, "Console Name", [&] { ReadConsoleNameSheet(sheet("Console Name"), vars.console_names, problems); });
  progress.Reached(kConsoleName);
  Step(problems, "RC", [&] { ReadRemoteControlSheet(sheet("RC"), vars.rc_sets, problems); });
  progress.Reached(kRc);
  Step(problems, "Console Config",
       [&] { ReadConsoleConfigSheet(sheet("Console Config"), vars.console_config, problems); });
  progress.Reached(kConsoleConfig);
  for (int n = 1; n <= last_console; ++n) {
    const std::string name = "Console #" + std::to_string(n);
    Step(problems, name, [&] { ReadConsoleModuleSheet(sheet(name), n, big_switch, vars.consoles, problems); });
  }
  progress.Reached(kAllSheets);
}

// The demo run's sheets after "System" (read by the caller into `demo`).
void ReadDemoSheets(Workbook& workbook, DemoSystem& demo, Variables& vars, Problems& problems,
                    SheetCounter& counter, bool frames_required) {
  const std::vector<std::string> sheet_names = workbook.SheetNames();
  counter.Next("32QX");
  Step(problems, "32QX", [&] {
    if (!FindSheet(workbook, "32QX")) {
      if (!frames_required) return;
      problems.Report(Where(), "the workbook has no sheet \"32QX\"; no frames or slots written",
                      ErrorCode::kSubscriptOutOfRange, "sheet-missing");
      return;
    }
    demo.FrameCount = ReadFrameSheet(OpenSheetGrid(workbook, "32QX", problems), vars.frames, vars.consoles, problems);
  });
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
    Step(problems, name,
         [&] { ReadDemoConsoleSheet(OpenSheetGrid(workbook, name, problems), i + 1, vars.consoles, problems); });
  }
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
