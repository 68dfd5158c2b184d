#include "app/cli/cli.h"

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "base/problems.h"
#include "workbook/cell_convert.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"

namespace kvr {
namespace {

void PrintProblems(const Problems& problems, std::ostream& err) {
  for (const auto& p : problems.list()) err << "problem: " << p.ToString() << '\n';
}

// `sheet`: one worksheet's grid as JSON, each cell its CellText, null for an
// error value.
int RunSheet(const std::string& workbook_path, const std::string& sheet, std::ostream& out, std::ostream& err) {
  try {
    auto workbook = OpenWorkbook(workbook_path);
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

// `system`: the settings of the workbook's "System" sheet.
int RunSystem(const std::string& workbook_path, std::ostream& out, std::ostream& err) {
  Problems problems;
  SystemSettings s;
  try {
    auto workbook = OpenWorkbook(workbook_path);
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

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"KVR Conversion: turns an installation workbook into the routing switcher's configuration.",
               "kvrconversion"};
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 completed with no problem; 1 completed with problems (listed on stderr);\n"
      "2 did not run (usage error, or an input file missing or unreadable).");

  std::string workbook_path, sheet;
  auto* sheet_cmd = app.add_subcommand("sheet", "Print one worksheet's grid as JSON (cells as text, null for errors)");
  sheet_cmd->add_option("--workbook", workbook_path, "Workbook file (.xlsx, .xlsm or .xls)")->required();
  sheet_cmd->add_option("--sheet", sheet, "Worksheet name (matched without regard to case)")->required();

  auto* system_cmd = app.add_subcommand("system", "Print the settings of the workbook's \"System\" sheet");
  system_cmd->add_option("--workbook", workbook_path, "Workbook file (.xlsx, .xlsm or .xls)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version requests print to `out` and succeed; errors go to `err`.
    return app.exit(e, out, err) == 0 ? kExitOk : kExitNotRun;
  }
  if (*sheet_cmd) return RunSheet(workbook_path, sheet, out, err);
  if (*system_cmd) return RunSystem(workbook_path, out, err);
  return kExitNotRun;
}

}  // namespace kvr
