// Writing output files so that nothing is ever half-written, and checking that
// a name taken from a workbook stays inside the output folder.
//
// An OutputBatch writes each file's bytes into a temporary file beside its
// target (unnamed where the platform has such files, so a killed run leaves
// nothing behind), then at Commit flushes them all to disk in one go, puts
// each in place of its target by a rename, and flushes each folder once. A
// reader sees an old file or the complete new one, never a partial one; once
// Commit returns, the new files survive a power cut.
#ifndef KVR_BASE_OUTPUT_FILE_H_
#define KVR_BASE_OUTPUT_FILE_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_platform.h"
#include "base/status.h"

namespace kvr {

// What became of one output file of a run.
struct FileOutcome {
  enum Kind { kWritten, kKept, kNotWritten };
  std::filesystem::path path;
  Kind kind = kWritten;
  std::string why;  // kKept, kNotWritten: the reason

  static const char* KindName(Kind kind) {
    return kind == kWritten ? "written" : kind == kKept ? "kept" : "not written";
  }
};

class OutputBatch {
 public:
  OutputBatch() = default;
  ~OutputBatch();  // staged files not committed are discarded
  OutputBatch(const OutputBatch&) = delete;
  OutputBatch& operator=(const OutputBatch&) = delete;

  // Writes `bytes` into a temporary file in the folder of `target`. On
  // failure (folder missing or not writable, disk full, file-size limit)
  // nothing is left behind and the Status says why.
  // Hidden temporary files that an earlier, killed run left for the same
  // target (".NAME.<16 hex digits>.tmp") are removed first; no other file
  // of the folder is touched.
  // `what` names the file's kind in reports ("module file").
  Status Stage(const std::filesystem::path& target, std::string_view bytes, std::string what = "file");

  // Takes the complete file `named`, written by another library under a
  // name from TemporaryFileName(target, ...), as the staged file for
  // `target`. On failure the file is removed.
  Status Adopt(const std::filesystem::path& target, const std::filesystem::path& named, std::string what = "file");

  // Gives the last staged file the permissions (and, where the process may,
  // the owner) of the file at `like`, instead of the umask's.
  Status MatchPermissions(const std::filesystem::path& like);

  struct Failure {
    std::filesystem::path target;
    std::string what;
    std::string why;
  };
  // Puts every staged file in place, in staging order. Returns the targets
  // that could not be replaced (each left exactly as it was), with the reason.
  std::vector<Failure> Commit();

  // Staged files so far (dropped ones included); Drop(i) discards the i-th
  // staged file, which Commit then leaves out.
  std::size_t size() const { return staged_.size(); }
  void Drop(std::size_t index);

 private:
  struct Staged {
    std::filesystem::path target;
    std::string what;
    platform::TempFile file;  // the open temporary file; no handle once dropped
  };
  std::vector<Staged> staged_;
};

// Removes the temporary files named for `target` (TemporaryFileName) that
// runs stopped by a kill left beside it. For a caller that holds `target`
// against other runs, so that no live run's temporary is among them.
void RemoveTemporariesOf(const std::filesystem::path& target);

// A batch of one file: stages and commits `bytes` for `target`. On failure
// an earlier `target` is left as it was.
Status WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// The hidden name of a temporary file for `target`, with the given 64-bit
// tag: "." + file name + "." + 16 hex digits + ".tmp", the file name cut (at
// a character boundary) so the whole stays within 255 bytes.
std::string TemporaryFileName(const std::filesystem::path& target, unsigned long long tag);

// Why `name` cannot be used as one file-name component taken from a workbook
// (a path separator, "..", a character Windows file names forbid: < > : " / \ | ? *,
// a control character, or a name Windows keeps for a device: CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, with or without extension); OK when it is safe.
Status CheckFileNameComponent(std::string_view name);

// True when a regular file (not a folder) exists at `path`.
bool RegularFileExists(const std::filesystem::path& path);

// What stands where an output is to be put: kFile where writing would
// replace something the user may want kept, asked about first (a regular
// file, or a symbolic link, one that points nowhere too); kNotAFile where
// an output is never put (a folder, a device, a FIFO, a socket), with `why`.
struct Occupant {
  enum Kind { kNothing, kFile, kNotAFile } kind = kNothing;
  std::string why;  // kNotAFile: "is a FIFO, not a regular file"
};
Occupant OccupantOf(const std::filesystem::path& path);

// Why `path` cannot be read as an input file: it does not exist (`missing`),
// or it is a folder, a FIFO, a device or a socket, or cannot be opened
// (`why`: "is a folder, not a file"); nullopt when it is a readable regular
// file. Never blocks (a FIFO is not opened).
struct UnreadableFile {
  bool missing = false;
  std::string why;
};
std::optional<UnreadableFile> UnreadableFileReason(const std::filesystem::path& path);

// The whole of the regular file at `path`, when it holds at most `max_bytes`;
// otherwise why not ("is a folder, not a file", "holds 3000000 bytes, more
// than a ... holds": the caller names the kind in `what`).
Result<std::string> ReadWholeFile(const std::filesystem::path& path, std::uintmax_t max_bytes, std::string_view what);

}  // namespace kvr

#endif  // KVR_BASE_OUTPUT_FILE_H_
