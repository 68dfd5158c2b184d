// Where a run is, for a front end to show while it goes on: the sheet being
// read of how many, then the table being updated, then the files. The run
// notes each step (a lock and a few words, nothing per record); a front end
// reads Text() from its own thread as often as it likes, and shows it once
// the run has lasted long enough to be worth it (ShowNow).
#ifndef KVR_APP_CORE_RUN_PROGRESS_H_
#define KVR_APP_CORE_RUN_PROGRESS_H_

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace kvr {

class RunProgress {
 public:
  // How long a run goes on before its progress is shown.
  static constexpr std::chrono::milliseconds kShowAfter{1000};

  // A new run: nothing noted, the clock started.
  void Start();
  // Reading sheet `index` (1-based) of `count`.
  void Sheet(int index, int count, std::string_view name);
  // Every sheet is read: from now on the table steps and stages are shown.
  void SheetsDone();
  // Updating table `index` (1-based) of `count`.
  void Table(int index, int count, std::string_view name);
  // A stage after the tables: "Keeping the changes", "Writing the files".
  void Stage(std::string_view text);

  // "Reading sheet 3 of 17: Opto", "Updating table 2 of 7: OutptAlphas",
  // "Writing the files"; "" before the first step.
  std::string Text() const;
  // The run has gone on for kShowAfter and has something to show.
  bool ShowNow() const;

 private:
  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string sheet_;   // the sheet being read
  std::string latest_;  // the table step or stage noted last
  bool sheets_done_ = false;
};

}  // namespace kvr

#endif  // KVR_APP_CORE_RUN_PROGRESS_H_
