#include "app/core/module_files.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "base/little_endian.h"
#include "base/output_file.h"
#include "base/utf8.h"
#include "console/con_format.h"
#include "console/console_export.h"
#include "tables/column_rule.h"

namespace kvr {

namespace fs = std::filesystem;

std::time_t ModifiedAt(const fs::path& path) {
  std::error_code ec;
  const auto t = fs::last_write_time(path, ec);
  if (ec) return 0;
  return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(t));
}

namespace {

// How surely a module file belongs to the plant of the .con file, most
// surely first: named as a conversion of this system names it; named for a
// console; named as a conversion of another system names its files; the
// same with that system's .con file beside it (its plant's file, surely).
enum class Claim { kThisSystem, kConsoleName, kOtherSystem, kOtherPlant };

struct Candidate {
  ModuleSource source;
  Claim claim = Claim::kConsoleName;
  std::string other_system;  // kOtherSystem, kOtherPlant: the system its name gives
  long long distance = 0;    // seconds between its time and the .con file's
};

Claim ClaimOf(const fs::path& folder, const std::string& stem, const std::string& system, int n,
              std::string& other_system) {
  if (stem == system + " Console " + std::to_string(n)) return Claim::kThisSystem;
  const std::size_t mark = stem.rfind(" Console ");
  if (mark == std::string::npos || stem.substr(mark + 9) != std::to_string(n)) return Claim::kConsoleName;
  other_system = stem.substr(0, mark);
  std::error_code ec;
  return fs::is_regular_file(folder / PathFromUtf8(other_system + ".con"), ec) ? Claim::kOtherPlant
                                                                                : Claim::kOtherSystem;
}

// The console a module file's header names, read from its first 8 bytes
// even when the rest is damaged; 0 when the header is not a module file's.
int HeaderConsole(const std::string& bytes) {
  if (bytes.size() < kCnsHeaderBytes || GetInt16(bytes, 0) != kCnsFileType || GetInt16(bytes, 2) != kCnsVersion) {
    return 0;
  }
  const int n = GetInt16(bytes, 6) + 1;
  return n >= 1 && n < static_cast<int>(kConsoles) ? n : 0;
}

// Says why the file taken for console n was taken where another could have
// been, or where its name gives another system; uncertain choices (two
// files equally likely) are problems, as the sheet may be another plant's.
void SayChoice(int n, const std::vector<Candidate>& candidates, Problems& problems) {
  const Candidate& taken = candidates.front();
  const std::string taken_name = Utf8Path(taken.source.path.filename());
  std::vector<std::string> tied;
  for (std::size_t i = 1; i < candidates.size(); ++i) {
    const Candidate& c = candidates[i];
    if (c.claim == taken.claim && c.distance == taken.distance) {
      tied.push_back(Utf8Path(c.source.path.filename()));
      continue;
    }
    std::string why = c.claim == Claim::kOtherPlant
                          ? "it is named for the system \"" + c.other_system + "\", whose .con file lies beside it"
                      : c.claim > taken.claim ? "a file named " + std::string(taken.claim == Claim::kThisSystem
                                                                      ? "for this system"
                                                                      : "for a console") + " is taken before it"
                                              : "it was written further in time from the .con file";
    problems.Note(Utf8Path(c.source.path),
                  "also a module file of console " + std::to_string(n) + "; " + taken_name + " is taken instead (" +
                      why + ")", "export-module-file-passed-over");
  }
  if (!tied.empty()) {
    std::string others;
    for (const std::string& t : tied) others += (others.empty() ? "" : ", ") + t;
    problems.Report(Utf8Path(taken.source.path),
                    "taken as the module file of console " + std::to_string(n) + ", but " + others +
                        " could be it as well (its header names console " + std::to_string(n) +
                        ", and nothing in the names or times tells them apart); move the files of other plants out "
                        "of the folder and export again to be sure",
                    ErrorCode::kInvalidFormat, "export-module-file-uncertain");
  } else if (taken.claim == Claim::kOtherSystem) {
    problems.Note(Utf8Path(taken.source.path),
                  "taken as the module file of console " + std::to_string(n) + ": its header names console " +
                      std::to_string(n) + " and no other file is, although its name is how a conversion of a system "
                      "named \"" + taken.other_system + "\" names its files; the console's name is taken from it",
                  "export-module-file-passed-over");
  }
}

// Module files whose header names a console but which cannot be read, by
// that console: each a problem, saying where the console's sheet comes
// from; a console with no readable file is `damaged`, which still counts it.
using Unreadable = std::map<int, std::vector<std::pair<fs::path, std::string>>>;
void ReportUnreadable(const Unreadable& unreadable, const std::vector<ModuleSource>& chosen, Problems& problems,
                      std::map<int, fs::path>& damaged) {
  for (const auto& [n, files] : unreadable) {
    const auto taken = std::find_if(chosen.begin(), chosen.end(), [n = n](const ModuleSource& m) { return m.n == n; });
    for (const auto& [path, why] : files) {
      problems.Report(Utf8Path(path),
                      "cannot be read as a module file (" + why + "); its header names console " + std::to_string(n) +
                          (taken != chosen.end()
                               ? ", whose sheet comes from " + Utf8Path(taken->path.filename()) + " instead"
                               : ": the workbook has no sheet \"Console #" + std::to_string(n) +
                                     "\", and a conversion of it writes that console's module file empty"),
                      ErrorCode::kInvalidFormat);
    }
    if (taken == chosen.end()) damaged[n] = files.front().first;
  }
}

}  // namespace

std::vector<ModuleSource> FindModuleFiles(const fs::path& con, const std::string& system, Problems& problems,
                                          std::map<int, fs::path>& damaged) {
  std::map<int, std::vector<Candidate>> found;
  Unreadable unreadable;
  std::error_code ec;
  const fs::path folder = con.parent_path().empty() ? fs::path(".") : con.parent_path();
  const std::time_t con_time = ModifiedAt(con);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    // Named as the .con file is (a bare name stays bare in what is said).
    const fs::path path = con.parent_path() / it->path().filename();
    if (Lower(Utf8Path(path.extension())) != ".cns" || !it->is_regular_file(ec)) continue;
    const auto bytes = ReadWholeFile(path, kCnsMaxFileBytes, "module file");
    const auto decoded = bytes.ok() ? DecodeModuleFile(*bytes) : Result<ConsoleRecord>(bytes.status());
    const std::string stem = Utf8Path(path.stem());
    const int n = decoded.ok() ? decoded->consoleIndex : bytes.ok() ? HeaderConsole(*bytes) : 0;
    Candidate c;
    c.claim = n > 0 ? ClaimOf(folder, stem, system, n, c.other_system) : Claim::kConsoleName;
    if (!decoded.ok() || n < 1 || n >= static_cast<int>(kConsoles)) {
      if (c.claim == Claim::kOtherPlant) continue;  // another plant's damaged file is its own concern
      const std::string why = decoded.ok() ? "its console number is out of range" : decoded.why();
      if (n > 0) {
        unreadable[n].emplace_back(path, why);
      } else {
        problems.Report(Utf8Path(path), "cannot be read as a module file (" + why + "); no console's sheet comes from it",
                        ErrorCode::kInvalidFormat);
      }
      continue;
    }
    c.source = {n, path, *bytes, *decoded};
    c.source.console.consoleName = c.claim == Claim::kThisSystem ? std::string() : stem;
    c.distance = std::llabs(static_cast<long long>(ModifiedAt(path)) - static_cast<long long>(con_time));
    found[n].push_back(std::move(c));
  }
  std::vector<ModuleSource> chosen;
  for (auto& [n, candidates] : found) {
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
      if (a.claim != b.claim) return a.claim < b.claim;
      if (a.distance != b.distance) return a.distance < b.distance;
      return a.source.path.filename() < b.source.path.filename();
    });
    if (candidates.front().claim == Claim::kOtherPlant) {
      for (const Candidate& c : candidates) {
        problems.Note(Utf8Path(c.source.path),
                      "not taken as the module file of console " + std::to_string(n) + ": it is named for the system \"" +
                          c.other_system + "\", whose .con file lies beside it", "export-module-file-passed-over");
      }
      continue;
    }
    SayChoice(n, candidates, problems);
    chosen.push_back(std::move(candidates.front().source));
  }
  ReportUnreadable(unreadable, chosen, problems, damaged);
  return chosen;
}


}  // namespace kvr
