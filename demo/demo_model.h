// The model of the "Demo .ini" command: the system values, the frame table
// read from the frame sheet "32QX", and the console and module fields of the
// console table read from the console sheets.
#ifndef KVR_DEMO_DEMO_MODEL_H_
#define KVR_DEMO_DEMO_MODEL_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "console/console_model.h"
#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;
class Workbook;

inline constexpr int kFrames = 8;
inline constexpr int kSlotsPerFrame = 21;

struct SlotRecord {
  std::string moduleType;
  std::int16_t firstInput = 0;
  std::int16_t firstOutput = 0;
  std::int16_t firstOpto = 0;
  std::int16_t firstRelay = 0;
};
// FrameTable[f - 1][s - 1] is slot s of frame f.
using FrameTable = std::array<std::array<SlotRecord, kSlotsPerFrame>, kFrames>;

// The module type code of a "Module" cell: its first three characters,
// upper-cased, looked up in the module type table ("PLN" -> "PLN16", ...);
// empty for anything else.
std::string ModuleTypeCode(std::string_view cell);

// Reads the frame sheet: frame headers ("32QX..." in column 2, the frame the
// character at position 12), slot rows (slot number in column 1) and their
// columns, and the "Console" column that hangs console n on the current frame
// and slot (ConsoleTable index n - 1). Returns FrameCount: the frame current
// when reading ended (a frame above 8 ends it at once).
std::int16_t ReadFrameSheet(const SheetGrid& grid, FrameTable& frames, ConsoleTable& consoles, Problems& problems);

// The sheet of console number n (1-based) among `sheet_names`: "Console #n",
// else "Console " followed by the letter 64 + n ("Console A" for 1); empty
// when there is neither.
std::string ConsoleSheetName(const std::vector<std::string>& sheet_names, int n);

// Reads one console sheet into ConsoleTable index n - 1: name, module count
// (the largest module number of row 1 from column 2 on, at least 1), module
// type texts, and device and template ids from the "Device ID:" row and the
// row below it.
void ReadDemoConsoleSheet(const SheetGrid& grid, int n, ConsoleTable& consoles, Problems& problems);

}  // namespace kvr

#endif  // KVR_DEMO_DEMO_MODEL_H_
