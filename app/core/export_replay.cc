// What a conversion of the exported sheets would do, and where that
// differs from the sources: the database's values and the files' bytes no
// cell gives back.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "app/core/database_phase.h"
#include "app/core/module_files.h"
#include "app/core/run_sheets.h"
#include "app/core/variables.h"
#include "app/core/report.h"
#include "app/core/report_target.h"
#include "base/interrupt.h"
#include "base/output_file.h"
#include "base/utf8.h"
#include "console/con_format.h"
#include "console/console_export.h"
#include "console/disk_work.h"
#include "tables/column_rule.h"
#include "tables/connection_string.h"
#include "tables/database_target.h"
#include "tables/table_export.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"
#include "app/core/export_plant.h"

namespace kvr::exporting {
namespace {

namespace fs = std::filesystem;

class NoFile : public FileChooser {
 public:
  std::string GetFileName(const std::string&, const std::string&, int) override { return ""; }
};
class NoQuestion : public OverwriteQuestion {
 public:
  bool Ask(const std::string&, const std::string&) override { return false; }
};
class NoStatus : public StatusSink {
 public:
  void SetStatus(const std::string&) override {}
};

int RecordNumber(const std::string& key) {
  const std::size_t space = key.rfind(' ');
  return space == std::string::npos ? 0 : std::atoi(key.c_str() + space + 1);
}

void ReportFileDifferences(const fs::path& path, const std::vector<std::string>& differences, Problems& problems) {
  for (const std::string& d : differences) {
    problems.Report(Utf8Path(path), d + ": no sheet cell gives the file's value", ErrorCode::kInvalidFormat,
                    "export-value-not-given-back");
  }
}

}  // namespace

Replay ReplayConversion(const std::vector<OutSheet>& sheets, const Plant& plant, bool big_switch) {
  Replay replay;
  Problems ignored;  // what a conversion would say of the sheets is not this run's to say
  auto grid = [&](const std::string& name) {
    for (const OutSheet& s : sheets) {
      if (s.name() == name) return s.ToGrid();
    }
    return SheetGrid{};
  };
  replay.system = ReadSystemSettings(grid("System"), ignored);
  SheetProgress progress;
  const int last_console = std::min<int>(replay.system.ConsoleCount, static_cast<int>(kConsoles) - 1);
  ReadRunSheets(grid, replay.system, last_console, *replay.vars, big_switch, ignored, progress);
  if (plant.database) {
    NoFile chooser;
    NoQuestion question;
    NoStatus status;
    RunContext ctx{chooser, question, status, big_switch, fs::path()};
    ctx.dry_run = true;
    ctx.backup = false;
    ctx.count_changes = true;
    UpdateDatabase(*plant.database, *replay.vars, replay.system, ctx, replay.database);
  }
  return replay;
}

PlantRows TrimmedRows(const PlantTables& tables, const PlantRows& full, const ChangeList& changes,
                      Problems& problems) {
  auto rows_for = [&](const TableRows& rows, std::size_t given) {
    std::set<std::size_t> changed;
    for (const FieldChange& c : changes) {
      if (c.table == rows.table && c.field != "AuxId") changed.insert(static_cast<std::size_t>(RecordNumber(c.key)));
    }
    std::size_t last = given;
    while (last > 0 && changed.count(last) && HoldsNothing(rows, last - 1)) --last;
    if (last < given) {
      problems.Note(Where::Record(rows.table, ""),
                    "records " + std::to_string(last + 1) + " to " + std::to_string(given) +
                        " hold only empty texts and zeros, which is not how a conversion writes a record (never "
                        "converted, it seems), so the sheet stops before them and a conversion of the workbook "
                        "leaves them as they are", "export-records-unconverted");
    }
    return last;
  };
  return {rows_for(tables.inputs, full.inputs), rows_for(tables.outputs, full.outputs),
          rows_for(tables.optos, full.optos), rows_for(tables.relays, full.relays)};
}

void ReportChanges(const ChangeList& changes, Problems& problems) {
  std::map<std::string, std::size_t> per_table;
  std::map<std::string, std::pair<FieldChange, std::size_t>> aux;
  for (const FieldChange& c : changes) {
    if (c.field == "AuxId") {
      auto& [first, n] = aux[c.table];
      if (n++ == 0) first = c;
      continue;
    }
    if (++per_table[c.table] > kListed) continue;
    problems.Report(Where::Record(c.table, c.key),
                    "\"" + c.field + "\" holds " + FieldValueText(c.before) +
                        ", which no cell of the workbook gives: a conversion of it writes " + FieldValueText(c.after),
                    ErrorCode::kDatabase, "export-value-not-given-back");
  }
  for (const auto& [table, n] : per_table) {
    if (n > kListed) {
      problems.Report(Where::Record(table, ""),
                      std::to_string(n - kListed) + " more fields the workbook cannot give back, not listed",
                      ErrorCode::kDatabase);
    }
  }
  for (const auto& [table, first_and_count] : aux) {
    const auto& [first, n] = first_and_count;
    problems.Report(Where::Record(table, ""),
                    "the aux numbering (\"AuxId\") of " + std::to_string(n) + " records is not the one a conversion "
                    "gives, so a conversion of the workbook renumbers them (the first, " + first.key + ", holds " +
                    FieldValueText(first.before) + " and gets " + FieldValueText(first.after) + ")",
                    ErrorCode::kDatabase);
  }
}

void CheckFiles(const Plant& plant, const Replay& replay, const std::vector<OutSheet>& sheets,
                const ExportRequest& request, Problems& problems) {
  if (plant.con) {
    const auto again = EncodeConsoleConfigFile(replay.vars->console_config);
    ReportFileDifferences(request.con,
                          again.ok() ? ConsoleConfigDifferences(plant.con_bytes, *again, kListed)
                                     : std::vector<std::string>{again.why()},
                          problems);
    for (const ModuleSource& m : plant.modules) {
      const ConsoleRecord& console = replay.vars->consoles[static_cast<std::size_t>(m.n)];
      const auto bytes = EncodeModuleFile(console);
      ReportFileDifferences(m.path, bytes.ok() ? ModuleFileDifferences(m.bytes, *bytes, kListed)
                                               : std::vector<std::string>{bytes.why()},
                            problems);
      const std::string name = ModuleFileName(*plant.system_name, console, m.n);
      if (name != Utf8Path(m.path.filename())) {
        problems.Report(Utf8Path(m.path), "a conversion of the workbook names this console's file \"" + name + "\"",
                        ErrorCode::kInvalidFormat);
      }
      if (const int other = CodesOfOtherBigSwitch(m.console, request.big_switch); other > 0) {
        problems.Note(Utf8Path(m.path), std::to_string(other) + " function codes are those of a conversion " +
                                            (request.big_switch ? "without" : "with") + " --big-switch; export " +
                                            (request.big_switch ? "without it" : "with it") + " to give them back", "export-big-switch");
      }
    }
    for (int n = 1, i = 0; n <= ConsoleCountOf(plant); ++n) {
      if (static_cast<std::size_t>(i) < plant.modules.size() && plant.modules[static_cast<std::size_t>(i)].n == n) {
        ++i;
        continue;
      }
      if (plant.damaged_modules.count(n)) continue;  // named where it was read
      problems.Report(Utf8Path(request.con),
                      "no module file of console " + std::to_string(n) + " was found beside it; the workbook has no "
                      "sheet \"Console #" + std::to_string(n) + "\", and a conversion of it writes that console's "
                      "module file empty",
                      ErrorCode::kFileNotFound);
    }
  }
  if (plant.crosspoints) {
    Problems ignored;
    const auto it = std::find_if(sheets.begin(), sheets.end(), [](const OutSheet& s) { return s.name() == "Crosspoints"; });
    const std::string again = EncodeCrosspointFile(ReadCrosspoints(it->ToGrid(), ignored));
    if (again != plant.xpt_bytes) {
      const auto read = DecodeCrosspointFile(again);
      for (std::size_t k = 0, listed = 0; read.ok() && k < plant.crosspoints->size() && listed < kListed; ++k) {
        const CrosspointRecord& a = (*plant.crosspoints)[k];
        const CrosspointRecord& b = k < read->size() ? (*read)[k] : CrosspointRecord{};
        if (a.level == b.level && a.source == b.source && a.destination == b.destination) continue;
        ++listed;
        problems.Report(Utf8Path(request.crosspoints),
                        "crosspoint " + std::to_string(k + 1) + ": level " + std::to_string(a.level) + ", source " +
                            std::to_string(a.source) + ", destination " + std::to_string(a.destination) +
                            " in the file; the sheet gives " + std::to_string(b.level) + ", " +
                            std::to_string(b.source) + ", " + std::to_string(b.destination),
                        ErrorCode::kInvalidFormat);
      }
    }
  }
}

}  // namespace kvr::exporting
