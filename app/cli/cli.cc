#include "app/cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <ostream>
#include <string>

#include "app/cli/file_commands.h"
#include "app/cli/terminal.h"
#include "app/core/export_run.h"
#include "app/core/output_folder.h"
#include "app/core/plant_size.h"
#include "app/core/report_target.h"
#include "app/core/run_record.h"
#include "base/interrupt.h"
#include "base/nearest.h"
#include "base/utf8.h"
#include "tables/connection_string.h"
#include "tables/new_database.h"
#include "tables/odbc_database.h"

namespace kvr {
namespace {

// Where the report's description is, as a package installs it.
#ifdef _WIN32
constexpr const char* kReportDoc = "docs\\report.md beside the program";
#else
constexpr const char* kReportDoc = "/usr/share/doc/kvrconversion/report.md";
#endif

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
  const std::size_t problems = result.problems.size(), notices = result.problems.notices().size();
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

// Everything the options of all commands fill.
struct Options {
  std::string workbook, database, sheet, output_dir = ".", inspect_file, help_topic, report, sizes_from, con,
      crosspoints;
  bool big_switch = false, yes = false, no = false, dry_run = false, verbose = false, strict = false,
       no_backup = false;
  DatabaseSizes sizes;
};

// A whole number in 0..32767, or why not: "not a number" for text, so that
// the message says what is wrong with the value.
CLI::Validator TableSize() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
          return "\"" + value + "\" is not a number";
        }
        if (value.size() > 5 || std::stoi(value) > 32767) return value + " is more than 32767";
        return "";
      },
      "");
}

int RunConversionCommand(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err);
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
    if (location.odbc()) CreateOdbcSwitcherDatabase(location.value, sizes);
    else CreateSwitcherDatabase(PathFromUtf8(location.value), sizes);
  } catch (const std::exception& e) {
    if (InterruptRequested()) return Interrupted("nothing was created", err);
    err << "kvrconversion: " << e.what() << '\n';
    return kExitNotRun;
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

// One command: its name, what it does, examples, its options, and how it runs.
struct Command {
  const char* name;
  const char* summary;  // nullptr for a command that runs over a workbook: the window's summary is used
  const char* examples;
  void (*define)(CLI::App& command, Options& o);
  int (*run)(CLI::App& command, const Options& o, std::ostream& out, std::ostream& err);
};

void WorkbookOption(CLI::App& c, Options& o) {
  c.add_option("--workbook", o.workbook, "Workbook (.xlsx, .xlsm, .ods or .xls)")->required()->type_name("PATH");
}
void OutputDirOption(CLI::App& c, Options& o, const char* what) {
  c.add_option("--output-dir", o.output_dir, std::string("Folder for ") + what + " (default: the current folder; made if missing)")
      ->type_name("DIR");
}
// --strict and --report, which every command that reads the workbook's sheets takes.
void ReportOptions(CLI::App& c, Options& o) {
  c.add_flag("--strict", o.strict, "Exit with status 1 on any notice too, not only on problems");
  c.add_option("--report", o.report, std::string("Also write what the run did as JSON (see ") + kReportDoc + ")")
      ->type_name("FILE")
      ->check(CLI::Validator(
          [](const std::string& value) { return value.empty() ? std::string("--report needs a file name") : ""; },
          ""));
}

const Command kCommands[] = {
    {"convert", nullptr,
     "  kvrconversion convert --database Switcher.db --workbook plant.xlsx --output-dir out\n"
     "  kvrconversion convert --database \"odbc:DSN=plant\" --workbook plant.xlsx --dry-run --verbose",
     [](CLI::App& c, Options& o) {
       c.add_option("--database", o.database,
                    "Switcher database: a SQLite or Jet (.mdb/.accdb) file, or odbc:CONNECTION-STRING")
           ->required()->type_name("PATH");
       WorkbookOption(c, o);
       c.add_flag("--big-switch", o.big_switch, "Use the Big Switch button function codes");
       OutputDirOption(c, o, "the .con and .cns files");
       c.add_flag("--yes", o.yes, "Replace existing .con/.cns files without asking");
       c.add_flag("--no", o.no, "Never replace existing .con/.cns files");
       c.add_flag("--dry-run", o.dry_run, "Change nothing; say per table what would change");
       c.add_flag("--verbose", o.verbose, "With --dry-run: list every change");
       c.add_flag("--no-backup", o.no_backup, "Keep no copy of the database as it was (default: FILE.bak beside it)");
       ReportOptions(c, o);
     },
     RunConversionCommand},
    {"demo-ini", nullptr,
     "  kvrconversion demo-ini --workbook plant.xlsx --output-dir out",
     [](CLI::App& c, Options& o) {
       WorkbookOption(c, o);
       OutputDirOption(c, o, "DemoSetup.ini");
       ReportOptions(c, o);
     },
     RunConversionCommand},
    {"xpoints", nullptr,
     "  kvrconversion xpoints --workbook plant.xlsx --output-dir out",
     [](CLI::App& c, Options& o) {
       WorkbookOption(c, o);
       OutputDirOption(c, o, "the crosspoint file");
       ReportOptions(c, o);
     },
     RunConversionCommand},
    {"check", nullptr,
     "  kvrconversion check --workbook plant.xlsx\n"
     "  kvrconversion check --workbook plant.xlsx --big-switch --strict --report check.json",
     [](CLI::App& c, Options& o) {
       WorkbookOption(c, o);
       c.add_flag("--big-switch", o.big_switch, "Read the module sheets with the Big Switch button function codes");
       ReportOptions(c, o);
     },
     RunConversionCommand},
    {"export", "Write a plant's database, console files and crosspoint file back as a workbook",
     "  kvrconversion export --workbook plant.xlsx --database Switcher.db --con \"out/Plant A.con\"\n"
     "  kvrconversion export --workbook plant.ods --crosspoints \"out/Plant A Crosspoints.xpt\" --yes",
     [](CLI::App& c, Options& o) {
       c.add_option("--workbook", o.workbook, "Workbook to write (.xlsx or .ods)")->required()->type_name("OUT");
       c.add_option("--database", o.database,
                    "Switcher database to read: a SQLite or Jet (.mdb/.accdb) file, or odbc:CONNECTION-STRING")
           ->type_name("PATH");
       c.add_option("--con", o.con,
                    "Console configuration file to read; its module files (.cns) are found beside it")
           ->type_name("FILE");
       c.add_option("--crosspoints", o.crosspoints, "Crosspoint file (.xpt) to read")->type_name("FILE");
       c.add_flag("--big-switch", o.big_switch, "The module files were written with --big-switch");
       c.add_flag("--yes", o.yes, "Replace an existing workbook without asking");
       c.add_flag("--no", o.no, "Never replace an existing workbook");
       ReportOptions(c, o);
     },
     RunExport},
    {"new-database", "Create an empty switcher database",
     "  kvrconversion new-database --database Switcher.db --workbook plant.xlsx\n"
     "  kvrconversion new-database --database Switcher.db --inputs 256 --outputs 192",
     [](CLI::App& c, Options& o) {
       c.add_option("--database", o.database,
                    "SQLite file to create (never overwritten), or odbc:CONNECTION-STRING to create the tables in")
           ->required()->type_name("PATH");
       c.add_option("--inputs", o.sizes.inputs, "InptAlphas and OptoAlphas records, 0 to 32767 (default 64)")
           ->check(TableSize())->type_name("N");
       c.add_option("--outputs", o.sizes.outputs, "OutptAlphas and RelayAlphas records, 0 to 32767 (default 64)")
           ->check(TableSize())->type_name("N");
       c.add_option("--consoles", o.sizes.consoles, "ConsoleAlphas records, 0 to 32767 (default 8)")
           ->check(TableSize())->type_name("N");
       c.add_option("--locations", o.sizes.locations, "LocationAlphas records, 0 to 32767 (default 32)")
           ->check(TableSize())->type_name("N");
       c.add_option("--sets", o.sizes.sets, "OptoRelaySets records, 0 to 32767 (default 32)")
           ->check(TableSize())->type_name("N");
       c.add_option("--workbook", o.sizes_from,
                    "Size every table for this workbook's plant (its System counts and the numbers on its Location, "
                    "Console Name and RC sheets); a size given as an option still holds")
           ->type_name("PATH");
     },
     RunNewDatabase},
    {"inspect", "Decode a .con, .cns or .xpt file into a readable table",
     "  kvrconversion inspect \"out/Plant A.con\"",
     [](CLI::App& c, Options& o) { c.add_option("file", o.inspect_file, "The file")->required()->type_name("FILE"); },
     [](CLI::App&, const Options& o, std::ostream& out, std::ostream& err) {
       return RunInspect(o.inspect_file, out, err);
     }},
    {"sheet", "Print one worksheet's grid as JSON (cells as text, null for errors)",
     "  kvrconversion sheet --workbook plant.xlsx --sheet Sources",
     [](CLI::App& c, Options& o) {
       WorkbookOption(c, o);
       c.add_option("--sheet", o.sheet, "Worksheet name (matched without regard to case)")->required()->type_name("NAME");
     },
     [](CLI::App&, const Options& o, std::ostream& out, std::ostream& err) {
       return RunSheet(o.workbook, o.sheet, out, err);
     }},
    {"system", "Print the settings of the workbook's \"System\" sheet",
     "  kvrconversion system --workbook plant.xlsx",
     [](CLI::App& c, Options& o) { WorkbookOption(c, o); },
     [](CLI::App&, const Options& o, std::ostream& out, std::ostream& err) { return RunSystem(o.workbook, out, err); }},
    {"version", "Print the program's version", "  kvrconversion version",
     [](CLI::App&, Options&) {},
     [](CLI::App&, const Options&, std::ostream& out, std::ostream&) {
       out << "kvrconversion " << KVR_VERSION << '\n';
       return kExitOk;
     }},
};

// Says plainly what was wrong with the command line.
int UsageError(CLI::App& app, const CLI::ParseError& e, std::ostream& err) {
  CLI::App* command = app.get_subcommands().empty() ? nullptr : app.get_subcommands().front();
  const std::string where = command != nullptr ? std::string(" ") + command->get_name() : std::string(" COMMAND");
  // Words left over are named first: a mistyped name explains the rest.
  const std::vector<std::string> left = app.remaining(true);
  if (!left.empty()) {
    const std::string word = left.front();
    std::vector<std::string> candidates;
    if (!word.empty() && word[0] == '-') {
      if (command != nullptr) {
        for (const CLI::Option* opt : command->get_options()) {
          for (const auto& name : opt->get_lnames()) candidates.push_back("--" + name);
        }
      }
      err << "kvrconversion: unknown option " << word;
    } else {
      for (const Command& c : kCommands) candidates.emplace_back(c.name);
      candidates.emplace_back("help");
      err << "kvrconversion: unknown " << (command != nullptr ? "argument " : "command ") << word;
    }
    if (const auto near = Nearest(word, candidates)) err << "; did you mean " << *near << "?";
    err << '\n';
  } else if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr && command != nullptr) {
    std::vector<std::string> missing;
    for (const CLI::Option* opt : command->get_options()) {
      if (opt->get_required() && opt->count() == 0) missing.push_back(opt->get_name());
    }
    err << "kvrconversion: " << command->get_name() << " needs ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
      err << (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") << missing[i];
    }
    err << '\n';
  } else {
    err << "kvrconversion: " << e.what() << '\n';
  }
  err << "Run 'kvrconversion help" << (command != nullptr ? where : std::string()) << "' for the options.\n";
  return kExitNotRun;
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

}  // namespace

namespace {

constexpr const char* kProgramSummary =
    "KVR Conversion: turns an installation workbook into the routing switcher's configuration.";
constexpr const char* kExitStatusText =
    "Exit status: 0 completed with no problem; 1 completed with problems (each listed on stderr),\n"
    "or with notices when --strict is given; 2 did not run (usage error, or an input file missing\n"
    "or unreadable; the reason on stderr); 130 interrupted (Ctrl-C stops a run at its next safe\n"
    "point with nothing changed; a second Ctrl-C ends it at once). Notices follow the problems on stderr.\n"
    "'kvrconversion help COMMAND' shows a command's options and examples.";

// The whole command line: every command with its options, help texts and
// examples. One source for parsing, --help, the manual and completion.
struct CommandLine {
  CLI::App app{kProgramSummary, "kvrconversion"};
  Options o;
  std::vector<std::pair<CLI::App*, const Command*>> commands;
  CLI::App* help = nullptr;

  CommandLine() {
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kvrconversion ") + KVR_VERSION);
    app.footer(kExitStatusText);
    for (const Command& c : kCommands) {
      CLI::App* sub = app.add_subcommand(
          c.name, c.summary != nullptr ? std::string(c.summary) : std::string(FindRunCommand(c.name)->summary));
      sub->footer(std::string("Examples:\n") + c.examples);
      c.define(*sub, o);
      commands.emplace_back(sub, &c);
    }
    help = app.add_subcommand("help", "Show the options of all commands, or of one");
    help->add_option("command", o.help_topic, "The command")->type_name("COMMAND");
  }
};

// Text for roff: backslashes doubled, a leading dot or quote guarded, dashes
// as dashes.
std::string Roff(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  std::string guarded;
  bool line_start = true;
  for (const char c : out) {
    if (line_start && (c == '.' || c == '\'')) guarded += "\\&";
    guarded += c;
    line_start = c == '\n';
  }
  return guarded;
}

std::string OptionSynopsis(const CLI::Option* opt) {
  std::string name = opt->get_lnames().empty() ? opt->get_name() : "--" + opt->get_lnames().front();
  if (opt->get_type_size() != 0 && !opt->get_type_name().empty()) name += " " + opt->get_type_name();
  return name;
}

}  // namespace

std::string ManPage() {
  CommandLine cli;
  std::string page = ".TH KVRCONVERSION 1 \"\" \"kvrconversion " KVR_VERSION "\" \"User Commands\"\n";
  page += ".SH NAME\nkvrconversion \\- turn an installation workbook into a routing switcher's configuration\n";
  page += ".SH SYNOPSIS\n.B kvrconversion\n.I COMMAND\n[\n.I OPTIONS\n]\n";
  page += ".SH DESCRIPTION\n" + Roff(kProgramSummary) + "\n";
  page += ".SH COMMANDS\n";
  for (const auto& [sub, c] : cli.commands) {
    page += ".SS " + Roff(c->name) + "\n" + Roff(sub->get_description()) + "\n";
    for (const CLI::Option* opt : sub->get_options()) {
      if (opt->get_name() == "--help" || opt->get_name() == "-h,--help") continue;
      page += ".TP\n.B " + Roff(OptionSynopsis(opt)) + (opt->get_required() ? " (required)" : "") + "\n" +
              Roff(opt->get_description()) + "\n";
    }
    page += ".PP\n" + Roff(sub->get_footer()) + "\n";
  }
  page += ".SH EXIT STATUS\n" + Roff(kExitStatusText) + "\n";
  page += ".SH SEE ALSO\n.BR kvrconversion\\-gui (1)\n";
  // Examples keep their lines: no filling in them.
  std::string filled;
  for (std::size_t at = 0; at < page.size();) {
    const std::size_t end = page.find("Examples:\n", at);
    if (end == std::string::npos) {
      filled += page.substr(at);
      break;
    }
    const std::size_t stop = page.find("\n.", end);
    filled += page.substr(at, end - at) + "Examples:\n.nf\n" +
              page.substr(end + 10, (stop == std::string::npos ? page.size() : stop) - end - 10) + "\n.fi";
    at = stop == std::string::npos ? page.size() : stop;
  }
  return filled;
}

std::string BashCompletion() {
  CommandLine cli;
  std::string commands = "help";
  std::string cases;
  for (const auto& [sub, c] : cli.commands) {
    commands += std::string(" ") + c->name;
    std::string options;
    for (const CLI::Option* opt : sub->get_options()) {
      for (const auto& name : opt->get_lnames()) options += (options.empty() ? "--" : " --") + name;
    }
    cases += std::string("    ") + c->name + ") opts=\"" + options + "\" ;;\n";
  }
  return "# bash completion for kvrconversion: its commands, and each command's options\n"
         "_kvrconversion() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} command=${COMP_WORDS[1]} opts\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W \"" + commands + " --help --version\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  case $command in\n" + cases +
         "    help) opts=\"" + commands + "\" ;;\n"
         "    *) opts=\"\" ;;\n"
         "  esac\n"
         "  if [[ $cur == -* || $command == help ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
         "  else\n"
         "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"  // one name a line: names with blanks stay whole
         "  fi\n"
         "}\n"
         "complete -o filenames -F _kvrconversion kvrconversion\n";
}

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CommandLine cli;
  CLI::App& app = cli.app;
  Options& o = cli.o;
  auto& commands = cli.commands;
  CLI::App* help = cli.help;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err) == 0 ? kExitOk : kExitNotRun;
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err) == 0 ? kExitOk : kExitNotRun;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err) == 0 ? kExitOk : kExitNotRun;
    return UsageError(app, e, err);
  }
  if (*help) {
    if (o.help_topic.empty()) {
      out << app.get_formatter()->make_help(&app, "kvrconversion", CLI::AppFormatMode::Normal);  // not help's own
      return kExitOk;
    }
    for (auto& [sub, c] : commands) {
      if (o.help_topic == c->name) {
        out << sub->help();
        return kExitOk;
      }
    }
    err << "kvrconversion: no command \"" << o.help_topic << "\"\n";
    return kExitNotRun;
  }
  for (auto& [sub, c] : commands) {
    if (*sub) return c->run(*sub, o, out, err);
  }
  return kExitNotRun;
}

}  // namespace kvr
