// The kvrconversion command line as a library, so tests can run it in process.
#ifndef KVR_APP_CLI_CLI_H_
#define KVR_APP_CLI_CLI_H_

#include <iosfwd>
#include <string>

#include "app/core/report.h"  // the exit statuses

namespace kvr {

// Parses `argv` and runs the chosen command, writing results to `out` and
// messages to `err`. Returns the exit status.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// The manual page kvrconversion(1), in roff, and the bash completion script,
// both made from the same commands, options and help texts as --help.
std::string ManPage();
std::string BashCompletion();

}  // namespace kvr

#endif  // KVR_APP_CLI_CLI_H_
