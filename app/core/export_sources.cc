// The export's sources read: the database's tables, the .con file and the
// module files beside it, the crosspoint file.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <set>

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


}  // namespace

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

std::time_t CreationTime(const Plant& plant) {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    return static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
  }
  return plant.newest > 0 ? plant.newest : 946684800;  // 2000-01-01
}

}  // namespace kvr::exporting
