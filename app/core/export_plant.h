// The export's parts, shared by its files: what the sources gave
// (export_sources.cc), what a conversion of the sheets made from them would
// do and how it differs from the sources (export_replay.cc), and the run
// that writes the workbook (export_run.cc). Not for use outside app/core/.
#ifndef KVR_APP_CORE_EXPORT_PLANT_H_
#define KVR_APP_CORE_EXPORT_PLANT_H_

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/export_run.h"
#include "app/core/module_files.h"
#include "app/core/run_context.h"
#include "app/core/variables.h"
#include "base/problems.h"
#include "console/console_export.h"
#include "tables/database_target.h"
#include "tables/table_export.h"
#include "workbook/system_settings.h"
#include "workbook/workbook_writer.h"
#include "xpoints/crosspoints.h"

namespace kvr::exporting {

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
  std::map<int, std::filesystem::path> damaged_modules;  // consoles whose only module file is damaged
  std::optional<std::vector<CrosspointRecord>> crosspoints;
  std::string xpt_bytes;
  std::optional<std::string> system_name;
  std::time_t newest = 0;  // the newest source file's time
};

// Reads each source given; one that cannot be read is a problem naming it.
Plant ReadSources(const ExportRequest& request, Problems& problems);

// The last console with a module file, damaged or not.
int ConsoleCountOf(const Plant& plant);

// The creation time the workbook is stamped with: SOURCE_DATE_EPOCH when
// set, else the newest source file's time, else a fixed day; never the
// clock, so that one plant always gives the same bytes.
std::time_t CreationTime(const Plant& plant);

// What a conversion of `sheets` does: the tables and files it fills, and,
// with a database, what a dry run against it would change.
struct Replay {
  std::unique_ptr<Variables> vars = std::make_unique<Variables>();
  SystemSettings system;
  RunResult database;
};

Replay ReplayConversion(const std::vector<OutSheet>& sheets, const Plant& plant, bool big_switch);

// The rows that leave out the records at a table's end that hold nothing
// (empty texts and zeros, as a table sized ahead of its plant holds) and
// that a conversion would change: such records were never converted (a
// conversion's own records come back unchanged), so their sheet stops
// before them and a conversion of the export leaves them as they are. A
// record holding anything stays on its sheet, and what a conversion would
// change in it is reported field by field. The aux numbering runs over
// every record whatever the rows, so it plays no part here.
PlantRows TrimmedRows(const PlantTables& tables, const PlantRows& full, const ChangeList& changes,
                      Problems& problems);

// Each database value the workbook cannot give back, named by its record
// and field. The aux numbering is said once per table: a database never
// converted holds none of it, and any conversion renumbers every record.
void ReportChanges(const ChangeList& changes, Problems& problems);

// The console and crosspoint files a conversion of the sheets writes,
// compared with the files they came from.
void CheckFiles(const Plant& plant, const Replay& replay, const std::vector<OutSheet>& sheets,
                const ExportRequest& request, Problems& problems);

}  // namespace kvr::exporting

#endif  // KVR_APP_CORE_EXPORT_PLANT_H_
