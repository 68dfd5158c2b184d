#include "app/core/export_run.h"

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

namespace kvr {
namespace {

namespace fs = std::filesystem;
using exporting::CheckFiles;
using exporting::ConsoleCountOf;
using exporting::CreationTime;
using exporting::Plant;
using exporting::ReadSources;
using exporting::Replay;
using exporting::ReplayConversion;
using exporting::ReportChanges;
using exporting::TrimmedRows;

OutSheet SystemSheet(const Plant& plant, const PlantRows& rows) {
  OutSheet sheet("System", 0);
  int row = 1;
  if (plant.system_name) {
    sheet.SetText(row, 1, "Name:");
    sheet.SetText(row++, 2, *plant.system_name);
  }
  if (plant.tables) {
    sheet.SetText(row, 1, "Inputs");
    sheet.SetNumber(row++, 2, rows.InputCount());
    sheet.SetText(row, 1, "Outputs");
    sheet.SetNumber(row++, 2, rows.OutputCount());
  }
  sheet.SetText(row, 1, "Consoles");
  sheet.SetNumber(row, 2, ConsoleCountOf(plant));
  return sheet;
}

std::vector<OutSheet> SheetsFor(const Plant& plant, const PlantRows& rows, bool big_switch, Problems& problems) {
  std::vector<OutSheet> sheets;
  sheets.push_back(SystemSheet(plant, rows));
  if (plant.tables) {
    for (OutSheet& s : TableSheets(*plant.tables, rows, problems)) sheets.push_back(std::move(s));
  }
  if (plant.con) {
    sheets.push_back(ConsoleConfigSheet(*plant.con));
    auto module = plant.modules.begin();
    for (int n = 1; n <= ConsoleCountOf(plant); ++n) {
      if (module != plant.modules.end() && module->n == n) {
        sheets.push_back(ConsoleModuleSheet(module->console, n, big_switch));
        ++module;
      }
    }
  }
  if (plant.crosspoints) sheets.push_back(CrosspointSheet(*plant.crosspoints));
  return sheets;
}


// A text no cell can hold as it was: one that is not UTF-8, mended, and
// one too long, written as far as a cell takes it; each said at its cell
// (the row names the record, the heading the field).
void ReportChangedCells(const std::vector<OutSheet>& sheets, Problems& problems) {
  for (const OutSheet& sheet : sheets) {
    for (const OutSheet::CutCell& c : sheet.cut()) {
      const Where cell = Where::Sheet(sheet.name(), ColumnLetters(c.column) + std::to_string(c.row));
      if (c.not_utf8) {
        problems.Report(cell,
                        "its text in the source is not UTF-8: each byte sequence that is no character is written "
                        "as U+FFFD, so a conversion of the workbook writes that instead",
                        ErrorCode::kInvalidFormat);
      }
      if (c.characters > 0) {
        problems.Report(cell,
                        "holds " + std::to_string(c.characters) + " characters, more than the " +
                            std::to_string(SheetGrid::kMaxTextChars) + " a cell takes: the first " +
                            std::to_string(SheetGrid::kMaxTextChars) + " are written, the rest is not in the workbook",
                        ErrorCode::kInvalidFormat);
      }
    }
  }
}

// Writes the workbook beside its target, reads it back through the
// workbook readers, and puts it in place once the question allows.
void WriteWorkbook(const std::vector<OutSheet>& sheets, const Plant& plant, const ExportRequest& request,
                   OverwriteQuestion& question, RunResult& result) {
  Problems& problems = result.problems;
  const fs::path& target = request.workbook;
  const bool ods = Lower(Utf8Path(target.extension())) == ".ods";
  RemoveTemporariesOf(target);  // what an export stopped by a kill left
  std::random_device random;
  const fs::path temporary =
      target.parent_path() / PathFromUtf8(TemporaryFileName(target, (static_cast<unsigned long long>(random()) << 32) | random()));
  std::vector<AlteredCell> altered;
  const Status written = ods ? WriteOds(sheets, temporary, CreationTime(plant), altered)
                             : WriteXlsx(sheets, temporary, CreationTime(plant));
  auto not_written = [&](const std::string& why) {
    std::error_code ec;
    fs::remove(temporary, ec);
    result.files.push_back({target, FileOutcome::kNotWritten, why});
    problems.Report(Utf8Path(target), "not written: " + why, ErrorCode::kPathFileAccess);
  };
  if (!written.ok()) return not_written(written.why());
  for (const AlteredCell& cell : altered) {
    problems.Report(Where::Sheet(cell.sheet, ColumnLetters(cell.column) + std::to_string(cell.row)),
                    "holds control characters an .ods file cannot store; each is written as U+FFFD",
                    ErrorCode::kInvalidFormat);
  }
  try {
    auto book = OpenWorkbook(temporary);
    if (!book.ok()) return not_written("the written workbook does not read back: " + book.why());
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      for (const std::string& d : GridDifferences(sheets[i], (*book)->ReadSheet(i))) {
        problems.Report(Where::Sheet(sheets[i].name()), d, ErrorCode::kInvalidFormat);
      }
    }
  } catch (const std::exception& e) {
    return not_written(std::string("the written workbook does not read back: ") + e.what());
  }
  if (InterruptRequested()) {  // the last safe point: nothing is in place yet
    std::error_code ec;
    fs::remove(temporary, ec);
    throw RunInterrupted{};
  }
  if (OccupantOf(target).kind == Occupant::kFile &&
      !question.Ask(OverwriteQuestionText(Utf8Path(target)), kOverwriteQuestionTitle)) {
    std::error_code ec;
    fs::remove(temporary, ec);
    result.files.push_back({target, FileOutcome::kKept, "not replaced"});
    return;
  }
  OutputBatch batch;
  if (const Status s = batch.Adopt(target, temporary, "workbook"); !s.ok()) return not_written(s.why());
  for (const auto& failure : batch.Commit()) return not_written(failure.why);
  result.written.push_back(target);
  result.files.push_back({target, FileOutcome::kWritten, ""});
}

// Whether the request can run at all, told before anything is read.
Status CheckRequest(const ExportRequest& request) {
  if (request.database.empty() && request.con.empty() && request.crosspoints.empty()) {
    return Status::Error(
        "export needs at least one source: a database, a console configuration file or a crosspoint file");
  }
  const std::string ext = Lower(Utf8Path(request.workbook.extension()));
  if (ext != ".xlsx" && ext != ".ods") return Status::Error("the workbook to write must end in .xlsx or .ods");
  std::error_code ec;
  const fs::path out = fs::weakly_canonical(fs::absolute(request.workbook, ec), ec);
  std::vector<fs::path> sources = {request.con, request.crosspoints};
  for (const ProtectedFile& f : DatabaseFilesOf(request.database)) sources.push_back(f.path);  // its backup too
  for (const fs::path& source : sources) {
    if (source.empty()) continue;
    if (fs::weakly_canonical(fs::absolute(source, ec), ec) == out) {
      return Status::Error(Utf8Path(request.workbook) + " is a source of the export; it would be replaced by its own export");
    }
  }
  if (fs::is_directory(request.workbook, ec)) return Status::Error(Utf8Path(request.workbook) + " is a folder");
  const fs::path folder = request.workbook.parent_path().empty() ? fs::path(".") : request.workbook.parent_path();
  if (!fs::is_directory(folder, ec)) return Status::Error("the folder " + Utf8Path(folder) + " does not exist");
  return Status::Ok();
}

// The export proper: stops at its safe points (once the sources are read,
// once the sheets are proved, before the workbook is put in place) by
// throwing RunInterrupted.
void ExportSources(const ExportRequest& request, OverwriteQuestion& question, RunResult& result) {
  Plant plant = ReadSources(request, result.problems);
  StopIfInterrupted();
  if (!plant.tables && !plant.con && !plant.crosspoints) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = "no source could be read (the problems say why); nothing was written";
    return;
  }
  if (plant.con && !plant.system_name) plant.system_name = "";
  Problems sheet_notes;  // said of the sheets as finally written
  PlantRows rows = plant.tables ? FullRows(*plant.tables) : PlantRows{};
  std::vector<OutSheet> sheets = SheetsFor(plant, rows, request.big_switch, sheet_notes);
  Replay replay = ReplayConversion(sheets, plant, request.big_switch);
  if (plant.tables && replay.database.database_read) {
    const PlantRows trimmed = TrimmedRows(*plant.tables, rows, replay.database.changes, result.problems);
    if (trimmed.inputs != rows.inputs || trimmed.outputs != rows.outputs || trimmed.optos != rows.optos ||
        trimmed.relays != rows.relays) {
      rows = trimmed;
      sheet_notes = Problems();
      sheets = SheetsFor(plant, rows, request.big_switch, sheet_notes);
      replay = ReplayConversion(sheets, plant, request.big_switch);
    }
  }
  plant.tables.reset();  // the sheets hold what is written now
  result.problems.Append(sheet_notes);
  ReportChangedCells(sheets, result.problems);
  if (plant.database && !replay.database.database_read) {
    result.problems.Append(replay.database.problems);
    result.problems.Report(plant.database->Shown(), "could not be read again to prove the sheets",
                           ErrorCode::kDatabase);
  }
  ReportChanges(replay.database.changes, result.problems);
  CheckFiles(plant, replay, sheets, request, result.problems);
  replay = Replay();  // what a conversion would do is said; its tables are not needed to write
  plant.modules.clear();
  plant.crosspoints.reset();
  StopIfInterrupted();
  WriteWorkbook(sheets, plant, request, question, result);
  const bool came_to_something = std::any_of(result.files.begin(), result.files.end(), [](const FileOutcome& f) {
    return f.kind == FileOutcome::kWritten || f.kind == FileOutcome::kKept;
  });
  result.outcome = came_to_something ? RunResult::Outcome::kCompleted : RunResult::Outcome::kNotRun;
  if (!came_to_something) result.reason = "the workbook could not be written (the problems say why)";
}

}  // namespace

Status CheckExportReportTarget(const fs::path& report, const ExportRequest& request) {
  std::vector<ProtectedFile> files = {{request.workbook, "the workbook it writes"},
                                      {request.con, "a file it reads"},
                                      {request.crosspoints, "a file it reads"}};
  for (ProtectedFile& f : DatabaseFilesOf(request.database)) files.push_back(std::move(f));
  std::erase_if(files, [](const ProtectedFile& f) { return f.path.empty(); });
  // The module files export reads lie beside the .con it is given.
  fs::path modules;
  if (!request.con.empty()) modules = request.con.has_parent_path() ? request.con.parent_path() : fs::path(".");
  return CheckReportTarget(report, "export", files, modules);
}

RunRecord ExportAndRecord(const ExportRequest& request, OverwriteQuestion& question, bool strict,
                          std::string version) {
  RunRecord record;
  std::error_code ec;
  record.inputs = RunInputs{"export", Utf8Path(request.workbook), RedactDatabaseArgument(request.database),
                            fs::absolute(request.workbook, ec).parent_path(), request.big_switch, false, strict,
                            std::move(version)};
  record.when = std::chrono::system_clock::now();
  record.result = ExportPlant(request, question);
  record.exit_status = ExitStatus(record.result, strict);
  return record;
}

RunResult ExportPlant(const ExportRequest& request, OverwriteQuestion& question) {
  RunResult result;
  if (const Status s = CheckRequest(request); !s.ok()) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = s.why();
    return result;
  }
  try {
    ExportSources(request, question, result);
  } catch (const RunInterrupted&) {
    RunResult stopped;
    stopped.outcome = RunResult::Outcome::kInterrupted;
    stopped.interrupted = true;
    stopped.reason = "interrupted: nothing was written";
    return stopped;
  }
  return result;
}

}  // namespace kvr
