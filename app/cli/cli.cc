#include "app/cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <ostream>
#include <string>

#include "app/cli/command_line.h"
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

namespace kvr::cli {
namespace {

// Where the report's description is, as a package installs it.
#ifdef _WIN32
constexpr const char* kReportDoc = "docs\\report.md beside the program";
#else
constexpr const char* kReportDoc = "/usr/share/doc/kvrconversion/report.md";
#endif

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

}  // namespace

const char* const kProgramSummary =
    "KVR Conversion: turns an installation workbook into the routing switcher's configuration.";
const char* const kExitStatusText =
    "Exit status: 0 completed with no problem; 1 completed with problems (each listed on stderr),\n"
    "or with notices when --strict is given; 2 did not run (usage error, or an input file missing\n"
    "or unreadable; the reason on stderr); 130 interrupted (Ctrl-C stops a run at its next safe\n"
    "point with nothing changed; a second Ctrl-C ends it at once). Notices follow the problems on stderr.\n"
    "'kvrconversion help COMMAND' shows a command's options and examples.";

CommandLine::CommandLine() {
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

}  // namespace kvr::cli

namespace kvr {

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  cli::CommandLine cli;
  CLI::App& app = cli.app;
  cli::Options& o = cli.o;
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
    return cli::UsageError(app, e, err);
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
