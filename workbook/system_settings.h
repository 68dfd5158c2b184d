// The "System" sheet: the system's name and its numbers of inputs, outputs
// and consoles, which size the channel tables and name the output files.
#ifndef KVR_WORKBOOK_SYSTEM_SETTINGS_H_
#define KVR_WORKBOOK_SYSTEM_SETTINGS_H_

#include <cstdint>
#include <string>

#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;

struct SystemSettings {
  std::string SystemName;
  std::int16_t InputCount = 0;
  std::int16_t OutputCount = 0;
  std::int16_t ConsoleCount = 0;
};

// Scans every row: column 1 holds the key, column 2 the value. "Name:" (exact)
// sets SystemName to the value's text; keys beginning "Inputs", "Outputs" or
// "Consoles" (case-sensitive) set the counts with CellNumber. The last row of
// a key wins; other rows are ignored. A value that cannot be read leaves its
// setting unchanged and is reported; a key cell holding an error value makes
// its row be passed over, reported.
SystemSettings ReadSystemSettings(const SheetGrid& grid, Problems& problems);

// SystemName from the first "Name:" row of the "System" grid ("" when none),
// as the crosspoint export reads it (the settings take the last).
std::string FirstSystemName(const SheetGrid& system, Problems& problems);

}  // namespace kvr

#endif  // KVR_WORKBOOK_SYSTEM_SETTINGS_H_
