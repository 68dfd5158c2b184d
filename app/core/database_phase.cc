#include "app/core/database_phase.h"

#include <random>

#include <functional>
#include <iterator>
#include <limits>
#include <utility>

#include "app/core/step.h"
#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/connection_string.h"
#include "app/core/plant_size.h"
#include "tables/database_backup.h"
#include "tables/new_database.h"

namespace kvr {

void SheetProgress::Reached(int stage) {
  {
    std::lock_guard lock(mutex_);
    reached_ = stage;
  }
  changed_.notify_all();
}

void SheetProgress::Abort() {
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  changed_.notify_all();
}

bool SheetProgress::Passed(int stage) {
  std::lock_guard lock(mutex_);
  return aborted_ || reached_ >= stage;
}

bool SheetProgress::WaitFor(int stage) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return aborted_ || reached_ >= stage; });
  return !aborted_;
}

namespace {

// The database opened for update (its transaction begun), or why not, in
// words that end by saying it was left unchanged.
Result<std::unique_ptr<SwitcherDatabase>> OpenForUpdate(const DatabaseTarget& target, const DatabaseOptions& options) {
  try {
    return OpenDatabase(target, options);
  } catch (const DatabaseError& e) {
    return Status::Error(std::string(e.what()) + "; the database was left unchanged");
  } catch (const DatabaseFailure& e) {
    return Status::Error(std::string(e.what()) + "; the database was left unchanged");
  }
}

enum class StepsEnded { kAll, kStopped, kFailed };

// The seven table steps, each once its sheet is read (with `progress`; else
// the sheets are all read). kStopped: the sheet phase ended early or a stop
// was asked for; kFailed: the database failed (reported at `place`).
StepsEnded RunTableSteps(SwitcherDatabase& db, Variables& vars, const SystemSettings& system, SheetProgress* progress,
                         RunContext& ctx, const std::string& place, Problems& problems) {
  // How many records of its table each step reads, in key order: those its
  // count reaches, all of the outputs (the aux numbering walks them), none
  // worth reading ahead of the small tables.
  auto counted = [](std::int16_t count) { return static_cast<std::size_t>(std::max<int>(count, 0)) + 1; };
  const std::size_t all = std::numeric_limits<std::size_t>::max();
  struct TableStep {
    int stage;
    std::size_t reads;
    std::function<void()> write;
  };
  const TableStep steps[] = {
      {kSources, counted(system.InputCount), [&] { WriteInptAlphas(db, vars.inputs, system.InputCount, problems); }},
      {kDestinations, all, [&] { WriteOutptAlphas(db, vars.outputs, system.OutputCount, problems); }},
      {kOpto, counted(system.InputCount), [&] { WriteOptoAlphas(db, vars.optos, system.InputCount, problems); }},
      {kRelay, counted(system.OutputCount), [&] { WriteRelayAlphas(db, vars.relays, system.OutputCount, problems); }},
      {kConsoleName, 0, [&] { WriteConsoleAlphas(db, vars.console_names, problems); }},
      {kLocation, 0, [&] { WriteLocationAlphas(db, vars.locations, problems); }},
      {kRc, 0, [&] { WriteOptoRelaySets(db, vars.rc_sets, problems); }},
  };
  static_assert(std::size(steps) == kSwitcherTables.size());
  try {
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      // While a step waits for its sheet, the database reads ahead what
      // this step and the next will read: a database on a server answers
      // each read in a round trip, and would otherwise keep the run waiting
      // once the sheets are read.
      if (progress != nullptr) {
        auto enough = [&] { return progress->Passed(steps[i].stage) || InterruptRequested(); };
        for (std::size_t j = i; j < std::size(steps) && !enough(); ++j) {
          if (steps[j].reads > 0) db.ReadAhead(kSwitcherTables[j], kChannelKeyField, steps[j].reads, enough);
        }
      }
      if ((progress != nullptr && !progress->WaitFor(steps[i].stage)) || InterruptRequested()) {
        return StepsEnded::kStopped;
      }
      if (ctx.progress != nullptr) {
        ctx.progress->Table(static_cast<int>(i) + 1, static_cast<int>(std::size(steps)), kSwitcherTables[i]);
      }
      Step(problems, std::string(kSwitcherTables[i]), steps[i].write);
    }
  } catch (const DatabaseFailure& e) {
    // Rolled back before it is said: what the message claims of the
    // database must be true of it as it stands.
    db.Rollback();
    const std::string left = db.LeftOver();
    problems.Report(place, std::string("the database could not be updated (") + e.what() + "); " +
                               (left.empty() ? "nothing in it was changed" : left),
                    ErrorCode::kDatabase);
    return StepsEnded::kFailed;
  }
  return StepsEnded::kAll;
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
  if (ctx.progress != nullptr) ctx.progress->Stage("Keeping the changes");
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

}  // namespace

void UpdateDatabase(const DatabaseTarget& target, Variables& vars, const SystemSettings& system, RunContext& ctx,
                    RunResult& result, SheetProgress* progress) {
  Problems& problems = result.problems;
  DatabaseOptions options;
  options.track_changes = ctx.dry_run || ctx.preview != nullptr;
  options.count_changes = ctx.count_changes;
  // Where problems with the database as a whole are placed: its file, or its
  // connection string without a password.
  const std::string place = target.file() ? target.where : RedactConnectionString(target.where);
  // Sampled before the open plays it back: a journal beside a SQLite file
  // says the last run was killed before its changes were kept.
  const bool back_up = ctx.backup && !ctx.dry_run && target.file();
  const bool journal_left =
      target.kind == DatabaseKind::kSqlite && std::filesystem::exists(JournalOf(PathFromUtf8(target.where)));
  auto opened = OpenForUpdate(target, options);
  if (!opened.ok()) {
    problems.Report(place, opened.why(), ErrorCode::kDatabase);
    return;
  }
  SwitcherDatabase& db = **opened;
  // The backup is taken now, while the transaction keeps other writers out
  // and before the first change; it is put in place just before the commit.
  // The open transaction holds the database: no other run is keeping a
  // backup of it now, and what its backups left is a killed run's.
  if (target.file() && !ctx.dry_run) DatabaseBackup::TidyAfterKilledRun(PathFromUtf8(target.where), !journal_left);
  DatabaseBackup backup;
  if (back_up) {
    if (const Status s = backup.Stage(PathFromUtf8(target.where), target.kind); !s.ok()) {
      db.Rollback();
      problems.Report(place, "no backup of the database could be made (" + s.why() + "); the database was left unchanged",
                      ErrorCode::kDatabase);
      return;
    }
  }
  if (RunTableSteps(db, vars, system, progress, ctx, place, problems) != StepsEnded::kAll) {
    db.Rollback();
    result.interrupted = InterruptRequested();
    return;
  }
  result.database_read = true;
  // Changes the database cannot keep are not offered to a preview, nor
  // listed by a dry run as what a conversion would do.
  if (const std::string why = db.CannotKeep(); !why.empty()) {
    db.Rollback();
    problems.Report(place, why, ErrorCode::kDatabase);
    return;
  }
  result.changed = db.Changes().counts();
  if (ctx.dry_run) {
    result.changes = db.Changes().list();
    db.Rollback();
    return;
  }
  // The last safe point: past it the changes are kept and the files written.
  if ((progress != nullptr && !progress->WaitFor(kAllSheets)) || InterruptRequested()) {
    db.Rollback();
    result.interrupted = InterruptRequested();
    return;
  }
  KeepChanges(db, back_up ? &backup : nullptr, ctx, place, result);
}

void ReportValuesAsConvertWould(Variables& vars, const SystemSettings& system, RunContext& ctx, Problems& problems) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  if (ec) return;  // nothing to add without a place for the scratch database
  std::random_device random;
  const fs::path scratch =
      folder / PathFromUtf8(TemporaryFileName(folder / "kvrconversion-check.db",
                                              (static_cast<unsigned long long>(random()) << 32) | random()));
  // A scratch database that cannot be made or used adds nothing: check
  // says what the sheets say.
  if (!CreateSwitcherDatabase(scratch, DatabaseSizesFor(system, vars.inputs, vars.outputs, vars.locations,
                                                        vars.console_names, vars.rc_sets))
           .ok()) {
    return;
  }
  try {
    auto db = OpenSqliteDatabase(scratch, DatabaseOptions{});
    Problems said;
    RunTableSteps(*db, vars, system, nullptr, ctx, Utf8Path(scratch), said);
    db->Rollback();
    db.reset();
    problems.Append(said);
  } catch (const std::exception&) {
  }
  fs::remove(scratch, ec);
}

}  // namespace kvr
