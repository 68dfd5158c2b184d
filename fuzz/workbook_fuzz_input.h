// Hands fuzzer bytes to a workbook reader as a file: on Linux an anonymous
// in-memory file reached through /proc/self/fd, so no disk is touched; on
// Windows (where only the replay runs) a temporary file.
#ifndef KVR_FUZZ_WORKBOOK_FUZZ_INPUT_H_
#define KVR_FUZZ_WORKBOOK_FUZZ_INPUT_H_

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <zip.h>

#include <filesystem>
#include <fstream>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "workbook/cell_convert.h"
#include "workbook/workbook.h"

namespace kvr {

// A zip file in memory holding `entries` (name, content); empty on failure.
// Lets a harness wrap mutated XML into a valid package, so mutations reach
// the XML handling instead of dying in the zip checksums.
inline std::string BuildZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_t* z = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  std::string out;
  if (z == nullptr) {
    zip_source_free(buffer);
    return out;
  }
  zip_source_keep(buffer);
  for (const auto& [name, content] : entries) {
    zip_source_t* src = zip_source_buffer(z, content.data(), content.size(), 0);
    if (zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE) < 0) zip_source_free(src);
  }
  if (zip_close(z) == 0 && zip_source_open(buffer) == 0) {
    char chunk[4096];
    zip_int64_t n;
    while ((n = zip_source_read(buffer, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<std::size_t>(n));
    zip_source_close(buffer);
  } else {
    zip_discard(z);
  }
  zip_source_free(buffer);
  return out;
}

// Opens `data` with `open` and reads every sheet and every cell as the sheet
// readers do; a WorkbookError is an expected outcome, anything else is a bug.
// Reads every sheet and cell of the workbook at `path` as the sheet readers
// do; a WorkbookError is an expected outcome, anything else is a bug.
inline void FuzzWorkbookFile(const std::filesystem::path& path,
                             std::unique_ptr<Workbook> (*open)(const std::filesystem::path&)) {
  try {
    auto wb = open(path);
    for (std::size_t i = 0; i < wb->SheetNames().size(); ++i) {
      try {
        const SheetGrid g = wb->ReadSheet(i);
        // The conversions are per cell; a sparse sheet's millions of empty
        // cells add time, not coverage, so the walk stops after 100000.
        std::size_t budget = 100000;
        for (int r = 1; r <= g.rows() && budget > 0; ++r) {
          for (int c = 1; c <= g.columns() && budget > 0; ++c, --budget) {
            (void)CellText(g, r, c);
            (void)CellNumber(g, r, c);
          }
        }
      } catch (const WorkbookError&) {
      }
    }
  } catch (const WorkbookError&) {
  }
}

// Opens `data` with `open` as a file and reads it all.
inline void FuzzWorkbook(const std::uint8_t* data, std::size_t size,
                         std::unique_ptr<Workbook> (*open)(const std::filesystem::path&)) {
#ifdef _WIN32
  const auto path = std::filesystem::temp_directory_path() / "kvr-fuzz-input";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  FuzzWorkbookFile(path, open);
  std::error_code ec;
  std::filesystem::remove(path, ec);
#else
  const int fd = memfd_create("fuzz-workbook", 0);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  FuzzWorkbookFile("/proc/self/fd/" + std::to_string(fd), open);
  close(fd);
#endif
}

}  // namespace kvr

#endif  // KVR_FUZZ_WORKBOOK_FUZZ_INPUT_H_
