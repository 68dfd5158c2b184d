// The kvrconversion command line as a library, so tests can run it in process.
#ifndef KVR_APP_CLI_CLI_H_
#define KVR_APP_CLI_CLI_H_

#include <iosfwd>

#include "app/core/report.h"  // the exit statuses

namespace kvr {

// Parses `argv` and runs the chosen command, writing results to `out` and
// messages to `err`. Returns the exit status.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kvr

#endif  // KVR_APP_CLI_CLI_H_
