// Writing output files so that nothing is ever half-written, and checking that
// a name taken from a workbook stays inside the output folder.
#ifndef KVR_BASE_OUTPUT_FILE_H_
#define KVR_BASE_OUTPUT_FILE_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kvr {

// Writes `bytes` to a temporary file in the folder of `target`, flushes it to
// disk and renames it over `target` only when complete. On failure (folder
// not writable, disk full, file-size limit) the temporary file is removed,
// any earlier `target` is left exactly as it was, and the reason is returned;
// nullopt on success.
std::optional<std::string> WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Why `name` cannot be used as one file-name component taken from a workbook
// (a path separator, "..", a character Windows file names forbid: < > : " / \ | ? *,
// or a control character), or nullopt when it is safe.
std::optional<std::string> UnsafeFileNameReason(std::string_view name);

// True when a regular file (not a folder) exists at `path`.
bool RegularFileExists(const std::filesystem::path& path);

}  // namespace kvr

#endif  // KVR_BASE_OUTPUT_FILE_H_
