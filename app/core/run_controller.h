// What a window does around a run, the same in every window: one command at
// a time on a worker thread; the file dialog, the overwrite question and the
// preview asked on the window's thread while the worker waits; status texts
// and the run's record handed to the window's thread; and closing the window
// during a run. A window supplies the drawing (RunWindow) and nothing else.
#ifndef KVR_APP_CORE_RUN_CONTROLLER_H_
#define KVR_APP_CORE_RUN_CONTROLLER_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/core/output_folder.h"
#include "app/core/run_progress.h"
#include "app/core/run_record.h"

namespace kvr {

struct Variables;

// The window's side: how to reach its thread, and the user's part of a run
// (each called on the window's thread).
class RunWindow {
 public:
  virtual ~RunWindow() = default;
  // Runs `f` on the window's thread and returns once it has; called from the
  // window's thread, runs it at once.
  virtual void OnWindowThread(const std::function<void()>& f) = 0;
  // Runs `f` on the window's thread later and returns at once.
  virtual void PostToWindow(std::function<void()> f) = 0;

  virtual std::string ChooseFile(const std::string& name, const std::string& extension, int type) = 0;
  virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
  virtual bool PreviewChanges(const ChangeList& changes,
                              const std::map<std::string, ChangeCount>& counts) = 0;
  virtual void ShowStatus(const std::string& text) = 0;
  // The run has ended and its worker is gone: its record, to draw.
  virtual void RunFinished(RunRecord record) = 0;
};

struct RunRequest {
  std::string_view command;  // a RunCommand's name: "convert", "demo-ini", ...
  bool big_switch = false;
  bool preview = false;  // show the changes and ask before keeping them (convert)
  OutputFolder folder;
  std::string version;  // the program's, for the run's record
};

// The question a window asks when it is closed during a run.
inline constexpr const char* kStopRunQuestion =
    "A command is still running. Stop it and close? The database and the files are left as they were unless its "
    "changes are already being kept.";

class RunController {
 public:
  explicit RunController(RunWindow& window);
  // A run still going is asked to stop and waited for: a window is
  // destroyed only once its run has ended (Close), since the worker may be
  // waiting for the window's thread.
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Starts `request` on a worker thread; false (nothing started) while a
  // command runs: two runs must never share the tables.
  bool Start(const RunRequest& request);
  bool busy() const { return busy_; }
  const RunProgress& progress() const { return progress_; }

  // The window is asked to close. kCloseNow when no run goes on (or the run
  // ended while the user was asked); otherwise the window stays, and when
  // `ask_stop` (the user's answer, asked at most once a run) says yes, the run
  // is asked to stop at its next safe point and closing() turns true: the
  // window closes once RunFinished has drawn the record.
  enum class CloseStep { kCloseNow, kStay };
  CloseStep Close(const std::function<bool()>& ask_stop);
  bool closing() const { return close_after_run_; }

 private:
  class Bridge;
  void Finish(RunRecord record);

  RunWindow& window_;
  std::unique_ptr<Bridge> bridge_;
  std::unique_ptr<Variables> vars_;
  RunProgress progress_;
  std::thread worker_;
  bool busy_ = false;
  bool asking_stop_ = false;
  bool close_after_run_ = false;
};

}  // namespace kvr

#endif  // KVR_APP_CORE_RUN_CONTROLLER_H_
