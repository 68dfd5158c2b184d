// The console configuration file (.con) and the module files (.cns) read
// back as the sheets that give them: "Console Config" and one
// "Console #n" per console.
#ifndef KVR_CONSOLE_CONSOLE_EXPORT_H_
#define KVR_CONSOLE_CONSOLE_EXPORT_H_

#include <string>
#include <string_view>

#include "base/problems.h"
#include "base/status.h"
#include "console/console_model.h"
#include "workbook/workbook_writer.h"

namespace kvr {

// The table a .con file was written from, as far as the file tells it: the
// four switches of slot 1 taken apart bit by bit (fader, sourceSelect and
// cancelCue one bit each, cueType the rest), every other slot into its field.
// Fails when the bytes are not a console configuration file.
Result<ConsoleConfigTable> DecodeConsoleConfigFile(std::string_view bytes);

// A .cns file's console: its module count, console index and modules 1 to
// moduleCount (type, mix-minus, MFD mask, assignment count, the 32
// assignment pairs). Fails when the bytes are not a module file.
Result<ConsoleRecord> DecodeModuleFile(std::string_view bytes);

// "Console Config": one row per console up to the last that differs from an
// empty record.
OutSheet ConsoleConfigSheet(const ConsoleConfigTable& table);

// "Console #n" for `console`: its name, module numbers and types, a row per
// MFD function, the assignment rows and the mix-minus rows. Function codes
// are told apart by their assignment labels as `big_switch` gives them.
OutSheet ConsoleModuleSheet(const ConsoleRecord& console, int n, bool big_switch);

// How many of the console's assignments carry a code that only the other
// Big Switch setting gives.
int CodesOfOtherBigSwitch(const ConsoleRecord& console, bool big_switch);

// Where `again` (the file a conversion writes from the sheets) differs from
// `file`, in words naming the console, module and field: "console 3, slot 19
// (meter6): 5 in the file, 16383 from the sheet". At most `limit` lines.
std::vector<std::string> ConsoleConfigDifferences(std::string_view file, std::string_view again, std::size_t limit);
std::vector<std::string> ModuleFileDifferences(std::string_view file, std::string_view again, std::size_t limit);

}  // namespace kvr

#endif  // KVR_CONSOLE_CONSOLE_EXPORT_H_
