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

namespace kvr {
namespace {

namespace fs = std::filesystem;

// Differences listed per file, and values that cannot come back per table,
// before the rest is counted in one line.
constexpr std::size_t kListed = 20;

// What the sources gave.
struct Plant {
  std::optional<DatabaseTarget> database;
  std::optional<PlantTables> tables;
  std::optional<ConsoleConfigTable> con;
  std::string con_bytes;
  std::vector<ModuleSource> modules;  // by console number, 1 first
  std::map<int, fs::path> damaged_modules;  // consoles whose only module file is damaged
  std::optional<std::vector<CrosspointRecord>> crosspoints;
  std::string xpt_bytes;
  std::optional<std::string> system_name;
  std::time_t newest = 0;  // the newest source file's time
};

// Reads the crosspoint file into `plant`; its name tells the system's name
// when the .con file did not.
void ReadCrosspointSource(const fs::path& path, Plant& plant, Problems& problems) {
  const auto bytes = ReadWholeFile(path, kCrosspointMaxFileBytes, "crosspoint file");
  const auto records =
      bytes.ok() ? DecodeCrosspointFile(*bytes) : Result<std::vector<CrosspointRecord>>(bytes.status());
  if (!records.ok()) {
    problems.Report(Utf8Path(path), "cannot be read: " + records.why(), ErrorCode::kInvalidFormat);
  } else {
    plant.crosspoints = *records;
    plant.xpt_bytes = *bytes;
    plant.newest = std::max(plant.newest, ModifiedAt(path));
    // The crosspoint file is named after the system: "<name> Crosspoints.xpt".
    const std::string file = Utf8Path(path.filename());
    constexpr std::string_view kSuffix = " Crosspoints.xpt";
    const bool named = file.size() >= kSuffix.size() && file.compare(file.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
    const std::string name = named ? file.substr(0, file.size() - kSuffix.size()) : std::string();
    if (!named) {
      problems.Note(Utf8Path(path),
                    "is not named \"<system> Crosspoints.xpt\", so it tells no system name; the crosspoint run "
                    "of the workbook writes \"" + plant.system_name.value_or("") + " Crosspoints.xpt\"", "export-crosspoint-file-name");
    } else if (!plant.system_name) {
      plant.system_name = name;
    } else if (*plant.system_name != name) {
      problems.Note(Utf8Path(path),
                    "is named for the system \"" + name + "\", the console configuration file for \"" +
                        *plant.system_name + "\"; the workbook names the system \"" + *plant.system_name + "\"", "export-crosspoint-file-name");
    }
  }
}

// Reads each source given; one that cannot be read is a problem naming it.
Plant ReadSources(const ExportRequest& request, Problems& problems) {
  Plant plant;
  if (!request.database.empty()) {
    const auto target = LocateDatabase(request.database);
    if (!target.ok()) {
      problems.Report(RedactDatabaseArgument(request.database), target.why(), ErrorCode::kDatabase);
    } else {
      try {
        auto db = OpenDatabase(*target, DatabaseOptions{});
        plant.tables = ReadPlantTables(*db, problems);
        db->Rollback();
        plant.database = *target;
        if (target->file()) plant.newest = std::max(plant.newest, ModifiedAt(PathFromUtf8(target->where)));
      } catch (const std::exception& e) {
        problems.Report(target->Shown(), std::string("cannot be read: ") + e.what(), ErrorCode::kDatabase);
      }
    }
  }
  if (!request.con.empty()) {
    const auto bytes = ReadWholeFile(request.con, kConFileBytes, "console configuration file");
    const auto table = bytes.ok() ? DecodeConsoleConfigFile(*bytes) : Result<ConsoleConfigTable>(bytes.status());
    if (!table.ok()) {
      problems.Report(Utf8Path(request.con), "cannot be read: " + table.why(), ErrorCode::kInvalidFormat);
    } else {
      plant.con = *table;
      plant.con_bytes = *bytes;
      // The file is named "<system>.con"; an empty system name gives ".con".
      std::string name = Utf8Path(request.con.filename());
      if (name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".con") name.resize(name.size() - 4);
      plant.system_name = name;
      plant.modules = FindModuleFiles(request.con, *plant.system_name, problems, plant.damaged_modules);
      plant.newest = std::max(plant.newest, ModifiedAt(request.con));
      for (const ModuleSource& m : plant.modules) plant.newest = std::max(plant.newest, ModifiedAt(m.path));
    }
  }
  if (!request.crosspoints.empty()) ReadCrosspointSource(request.crosspoints, plant, problems);
  return plant;
}

// The last console with a module file, damaged or not.
int ConsoleCountOf(const Plant& plant) {
  const int found = plant.modules.empty() ? 0 : plant.modules.back().n;
  return plant.damaged_modules.empty() ? found : std::max(found, plant.damaged_modules.rbegin()->first);
}

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

// What a conversion of `sheets` does: the tables and files it fills, and,
// with a database, what a dry run against it would change.
struct Replay {
  std::unique_ptr<Variables> vars = std::make_unique<Variables>();
  SystemSettings system;
  RunResult database;
};

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

int RecordNumber(const std::string& key) {
  const std::size_t space = key.rfind(' ');
  return space == std::string::npos ? 0 : std::atoi(key.c_str() + space + 1);
}

// The rows that leave out the records at a table's end that hold nothing
// (empty texts and zeros, as a table sized ahead of its plant holds) and
// that a conversion would change: such records were never converted (a
// conversion's own records come back unchanged), so their sheet stops
// before them and a conversion of the export leaves them as they are. A
// record holding anything stays on its sheet, and what a conversion would
// change in it is reported field by field. The aux numbering runs over
// every record whatever the rows, so it plays no part here.
PlantRows TrimmedRows(const PlantTables& tables, const PlantRows& full, const std::vector<FieldChange>& changes,
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

// Each database value the workbook cannot give back, named by its record
// and field. The aux numbering is said once per table: a database never
// converted holds none of it, and any conversion renumbers every record.
void ReportChanges(const std::vector<FieldChange>& changes, Problems& problems) {
  std::map<std::string, std::size_t> per_table;
  std::map<std::string, std::pair<const FieldChange*, std::size_t>> aux;
  for (const FieldChange& c : changes) {
    if (c.field == "AuxId") {
      auto& [first, n] = aux[c.table];
      if (n++ == 0) first = &c;
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
                    "gives, so a conversion of the workbook renumbers them (the first, " + first->key + ", holds " +
                    FieldValueText(first->before) + " and gets " + FieldValueText(first->after) + ")",
                    ErrorCode::kDatabase);
  }
}

void ReportFileDifferences(const fs::path& path, const std::vector<std::string>& differences, Problems& problems) {
  for (const std::string& d : differences) {
    problems.Report(Utf8Path(path), d + ": no sheet cell gives the file's value", ErrorCode::kInvalidFormat,
                    "export-value-not-given-back");
  }
}

// The console and crosspoint files a conversion of the sheets writes,
// compared with the files they came from.
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

// The creation time the workbook is stamped with: SOURCE_DATE_EPOCH when
// set, else the newest source file's time, else a fixed day; never the
// clock, so that one plant always gives the same bytes.
std::time_t CreationTime(const Plant& plant) {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    return static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
  }
  return plant.newest > 0 ? plant.newest : 946684800;  // 2000-01-01
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
                             : WriteXlsx(sheets, temporary, CreationTime(plant), target.parent_path());
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
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      for (const std::string& d : GridDifferences(sheets[i], book->ReadSheet(i))) {
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

// Why the request cannot run at all, before anything is read.
std::optional<std::string> Refusal(const ExportRequest& request) {
  if (request.database.empty() && request.con.empty() && request.crosspoints.empty()) {
    return "export needs at least one source: a database, a console configuration file or a crosspoint file";
  }
  const std::string ext = Lower(Utf8Path(request.workbook.extension()));
  if (ext != ".xlsx" && ext != ".ods") return "the workbook to write must end in .xlsx or .ods";
  std::error_code ec;
  const fs::path out = fs::weakly_canonical(fs::absolute(request.workbook, ec), ec);
  std::vector<fs::path> sources = {request.con, request.crosspoints};
  for (const ProtectedFile& f : DatabaseFilesOf(request.database)) sources.push_back(f.path);  // its backup too
  for (const fs::path& source : sources) {
    if (source.empty()) continue;
    if (fs::weakly_canonical(fs::absolute(source, ec), ec) == out) {
      return Utf8Path(request.workbook) + " is a source of the export; it would be replaced by its own export";
    }
  }
  if (fs::is_directory(request.workbook, ec)) return Utf8Path(request.workbook) + " is a folder";
  const fs::path folder = request.workbook.parent_path().empty() ? fs::path(".") : request.workbook.parent_path();
  if (!fs::is_directory(folder, ec)) return "the folder " + Utf8Path(folder) + " does not exist";
  return std::nullopt;
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
  if (const auto why = Refusal(request)) {
    result.outcome = RunResult::Outcome::kNotRun;
    result.reason = *why;
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
