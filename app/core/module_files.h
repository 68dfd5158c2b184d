// The module files of a plant's console configuration file, found beside
// it for the export: which file is which console's, and which cannot be
// read.
#ifndef KVR_APP_CORE_MODULE_FILES_H_
#define KVR_APP_CORE_MODULE_FILES_H_

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/problems.h"
#include "console/console_model.h"

namespace kvr {

// One console's module file as read.
struct ModuleSource {
  int n = 0;  // the console its header names
  std::filesystem::path path;
  std::string bytes;
  ConsoleRecord console;  // its name from the file's name, unless that is how a conversion names it
};

// A file's last write time; 0 when it cannot be told.
std::time_t ModifiedAt(const std::filesystem::path& path);

// The module files beside the console configuration file `con` of the
// system `system`: every ".cns" file of its folder, taken as the file of the
// console its header names. Of two for one console the surer claim wins
// (named as this system's conversion names it, then for a console, then as
// another system's conversion does), then the time nearer the .con file's,
// then the name; a tie that nothing breaks is a problem naming both. A file
// named for another plant whose .con lies beside it is never taken. A file
// that is no module file is a problem; one whose header still names a
// console with no other file is that console's damaged file (`damaged`).
// By console number, 1 first.
std::vector<ModuleSource> FindModuleFiles(const std::filesystem::path& con, const std::string& system,
                                          Problems& problems, std::map<int, std::filesystem::path>& damaged);

}  // namespace kvr

#endif  // KVR_APP_CORE_MODULE_FILES_H_
