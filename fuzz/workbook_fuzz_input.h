// Hands fuzzer bytes to a workbook reader as a file: an anonymous in-memory
// file reached through /proc/self/fd, so no disk is touched.
#ifndef KVR_FUZZ_WORKBOOK_FUZZ_INPUT_H_
#define KVR_FUZZ_WORKBOOK_FUZZ_INPUT_H_

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "workbook/cell_convert.h"
#include "workbook/workbook.h"

namespace kvr {

// Opens `data` with `open` and reads every sheet and every cell as the sheet
// readers do; a WorkbookError is an expected outcome, anything else is a bug.
inline void FuzzWorkbook(const std::uint8_t* data, std::size_t size,
                         std::unique_ptr<Workbook> (*open)(const std::filesystem::path&)) {
  const int fd = memfd_create("fuzz-workbook", 0);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  try {
    auto wb = open("/proc/self/fd/" + std::to_string(fd));
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
  close(fd);
}

}  // namespace kvr

#endif  // KVR_FUZZ_WORKBOOK_FUZZ_INPUT_H_
