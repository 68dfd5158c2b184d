#include "base/interrupt.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kvr {
namespace {

std::atomic<bool> requested{false};
std::atomic<bool> ended{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (requested.exchange(true)) return FALSE;  // the second one: the default handler ends the process
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The process ends when this returns: give the run time to roll back.
    for (int waited = 0; waited < 4500 && !ended.load(); waited += 50) Sleep(50);
  }
  return TRUE;
}
#else
extern "C" void OnSignal(int) { requested.store(true); }
#endif

}  // namespace

void RequestInterrupt() { requested.store(true); }
bool InterruptRequested() { return requested.load(); }
void ClearInterrupt() { requested.store(false); }

void StopIfInterrupted() {
  if (requested.load()) throw RunInterrupted{};
}

void RunEnded() { ended.store(true); }

void CatchInterruptSignals() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Once caught, the default comes back: a second signal ends the program.
  // No SA_RESTART: a prompt waiting for an answer gives up and says No.
  action.sa_flags = SA_RESETHAND;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
#endif
}

}  // namespace kvr
