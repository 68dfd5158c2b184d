#include "workbook/sheet_prefetch.h"

#include <algorithm>
#include <utility>

namespace kvr {

SheetPrefetcher::SheetPrefetcher(Workbook& workbook, std::vector<std::string> names, unsigned threads)
    : workbook_(workbook), names_(std::move(names)), slots_(names_.size()) {
  if (threads == 0) threads = std::min(4u, std::thread::hardware_concurrency());
  if (threads < 2 || !workbook_.ConcurrentReads() || names_.empty()) return;  // read on the caller's thread
  for (std::size_t i = 0; i < names_.size(); ++i) slots_[i].index = FindSheet(workbook_, names_[i]);
  window_ = threads + 1;
  for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { Work(); });
}

SheetPrefetcher::~SheetPrefetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& w : workers_) w.join();
}

void SheetPrefetcher::Work() {
  for (;;) {
    std::size_t i;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] {
        return stopping_ || (next_read_ < slots_.size() && next_read_ < next_take_ + window_);
      });
      if (stopping_) return;
      i = next_read_++;
    }
    Slot result;
    result.index = slots_[i].index;  // written before the workers started
    if (result.index) {
      try {
        result.grid = workbook_.ReadSheet(*result.index);
      } catch (...) {
        result.error = std::current_exception();
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      result.done = true;
      slots_[i] = std::move(result);
    }
    changed_.notify_all();
  }
}

SheetGrid SheetPrefetcher::Take(std::string_view name, Problems& problems) {
  if (workers_.empty() || next_take_ >= names_.size() || names_[next_take_] != name) {
    return OpenSheetGrid(workbook_, name, problems);
  }
  Slot slot;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slots_[next_take_].done; });
    slot = std::move(slots_[next_take_]);
    ++next_take_;
  }
  changed_.notify_all();
  if (!slot.index) return MissingSheet(workbook_, name, problems);
  return SheetOrProblem(
      name,
      [&] {
        if (slot.error) std::rethrow_exception(slot.error);
        return std::move(*slot.grid);
      },
      problems);
}

}  // namespace kvr
