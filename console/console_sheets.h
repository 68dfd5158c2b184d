// The "Console Config" sheet and the per-console module sheets ("Console #1",
// "Console #2", ...) of the conversion run.
#ifndef KVR_CONSOLE_CONSOLE_SHEETS_H_
#define KVR_CONSOLE_CONSOLE_SHEETS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "console/console_model.h"
#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;

// Fills ConsoleConfigTable entry e from the row numbered e + 1 (a scan
// without a count; rows past entry 256 store nothing, reported). Only fields
// whose column exists change. A cell that cannot be read leaves its field
// unchanged (reported); a "Dim Value" outside 0..255 likewise.
void ReadConsoleConfigSheet(const SheetGrid& grid, ConsoleConfigTable& table, Problems& problems);

// Reads the sheet of console n (1-based) into ConsoleTable entry n: name,
// module count, module types (from the first assignment row only), MFD masks,
// assignments with function codes chosen by `big_switch`, mix-minus rows.
// Resets the console's assignments first. A module number outside 0..40
// stores nothing (reported).
void ReadConsoleModuleSheet(const SheetGrid& grid, int n, bool big_switch, ConsoleTable& table,
                            Problems& problems);

// The module type table: code and assignment count of a row-2 type keyword.
struct ModuleType {
  std::int16_t code;
  std::int16_t assignments;
};
ModuleType ModuleTypeFor(std::string_view keyword);

// The function code of an assignment for a module type; `label` (the
// assignment row's column 2) matters only for types 3601 and 3631.
std::int16_t FunctionCodeFor(std::int16_t module_type, std::string_view label, bool big_switch);

}  // namespace kvr

#endif  // KVR_CONSOLE_CONSOLE_SHEETS_H_
