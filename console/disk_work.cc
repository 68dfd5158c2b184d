#include "console/disk_work.h"

#include "base/output_file.h"
#include "base/overwrite_question.h"
#include "base/problems.h"
#include "console/con_format.h"

namespace kvr {

std::filesystem::path SaveConsoleConfig(const std::filesystem::path& folder, const std::string& system_name,
                                        const ConsoleConfigTable& table, OverwriteQuestion& question,
                                        OutputBatch& batch, Problems& problems) {
  const std::string name = system_name + ".con";
  if (const auto why = UnsafeFileNameReason(system_name)) {
    problems.Report(name, "no console configuration file written: the system name cannot name a file (" + *why + ")",
                    ErrorCode::kPathFileAccess);
    return {};
  }
  const std::filesystem::path path = folder / name;
  std::string why;
  const auto bytes = EncodeConsoleConfigFile(table, &why);
  if (!bytes) {
    problems.Report(path.string(), "console configuration file not written: " + why, ErrorCode::kOverflow);
    return {};
  }
  if (RegularFileExists(path) && !question.Ask(OverwriteQuestionText(path.string()), kOverwriteQuestionTitle)) {
    return {};  // the user kept the existing file
  }
  if (const auto error = batch.Stage(path, *bytes, "console configuration file")) {
    problems.Report(path.string(), "console configuration file not written: " + *error, ErrorCode::kPathFileAccess);
    return {};
  }
  return path;
}

std::string ModuleFileName(const std::string& system_name, const ConsoleRecord& console, int n) {
  if (!console.consoleName.empty()) return console.consoleName + ".cns";
  return system_name + " Console " + std::to_string(n) + ".cns";
}

std::vector<std::filesystem::path> SaveModuleConfig(const std::filesystem::path& folder,
                                                    const std::string& system_name, const ConsoleTable& table,
                                                    std::int16_t count, OverwriteQuestion& question,
                                                    OutputBatch& batch, Problems& problems) {
  std::vector<std::filesystem::path> written;
  bool overwrite_all = false;
  for (int n = 1; n <= count; ++n) {
    if (static_cast<std::size_t>(n) >= table.size()) {
      problems.Report("console " + std::to_string(n), "no module file written: at most 256 consoles are kept",
                      ErrorCode::kSubscriptOutOfRange);
      break;  // every later console is past the table too
    }
    const ConsoleRecord& console = table[static_cast<std::size_t>(n)];
    const std::string name = ModuleFileName(system_name, console, n);
    const std::string& source = console.consoleName.empty() ? system_name : console.consoleName;
    if (const auto why = UnsafeFileNameReason(source)) {
      problems.Report(name, "no module file written for console " + std::to_string(n) +
                                ": the name cannot name a file (" + *why + ")",
                      ErrorCode::kPathFileAccess);
      continue;
    }
    std::string why;
    const auto bytes = EncodeModuleFile(console, &why);
    if (!bytes) {
      problems.Report(name, "no module file written for console " + std::to_string(n) + ": " + why,
                      ErrorCode::kSubscriptOutOfRange);
      continue;
    }
    const std::filesystem::path path = folder / name;
    if (RegularFileExists(path) && !overwrite_all) {
      if (!question.Ask(OverwriteQuestionText(path.string()), kOverwriteQuestionTitle)) break;
      overwrite_all = true;
    }
    if (const auto error = batch.Stage(path, *bytes, "module file")) {
      problems.Report(path.string(), "module file not written: " + *error, ErrorCode::kPathFileAccess);
      continue;
    }
    written.push_back(path);
  }
  return written;
}

}  // namespace kvr
