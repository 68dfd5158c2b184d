// Writing the console configuration file and the module configuration files.
//
// Each file is staged whole in an OutputBatch, which the run commits once all
// files are staged: a failure never leaves a shortened file and an earlier
// file stays as it was. An existing file is replaced only after the overwrite
// question is answered Yes. Names taken from the workbook that could leave
// the output folder are refused before any file is touched.
#ifndef KVR_CONSOLE_DISK_WORK_H_
#define KVR_CONSOLE_DISK_WORK_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "console/console_model.h"

namespace kvr {

class OutputBatch;
class OverwriteQuestion;
class Problems;

// Stages `folder`/`system_name`.con from the table. An existing file is
// replaced only on Yes; No leaves it untouched. Returns the path staged, or
// an empty path (the reason reported).
std::filesystem::path SaveConsoleConfig(const std::filesystem::path& folder, const std::string& system_name,
                                        const ConsoleConfigTable& table, OverwriteQuestion& question,
                                        OutputBatch& batch, Problems& problems);

// The module file name of console n: consoleName & ".cns", or, for an empty
// name, system_name & " Console " & n & ".cns".
std::string ModuleFileName(const std::string& system_name, const ConsoleRecord& console, int n);

// Stages one module file per console 1..count into `folder`. The question is
// asked at most once per call: Yes replaces every existing file after it, No
// ends the call (files staged before stay). A console that cannot be written
// (unsafe name, more than 40 modules, a write failure) gets no file, is
// reported, and the others are still written. Returns the paths staged.
std::vector<std::filesystem::path> SaveModuleConfig(const std::filesystem::path& folder,
                                                    const std::string& system_name, const ConsoleTable& table,
                                                    std::int16_t count, OverwriteQuestion& question,
                                                    OutputBatch& batch, Problems& problems);

}  // namespace kvr

#endif  // KVR_CONSOLE_DISK_WORK_H_
