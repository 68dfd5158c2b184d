// Streams of an OLE2 compound file (the container of .xls workbooks).
#ifndef KVR_WORKBOOK_OLE2_FILE_H_
#define KVR_WORKBOOK_OLE2_FILE_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

// Reads the top-level stream `name` of the compound file at `path`, at most
// `cap` bytes. nullopt when the file holds no such stream; throws
// WorkbookError when the file is no readable compound file or the stream is
// larger than `cap`.
std::optional<std::string> ReadOle2Stream(const std::filesystem::path& path, std::string_view name,
                                          std::size_t cap);

// Names of the top-level streams and storages of the compound file at `path`.
std::vector<std::string> ListOle2Streams(const std::filesystem::path& path);

}  // namespace kvr

#endif  // KVR_WORKBOOK_OLE2_FILE_H_
