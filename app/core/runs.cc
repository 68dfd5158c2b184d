#include "app/core/runs.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <condition_variable>
#include <functional>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "base/interrupt.h"
#include "base/utf8.h"
#include "base/output_file.h"
#include "console/console_sheets.h"
#include "console/disk_work.h"
#include "demo/demo_ini.h"
#include "tables/database_backup.h"
#include "tables/odbc_database.h"
#include "workbook/sheet_prefetch.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"

namespace kvr {
namespace {

// Runs one step; an exception that escapes it becomes a problem and the run
// goes on with the next step.
void Step(Problems& problems, const std::string& what, const std::function<void()>& step) {
  try {
    step();
  } catch (const DatabaseFailure&) {
    throw;  // ends the whole database phase
  } catch (const WorkbookLimitError&) {
    throw;  // ends the run before anything is written
  } catch (const std::bad_alloc&) {
    problems.Report(what, "out of memory; step skipped", ErrorCode::kApplicationDefined);
  } catch (const std::exception& e) {
    problems.Report(what, std::string(e.what()) + "; step skipped", ErrorCode::kApplicationDefined);
  }
}

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

// Asks for the workbook and opens it, then shows "In Process". Returns
// nullptr after setting the result's outcome when the user cancels or the
// file cannot be read; the status is then left as it was.
std::unique_ptr<Workbook> StartWithWorkbook(RunContext& ctx, RunResult& result) {
  const std::string path = ctx.chooser.GetFileName("Excel", "xls", 1);
  if (path.empty()) {
    result.outcome = RunResult::Outcome::kCancelled;
    return nullptr;
  }
  if (const auto why = UnreadableFileReason(PathFromUtf8(path))) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = why->missing ? "workbook not found: " + path : "not a workbook: " + path + " " + why->why;
    return nullptr;
  }
  std::unique_ptr<Workbook> workbook;
  try {
    workbook = OpenWorkbook(PathFromUtf8(path));
  } catch (const std::exception& e) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = e.what();
    return nullptr;
  }
  StopIfInterrupted();
  ctx.status.SetStatus("In Process");
  return workbook;
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

// The database phase: the seven table steps in one transaction.
// How far the sheet phase has come, for a database phase running beside it:
// each table step waits for the sheet it writes from, and the commit for the
// whole sheet phase. An aborted sheet phase (a workbook past a bound) makes
// every wait fail, and the database is rolled back.
class SheetProgress {
 public:
  void Reached(int sheets) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reached_ = sheets;
    }
    changed_.notify_all();
  }
  void Abort() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      aborted_ = true;
    }
    changed_.notify_all();
  }
  bool WaitFor(int sheets) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || reached_ >= sheets; });
    return !aborted_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int reached_ = 0;
  bool aborted_ = false;
};

// The channel sheets in reading order; a table step needs the sheet at its
// number, the commit all of them and the module sheets after them.
enum SheetStage : int { kSources = 1, kDestinations, kOpto, kRelay, kLocation, kConsoleName, kRc, kConsoleConfig,
                        kAllSheets };

// The switcher database at `path` opened for update (its transaction
// begun), or nullptr after a problem placed at `place` says why not.
std::unique_ptr<SwitcherDatabase> OpenForUpdate(const std::string& path, DatabaseKind kind,
                                                const DatabaseOptions& options, const std::string& place,
                                                Problems& problems) {
  try {
    if (kind == DatabaseKind::kSqlite) return OpenSqliteDatabase(PathFromUtf8(path), options);
    if (kind == DatabaseKind::kOdbc) return OpenOdbcDatabase(path, options);
    if (const auto jet = JetConnectionString(std::filesystem::absolute(PathFromUtf8(path)))) {
      return OpenOdbcDatabase(*jet, options);
    }
    problems.Report(place,
                    "this is a Jet database, and this machine has no Jet ODBC driver to open it with (on Windows it "
                    "comes with the system; elsewhere give an ODBC connection as odbc:...). The database was left "
                    "unchanged",
                    ErrorCode::kDatabase);
  } catch (const DatabaseError& e) {
    problems.Report(place, std::string(e.what()) + "; the database was left unchanged", ErrorCode::kDatabase);
  } catch (const DatabaseFailure& e) {
    problems.Report(place, std::string(e.what()) + "; the database was left unchanged", ErrorCode::kDatabase);
  }
  return nullptr;
}

// The seven table steps, each once its sheet is read (`ready(stage)`; false
// when the sheet phase was aborted). False when they did not all run: the
// sheet phase ended early, or the database failed (reported at `place`).
bool RunTableSteps(SwitcherDatabase& db, Variables& vars, const SystemSettings& system,
                   const std::function<bool(int)>& ready, const std::string& place, Problems& problems) {
  const std::pair<int, std::function<void()>> steps[] = {
      {kSources, [&] { WriteInptAlphas(db, vars.inputs, system.InputCount, problems); }},
      {kDestinations, [&] { WriteOutptAlphas(db, vars.outputs, system.OutputCount, problems); }},
      {kOpto, [&] { WriteOptoAlphas(db, vars.optos, system.InputCount, problems); }},
      {kRelay, [&] { WriteRelayAlphas(db, vars.relays, system.OutputCount, problems); }},
      {kConsoleName, [&] { WriteConsoleAlphas(db, vars.console_names, problems); }},
      {kLocation, [&] { WriteLocationAlphas(db, vars.locations, problems); }},
      {kRc, [&] { WriteOptoRelaySets(db, vars.rc_sets, problems); }},
  };
  static_assert(std::size(steps) == kSwitcherTables.size());
  try {
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      if (!ready(steps[i].first) || InterruptRequested()) return false;
      Step(problems, std::string(kSwitcherTables[i]), steps[i].second);
    }
  } catch (const DatabaseFailure& e) {
    problems.Report(place, std::string("the database could not be updated (") + e.what() +
                               "); nothing in it was changed",
                    ErrorCode::kDatabase);
    return false;
  }
  return true;
}

// Keeps the changes, once the preview (if any) lets it: the backup put in
// place, then the commit; the backup is kept only when the commit is.
// Anything else rolls the changes back and leaves an earlier backup as it was.
void KeepChanges(SwitcherDatabase& db, DatabaseBackup* backup, RunContext& ctx, const std::string& place,
                 RunResult& result) {
  if (ctx.preview != nullptr && !ctx.preview->Apply(db.Changes().list(), db.Changes().counts())) {
    db.Rollback();
    result.changed.clear();
    result.preview_cancelled = true;
    result.reason = "the preview was cancelled: the database was left unchanged and no file was written";
    return;
  }
  if (backup != nullptr) {
    if (const Status s = backup->PutInPlace(); !s.ok()) {
      db.Rollback();
      result.changed.clear();
      result.problems.Report(place, "no backup of the database could be made (" + s.why() +
                                        "); the database was left unchanged", ErrorCode::kDatabase);
      return;
    }
  }
  try {
    db.Commit();
  } catch (const DatabaseError& e) {
    if (backup != nullptr) backup->Undo();
    result.changed.clear();
    result.problems.Report(place, e.what(), ErrorCode::kDatabase);
    return;
  }
  if (backup != nullptr) {
    backup->Keep();
    result.backup = backup->path();
  }
}

// The database phase. With `progress`, it runs beside the sheet phase: each
// step waits for its sheet, and the commit for the whole sheet phase.
void UpdateDatabase(const std::string& path, DatabaseKind kind, Variables& vars,
                    const SystemSettings& system, RunContext& ctx, RunResult& result,
                    SheetProgress* progress = nullptr) {
  Problems& problems = result.problems;
  DatabaseOptions options;
  options.track_changes = ctx.dry_run || ctx.preview != nullptr;
  options.count_changes = ctx.count_changes;
  // Where problems with the database as a whole are placed: its file, or its
  // connection string without a password.
  const std::string place = kind == DatabaseKind::kOdbc ? RedactConnectionString(path) : path;
  const std::unique_ptr<SwitcherDatabase> db = OpenForUpdate(path, kind, options, place, problems);
  if (!db) return;
  // The backup is taken now, while the transaction keeps other writers out
  // and before the first change; it is put in place just before the commit.
  DatabaseBackup backup;
  const bool back_up = ctx.backup && !ctx.dry_run && kind != DatabaseKind::kOdbc;
  if (back_up) {
    if (const Status s = backup.Stage(PathFromUtf8(path), kind); !s.ok()) {
      db->Rollback();
      problems.Report(place, "no backup of the database could be made (" + s.why() + "); the database was left unchanged",
                      ErrorCode::kDatabase);
      return;
    }
  }
  auto ready = [&](int stage) { return progress == nullptr || progress->WaitFor(stage); };
  if (!RunTableSteps(*db, vars, system, ready, place, problems)) {
    db->Rollback();
    result.interrupted = InterruptRequested();
    return;
  }
  result.database_read = true;
  result.changed = db->Changes().counts();
  if (ctx.dry_run) {
    result.changes = db->Changes().list();
    db->Rollback();
    return;
  }
  // The last safe point: past it the changes are kept and the files written.
  if (!ready(kAllSheets) || InterruptRequested()) {
    db->Rollback();
    result.interrupted = InterruptRequested();
    return;
  }
  KeepChanges(*db, back_up ? &backup : nullptr, ctx, place, result);
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

}  // namespace

std::filesystem::path OutputFolderFor(const std::filesystem::path& program_folder,
                                      const std::filesystem::path& fallback, bool& fell_back) {
  // A probe file of our own hidden pattern, made and removed at once.
  const auto probe = program_folder / TemporaryFileName(program_folder / "probe", std::random_device{}());
  {
    std::ofstream out(probe, std::ios::binary);
    fell_back = !out;
  }
  std::error_code ec;
  std::filesystem::remove(probe, ec);
  if (!fell_back) return program_folder;
  std::filesystem::create_directories(fallback, ec);
  return fallback;
}

std::string FilePatternsFor(const std::string& extension) {
  std::string patterns = "*." + extension;
  if (extension == "xls") patterns += " *.xlsx *.xlsm *.ods";
  else if (extension == "mdb") patterns += " *.db *.sqlite *.sqlite3";
  return patterns;
}

namespace {

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

// The kind of database `db_path` names ("odbc:" and a connection string,
// whose prefix is then taken off, or a file), or why it names none.
Result<DatabaseKind> DatabaseKindOf(std::string& db_path) {
  if (const DatabaseLocation location = ParseDatabaseLocation(db_path); location.odbc()) {
    db_path = location.value;
    return DatabaseKind::kOdbc;
  }
  if (const auto why = UnreadableFileReason(PathFromUtf8(db_path))) {
    return Status::Error(why->missing ? "database not found: " + db_path
                                      : "not a switcher database: " + db_path + " " + why->why);
  }
  DatabaseKind kind;
  try {
    kind = DetectDatabaseKind(PathFromUtf8(db_path));
  } catch (const DatabaseError& e) {
    return Status::Error(e.what());
  }
  if (kind == DatabaseKind::kOther) {
    return Status::Error("not a switcher database: " + db_path + " is neither a SQLite nor a Jet database file");
  }
  return kind;
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
  std::string db_path = ctx.chooser.GetFileName("Switcher.mdb", "mdb", 1);
  if (db_path.empty()) return result;  // cancelled
  const auto kind = DatabaseKindOf(db_path);
  if (!kind.ok()) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = kind.why();
    return result;
  }
  auto workbook = StartWithWorkbook(ctx, result);
  if (!workbook) return result;

  Problems& problems = result.problems;
  const SystemSettings system = ReadConversionSystem(*workbook, problems);
  const int last_console = std::min<int>(system.ConsoleCount, static_cast<int>(kConsoles) - 1);
  // Every later sheet is known now: they are read ahead, in the order taken.
  std::optional<SheetPrefetcher> prefetch(std::in_place, *workbook, ConversionSheetNames(last_console));
  auto sheet = [&](const std::string& name) {
    StopIfInterrupted();
    return prefetch->Take(name, problems);
  };

  // The database phase runs beside the sheet phase, each table step as soon
  // as its sheet is read, into a result of its own whose problems follow the
  // sheets' as designed; it commits only once the sheet phase ended well.
  RunResult database;
  SheetProgress progress;
  std::jthread database_phase;
  if (!ctx.dry_run) {
    database_phase = std::jthread([&] { UpdateDatabase(db_path, *kind, vars, system, ctx, database, &progress); });
  }
  try {
    ReadRunSheets(sheet, system, last_console, vars, ctx, problems, progress);
  } catch (...) {
    progress.Abort();  // the database is rolled back
    throw;
  }
  ReportConsolesPastTable(system, last_console, problems);
  prefetch.reset();
  workbook.reset();

  if (ctx.dry_run) {
    UpdateDatabase(db_path, *kind, vars, system, ctx, result);  // after the sheets, as designed
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
void ReadDemoSheets(Workbook& workbook, DemoSystem& demo, Variables& vars, Problems& problems) {
  const std::vector<std::string> sheet_names = workbook.SheetNames();
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
  std::unique_ptr<Workbook> workbook = StartWithWorkbook(ctx, result);
  if (!workbook) return result;
  body(workbook, result);
  return Complete(ctx, std::move(result));
}

void DemoIniRunBody(Variables& vars, RunContext& ctx, std::unique_ptr<Workbook>& workbook, RunResult& result) {
  Problems& problems = result.problems;
  DemoSystem demo;
  Step(problems, "System",
       [&] { demo = DemoSystemFrom(ReadSystemSettings(OpenSheetGrid(*workbook, "System", problems), problems)); });
  ReadDemoSheets(*workbook, demo, vars, problems);
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
  Step(problems, "System",
       [&] { system_name = FirstSystemName(OpenSheetGrid(*workbook, "System", problems), problems); });
  Step(problems, "Crosspoints",
       [&] { records = ReadCrosspoints(OpenSheetGrid(*workbook, "Crosspoints", problems), problems); });
  workbook.reset();

  NoteCrosspointFileName(system_name, problems);
  StopIfInterrupted();
  Step(problems, "crosspoint file", [&] {
    const std::string name = system_name + " Crosspoints.xpt";
    if (const auto why = UnsafeFileNameReason(system_name)) {
      problems.Report(name, "no crosspoint file written: the system name cannot name a file (" + *why + ")",
                      ErrorCode::kPathFileAccess);
      result.files.push_back({ctx.output_folder / name, FileOutcome::kNotWritten,
                              "the system name cannot name a file (" + *why + ")"});
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
  SheetProgress progress;
  auto sheet = [&](const std::string& name) {
    StopIfInterrupted();
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
  ReadDemoSheets(workbook, demo, vars, demo_problems);
  problems.AppendNewPlaces(demo_problems);

  Step(problems, "Crosspoints", [&] { ReadCrosspoints(OpenSheetGrid(workbook, "Crosspoints", problems), problems); });
  NoteCrosspointFileName(system.SystemName, problems);
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
