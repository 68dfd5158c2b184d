// The command line's parts, shared by its files: the options every command
// fills, the table of commands (cli.cc), how each command runs
// (cli_runs.cc), and the manual page and completion made from the same
// table (cli_docs.cc). Not for use outside app/cli/.
#ifndef KVR_APP_CLI_COMMAND_LINE_H_
#define KVR_APP_CLI_COMMAND_LINE_H_

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tables/new_database.h"

namespace kvr::cli {

// Everything the options of all commands fill.
struct Options {
  std::string workbook, database, sheet, output_dir = ".", inspect_file, help_topic, report, sizes_from, con,
      crosspoints;
  bool big_switch = false, yes = false, no = false, dry_run = false, verbose = false, strict = false,
       no_backup = false;
  DatabaseSizes sizes;
};

// One command: its name, what it does, examples, its options, and how it runs.
struct Command {
  const char* name;
  const char* summary;  // nullptr for a command that runs over a workbook: the window's summary is used
  const char* examples;
  void (*define)(CLI::App& command, Options& o);
  int (*run)(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err);
};

extern const char* const kProgramSummary;
extern const char* const kExitStatusText;

// The whole command line: every command with its options, help texts and
// examples. One source for parsing, --help, the manual and completion.
struct CommandLine {
  CLI::App app{kProgramSummary, "kvrconversion"};
  Options o;
  std::vector<std::pair<CLI::App*, const Command*>> commands;
  CLI::App* help = nullptr;

  CommandLine();
};

// How the commands that do more than print run (cli_runs.cc).
int RunConversionCommand(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err);
// new-database: the sizes given, or those the workbook's plant needs with
// any size given still taking precedence.
int RunNewDatabase(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err);
// export: the plant's database and files written back as a workbook.
int RunExport(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err);

}  // namespace kvr::cli

#endif  // KVR_APP_CLI_COMMAND_LINE_H_
