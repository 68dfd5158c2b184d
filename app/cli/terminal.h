// The command line on a terminal: the overwrite question asked there (or
// answered by --yes / --no), and a run's progress shown on stderr while it
// goes on.
#ifndef KVR_APP_CLI_TERMINAL_H_
#define KVR_APP_CLI_TERMINAL_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>
#include <thread>

#include "app/core/run_progress.h"
#include "base/overwrite_question.h"

namespace kvr {

// True when standard error (2) or input (0) is an interactive terminal.
bool IsTerminal(int fd);

// Shows a run's progress on one line of `err`, rewritten in place, while
// the run goes on and once it has lasted RunProgress::kShowAfter; the line
// is cleared when the run ends or a question needs the terminal. Shows
// nothing unless `enabled` (stderr a terminal).
class TerminalProgress {
 public:
  TerminalProgress(const RunProgress& progress, std::ostream& err, bool enabled);
  ~TerminalProgress();  // stops and clears the line
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // Stops showing and clears the line (before a question or the results).
  void Stop();

 private:
  void Show();
  void Clear();

  const RunProgress& progress_;
  std::ostream& err_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopped_ = false;
  std::size_t shown_ = 0;  // characters on the line now
  std::thread thread_;
};

// --yes / --no, else a prompt on an interactive terminal, else No. The
// progress line, if any, is stopped before anything is written.
class TerminalQuestion : public OverwriteQuestion {
 public:
  TerminalQuestion(std::optional<bool> answer, std::ostream& err) : answer_(answer), err_(err) {}
  void StopsFirst(TerminalProgress* progress) { progress_ = progress; }
  bool Ask(const std::string& text, const std::string& title) override;
  // The files kept because neither --yes nor --no was given and no terminal
  // was there to ask on: the run did not write what the workbook says.
  const std::vector<std::string>& KeptUnasked() const { return kept_unasked_; }

 private:
  std::optional<bool> answer_;
  std::vector<std::string> kept_unasked_;
  std::ostream& err_;
  TerminalProgress* progress_ = nullptr;
};

}  // namespace kvr

#endif  // KVR_APP_CLI_TERMINAL_H_
