#include "console/disk_work.h"

#include <map>
#include <set>

#include "base/output_file.h"
#include "base/overwrite_question.h"
#include "base/utf8.h"
#include "console/con_format.h"

namespace kvr {
namespace {

PreparedFile Refused(std::filesystem::path path, Where where, std::string message, ErrorCode code,
                     std::string tag = {}) {
  PreparedFile f;
  f.path = std::move(path);
  f.refused = Problem{std::move(where), std::move(message), code, tag.empty() ? TagOf(code) : std::move(tag)};
  return f;
}

PreparedFile Staged(std::filesystem::path path, const std::string& bytes, const char* what, OutputBatch* batch) {
  PreparedFile f;
  f.path = std::move(path);
  if (batch == nullptr) return f;  // judged only
  f.staged = batch->size();
  if (const Status s = batch->Stage(f.path, bytes, what); !s.ok()) {
    f.staged.reset();
    f.stage_error = s.why();
  }
  return f;
}

void Drop(const PreparedFile& file, OutputBatch& batch) {
  if (file.staged) batch.Drop(*file.staged);
}

}  // namespace

PreparedFile PrepareConsoleConfig(const std::filesystem::path& folder, const std::string& system_name,
                                  const ConsoleConfigTable& table, OutputBatch* batch) {
  const std::string name = system_name + ".con";
  if (const Status usable = CheckFileNameComponent(system_name); !usable.ok()) {
    return Refused(folder / PathFromUtf8(name), name,
                   "no console configuration file written: the system name cannot name a file (" + usable.why() + ")",
                   ErrorCode::kPathFileAccess);
  }
  const std::filesystem::path path = folder / PathFromUtf8(name);
  const auto bytes = EncodeConsoleConfigFile(table);
  if (!bytes.ok()) {
    return Refused(path, Utf8Path(path), "console configuration file not written: " + bytes.why(),
                   ErrorCode::kOverflow);
  }
  return Staged(path, *bytes, "console configuration file", batch);
}

std::string ModuleFileName(const std::string& system_name, const ConsoleRecord& console, int n) {
  if (!console.consoleName.empty()) return console.consoleName + ".cns";
  return system_name + " Console " + std::to_string(n) + ".cns";
}

std::vector<PreparedFile> PrepareModuleFiles(const std::filesystem::path& folder, const std::string& system_name,
                                             const ConsoleTable& table, std::int16_t count, OutputBatch* batch) {
  std::vector<PreparedFile> files;
  // Each file name once: two consoles of one name would land in one file,
  // the later replacing the earlier's modules. Names are told apart as a
  // Windows folder tells them (letters of either case are one name).
  std::map<std::string, int> taken;
  auto folded = [](std::string name) {
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name;
  };
  for (int n = 1; n <= count; ++n) {
    if (static_cast<std::size_t>(n) >= table.size()) {
      files.push_back(Refused({}, "console " + std::to_string(n),
                              "no module file written: at most " + std::to_string(table.size() - 1) +
                                  " consoles are kept",
                              ErrorCode::kSubscriptOutOfRange));
      files.back().last = true;  // every later console is past the table too
      break;
    }
    const ConsoleRecord& console = table[static_cast<std::size_t>(n)];
    const std::string name = ModuleFileName(system_name, console, n);
    const std::string& source = console.consoleName.empty() ? system_name : console.consoleName;
    if (const Status usable = CheckFileNameComponent(source); !usable.ok()) {
      files.push_back(Refused(folder / PathFromUtf8(name), name,
                              "no module file written for console " + std::to_string(n) +
                                  ": the name cannot name a file (" + usable.why() + ")",
                              ErrorCode::kPathFileAccess));
      continue;
    }
    if (const auto [first, fresh] = taken.emplace(folded(name), n); !fresh) {
      files.push_back(Refused(folder / PathFromUtf8(name), name,
                              "no module file written for console " + std::to_string(n) + ": console " +
                                  std::to_string(first->second) + "'s module file is named \"" + name +
                                  "\" too, and one file cannot hold both; give one of the consoles another name",
                              ErrorCode::kPathFileAccess, "module-file-name-taken"));
      continue;
    }
    const auto bytes = EncodeModuleFile(console);
    if (!bytes.ok()) {
      files.push_back(Refused(folder / PathFromUtf8(name), name,
                              "no module file written for console " + std::to_string(n) + ": " + bytes.why(),
                              ErrorCode::kSubscriptOutOfRange));
      continue;
    }
    files.push_back(Staged(folder / PathFromUtf8(name), *bytes, "module file", batch));
  }
  return files;
}

void ReportRefused(const PreparedFile& con, const std::vector<PreparedFile>& modules, Problems& problems) {
  if (con.refused) problems.Report(*con.refused);
  for (const PreparedFile& file : modules) {
    if (!file.refused) continue;
    problems.Report(*file.refused);
    if (file.last) break;
  }
}

namespace {

void Record(std::vector<FileOutcome>* outcomes, const std::filesystem::path& path, FileOutcome::Kind kind,
            std::string why) {
  if (outcomes != nullptr && !path.empty()) outcomes->push_back({path, kind, std::move(why)});
}

constexpr const char* kDeclined = "it exists, and replacing it was declined";

// True (and reported) when what stands at the file's name is no file an
// output may replace: a device, a FIFO, a folder.
bool NeverReplaced(const PreparedFile& file, OutputBatch& batch, const char* what, Problems& problems,
                   std::vector<FileOutcome>* outcomes) {
  const Occupant there = OccupantOf(file.path);
  if (there.kind != Occupant::kNotAFile) return false;
  Drop(file, batch);
  const std::string why = "it " + there.why + ", and is never replaced";
  problems.Report(Utf8Path(file.path), std::string(what) + " not written: " + why, ErrorCode::kPathFileAccess);
  Record(outcomes, file.path, FileOutcome::kNotWritten, why);
  return true;
}

}  // namespace

std::filesystem::path SaveConsoleConfig(const PreparedFile& file, OverwriteQuestion& question, OutputBatch& batch,
                                        Problems& problems, std::vector<FileOutcome>* outcomes) {
  if (file.refused) {
    problems.Report(*file.refused);
    Record(outcomes, file.path, FileOutcome::kNotWritten, file.refused->message);
    return {};
  }
  if (NeverReplaced(file, batch, "console configuration file", problems, outcomes)) return {};
  if (OccupantOf(file.path).kind == Occupant::kFile &&
      !question.Ask(OverwriteQuestionText(Utf8Path(file.path)), kOverwriteQuestionTitle)) {
    Drop(file, batch);  // the user kept the existing file
    Record(outcomes, file.path, FileOutcome::kKept, kDeclined);
    return {};
  }
  if (file.stage_error) {
    problems.Report(Utf8Path(file.path), "console configuration file not written: " + *file.stage_error,
                    ErrorCode::kPathFileAccess);
    Record(outcomes, file.path, FileOutcome::kNotWritten, *file.stage_error);
    return {};
  }
  return file.path;
}

std::vector<std::filesystem::path> SaveModuleConfig(const std::vector<PreparedFile>& files,
                                                    OverwriteQuestion& question, OutputBatch& batch,
                                                    Problems& problems, std::vector<FileOutcome>* outcomes) {
  std::vector<std::filesystem::path> written;
  std::set<std::filesystem::path> accepted;  // names this call already writes: they exist by now
  bool overwrite_all = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const PreparedFile& file = files[i];
    if (file.refused) {
      problems.Report(*file.refused);
      Record(outcomes, file.path, FileOutcome::kNotWritten, file.refused->message);
      if (file.last) break;
      continue;
    }
    if (accepted.count(file.path) == 0 && NeverReplaced(file, batch, "module file", problems, outcomes)) continue;
    if ((accepted.count(file.path) != 0 || OccupantOf(file.path).kind == Occupant::kFile) && !overwrite_all) {
      if (!question.Ask(OverwriteQuestionText(Utf8Path(file.path)), kOverwriteQuestionTitle)) {
        Record(outcomes, file.path, FileOutcome::kKept, kDeclined);
        for (std::size_t k = i; k < files.size(); ++k) {
          Drop(files[k], batch);
          if (k > i) {
            Record(outcomes, files[k].path,
                   OccupantOf(files[k].path).kind != Occupant::kNothing ? FileOutcome::kKept : FileOutcome::kNotWritten,
                   "the saving of module files ended where replacing " + Utf8Path(file.path.filename()) +
                       " was declined");
          }
        }
        break;
      }
      overwrite_all = true;
    }
    if (file.stage_error) {
      problems.Report(Utf8Path(file.path), "module file not written: " + *file.stage_error,
                      ErrorCode::kPathFileAccess);
      Record(outcomes, file.path, FileOutcome::kNotWritten, *file.stage_error);
      continue;
    }
    accepted.insert(file.path);
    written.push_back(file.path);
  }
  return written;
}

}  // namespace kvr
