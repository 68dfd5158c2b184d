// Stopping a run on request: Ctrl-C, a closed terminal, a service stop, or
// the window closed during a run.
//
// A request only sets a flag; the run looks at it at its safe points (before
// each sheet, before each table step, before the changes are kept, before
// an output is put in place) and stops there: the transaction rolled back,
// the staged files dropped. Past the commit there is no safe point left:
// the database and the files belong together, so the run ends normally.
#ifndef KVR_BASE_INTERRUPT_H_
#define KVR_BASE_INTERRUPT_H_

namespace kvr {

// Asks the run to stop at its next safe point. Safe in a signal handler and
// from any thread.
void RequestInterrupt();
bool InterruptRequested();
// Forgets a request (the window, before its next run).
void ClearInterrupt();

// Thrown at a safe point once a stop was asked for. Not a std::exception, so
// that no handler of ordinary failures takes it for one.
struct RunInterrupted {};

// Throws RunInterrupted when a stop was asked for.
void StopIfInterrupted();

// The command line's handlers: SIGINT, SIGTERM and SIGHUP (Windows: the
// console's control events) ask the run to stop; a second one ends the
// program at once.
void CatchInterruptSignals();

// Tells a console control handler waiting to let the process go (Windows:
// a closed console window) that the run has ended.
void RunEnded();

}  // namespace kvr

#endif  // KVR_BASE_INTERRUPT_H_
