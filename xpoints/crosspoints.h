// The crosspoint export: the "Crosspoints" sheet as a list of (level, source,
// destination) records, written as " Crosspoints.xpt" after the system name:
// the count, then each record's three values, all little-endian int16.
#ifndef KVR_XPOINTS_CROSSPOINTS_H_
#define KVR_XPOINTS_CROSSPOINTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "workbook/sheet_grid.h"
#include "workbook/workbook_writer.h"

namespace kvr {

class Problems;

struct CrosspointRecord {
  std::int16_t level = 0;        // 0 or 1; anything above 1 is NoIndex
  std::int16_t source = 0;       // 0-based input index or NoIndex
  std::int16_t destination = 0;  // 0-based output index or NoIndex
};

// Rows 2 on with a non-empty first cell, in order; columns chosen by their
// row-1 headers ("P-Level", "Source", "Destination"), the rightmost winning.
std::vector<CrosspointRecord> ReadCrosspoints(const SheetGrid& grid, Problems& problems);

// The records of a crosspoint file; fails when its size does not fit its count.
Result<std::vector<CrosspointRecord>> DecodeCrosspointFile(std::string_view bytes);

// The "Crosspoints" sheet that gives `records`: a level above 1 (stored as
// none) as 2, indices as their 1-based numbers, none as an empty cell.
OutSheet CrosspointSheet(const std::vector<CrosspointRecord>& records);

std::string EncodeCrosspointFile(const std::vector<CrosspointRecord>& records);
// A readable list of a .xpt file, or nullopt with `why` when its size does
// not fit its count.
// The most a crosspoint file can hold: a 16-bit count and six bytes each.
inline constexpr std::size_t kCrosspointMaxFileBytes = 2 + 6 * 32767;
Result<std::string> DescribeCrosspointFile(std::string_view bytes);

}  // namespace kvr

#endif  // KVR_XPOINTS_CROSSPOINTS_H_
