#include "app/cli/cli.h"

#include <CLI/CLI.hpp>
#ifdef _WIN32
#include <io.h>
#define KVR_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KVR_ISATTY(fd) ::isatty(fd)
#endif

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>

#include "app/core/runs.h"
#include "base/output_file.h"
#include "base/problems.h"
#include "base/utf8.h"
#include "console/con_format.h"
#include "tables/new_database.h"
#include "tables/odbc_database.h"
#include "workbook/cell_convert.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

// Hands the runs the paths given on the command line: the database when asked
// for an .mdb, the workbook otherwise.
class ArgumentChooser : public FileChooser {
 public:
  ArgumentChooser(std::string database, std::string workbook)
      : database_(std::move(database)), workbook_(std::move(workbook)) {}
  std::string GetFileName(const std::string&, const std::string& sExtension, int) override {
    const std::string& path = sExtension == "mdb" ? database_ : workbook_;
    if (path.rfind(kOdbcPrefix, 0) == 0) return path;  // a connection string, not a file
    if (path.empty()) return path;
    std::error_code ec;
    const fs::path absolute = fs::absolute(PathFromUtf8(path), ec);
    return ec ? path : Utf8Path(absolute);
  }

 private:
  std::string database_, workbook_;
};

// --yes / --no, else a prompt on an interactive terminal, else No.
class TerminalQuestion : public OverwriteQuestion {
 public:
  TerminalQuestion(std::optional<bool> answer, std::ostream& err) : answer_(answer), err_(err) {}
  bool Ask(const std::string& text, const std::string& title) override {
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), '\r', '\n');
    if (answer_) return *answer_;
    if (KVR_ISATTY(0) && KVR_ISATTY(2)) {  // standard input and error
      err_ << title << ": " << shown << " [Y/n] " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) return false;
      return line.empty() || line[0] == 'y' || line[0] == 'Y';
    }
    declined_ = true;
    err_ << "kvrconversion: " << shown.substr(0, shown.find('\n')) << " Not overwritten; use --yes to overwrite.\n";
    return false;
  }
  bool declined() const { return declined_; }

 private:
  std::optional<bool> answer_;
  std::ostream& err_;
  bool declined_ = false;
};

class QuietStatus : public StatusSink {
 public:
  void SetStatus(const std::string&) override {}
};

void PrintProblems(const Problems& problems, std::ostream& err) {
  for (const auto& p : problems.list()) err << "problem: " << p.ToString() << '\n';
}

int Finish(const RunResult& result, std::ostream& out, std::ostream& err) {
  switch (result.outcome) {
    case RunResult::Outcome::kCancelled:
      err << "kvrconversion: no file given\n";
      return kExitNotRun;
    case RunResult::Outcome::kNotRun:
      err << "kvrconversion: " << EscapeControls(result.reason) << '\n';
      return kExitNotRun;
    case RunResult::Outcome::kCompleted:
      break;
  }
  for (const auto& path : result.written) out << "wrote " << Utf8Path(path) << '\n';
  PrintProblems(result.problems, err);
  out << "Completed";
  if (!result.problems.empty()) out << " with " << result.problems.size() << " problem(s), listed on stderr";
  out << '\n';
  return result.problems.empty() ? kExitOk : kExitProblems;
}

void PrintDryRun(const RunResult& result, bool verbose, std::ostream& out) {
  std::map<std::string, std::pair<std::set<std::string>, int>> per_table;
  for (const auto& c : result.changes) {
    auto& [records, fields] = per_table[c.table];
    records.insert(c.key);
    ++fields;
  }
  out << "dry run: nothing was written\n";
  for (const char* table : {"InptAlphas", "OutptAlphas", "OptoAlphas", "RelayAlphas", "ConsoleAlphas",
                            "LocationAlphas", "OptoRelaySets"}) {
    const auto it = per_table.find(table);
    const std::size_t records = it == per_table.end() ? 0 : it->second.first.size();
    const int fields = it == per_table.end() ? 0 : it->second.second;
    out << table << ": " << records << " record(s), " << fields << " field(s) would change\n";
  }
  if (verbose) {
    for (const auto& c : result.changes) {
      out << "  " << c.table << ", " << c.key << ", " << c.field << ": " << FieldValueText(c.before) << " -> "
          << FieldValueText(c.after) << '\n';
    }
  }
  for (const auto& name : result.would_write) out << "would write " << name << '\n';
}

int RunSheet(const std::string& workbook_path, const std::string& sheet, std::ostream& out, std::ostream& err) {
  try {
    auto workbook = OpenWorkbook(PathFromUtf8(workbook_path));
    const auto index = FindSheet(*workbook, sheet);
    if (!index) {
      err << "kvrconversion: " << workbook_path << " has no sheet \"" << sheet << "\"\n";
      return kExitNotRun;
    }
    const SheetGrid grid = workbook->ReadSheet(*index);
    nlohmann::ordered_json cells = nlohmann::ordered_json::array();
    for (int r = 1; r <= grid.rows(); ++r) {
      nlohmann::ordered_json row = nlohmann::ordered_json::array();
      for (int c = 1; c <= grid.columns(); ++c) {
        const auto text = CellText(grid, r, c);
        row.push_back(text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr));
      }
      cells.push_back(std::move(row));
    }
    nlohmann::ordered_json doc;
    doc["rows"] = grid.rows();
    doc["columns"] = grid.columns();
    doc["cells"] = std::move(cells);
    out << doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return kExitOk;
  } catch (const std::exception& e) {
    err << "kvrconversion: " << e.what() << '\n';
    return kExitNotRun;
  }
}

int RunSystem(const std::string& workbook_path, std::ostream& out, std::ostream& err) {
  Problems problems;
  SystemSettings s;
  try {
    auto workbook = OpenWorkbook(PathFromUtf8(workbook_path));
    s = ReadSystemSettings(OpenSheetGrid(*workbook, "System", problems), problems);
  } catch (const std::exception& e) {
    err << "kvrconversion: " << e.what() << '\n';
    return kExitNotRun;
  }
  out << "SystemName: " << s.SystemName << '\n'
      << "InputCount: " << s.InputCount << '\n'
      << "OutputCount: " << s.OutputCount << '\n'
      << "ConsoleCount: " << s.ConsoleCount << '\n';
  PrintProblems(problems, err);
  return problems.empty() ? kExitOk : kExitProblems;
}

int RunInspect(const std::string& path, std::ostream& out, std::ostream& err) {
  if (const auto why = UnreadableFileReason(PathFromUtf8(path))) {
    err << "kvrconversion: cannot inspect " << path << ": it " << why->why << '\n';
    return kExitNotRun;
  }
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) {
    err << "kvrconversion: cannot open " << path << '\n';
    return kExitNotRun;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  std::string why;
  std::optional<std::string> text;
  if (ext == ".con") text = DescribeConsoleConfigFile(bytes, &why);
  else if (ext == ".cns") text = DescribeModuleFile(bytes, &why);
  else if (ext == ".xpt") text = DescribeCrosspointFile(bytes, &why);
  else why = "inspect reads .con, .cns and .xpt files";
  if (!text) {
    err << "kvrconversion: " << path << ": " << why << '\n';
    return kExitNotRun;
  }
  out << *text;
  return kExitOk;
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"KVR Conversion: turns an installation workbook into the routing switcher's configuration.",
               "kvrconversion"};
  app.require_subcommand(1);
  app.footer(
      "Output files go to --output-dir (default: the current folder).\n"
      "Exit status: 0 completed with no problem; 1 completed with problems (each listed on stderr);\n"
      "2 did not run (usage error, or an input file missing or unreadable; the reason on stderr).");

  std::string workbook, database, sheet, output_dir = ".", inspect_file;
  bool big_switch = false, yes = false, no = false, dry_run = false, verbose = false;
  DatabaseSizes sizes;

  auto* convert = app.add_subcommand("convert",
      "Update the switcher database from the workbook, then write the .con and .cns files");
  convert->add_option("--database", database,
                      "Switcher database: a SQLite or Jet (.mdb/.accdb) file, or odbc:CONNECTION-STRING")
      ->required();
  convert->add_option("--workbook", workbook, "Workbook (.xlsx, .xlsm or .xls)")->required();
  convert->add_flag("--big-switch", big_switch, "Use the Big Switch button function codes");
  convert->add_option("--output-dir", output_dir, "Folder for the .con and .cns files");
  auto* yes_flag = convert->add_flag("--yes", yes, "Overwrite existing .con/.cns files without asking");
  convert->add_flag("--no", no, "Never overwrite existing .con/.cns files")->excludes(yes_flag);
  convert->add_flag("--dry-run", dry_run, "Change nothing; say per table what would change");
  convert->add_flag("--verbose", verbose, "With --dry-run, list every change");

  auto* demo = app.add_subcommand("demo-ini", "Write DemoSetup.ini from the workbook's frame and console sheets");
  demo->add_option("--workbook", workbook, "Workbook (.xlsx, .xlsm or .xls)")->required();
  demo->add_option("--output-dir", output_dir, "Folder for DemoSetup.ini");

  auto* xpoints = app.add_subcommand("xpoints", "Write the crosspoint file from the workbook's \"Crosspoints\" sheet");
  xpoints->add_option("--workbook", workbook, "Workbook (.xlsx, .xlsm or .xls)")->required();
  xpoints->add_option("--output-dir", output_dir, "Folder for the crosspoint file");

  auto* newdb = app.add_subcommand("new-database", "Create an empty switcher database");
  newdb->add_option("--database", database,
                    "SQLite file to create (never overwritten), or odbc:CONNECTION-STRING to create the tables in")
      ->required();
  newdb->add_option("--inputs", sizes.inputs, "InptAlphas and OptoAlphas records")->check(CLI::Range(0, 32767))->capture_default_str();
  newdb->add_option("--outputs", sizes.outputs, "OutptAlphas and RelayAlphas records")->check(CLI::Range(0, 32767))->capture_default_str();
  newdb->add_option("--consoles", sizes.consoles, "ConsoleAlphas records")->check(CLI::Range(0, 32767))->capture_default_str();
  newdb->add_option("--locations", sizes.locations, "LocationAlphas records")->check(CLI::Range(0, 32767))->capture_default_str();
  newdb->add_option("--sets", sizes.sets, "OptoRelaySets records")->check(CLI::Range(0, 32767))->capture_default_str();

  auto* inspect = app.add_subcommand("inspect", "Decode a .con, .cns or .xpt file into a readable table");
  inspect->add_option("file", inspect_file, "The file")->required();

  auto* sheet_cmd = app.add_subcommand("sheet", "Print one worksheet's grid as JSON (cells as text, null for errors)");
  sheet_cmd->add_option("--workbook", workbook, "Workbook (.xlsx, .xlsm or .xls)")->required();
  sheet_cmd->add_option("--sheet", sheet, "Worksheet name (matched without regard to case)")->required();

  auto* system_cmd = app.add_subcommand("system", "Print the settings of the workbook's \"System\" sheet");
  system_cmd->add_option("--workbook", workbook, "Workbook (.xlsx, .xlsm or .xls)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help requests print to `out` and succeed; errors go to `err`.
    return app.exit(e, out, err) == 0 ? kExitOk : kExitNotRun;
  }
  if (*sheet_cmd) return RunSheet(workbook, sheet, out, err);
  if (*system_cmd) return RunSystem(workbook, out, err);
  if (*inspect) return RunInspect(inspect_file, out, err);
  if (*newdb) {
    try {
      if (database.rfind(kOdbcPrefix, 0) == 0) CreateOdbcSwitcherDatabase(database.substr(kOdbcPrefix.size()), sizes);
      else CreateSwitcherDatabase(PathFromUtf8(database), sizes);
    } catch (const std::exception& e) {
      err << "kvrconversion: " << e.what() << '\n';
      return kExitNotRun;
    }
    out << "created " << RedactConnectionString(database) << '\n';
    return kExitOk;
  }

  std::error_code ec;
  const fs::path output_folder = PathFromUtf8(output_dir);
  if (!fs::is_directory(output_folder, ec)) {
    err << "kvrconversion: output folder " << output_dir
        << (fs::exists(output_folder, ec) ? " is a file, not a folder\n" : " does not exist\n");
    return kExitNotRun;
  }
  ArgumentChooser chooser(database, workbook);
  TerminalQuestion question(yes ? std::optional<bool>(true) : no ? std::optional<bool>(false) : std::nullopt, err);
  QuietStatus status;
  RunContext ctx{chooser, question, status, big_switch, fs::weakly_canonical(fs::absolute(output_folder), ec), dry_run};
  auto vars = std::make_unique<Variables>();
  RunResult result;
  if (*convert) result = ConversionRun(*vars, ctx);
  else if (*demo) result = DemoIniRun(*vars, ctx);
  else result = CrosspointExportRun(*vars, ctx);
  if (dry_run && result.outcome == RunResult::Outcome::kCompleted) PrintDryRun(result, verbose, out);
  return Finish(result, out, err);
}

}  // namespace kvr
