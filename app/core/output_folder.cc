#include "app/core/output_folder.h"

#include <fstream>
#include <random>

#include "base/output_file.h"
#include "base/utf8.h"

namespace kvr {
namespace {

// True when a file can be made in `folder`: a probe of our own hidden
// pattern, made and removed at once.
bool TakesFiles(const std::filesystem::path& folder) {
  const auto probe = folder / TemporaryFileName(folder / "probe", std::random_device{}());
  bool made = false;
  {
    std::ofstream out(probe, std::ios::binary);
    made = static_cast<bool>(out);
  }
  std::error_code ec;
  std::filesystem::remove(probe, ec);
  return made;
}

}  // namespace

bool IsInstalledProgramFolder(const std::filesystem::path& program_folder) {
  std::error_code ec;
  return std::filesystem::is_regular_file(program_folder / "uninstall.exe", ec) ||
         std::filesystem::is_directory(program_folder.parent_path() / "share" / "doc" / "kvrconversion", ec);
}

OutputFolder WindowOutputFolder(const std::filesystem::path& chosen, const std::filesystem::path& program_folder,
                                const std::filesystem::path& fallback) {
  std::error_code ec;
  if (!chosen.empty() && std::filesystem::is_directory(chosen, ec)) return {chosen, false, true};
  if (!IsInstalledProgramFolder(program_folder) && TakesFiles(program_folder)) return {program_folder, false, false};
  std::filesystem::create_directories(fallback, ec);
  return {fallback, true, false};
}

std::filesystem::path ShippedExampleFolder(const std::filesystem::path& program_folder) {
  std::error_code ec;
  for (const std::filesystem::path& folder :
       {program_folder / "example", program_folder.parent_path() / "share" / "doc" / "kvrconversion" / "examples"}) {
    if (std::filesystem::is_directory(folder, ec)) return folder;
  }
  return {};
}

std::filesystem::path CopyExampleFor(const std::filesystem::path& program_folder, const OutputFolder& output) {
  std::error_code ec;
  const std::filesystem::path shipped = ShippedExampleFolder(program_folder);
  if (!IsInstalledProgramFolder(program_folder) || shipped.empty() || output.chosen) return {};
  const std::filesystem::path copy = output.path / "example";
  if (std::filesystem::exists(copy, ec) || !std::filesystem::create_directories(copy, ec)) return {};
  for (const auto& entry : std::filesystem::directory_iterator(shipped, ec)) {
    if (entry.is_regular_file(ec)) std::filesystem::copy_file(entry.path(), copy / entry.path().filename(), ec);
  }
  return copy;
}

std::filesystem::path DialogStartFolder(const std::filesystem::path& last, const OutputFolder& output) {
  std::error_code ec;
  if (!last.empty() && std::filesystem::is_directory(last, ec)) return last;
  return output.path;
}

Result<std::filesystem::path> PrepareOutputFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return std::filesystem::path();
  if (std::filesystem::exists(folder, ec)) {
    return Status::Error("output folder " + Utf8Path(folder) + " is a file, not a folder");
  }
  // The outermost missing folder, to be removed again if the run comes to nothing.
  std::filesystem::path outermost = folder;
  for (std::filesystem::path up = folder.parent_path(); !up.empty() && !std::filesystem::exists(up, ec);
       up = up.parent_path()) {
    outermost = up;
    if (up == up.parent_path()) break;
  }
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    return Status::Error("output folder " + Utf8Path(folder) + " does not exist and cannot be created: " +
                         (ec ? ec.message() : std::string("a part of its path is a file")));
  }
  return outermost;
}

void RemoveIfNothingCame(const std::filesystem::path& created) {
  if (created.empty()) return;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(created, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec)) return;
  }
  std::filesystem::remove_all(created, ec);
}

std::string FilePatternsFor(const std::string& extension) {
  std::string patterns = "*." + extension;
  if (extension == "xls") patterns += " *.xlsx *.xlsm *.ods";
  else if (extension == "db") patterns += " *.sqlite *.sqlite3";
  else if (AsksForDatabase(extension)) patterns += " *.db *.sqlite *.sqlite3";
  return patterns;
}

bool AsksForDatabase(const std::string& extension) { return extension == "mdb" || extension == "db"; }

}  // namespace kvr
