#include "app/core/run_progress.h"

namespace kvr {

void RunProgress::Start() {
  std::lock_guard lock(mutex_);
  start_ = std::chrono::steady_clock::now();
  sheet_.clear();
  latest_.clear();
  sheets_done_ = false;
}

void RunProgress::Sheet(int index, int count, std::string_view name) {
  std::string text = "Reading sheet " + std::to_string(index) + " of " + std::to_string(count) + ": ";
  text += name;
  std::lock_guard lock(mutex_);
  sheet_ = std::move(text);
}

void RunProgress::SheetsDone() {
  std::lock_guard lock(mutex_);
  sheets_done_ = true;
}

void RunProgress::Table(int index, int count, std::string_view name) {
  std::string text = "Updating table " + std::to_string(index) + " of " + std::to_string(count) + ": ";
  text += name;
  std::lock_guard lock(mutex_);
  latest_ = std::move(text);
}

void RunProgress::Stage(std::string_view text) {
  std::lock_guard lock(mutex_);
  latest_ = text;
}

std::string RunProgress::Text() const {
  std::lock_guard lock(mutex_);
  // The tables of a conversion are updated beside its sheets: while sheets
  // are still read, where the reading is tells more.
  if (!sheets_done_ && !sheet_.empty()) return sheet_;
  return latest_.empty() ? sheet_ : latest_;
}

bool RunProgress::ShowNow() const {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::now() - start_ >= kShowAfter && (!sheet_.empty() || !latest_.empty());
}

}  // namespace kvr
