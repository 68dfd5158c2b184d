#include "base/interrupt.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kvr {
namespace {

TEST(InterruptTest, ARequestStopsAtTheNextSafePointUntilCleared) {
  ClearInterrupt();
  EXPECT_NO_THROW(StopIfInterrupted());
  RequestInterrupt();
  EXPECT_TRUE(InterruptRequested());
  EXPECT_THROW(StopIfInterrupted(), RunInterrupted);
  ClearInterrupt();
  EXPECT_NO_THROW(StopIfInterrupted());
}

#ifndef _WIN32
// The first signal only asks the run to stop; a second one ends the program
// at once, as if nothing caught it.
TEST(InterruptTest, TheFirstSignalAsksTheSecondEnds) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ClearInterrupt();
      CatchInterruptSignals();
      raise(sig);
      if (!InterruptRequested()) _exit(3);
      raise(sig);
      _exit(4);  // the second signal did not end it
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
        << "signal " << sig << ": exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
}
#endif

}  // namespace
}  // namespace kvr
