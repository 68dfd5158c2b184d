// What a run did, for people and for machines: the exit status it gives, and
// the report a front end saves or prints (JSON, documented in
// docs/report.md; its "schema" number changes only when a field's meaning
// does).
#ifndef KVR_APP_CORE_REPORT_H_
#define KVR_APP_CORE_REPORT_H_

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/run_context.h"

namespace kvr {

inline constexpr int kReportSchema = 2;

// Exit statuses.
inline constexpr int kExitOk = 0;        // completed with no problem (and, when strict, no notice)
inline constexpr int kExitProblems = 1;  // completed, with problems (or, when strict, notices)
inline constexpr int kExitNotRun = 2;    // usage error, or an input that cannot be read
inline constexpr int kExitInterrupted = 130;  // stopped on request (Ctrl-C, a signal): as shells count SIGINT

// The status a run ends with. `strict`: any notice counts as a problem.
int ExitStatus(const RunResult& result, bool strict);

// What a run was given.
struct RunInputs {
  std::string command;   // "convert", "demo-ini", "xpoints", "check"
  std::string workbook;  // as given
  std::string database;  // "" when the command takes none; a connection string without its password
  std::filesystem::path output_folder;
  bool big_switch = false;
  bool dry_run = false;
  bool strict = false;
  std::string version;   // the program's
};

// The records and fields changed in one table.
struct TableChanges {
  std::string_view table;
  ChangeCount count;
};
// Every switcher table in table order with its counts, 0 for a table not in
// `changed`.
std::vector<TableChanges> ChangesInTableOrder(const std::map<std::string, ChangeCount>& changed);

// What the preview says above its changes: that nothing is kept until they
// are applied, then a line per table, "InptAlphas: 3 records, 5 fields".
std::string PreviewHeading(const std::map<std::string, ChangeCount>& changed);

// The changes per table a report lists: ChangesInTableOrder when the run
// completed with a database it read, none otherwise.
std::vector<TableChanges> TablesOf(const RunInputs& inputs, const RunResult& result);

// The report as one JSON document.
std::string ReportJson(const RunInputs& inputs, const RunResult& result, int exit_status,
                       std::chrono::system_clock::time_point when);

// The same report as plain text, one item per line.
std::string ReportText(const RunInputs& inputs, const RunResult& result, int exit_status,
                       std::chrono::system_clock::time_point when);

// "2026-12-07T08:15:02Z".
std::string IsoTime(std::chrono::system_clock::time_point when);

}  // namespace kvr

#endif  // KVR_APP_CORE_REPORT_H_
