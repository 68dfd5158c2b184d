#include "app/core/report_target.h"

#include <algorithm>
#include <cctype>

#include "base/file_platform.h"
#include "base/output_file.h"
#include "base/utf8.h"
#include "tables/column_rule.h"
#include "tables/connection_string.h"
#include "tables/database_backup.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

// A path spelled the way the file system resolves it: absolute, links and
// "." and ".." resolved as far as the path exists, and on Windows without
// regard to case.
std::string Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  std::string text = Utf8Path(p.lexically_normal());
#ifdef _WIN32
  text = Lower(text);
#endif
  return text;
}

// True when `a` and `b` name one file: the same file (hard links, links and
// other spellings included) when both exist, else the same resolved path.
bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec) && !ec) return true;
  return Resolved(a) == Resolved(b);
}

// True when `name` is a name an output of `command` takes.
bool IsOutputName(std::string_view command, const fs::path& name) {
  const std::string extension = Lower(Utf8Path(name.extension()));
  if (command == "convert" || command == "export") return extension == ".con" || extension == ".cns";
  if (command == "demo-ini") return Lower(Utf8Path(name.filename())) == "demosetup.ini";
  if (command == "xpoints") return extension == ".xpt";
  return false;
}

std::optional<std::string> KindRefusal(const fs::path& target) {
  switch (platform::KindOf(target)) {
    case platform::PathKind::kFolder: return "it is a folder";
    case platform::PathKind::kOther: return "it is neither a file nor a device or FIFO to write into";
    default: return std::nullopt;
  }
}

}  // namespace

std::vector<ProtectedFile> ProtectedFilesOf(std::string_view command, const std::string& workbook,
                                            const std::string& database) {
  std::vector<ProtectedFile> files;
  if (!workbook.empty()) files.push_back({PathFromUtf8(workbook), "the workbook"});
  if (command != "convert") return files;
  for (ProtectedFile& f : DatabaseFilesOf(database)) files.push_back(std::move(f));
  return files;
}

std::vector<ProtectedFile> DatabaseFilesOf(const std::string& database) {
  std::vector<ProtectedFile> files;
  if (database.empty()) return files;
  const DatabaseLocation location = ParseDatabaseLocation(database);
  if (!location.odbc()) {
    files.push_back({PathFromUtf8(location.value), "the database"});
    files.push_back({BackupPathFor(PathFromUtf8(location.value)), "the database's backup"});
    return files;
  }
  // A file-based engine reached through ODBC names its file.
  for (const ConnectionAttribute& a : SplitConnectionString(location.value)) {
    std::string key = Lower(a.key);
    key.erase(std::remove_if(key.begin(), key.end(), [](unsigned char c) { return std::isspace(c); }), key.end());
    std::string value(a.value);
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}') value = value.substr(1, value.size() - 2);
    if ((key == "dbq" || key == "database") && !value.empty()) files.push_back({PathFromUtf8(value), "the database"});
  }
  return files;
}

namespace {

std::optional<std::string> RefusalBeforeRun(const fs::path& target, std::string_view command,
                                               const std::vector<ProtectedFile>& files,
                                               const fs::path& output_folder) {
  for (const ProtectedFile& f : files) {
    if (SameFile(target, f.path)) return "it is " + f.what;
  }
  if (!output_folder.empty() && IsOutputName(command, target.filename()) &&
      SameFile(target.parent_path().empty() ? fs::path(".") : target.parent_path(), output_folder)) {
    return "it is named as an output of " + std::string(command) + " in its output folder";
  }
  return KindRefusal(target);
}

std::optional<std::string> RefusalAfterRun(const fs::path& target, const RunInputs& inputs,
                                           const RunResult& result) {
  for (const ProtectedFile& f : ProtectedFilesOf(inputs.command, inputs.workbook, inputs.database)) {
    if (SameFile(target, f.path)) return "it is " + f.what;
  }
  if (!result.backup.empty() && SameFile(target, result.backup)) return "it is the database's backup";
  for (const FileOutcome& f : result.files) {
    if (SameFile(target, f.path)) return "it is an output of the run";
  }
  for (const fs::path& f : result.written) {
    if (SameFile(target, f)) return "it is an output of the run";
  }
  return std::nullopt;
}

Status AsStatus(const std::optional<std::string>& refusal) {
  return refusal ? Status::Error(*refusal) : Status::Ok();
}

}  // namespace

Status CheckReportTarget(const fs::path& target, std::string_view command, const std::vector<ProtectedFile>& files,
                         const fs::path& output_folder) {
  return AsStatus(RefusalBeforeRun(target, command, files, output_folder));
}

Status CheckReportTarget(const fs::path& target, const RunInputs& inputs, const RunResult& result) {
  return AsStatus(RefusalAfterRun(target, inputs, result));
}

Status WriteReportFile(const fs::path& target, std::string_view bytes) {
  if (const auto why = KindRefusal(target)) return Status::Error(*why);
  if (platform::KindOf(target) == platform::PathKind::kStream) return platform::WriteInto(target, bytes);
  return WriteFileAtomically(target, bytes);
}

}  // namespace kvr
