#include "app/cli/file_commands.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <ostream>

#include "app/core/report.h"
#include "base/interrupt.h"
#include "base/output_file.h"
#include "base/utf8.h"
#include "console/con_format.h"
#include "workbook/cell_convert.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"

namespace kvr {

namespace fs = std::filesystem;

void PrintProblems(const Problems& problems, std::ostream& err) {
  for (const auto& p : problems.list()) err << "problem: " << p.ToString() << '\n';
  for (const auto& n : problems.notices()) {
    err << Problems::KindOf(n) << ": " << n.ToString() << '\n';
  }
}


int Interrupted(const std::string& what, std::ostream& err) {
  err << "kvrconversion: interrupted: " << what << '\n';
  return kExitInterrupted;
}

// A workbook that does not open: said, unless a stop was asked for meanwhile.
int CannotOpen(const std::string& why, std::ostream& err) {
  if (InterruptRequested()) return Interrupted("nothing was printed", err);
  err << "kvrconversion: " << why << '\n';
  return kExitNotRun;
}

// sheet and system print once the workbook is read: a stop asked for while
// it was read prints nothing.
int RunSheet(const std::string& workbook_path, const std::string& sheet, std::ostream& out, std::ostream& err) {
  auto opened = OpenWorkbook(PathFromUtf8(workbook_path));
  if (!opened.ok()) return CannotOpen(opened.why(), err);
  Workbook& workbook = **opened;
  try {
    const auto index = FindSheet(workbook, sheet);
    if (!index) {
      err << "kvrconversion: " << workbook_path << " has no sheet \"" << sheet << "\"\n";
      return kExitNotRun;
    }
    if (InterruptRequested()) return Interrupted("nothing was printed", err);
    const SheetGrid grid = workbook.ReadSheet(*index);
    if (InterruptRequested()) return Interrupted("nothing was printed", err);
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
    if (InterruptRequested()) return Interrupted("nothing was printed", err);
    err << "kvrconversion: " << e.what() << '\n';
    return kExitNotRun;
  }
}

int RunSystem(const std::string& workbook_path, std::ostream& out, std::ostream& err) {
  Problems problems;
  SystemSettings s;
  auto opened = OpenWorkbook(PathFromUtf8(workbook_path));
  if (!opened.ok()) return CannotOpen(opened.why(), err);
  try {
    s = ReadSystemSettings(OpenSheetGrid(**opened, "System", problems), problems);
  } catch (const std::exception& e) {
    if (InterruptRequested()) return Interrupted("nothing was printed", err);
    err << "kvrconversion: " << e.what() << '\n';
    return kExitNotRun;
  }
  if (InterruptRequested()) return Interrupted("nothing was printed", err);
  out << "SystemName: " << s.SystemName << '\n'
      << "InputCount: " << s.InputCount << '\n'
      << "OutputCount: " << s.OutputCount << '\n'
      << "ConsoleCount: " << s.ConsoleCount << '\n';
  PrintProblems(problems, err);
  return problems.empty() ? kExitOk : kExitProblems;
}

namespace {

// The files inspect reads: each format's size is fixed or bounded, so a
// file is measured before a byte of it is read.
struct InspectFormat {
  const char* extension;
  std::uintmax_t max_bytes;
  Result<std::string> (*describe)(std::string_view bytes);
};
constexpr InspectFormat kInspectFormats[] = {
    {".con", kConFileBytes, DescribeConsoleConfigFile},
    {".cns", kCnsMaxFileBytes, DescribeModuleFile},
    {".xpt", kCrosspointMaxFileBytes, DescribeCrosspointFile},
};

}  // namespace

int RunInspect(const std::string& path, std::ostream& out, std::ostream& err) {
  std::string ext = Utf8Path(PathFromUtf8(path).extension());
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  const auto format = std::find_if(std::begin(kInspectFormats), std::end(kInspectFormats),
                                   [&](const InspectFormat& f) { return ext == f.extension; });
  if (format == std::end(kInspectFormats)) {
    if (const auto why = UnreadableFileReason(PathFromUtf8(path))) {
      err << "kvrconversion: cannot inspect " << path << ": it " << why->why << '\n';
    } else {
      err << "kvrconversion: " << path << ": inspect reads .con, .cns and .xpt files\n";
    }
    return kExitNotRun;
  }
  const Result<std::string> bytes =
      ReadWholeFile(PathFromUtf8(path), format->max_bytes, std::string(format->extension) + " file");
  if (!bytes.ok()) {
    err << "kvrconversion: cannot inspect " << path << ": " << bytes.why() << '\n';
    return kExitNotRun;
  }
  const Result<std::string> text = format->describe(*bytes);
  if (!text.ok()) {
    err << "kvrconversion: " << path << ": " << text.why() << '\n';
    return kExitNotRun;
  }
  out << *text;
  return kExitOk;
}

}  // namespace kvr
