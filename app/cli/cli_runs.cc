// How the commands that run over a workbook or a database run on the
// command line: the paths given as the runs' answers, the run in its output
// folder, what it did printed, the report saved.
#include <algorithm>
#include <optional>
#include <ostream>
#include <string>

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/file_commands.h"
#include "app/cli/terminal.h"
#include "app/core/export_run.h"
#include "app/core/output_folder.h"
#include "app/core/plant_size.h"
#include "app/core/report_target.h"
#include "app/core/run_record.h"
#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/connection_string.h"
#include "tables/new_database.h"
#include "tables/odbc_database.h"

namespace kvr::cli {
namespace {

namespace fs = std::filesystem;

// Hands the runs the paths given on the command line: the database when asked
// for an .mdb, the workbook otherwise.
class ArgumentChooser : public FileChooser {
 public:
  ArgumentChooser(std::string database, std::string workbook)
      : database_(std::move(database)), workbook_(std::move(workbook)) {}
  std::string GetFileName(const std::string&, const std::string& sExtension, int) override {
    const std::string& path = AsksForDatabase(sExtension) ? database_ : workbook_;
    if (ParseDatabaseLocation(path).odbc()) return path;  // a connection string, not a file
    if (path.empty()) return path;
    std::error_code ec;
    const fs::path absolute = fs::absolute(PathFromUtf8(path), ec);
    return ec ? path : Utf8Path(absolute);
  }

 private:
  std::string database_, workbook_;
};

class QuietStatus : public StatusSink {
 public:
  void SetStatus(const std::string&) override {}
};

// Prints what the run did (stdout) and its problems and notices (stderr);
// returns the exit status.
int Finish(const RunRecord& record, std::ostream& out, std::ostream& err) {
  const RunResult& result = record.result;
  switch (result.outcome) {
    case RunResult::Outcome::kCancelled:
      err << "kvrconversion: no file given\n";
      return kExitNotRun;
    case RunResult::Outcome::kNotRun:
      PrintProblems(result.problems, err);  // why, where the run found out
      err << "kvrconversion: " << EscapeControls(result.reason) << '\n';
      return kExitNotRun;
    case RunResult::Outcome::kInterrupted:
      err << "kvrconversion: " << result.reason << '\n';
      return kExitInterrupted;
    case RunResult::Outcome::kCompleted:
      break;
  }
  if (!result.backup.empty()) out << "kept the database as it was in " << Utf8Path(result.backup) << '\n';
  for (const auto& path : result.written) out << "wrote " << Utf8Path(path) << '\n';
  for (const auto& f : result.files) {
    if (f.kind == FileOutcome::kKept) out << "kept " << Utf8Path(f.path) << " (" << f.why << ")\n";
  }
  PrintProblems(result.problems, err);
  out << "Completed";
  const std::size_t problems = result.problems.size(), notices = result.problems.NoticesNotListings();
  if (problems + notices > 0) {
    out << " with ";
    if (problems > 0) out << problems << (problems == 1 ? " problem" : " problems") << (notices > 0 ? " and " : "");
    if (notices > 0) out << notices << (notices == 1 ? " notice" : " notices");
    out << ", listed on stderr";
  }
  out << '\n';
  if (InterruptRequested()) {
    // Asked to stop after the last safe point: the run had kept its changes.
    err << "kvrconversion: interrupted after the changes were kept; the run was completed as listed\n";
    return kExitInterrupted;
  }
  return record.exit_status;
}

// Saves the JSON report when --report asked for one, with the exit status
// the run ends with; one that cannot be written makes that at least 1.
int WithReport(RunRecord& record, int exit_status, const std::string& report, std::ostream& err) {
  if (report.empty()) return exit_status;
  record.exit_status = exit_status;
  if (const Status written = record.SaveJsonReport(PathFromUtf8(report)); !written.ok()) {
    err << "kvrconversion: report " << report << " not written: " << written.why() << '\n';
    return std::max(exit_status, kExitProblems);
  }
  return exit_status;
}

// `answer`: --yes (true), --no (false) or neither, which tells what would
// become of a file that exists.
void PrintDryRun(const RunRecord& record, bool verbose, std::ostream& out, const fs::path& folder,
                 std::optional<bool> answer) {
  const RunResult& result = record.result;
  out << "dry run: nothing was written\n";
  if (!result.database_read) {
    out << "the database could not be read, so no change can be previewed (the problems say why)\n";
  }
  for (const auto& [table, count] : record.Changes()) {
    out << table << ": " << count.records << " record(s), " << count.fields << " field(s) would change\n";
  }
  if (verbose) {
    for (const auto& c : result.changes) {
      out << "  " << c.table << ", " << c.key << ", " << c.field << ": " << FieldValueText(c.before) << " -> "
          << FieldValueText(c.after) << '\n';
    }
  }
  for (const auto& name : result.would_write) {
    std::error_code ec;
    if (!fs::exists(folder / PathFromUtf8(name), ec)) {
      out << "would write " << name << '\n';
    } else if (answer.has_value()) {
      out << (*answer ? "would replace " : "would keep ") << name << " (it exists)\n";
    } else {
      out << "would ask before replacing " << name << " (it exists; without a terminal to ask on it is kept)\n";
    }
  }
}

// Runs `run` with its outputs in ctx.output_folder, made first when missing
// (a dry run writes nothing, and makes none) and removed again when the run
// came to nothing; a folder that cannot be made is a run that did not run.
RunRecord RunInOutputFolder(const RunCommand& run, RunContext& ctx, TerminalQuestion& question,
                            const RunProgress& progress, const RunInputs& given, std::ostream& out,
                            std::ostream& err) {
  std::error_code ec;
  const fs::path& folder = ctx.output_folder;
  Result<fs::path> created = fs::path();
  if (run.writes_files && !ctx.dry_run) created = PrepareOutputFolder(folder);
  else if (run.writes_files && fs::exists(folder, ec) && !fs::is_directory(folder, ec)) {
    created = Status::Error("output folder " + Utf8Path(folder) + " is a file, not a folder");
  }
  if (!created.ok()) return RecordNotRun(run, given, created.why());
  TerminalProgress shown(progress, err, IsTerminal(2));
  question.StopsFirst(&shown);
  auto vars = std::make_unique<Variables>();
  RunRecord record = RunAndRecord(run, *vars, ctx, given);
  shown.Stop();
  question.StopsFirst(nullptr);
  if (record.result.outcome != RunResult::Outcome::kCompleted) RemoveIfNothingCame(*created);
  else if (!created->empty()) out << "created folder " << Utf8Path(folder) << '\n';
  return record;
}

}  // namespace

// new-database: the sizes given, or those the workbook's plant needs with
// any size given still taking precedence.
int RunNewDatabase(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err) {
  DatabaseSizes sizes = o.sizes;
  if (command.count("--workbook") > 0 && o.sizes_from.empty()) {
    err << "kvrconversion: no workbook given to --workbook\n";
    return kExitNotRun;
  }
  if (!o.sizes_from.empty()) {
    const Result<DatabaseSizes> plant = DatabaseSizesFor(PathFromUtf8(o.sizes_from));
    if (!plant.ok()) {
      err << "kvrconversion: cannot size the database from " << o.sizes_from << ": " << plant.why() << '\n';
      return kExitNotRun;
    }
    const std::pair<const char*, int DatabaseSizes::*> fields[] = {
        {"--inputs", &DatabaseSizes::inputs},       {"--outputs", &DatabaseSizes::outputs},
        {"--consoles", &DatabaseSizes::consoles},   {"--locations", &DatabaseSizes::locations},
        {"--sets", &DatabaseSizes::sets}};
    for (const auto& [option, field] : fields) {
      if (command.count(option) == 0) sizes.*field = (*plant).*field;
    }
  }
  try {
    const DatabaseLocation location = ParseDatabaseLocation(o.database);
    const Status created = location.odbc() ? CreateOdbcSwitcherDatabase(location.value, sizes)
                                           : CreateSwitcherDatabase(PathFromUtf8(location.value), sizes);
    if (!created.ok()) {
      if (InterruptRequested()) return Interrupted("nothing was created", err);
      err << "kvrconversion: " << created.why() << '\n';
      return kExitNotRun;
    }
  } catch (const RunInterrupted&) {
    return Interrupted("nothing was created", err);
  }
  out << "created " << RedactDatabaseArgument(o.database) << " with " << sizes.inputs << " inputs, " << sizes.outputs
      << " outputs, " << sizes.consoles << " consoles, " << sizes.locations << " locations and " << sizes.sets
      << " sets\n";
  return kExitOk;
}

// export: the plant's database and files written back as a workbook.
int RunExport(CLI::App&, const Options& o, std::ostream& out, std::ostream& err) {
  if (o.yes && o.no) {
    err << "kvrconversion: --yes and --no cannot both be given\n";
    return kExitNotRun;
  }
  const ExportRequest request{PathFromUtf8(o.workbook), o.database, PathFromUtf8(o.con), PathFromUtf8(o.crosspoints),
                              o.big_switch};
  if (!o.report.empty()) {
    if (const Status target = CheckExportReportTarget(PathFromUtf8(o.report), request); !target.ok()) {
      err << "kvrconversion: the report cannot be written to " << o.report << ": " << target.why()
          << "; nothing was run\n";
      return kExitNotRun;
    }
  }
  TerminalQuestion question(o.yes ? std::optional<bool>(true) : o.no ? std::optional<bool>(false) : std::nullopt, err);
  RunRecord record = ExportAndRecord(request, question, o.strict, KVR_VERSION);
  return WithReport(record, Finish(record, out, err), o.report, err);
}


int RunConversionCommand(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err) {
  const RunCommand& run = *FindRunCommand(command.get_name());
  if (o.yes && o.no) {
    err << "kvrconversion: --yes and --no cannot both be given\n";
    return kExitNotRun;
  }
  if (run.writes_files && o.verbose && !o.dry_run) {
    err << "kvrconversion: --verbose lists the changes of a dry run; give it with --dry-run\n";
    return kExitNotRun;
  }
  std::error_code ec;
  const fs::path output_folder = fs::weakly_canonical(fs::absolute(PathFromUtf8(o.output_dir)), ec);
  const fs::path report = PathFromUtf8(o.report);
  if (!o.report.empty()) {
    const auto files = ProtectedFilesOf(run.name, o.workbook, o.database);
    const Status target = CheckReportTarget(report, run.name, files, run.writes_files ? output_folder : fs::path());
    if (!target.ok()) {
      err << "kvrconversion: the report cannot be written to " << o.report << ": " << target.why()
          << "; nothing was run\n";
      return kExitNotRun;
    }
  }
  ArgumentChooser chooser(o.database, o.workbook);
  TerminalQuestion question(o.yes ? std::optional<bool>(true) : o.no ? std::optional<bool>(false) : std::nullopt, err);
  QuietStatus status;
  RunProgress progress;
  RunContext ctx{chooser, question, status, o.big_switch, output_folder};
  ctx.dry_run = o.dry_run;
  ctx.backup = !o.no_backup;
  ctx.count_changes = o.dry_run || !o.report.empty();  // only what is shown is counted: it costs a read per record
  ctx.progress = &progress;
  const RunInputs given{std::string(run.name), o.workbook, RedactDatabaseArgument(o.database), output_folder,
                        o.big_switch, o.dry_run, o.strict, KVR_VERSION};

  RunRecord record = RunInOutputFolder(run, ctx, question, progress, given, out, err);
  for (const std::string& kept : question.KeptUnasked()) {
    record.result.problems.Report(kept, "kept as it was, so it is not what the workbook gives: it exists, and with "
                                        "neither --yes nor --no there was no terminal to ask on",
                                  ErrorCode::kPathFileAccess, "file-kept-unasked");
    record.exit_status = ExitStatus(record.result, o.strict);
  }
  if (o.dry_run && record.result.outcome == RunResult::Outcome::kCompleted) {
    PrintDryRun(record, o.verbose, out, output_folder, o.yes ? std::optional<bool>(true) : o.no ? std::optional<bool>(false) : std::nullopt);
  }
  return WithReport(record, Finish(record, out, err), o.report, err);
}


}  // namespace kvr::cli
