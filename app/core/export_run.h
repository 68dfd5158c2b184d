// The export: a plant's switcher database, console files and crosspoint
// file written back as the workbook a conversion reads, so that converting
// it gives the same database fields and the same files, byte for byte.
//
// Before anything is written the sheets are proved: they are read as a
// conversion reads them, the database is run through a dry run and the
// files are encoded again. Whatever a conversion of them would write
// differently (a value no cell can give) is reported with its record or
// file and field; every other value comes back as it is.
#ifndef KVR_APP_CORE_EXPORT_RUN_H_
#define KVR_APP_CORE_EXPORT_RUN_H_

#include <filesystem>
#include <string>

#include "app/core/run_context.h"
#include "app/core/run_record.h"
#include "base/status.h"
#include "base/overwrite_question.h"

namespace kvr {

struct ExportRequest {
  std::filesystem::path workbook;     // the workbook to write: .xlsx or .ods
  std::string database;               // a database file or "odbc:..." as given; empty for none
  std::filesystem::path con;          // the console configuration file; its module files beside it
  std::filesystem::path crosspoints;  // a crosspoint file
  bool big_switch = false;            // the module files were written with the Big Switch codes
};

// Exports. The outcome is kNotRun (with the reason) when no source is given,
// none can be read, or the workbook cannot be written where asked; an
// existing workbook is replaced only after `question` says Yes, and never
// partly. Problems name what could not be read or given back.
RunResult ExportPlant(const ExportRequest& request, OverwriteQuestion& question);

// Whether the export's report may be written to `report`: never over the
// workbook it writes, a file it reads (the database however named, its
// backup, the .con, the .cns files beside it, the crosspoint file).
Status CheckExportReportTarget(const std::filesystem::path& report, const ExportRequest& request);

// Exports and keeps the run's record as every command's: its inputs (the
// database's password hidden), result and exit status (`strict`: a notice
// ends it with status 1 too). `version` is the program's.
RunRecord ExportAndRecord(const ExportRequest& request, OverwriteQuestion& question, bool strict,
                          std::string version);

}  // namespace kvr

#endif  // KVR_APP_CORE_EXPORT_RUN_H_
