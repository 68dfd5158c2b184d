// The operating system's file calls behind OutputBatch and input checks, one
// implementation per platform (file_platform_posix.cc, file_platform_win.cc).
// Everything above this layer is portable; every error comes back as a
// Status in plain words.
#ifndef KVR_BASE_FILE_PLATFORM_H_
#define KVR_BASE_FILE_PLATFORM_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace kvr::platform {

// An open temporary file: `handle` (-1 when none) and, when the platform
// could not make it unnamed, its name.
struct TempFile {
  std::intptr_t handle = -1;
  std::filesystem::path named;
};

// Creates a temporary file in `folder`: unnamed where the file system allows,
// otherwise called `fallback_name` (created exclusively).
Status CreateTemp(const std::filesystem::path& folder, const std::string& fallback_name,
                                      TempFile& out);
Status WriteAll(const TempFile& file, std::string_view bytes);

// Opens the complete temporary file `named`, which another library wrote
// by its name, so that it can be flushed and put in place like one of ours.
Status OpenNamed(const std::filesystem::path& named, TempFile& out);

// Makes the data of all `files` durable, in as few waits for the disk as the
// platform allows.
Status FlushAll(const std::vector<const TempFile*>& files);

// Gives `file` the name `link_name` in `folder` when it has none, then
// renames it over `target`, replacing any earlier file in one step. The
// handle is closed either way; on failure no new name is left behind.
Status PutInPlace(TempFile& file, const std::filesystem::path& folder,
                                      const std::string& link_name, const std::filesystem::path& target);

// Closes the file and removes its name, if it has one.
void Discard(TempFile& file);

// Makes the folder's list of names (the renames into it) durable.
Status FlushFolder(const std::filesystem::path& folder);

// Removes the files of `folder` whose names satisfy `ours`; nothing else.
void RemoveMatching(const std::filesystem::path& folder, bool (*ours)(std::string_view name, std::string_view stem),
                    std::string_view stem);

// Why `path` is no readable regular file, or nullopt; never blocks.
std::optional<std::string> UnreadableFileReason(const std::filesystem::path& path);

// What stands at a path (links followed): nothing, a regular file, a folder,
// a stream that is written into as it is (a character device, a FIFO), or
// anything else (a block device, a socket).
enum class PathKind { kMissing, kRegular, kFolder, kStream, kOther };
PathKind KindOf(const std::filesystem::path& path);

// Writes `bytes` into the existing stream at `path` (a device, a FIFO)
// without creating, truncating or replacing it; a FIFO that nobody reads
// is an error, not a wait.
Status WriteInto(const std::filesystem::path& path, std::string_view bytes);

// Gives `file` the permission bits of the file at `like` and, where the
// process may, its owner and group. Windows files take their folder's
// permissions: nothing to do there.
Status CopyPermissions(const TempFile& file, const std::filesystem::path& like);

}  // namespace kvr::platform

#endif  // KVR_BASE_FILE_PLATFORM_H_
