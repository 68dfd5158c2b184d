// The record of one run, as every front end shows it: the command, the
// inputs as chosen, the output folder and whether it fell back, the outcome,
// the files, the changes per table, the problems and notices grouped, the
// summary line and its severity, and the report saved as text and JSON.
// Front ends only draw it; nothing here knows how.
#ifndef KVR_APP_CORE_RUN_RECORD_H_
#define KVR_APP_CORE_RUN_RECORD_H_

#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/report.h"
#include "app/core/run_context.h"
#include "app/core/variables.h"
#include "base/status.h"

namespace kvr {

// The commands that run over a workbook, for every front end.
struct RunCommand {
  std::string_view name;     // "convert": the command line's word and the report's "command"
  std::string_view caption;  // the window's button ("Convert"); "" for a command the window has not
  std::string_view summary;  // one line of help
  bool takes_database = false;
  bool writes_files = false;
  RunResult (*run)(Variables&, RunContext&) = nullptr;
};
// The command named `name`; nullptr when none is.
const RunCommand* FindRunCommand(std::string_view name);

// A group of the problems and notices, as the details list them: those of
// one sheet, of one table, or of the files and other steps.
struct ReportGroup {
  std::string name;  // "Sheet \"Sources\"", "Table InptAlphas", "Files and other steps"
  std::vector<const Problem*> problems;
  std::vector<const Problem*> notices;
  // "2 problems, 1 notice", "3 notices".
  std::string Counts() const;
};

// The groups in the order first met, those with problems first. The
// pointers point into `problems`.
std::vector<ReportGroup> GroupReports(const Problems& problems);

// How a run ended, for the colour of its summary.
enum class Severity { kClean, kNotices, kProblems, kStopped };

struct RunRecord {
  RunInputs inputs;
  RunResult result;
  int exit_status = 0;
  std::chrono::system_clock::time_point when{};
  bool output_fell_back = false;  // the program's folder took no files: outputs went to the user's folder

  // The run got far enough to have something to show: it completed, its
  // preview was cancelled, or it was stopped.
  bool HasDetails() const;
  // "3 problems, 2 notices", "4 files, 120 changes", "preview cancelled,
  // 1 notice", or the reason a run did not run or was stopped.
  std::string Summary() const;
  // The titles of the details' tabs: "2 problems, 1 notice", "3 files",
  // "Database changes".
  std::array<std::string, 3> DetailTabs() const;
  Severity severity() const;
  // What a window tells in a message box once the run ends, "" for
  // nothing: why a run did not run, or that a conversion's database was
  // not reached (no driver, a lock, a damaged file) although its files were
  // written, with the problem that says why and what to install or do.
  std::string Alert() const;
  // The lines above the details: command and time, workbook, database,
  // backup, output folder (and why it is that one), a reason.
  std::vector<std::string> Head() const;
  // The changes per table in table order, when the run read the database.
  std::vector<TableChanges> Changes() const;
  std::vector<ReportGroup> Groups() const { return GroupReports(result.problems); }

  std::string ReportText() const;
  std::string ReportJson() const;
  // Saves the report as text at `path` and as JSON beside it (".txt"
  // replaced by ".json", else ".json" added); never over a file the run read,
  // protects or wrote. Returns the JSON file's path, or why not.
  Result<std::filesystem::path> SaveReport(const std::filesystem::path& path) const;
  // Saves the JSON report alone at `path` (the command line's --report).
  Status SaveJsonReport(const std::filesystem::path& path) const;
};

// Runs `command`. `inputs` holds what the front end was given (the command
// line's arguments as typed); what it leaves empty is filled from the files
// the run chose. The exit status is taken with `inputs.strict`.
RunRecord RunAndRecord(const RunCommand& command, Variables& vars, RunContext& ctx, RunInputs inputs);

// The record of `command` not run at all, for `reason` (an output folder
// that cannot be used): nothing read or written.
RunRecord RecordNotRun(const RunCommand& command, RunInputs inputs, std::string reason);

}  // namespace kvr

#endif  // KVR_APP_CORE_RUN_RECORD_H_
