#include "app/core/runs.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <variant>

#include "app/core/database_phase.h"
#include "app/core/plant_size.h"
#include "app/core/run_sheets.h"
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

// What a run's first step gives: what it chose or opened, or the result the
// run ends with before it began (cancelled, or not run and why).
template <typename T>
using OrEnded = std::variant<T, RunResult>;

RunResult EndedBeforeStart(RunResult::Outcome outcome, std::string reason = {}) {
  RunResult result;
  result.outcome = outcome;
  result.reason = std::move(reason);
  return result;
}

// Asks for the workbook and opens it, then shows "In Process". When the
// user cancels or the file cannot be read, the status is left as it was:
// the failure holds no words of its own.
OrEnded<std::unique_ptr<Workbook>> StartWithWorkbook(RunContext& ctx) {
  const std::string path = ctx.chooser.GetFileName("Excel", "xls", 1);
  if (path.empty()) return EndedBeforeStart(RunResult::Outcome::kCancelled);
  if (const auto why = UnreadableFileReason(PathFromUtf8(path))) {
    return EndedBeforeStart(RunResult::Outcome::kNotRun,
                            why->missing ? "workbook not found: " + path : "not a workbook: " + path + " " + why->why);
  }
  auto workbook = OpenWorkbook(PathFromUtf8(path));
  if (!workbook.ok()) return EndedBeforeStart(RunResult::Outcome::kNotRun, workbook.why());
  StopIfInterrupted();
  ctx.status.SetStatus("In Process");
  if (ctx.progress != nullptr) ctx.progress->Start();
  return std::move(*workbook);
}

RunResult Complete(RunContext& ctx, RunResult result) {
  std::vector<FileOutcome> files;
  for (const auto& path : result.written) files.push_back({path, FileOutcome::kWritten, {}});
  files.insert(files.end(), result.files.begin(), result.files.end());
  result.files = std::move(files);
  ctx.status.SetStatus("Completed");
  result.outcome = RunResult::Outcome::kCompleted;
  return result;
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
// their questions and problems follow it, in the conversion's order. All of them
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

// A dry run's database phase, after the sheets as a conversion reads them: every change
// listed and rolled back, and the names of the files it would write.
RunResult DryRunDatabase(const DatabaseTarget& target, Variables& vars, const SystemSettings& system,
                         int last_console, RunContext& ctx, RunResult result) {
  UpdateDatabase(target, vars, system, ctx, result);
  if (result.interrupted) throw RunInterrupted{};
  result.would_write.push_back(system.SystemName + ".con");
  for (int n = 1; n <= last_console; ++n) {
    result.would_write.push_back(ModuleFileName(system.SystemName, vars.consoles[static_cast<std::size_t>(n)], n));
  }
  return Complete(ctx, std::move(result));
}

// Asks for the switcher database and tells what it is.
OrEnded<DatabaseTarget> ChooseDatabase(RunContext& ctx) {
  const std::string argument = ctx.chooser.GetFileName("Switcher.mdb", "mdb", 1);
  if (argument.empty()) return EndedBeforeStart(RunResult::Outcome::kCancelled);
  Result<DatabaseTarget> target = LocateDatabase(argument);
  if (!target.ok()) return EndedBeforeStart(RunResult::Outcome::kNotRun, target.why());
  return std::move(*target);
}

RunResult ConversionRunBody(Variables& vars, RunContext& ctx) {
  vars.Clear();
  auto chosen = ChooseDatabase(ctx);
  if (auto* ended = std::get_if<RunResult>(&chosen)) return std::move(*ended);
  const DatabaseTarget& target = std::get<DatabaseTarget>(chosen);
  auto opened = StartWithWorkbook(ctx);
  if (auto* ended = std::get_if<RunResult>(&opened)) return std::move(*ended);
  std::unique_ptr<Workbook> workbook = std::move(std::get<std::unique_ptr<Workbook>>(opened));

  RunResult result;
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
  // sheets'; it commits only once the sheet phase ended well.
  RunResult database;
  SheetProgress progress;
  std::jthread database_phase;
  if (!ctx.dry_run) {
    database_phase = std::jthread([&] { UpdateDatabase(target, vars, system, ctx, database, &progress); });
  }
  try {
    ReadRunSheets(sheet, system, last_console, vars, ctx.big_switch, problems, progress);
  } catch (...) {
    progress.Abort();  // the database is rolled back
    throw;
  }
  counter.Done();
  ReportConsolesPastTable(system, last_console, problems);
  prefetch.reset();
  workbook.reset();

  if (ctx.dry_run) return DryRunDatabase(target, vars, system, last_console, ctx, std::move(result));
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

// A run that reads only the workbook: the variables cleared (and, for the
// demo and crosspoint runs, the status), the workbook opened, then `body`
// with it (which may release it early) and "Completed". A run that ends
// before it starts ends with what StartWithWorkbook says.
template <typename Body>
RunResult WorkbookRun(Variables& vars, RunContext& ctx, bool clear_status, Body body) {
  vars.Clear();
  if (clear_status) ctx.status.SetStatus("");
  auto opened = StartWithWorkbook(ctx);
  if (auto* ended = std::get_if<RunResult>(&opened)) return std::move(*ended);
  RunResult result;
  body(std::get<std::unique_ptr<Workbook>>(opened), result);
  return Complete(ctx, std::move(result));
}

void DemoIniRunBody(Variables& vars, RunContext& ctx, std::unique_ptr<Workbook>& workbook, RunResult& result) {
  Problems& problems = result.problems;
  DemoSystem demo;
  demo = DemoSystemFrom(ReadSystemSheet(*workbook, problems));
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

void CrosspointExportRunBody(RunContext& ctx, std::unique_ptr<Workbook>& workbook, RunResult& result) {
  Problems& problems = result.problems;
  std::string system_name;
  std::vector<CrosspointRecord> records;
  SheetCounter counter(ctx.progress, 2);
  counter.Next("System");
  Step(problems, "System",
       [&] { system_name = FirstSystemName(OpenSheetGrid(*workbook, "System", problems), problems); });
  counter.Next("Crosspoints");
  records = ReadCrosspointSheet(*workbook, problems);
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

void NoteOptionalSheet(const std::string& sheet, const std::string& run, Problems& problems) {
  problems.Note(Where(), "the workbook has no sheet \"" + sheet + "\", which only " + run +
                                       " reads; convert needs none of it", "sheet-missing-optional");
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
  ReadRunSheets(sheet, system, last_console, vars, ctx.big_switch, problems, progress);
  ReportConsolesPastTable(system, last_console, problems);
  // The console files the conversion would refuse to write (a name that can
  // name no file, a 16-bit overflow, too many modules), judged without writing.
  ReportRefused(PrepareConsoleConfig({}, system.SystemName, vars.console_config, nullptr),
                PrepareModuleFiles({}, system.SystemName, vars.consoles, system.ConsoleCount, nullptr), problems);
  ReportValuesAsConvertWould(vars, system, ctx, problems);

  // The demo run reads the console sheets again by rules of its own; what it
  // finds at a place already reported adds nothing.
  vars.Clear();
  DemoSystem demo = DemoSystemFrom(system);
  Problems demo_problems;
  ReadDemoSheets(workbook, demo, vars, demo_problems, counter, /*frames_required=*/false);
  problems.AppendNewPlaces(demo_problems);

  // "32QX" and "Crosspoints" serve one run each: a plant that only converts
  // has neither, and says so without a problem.
  counter.Next("Crosspoints");
  if (!FindSheet(workbook, "32QX")) NoteOptionalSheet("32QX", "demo-ini", problems);
  if (!FindSheet(workbook, "Crosspoints")) {
    NoteOptionalSheet("Crosspoints", "xpoints", problems);
  } else {
    ReadCrosspointSheet(workbook, problems);
    NoteCrosspointFileName(system.SystemName, problems);
  }
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

RunResult NewDatabaseRun(Variables& vars, RunContext& ctx) {
  vars.Clear();
  RunResult result;
  auto not_run = [&](std::string reason) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = std::move(reason);
    return result;
  };
  const std::string workbook = ctx.chooser.GetFileName("Excel", "xls", 1);
  if (workbook.empty()) return result;
  if (const auto why = UnreadableFileReason(PathFromUtf8(workbook))) {
    return not_run(why->missing ? "workbook not found: " + workbook : "not a workbook: " + workbook + " " + why->why);
  }
  const Result<DatabaseSizes> sizes = DatabaseSizesFor(PathFromUtf8(workbook));
  if (!sizes.ok()) return not_run("cannot size the database from " + workbook + ": " + sizes.why());
  const std::string database = ctx.chooser.GetFileName("Switcher.db", "db", 2);
  if (database.empty()) return result;
  if (const Status created = CreateSwitcherDatabase(PathFromUtf8(database), *sizes); !created.ok()) {
    return not_run(created.why());
  }
  result.written.push_back(PathFromUtf8(database));
  return Complete(ctx, std::move(result));
}

}  // namespace kvr
