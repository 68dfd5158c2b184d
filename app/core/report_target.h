// Where a run's report may be written. A report never takes the place of a
// file the run reads or protects: its workbook, its database, the database's
// backup, or an output the same run writes. A path that is no regular file
// is written into as it stands (a device such as /dev/null, a FIFO) or
// refused (a folder, a block device), never replaced.
#ifndef KVR_APP_CORE_REPORT_TARGET_H_
#define KVR_APP_CORE_REPORT_TARGET_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/report.h"
#include "app/core/run_context.h"
#include "base/status.h"

namespace kvr {

// A file the report must not replace, and what it is to the run ("the
// workbook", "the database's backup").
struct ProtectedFile {
  std::filesystem::path path;
  std::string what;
};

// The files a --database value stands for: a database file and its backup,
// or the file a connection string names (Dbq=, Database=) for a file-based
// engine reached through ODBC; none for a server.
std::vector<ProtectedFile> DatabaseFilesOf(const std::string& database);

// The files a run of `command` ("convert", "demo-ini", "xpoints", "check")
// reads or protects, known before it starts: the workbook, and for convert
// the database (a file, or the file a connection string names) and its
// backup. Outputs are matched by name: see CheckReportTarget.
std::vector<ProtectedFile> ProtectedFilesOf(std::string_view command, const std::string& workbook,
                                            const std::string& database);

// OK when the report may be written at `target`; else why not:
// it is one of `files`, a file in `output_folder` named as an output of
// `command` (.con and .cns files for convert, and for export beside the
// .con it reads; DemoSetup.ini for demo-ini, .xpt files for xpoints), or a
// folder or other thing that is neither a file nor a stream.
Status CheckReportTarget(const std::filesystem::path& target, std::string_view command,
                         const std::vector<ProtectedFile>& files, const std::filesystem::path& output_folder);

// The same question once the run is over, against its inputs and what it
// actually wrote, kept or backed up (the window's "Save report" asks this).
Status CheckReportTarget(const std::filesystem::path& target, const RunInputs& inputs, const RunResult& result);

// Writes the report: a regular file (or a new one) replaced whole through a
// temporary file, a stream written into as it is.
Status WriteReportFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace kvr

#endif  // KVR_APP_CORE_REPORT_TARGET_H_
