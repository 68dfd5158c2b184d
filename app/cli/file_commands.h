// The command line's commands that read one file and print what it holds:
// `sheet` (a worksheet's grid as JSON), `system` (the "System" settings) and
// `inspect` (a .con, .cns or .xpt file decoded).
#ifndef KVR_APP_CLI_FILE_COMMANDS_H_
#define KVR_APP_CLI_FILE_COMMANDS_H_

#include <iosfwd>
#include <string>

#include "base/problems.h"

namespace kvr {

int RunSheet(const std::string& workbook_path, const std::string& sheet, std::ostream& out, std::ostream& err);
int RunSystem(const std::string& workbook_path, std::ostream& out, std::ostream& err);
int RunInspect(const std::string& path, std::ostream& out, std::ostream& err);

// A command stopped by Ctrl-C (or SIGTERM, SIGHUP) at a safe point: says
// "interrupted: <what>" and gives exit status 130.
int Interrupted(const std::string& what, std::ostream& err);

// The problems, then the notices, one per line.
void PrintProblems(const Problems& problems, std::ostream& err);

}  // namespace kvr

#endif  // KVR_APP_CLI_FILE_COMMANDS_H_
