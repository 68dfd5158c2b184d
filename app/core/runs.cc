#include "app/core/runs.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include "app/core/database_phase.h"
#include "app/core/step.h"
#include "base/interrupt.h"
#include "base/output_file.h"
#include "base/utf8.h"
#include "console/console_sheets.h"
#include "console/disk_work.h"
#include "demo/demo_ini.h"
#include "workbook/sheet_prefetch.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"

namespace kvr {
namespace {

// Puts the run's staged files in place; those that fail are reported and
// dropped from the files written.
void CommitOutputs(OutputBatch& batch, RunResult& result) {
  for (const auto& failure : batch.Commit()) {
    result.problems.Report(Utf8Path(failure.target), failure.what + " not written: " + failure.why,
                           ErrorCode::kPathFileAccess);
    result.files.push_back({failure.target, FileOutcome::kNotWritten, failure.why});
    std::erase(result.written, failure.target);
  }
}

// Writes one output file whole, or reports why it could not be written.
void WriteOutput(const std::filesystem::path& path, std::string_view bytes, const char* what, RunResult& result) {
  OutputBatch batch;
  if (const Status s = batch.Stage(path, bytes, what); !s.ok()) {
    result.problems.Report(Utf8Path(path), std::string(what) + " not written: " + s.why(), ErrorCode::kPathFileAccess);
    result.files.push_back({path, FileOutcome::kNotWritten, s.why()});
    return;
  }
  result.written.push_back(path);
  CommitOutputs(batch, result);
}

// Asks for the workbook and opens it, then shows "In Process". When the
// user cancels or the file cannot be read, the result's outcome and reason
// are set and the status is left as it was: the failure holds no words of
// its own.
Result<std::unique_ptr<Workbook>> StartWithWorkbook(RunContext& ctx, RunResult& result) {
  const std::string path = ctx.chooser.GetFileName("Excel", "xls", 1);
  auto not_run = [&](std::string reason) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = std::move(reason);
    return Status::Error(result.reason);
  };
  if (path.empty()) {
    result.outcome = RunResult::Outcome::kCancelled;
    return Status::Error("cancelled");
  }
  if (const auto why = UnreadableFileReason(PathFromUtf8(path))) {
    return not_run(why->missing ? "workbook not found: " + path : "not a workbook: " + path + " " + why->why);
  }
  std::unique_ptr<Workbook> workbook;
  try {
    workbook = OpenWorkbook(PathFromUtf8(path));
  } catch (const std::exception& e) {
    return not_run(e.what());
  }
  StopIfInterrupted();
  ctx.status.SetStatus("In Process");
  if (ctx.progress != nullptr) ctx.progress->Start();
  return workbook;
}

// Tells the front end's progress of each sheet as it is read.
class SheetCounter {
 public:
  SheetCounter(RunProgress* progress, int total) : progress_(progress), total_(total) {}
  void Next(std::string_view name) {
    ++read_;
    if (progress_ != nullptr) progress_->Sheet(read_, std::max(total_, read_), name);
  }
  void Done() {
    if (progress_ != nullptr) progress_->SheetsDone();
  }

 private:
  RunProgress* progress_;
  int total_;
  int read_ = 0;
};

RunResult Complete(RunContext& ctx, RunResult result) {
  std::vector<FileOutcome> files;
  for (const auto& path : result.written) files.push_back({path, FileOutcome::kWritten, {}});
  files.insert(files.end(), result.files.begin(), result.files.end());
  result.files = std::move(files);
  ctx.status.SetStatus("Completed");
  result.outcome = RunResult::Outcome::kCompleted;
  return result;
}

// The conversion's sheets after "System", in the designed order; `progress`
// hears of each channel sheet once it is read, and of the end.
template <typename Sheet>
void ReadRunSheets(Sheet& sheet, const SystemSettings& system, int last_console, Variables& vars, RunContext& ctx,
                   Problems& problems, SheetProgress& progress) {
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
    Step(problems, name, [&] { ReadConsoleModuleSheet(sheet(name), n, ctx.big_switch, vars.consoles, problems); });
  }
  progress.Reached(kAllSheets);
}

// A workbook past a reader's bounds ends the run before anything is written:
// it reads as not run, like a file that is no workbook.
template <typename Body>
RunResult EndingOnWorkbookLimits(RunContext& ctx, Body body) {
  try {
    return body();
  } catch (const WorkbookLimitError& e) {
    RunResult result;
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = e.what();
    ctx.status.SetStatus("");
    return result;
  } catch (const RunInterrupted&) {
    RunResult result;
    result.outcome = RunResult::Outcome::kInterrupted;
    result.reason = "interrupted: nothing was changed";
    ctx.status.SetStatus("");
    return result;
  }
}

// The console and module files. They are encoded and staged while the
// database phase ends (`database_done` waits for it and takes its problems);
// their questions and problems follow it, in the designed order. All of them
// are put in place together: one flush to disk for the lot.
void WriteConsoleFiles(const Variables& vars, const SystemSettings& system, RunContext& ctx,
                       const std::function<void()>& database_done, RunResult& result) {
  Problems& problems = result.problems;
  OutputBatch batch;
  const PreparedFile con = PrepareConsoleConfig(ctx.output_folder, system.SystemName, vars.console_config, &batch);
  const std::vector<PreparedFile> modules =
      PrepareModuleFiles(ctx.output_folder, system.SystemName, vars.consoles, system.ConsoleCount, &batch);
  database_done();
  if (result.preview_cancelled) return;  // the staged files are dropped
  if (result.interrupted) throw RunInterrupted{};  // and so are they here
  if (ctx.progress != nullptr) ctx.progress->Stage("Writing the files");
  Step(problems, "console configuration file", [&] {
    const auto path = SaveConsoleConfig(con, ctx.question, batch, problems, &result.files);
    if (!path.empty()) result.written.push_back(path);
  });
  Step(problems, "module configuration files", [&] {
    for (auto& path : SaveModuleConfig(modules, ctx.question, batch, problems, &result.files)) {
      result.written.push_back(std::move(path));
    }
  });
  CommitOutputs(batch, result);
}

// Notices what the System settings do to the conversion that the engineer
// may not expect: an empty name in the file names, console sheets past the
// count left unread.
void NoteSystemOutcome(const SystemSettings& system, const Workbook& workbook, Problems& problems) {
  if (system.SystemName.empty()) {
    problems.Note(Where::Sheet("System"),
                  "the system name is empty (no \"Name:\" row, or nothing beside it), so the console configuration "
                  "file is named \".con\" (hidden on many systems) and a console without a name gets the module "
                  "file \" Console N.cns\"");
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
                      " not read and no module file is written for " + (unread.size() == 1 ? "it" : "them"));
  }
}

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

// What the database phase, run beside the sheets into a result of its own,
// adds to the run's: its problems after the sheets', its counts, its backup,
// and a cancelled preview.
void TakeDatabaseResult(RunResult database, RunResult& result) {
  result.problems.Append(database.problems);
  result.changed = std::move(database.changed);
  result.backup = std::move(database.backup);
  result.preview_cancelled = database.preview_cancelled;
  result.interrupted = database.interrupted;
  result.database_read = database.database_read;
  if (database.preview_cancelled) result.reason = std::move(database.reason);
}

RunResult ConversionRunBody(Variables& vars, RunContext& ctx) {
  vars.Clear();
  RunResult result;
  const std::string db_argument = ctx.chooser.GetFileName("Switcher.mdb", "mdb", 1);
  if (db_argument.empty()) return result;  // cancelled
  const Result<DatabaseTarget> target = LocateDatabase(db_argument);
  if (!target.ok()) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = target.why();
    return result;
  }
  auto opened = StartWithWorkbook(ctx, result);
  if (!opened.ok()) return result;
  std::unique_ptr<Workbook> workbook = std::move(*opened);

  Problems& problems = result.problems;
  const SystemSettings system = ReadConversionSystem(*workbook, problems);
  const int last_console = std::min<int>(system.ConsoleCount, static_cast<int>(kConsoles) - 1);
  const std::vector<std::string> sheet_names = ConversionSheetNames(last_console);
  SheetCounter counter(ctx.progress, 1 + static_cast<int>(sheet_names.size()));
  counter.Next("System");
  // Every later sheet is known now: they are read ahead, in the order taken.
  std::optional<SheetPrefetcher> prefetch(std::in_place, *workbook, sheet_names);
  auto sheet = [&](const std::string& name) {
    StopIfInterrupted();
    counter.Next(name);
    return prefetch->Take(name, problems);
  };

  // The database phase runs beside the sheet phase, each table step as soon
  // as its sheet is read, into a result of its own whose problems follow the
  // sheets' as designed; it commits only once the sheet phase ended well.
  RunResult database;
  SheetProgress progress;
  std::jthread database_phase;
  if (!ctx.dry_run) {
    database_phase = std::jthread([&] { UpdateDatabase(*target, vars, system, ctx, database, &progress); });
  }
  try {
    ReadRunSheets(sheet, system, last_console, vars, ctx, problems, progress);
  } catch (...) {
    progress.Abort();  // the database is rolled back
    throw;
  }
  counter.Done();
  ReportConsolesPastTable(system, last_console, problems);
  prefetch.reset();
  workbook.reset();

  if (ctx.dry_run) {
    UpdateDatabase(*target, vars, system, ctx, result);  // after the sheets, as designed
    if (result.interrupted) throw RunInterrupted{};
    result.would_write.push_back(system.SystemName + ".con");
    for (int n = 1; n <= last_console; ++n) {
      result.would_write.push_back(ModuleFileName(system.SystemName, vars.consoles[static_cast<std::size_t>(n)], n));
    }
    return Complete(ctx, std::move(result));
  }
  WriteConsoleFiles(vars, system, ctx, [&] {
    database_phase.join();
    TakeDatabaseResult(std::move(database), result);
  }, result);
  if (result.preview_cancelled) {
    result.outcome = RunResult::Outcome::kCancelled;
    ctx.status.SetStatus("");
    return result;
  }
  return Complete(ctx, std::move(result));
}

// The demo run's sheets after "System" (read by the caller into `demo`).
void ReadDemoSheets(Workbook& workbook, DemoSystem& demo, Variables& vars, Problems& problems,
                    SheetCounter& counter) {
  const std::vector<std::string> sheet_names = workbook.SheetNames();
  counter.Next("32QX");
  Step(problems, "32QX", [&] {
    if (!FindSheet(workbook, "32QX")) {
      problems.Report(Where::Sheet("32QX"), "the workbook has no sheet \"32QX\"; no frames or slots written",
                      ErrorCode::kSubscriptOutOfRange);
      return;
    }
    demo.FrameCount = ReadFrameSheet(OpenSheetGrid(workbook, "32QX", problems), vars.frames, vars.consoles, problems);
  });
  for (int i = 0; i < demo.ConsoleCount && i < static_cast<int>(kConsoles); ++i) {
    vars.consoles[static_cast<std::size_t>(i)].consoleIndex = static_cast<std::int16_t>(i);
    const std::string name = ConsoleSheetName(sheet_names, i + 1);
    if (name.empty()) {
      problems.Report(Where::Sheet("Console #" + std::to_string(i + 1)),
                      "the workbook has no sheet for console " + std::to_string(i + 1) +
                          " (\"Console #" + std::to_string(i + 1) + "\" or a lettered one); it and later consoles not read",
                      ErrorCode::kSubscriptOutOfRange);
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

// A run that reads only the workbook: the variables cleared (and, for the
// demo and crosspoint runs, the status), the workbook opened, then `body`
// with it (which may release it early) and "Completed". The early ends of
// StartWithWorkbook return as it left the result.
template <typename Body>
RunResult WorkbookRun(Variables& vars, RunContext& ctx, bool clear_status, Body body) {
  vars.Clear();
  RunResult result;
  if (clear_status) ctx.status.SetStatus("");
  auto opened = StartWithWorkbook(ctx, result);
  if (!opened.ok()) return result;
  body(*opened, result);
  return Complete(ctx, std::move(result));
}

void DemoIniRunBody(Variables& vars, RunContext& ctx, std::unique_ptr<Workbook>& workbook, RunResult& result) {
  Problems& problems = result.problems;
  DemoSystem demo;
  Step(problems, "System",
       [&] { demo = DemoSystemFrom(ReadSystemSettings(OpenSheetGrid(*workbook, "System", problems), problems)); });
  SheetCounter counter(ctx.progress, 2 + std::clamp<int>(demo.ConsoleCount, 0, static_cast<int>(kConsoles)));
  counter.Next("System");
  ReadDemoSheets(*workbook, demo, vars, problems, counter);
  counter.Done();
  workbook.reset();

  StopIfInterrupted();
  Step(problems, "DemoSetup.ini", [&] {
    WriteOutput(ctx.output_folder / "DemoSetup.ini", BuildDemoIni(demo, vars.frames, vars.consoles),
                "demo setup file", result);
  });
}

// The crosspoint run's notice of an empty system name, which names its file.
void NoteCrosspointFileName(const std::string& system_name, Problems& problems) {
  if (!system_name.empty()) return;
  problems.Note(Where::Sheet("System"), "the system name is empty (no \"Name:\" row, or nothing beside it), so "
                                        "the crosspoint file is named \" Crosspoints.xpt\"");
}

void CrosspointExportRunBody(RunContext& ctx, std::unique_ptr<Workbook>& workbook, RunResult& result) {
  Problems& problems = result.problems;
  std::string system_name;
  std::vector<CrosspointRecord> records;
  SheetCounter counter(ctx.progress, 2);
  counter.Next("System");
  Step(problems, "System",
       [&] { system_name = FirstSystemName(OpenSheetGrid(*workbook, "System", problems), problems); });
  counter.Next("Crosspoints");
  Step(problems, "Crosspoints",
       [&] { records = ReadCrosspoints(OpenSheetGrid(*workbook, "Crosspoints", problems), problems); });
  counter.Done();
  workbook.reset();

  NoteCrosspointFileName(system_name, problems);
  StopIfInterrupted();
  Step(problems, "crosspoint file", [&] {
    const std::string name = system_name + " Crosspoints.xpt";
    if (const Status usable = CheckFileNameComponent(system_name); !usable.ok()) {
      const std::string why = "the system name cannot name a file (" + usable.why() + ")";
      problems.Report(name, "no crosspoint file written: " + why, ErrorCode::kPathFileAccess);
      result.files.push_back({ctx.output_folder / name, FileOutcome::kNotWritten, why});
      return;
    }
    WriteOutput(ctx.output_folder / PathFromUtf8(name), EncodeCrosspointFile(records), "crosspoint file", result);
  });
}

// The sheet phases of all three runs, with nothing written: "System" once,
// the conversion's sheets, the demo run's frame and console sheets, and
// "Crosspoints".
void CheckRunBody(Variables& vars, RunContext& ctx, Workbook& workbook, RunResult& result) {
  Problems& problems = result.problems;
  const SystemSettings system = ReadConversionSystem(workbook, problems);
  const int last_console = std::min<int>(system.ConsoleCount, static_cast<int>(kConsoles) - 1);
  const int demo_consoles = std::clamp<int>(system.ConsoleCount, 0, static_cast<int>(kConsoles));
  SheetCounter counter(ctx.progress, 9 + last_console + 1 + demo_consoles + 1);
  counter.Next("System");
  SheetProgress progress;
  auto sheet = [&](const std::string& name) {
    StopIfInterrupted();
    counter.Next(name);
    return OpenSheetGrid(workbook, name, problems);
  };
  ReadRunSheets(sheet, system, last_console, vars, ctx, problems, progress);
  ReportConsolesPastTable(system, last_console, problems);
  // The console files the conversion would refuse to write (a name that can
  // name no file, a 16-bit overflow, too many modules), judged without writing.
  ReportRefused(PrepareConsoleConfig({}, system.SystemName, vars.console_config, nullptr),
                PrepareModuleFiles({}, system.SystemName, vars.consoles, system.ConsoleCount, nullptr), problems);

  // The demo run reads the console sheets again by rules of its own; what it
  // finds at a place already reported adds nothing.
  vars.Clear();
  DemoSystem demo = DemoSystemFrom(system);
  Problems demo_problems;
  ReadDemoSheets(workbook, demo, vars, demo_problems, counter);
  problems.AppendNewPlaces(demo_problems);

  counter.Next("Crosspoints");
  Step(problems, "Crosspoints", [&] { ReadCrosspoints(OpenSheetGrid(workbook, "Crosspoints", problems), problems); });
  NoteCrosspointFileName(system.SystemName, problems);
  counter.Done();
}

}  // namespace

RunResult ConversionRun(Variables& vars, RunContext& ctx) {
  return EndingOnWorkbookLimits(ctx, [&] { return ConversionRunBody(vars, ctx); });
}

RunResult DemoIniRun(Variables& vars, RunContext& ctx) {
  return EndingOnWorkbookLimits(ctx, [&] {
    return WorkbookRun(vars, ctx, true, [&](auto& workbook, RunResult& r) { DemoIniRunBody(vars, ctx, workbook, r); });
  });
}

RunResult CrosspointExportRun(Variables& vars, RunContext& ctx) {
  return EndingOnWorkbookLimits(ctx, [&] {
    return WorkbookRun(vars, ctx, true, [&](auto& workbook, RunResult& r) { CrosspointExportRunBody(ctx, workbook, r); });
  });
}

RunResult CheckRun(Variables& vars, RunContext& ctx) {
  return EndingOnWorkbookLimits(ctx, [&] {
    return WorkbookRun(vars, ctx, false, [&](auto& workbook, RunResult& r) { CheckRunBody(vars, ctx, *workbook, r); });
  });
}

}  // namespace kvr
