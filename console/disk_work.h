// Writing the console configuration file and the module configuration files.
//
// Writing goes in two halves. Preparing encodes each file and stages its
// bytes in an OutputBatch: it asks nothing and changes nothing anyone can
// see, so it may run while the database phase does. Saving then walks the
// prepared files in order, as if each were written only now: it reports
// what could not be prepared, asks the overwrite question where a file
// exists (or an earlier console's file of the same name was just accepted),
// and drops from the batch what is declined. The run commits the batch at
// the end: a failure never leaves a shortened file and an earlier file
// stays as it was. Names taken from the workbook that could leave the output
// folder are refused before any file is touched.
#ifndef KVR_CONSOLE_DISK_WORK_H_
#define KVR_CONSOLE_DISK_WORK_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/output_file.h"
#include "base/problems.h"
#include "console/console_model.h"

namespace kvr {

class OverwriteQuestion;

// One file made ready to be written.
struct PreparedFile {
  std::filesystem::path path;
  std::optional<Problem> refused;          // cannot be written at all: reported at its turn
  bool last = false;                       // with `refused`: no later console gets a file either
  std::optional<std::size_t> staged;       // its place in the batch
  std::optional<std::string> stage_error;  // its bytes could not be staged
};

// Prepares `folder`/`system_name`.con from the table: refused, or encoded
// and staged into `batch`. Without a batch nothing is staged: the file is
// only judged (a check that writes nothing).
PreparedFile PrepareConsoleConfig(const std::filesystem::path& folder, const std::string& system_name,
                                  const ConsoleConfigTable& table, OutputBatch* batch);

// The module file name of console n: consoleName & ".cns", or, for an empty
// name, system_name & " Console " & n & ".cns".
std::string ModuleFileName(const std::string& system_name, const ConsoleRecord& console, int n);

// Prepares one module file per console 1..count.
std::vector<PreparedFile> PrepareModuleFiles(const std::filesystem::path& folder, const std::string& system_name,
                                             const ConsoleTable& table, std::int16_t count, OutputBatch* batch);

// Reports each prepared file that would be refused, as saving would, and
// nothing else.
void ReportRefused(const PreparedFile& con, const std::vector<PreparedFile>& modules, Problems& problems);

// Saves the console file: an existing file is replaced only on Yes; No
// leaves it untouched. Returns the path to be written, or an empty path (the
// reason reported).
// Each records in `outcomes` the files it keeps (an overwrite declined) or
// does not write, and why.
std::filesystem::path SaveConsoleConfig(const PreparedFile& file, OverwriteQuestion& question, OutputBatch& batch,
                                        Problems& problems, std::vector<FileOutcome>* outcomes = nullptr);

// Saves the module files. The question is asked at most once: Yes replaces
// every existing file after it, No ends the saving (files accepted before
// stay). A console that cannot be written (unsafe name, more than 40
// modules, a write failure) gets no file, is reported, and the others are
// still written. Returns the paths to be written.
std::vector<std::filesystem::path> SaveModuleConfig(const std::vector<PreparedFile>& files,
                                                    OverwriteQuestion& question, OutputBatch& batch,
                                                    Problems& problems, std::vector<FileOutcome>* outcomes = nullptr);

}  // namespace kvr

#endif  // KVR_CONSOLE_DISK_WORK_H_
