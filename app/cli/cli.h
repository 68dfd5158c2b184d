// The kvrconversion command line as a library, so tests can run it in process.
#ifndef KVR_APP_CLI_CLI_H_
#define KVR_APP_CLI_CLI_H_

#include <iosfwd>

namespace kvr {

// Exit statuses.
inline constexpr int kExitOk = 0;        // completed with no problem
inline constexpr int kExitProblems = 1;  // completed, with problems reported on stderr
inline constexpr int kExitNotRun = 2;    // usage error, or an input that cannot be read

// Parses `argv` and runs the chosen command, writing results to `out` and
// messages to `err`. Returns the exit status.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kvr

#endif  // KVR_APP_CLI_CLI_H_
