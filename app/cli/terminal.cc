#include "app/cli/terminal.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kvr {

bool IsTerminal(int fd) {
#ifdef _WIN32
  return _isatty(fd) != 0;
#else
  return ::isatty(fd) != 0;
#endif
}

TerminalProgress::TerminalProgress(const RunProgress& progress, std::ostream& err, bool enabled)
    : progress_(progress), err_(err) {
  if (enabled) thread_ = std::thread([this] { Show(); });
}

TerminalProgress::~TerminalProgress() { Stop(); }

void TerminalProgress::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    Clear();
  }
  stop_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TerminalProgress::Show() {
  std::unique_lock lock(mutex_);
  std::string last;
  while (!stop_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopped_; })) {
    if (!progress_.ShowNow()) continue;
    std::string text = "kvrconversion: " + progress_.Text();
    if (text == last) continue;
    last = text;
    // Rewritten in place: back to the line's start, the text, and blanks
    // over what a longer text left (no terminal control sequences, so a
    // plain console shows it too).
    const std::size_t width = text.size();
    text.append(shown_ > width ? shown_ - width : 0, ' ');
    err_ << '\r' << text << '\r' << std::flush;
    shown_ = width;
  }
}

void TerminalProgress::Clear() {
  if (shown_ == 0) return;
  err_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
  shown_ = 0;
}

bool TerminalQuestion::Ask(const std::string& text, const std::string& title) {
  if (progress_ != nullptr) progress_->Stop();
  std::string shown = text;
  std::replace(shown.begin(), shown.end(), '\r', '\n');
  if (answer_) {
    if (!*answer_) {
      err_ << "kvrconversion: kept " << shown.substr(0, shown.find(" exists.")) << " (it exists; --no); give --yes "
           << "to replace it\n";
    }
    return *answer_;
  }
  if (IsTerminal(0) && IsTerminal(2)) {  // standard input and error
    err_ << title << ": " << shown << " [Y/n] " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    return line.empty() || line[0] == 'y' || line[0] == 'Y';
  }
  kept_unasked_.push_back(shown.substr(0, shown.find(" exists.")));  // a problem of the run, said with the others
  return false;
}


}  // namespace kvr
