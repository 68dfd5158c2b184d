// Reading a run's sheets ahead on worker threads.
//
// A run reads its sheets in a fixed order and interprets each before the
// next. Parsing a sheet into its grid needs no order, so a SheetPrefetcher
// reads the listed sheets on a small pool of threads (as many as the
// machine has cores, at most four) while the run consumes them in its own
// order; at most a few grids wait read ahead, so memory stays that of a few
// sheets. Problems are reported when a grid is taken, so their order and
// text are those of reading the sheets one by one. A workbook whose reader
// cannot read concurrently is read on the calling thread, as before.
#ifndef KVR_WORKBOOK_SHEET_PREFETCH_H_
#define KVR_WORKBOOK_SHEET_PREFETCH_H_

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "workbook/workbook.h"

namespace kvr {

class Problems;

class SheetPrefetcher {
 public:
  // Starts reading `names` in this order. `threads` 0 picks the core count.
  SheetPrefetcher(Workbook& workbook, std::vector<std::string> names, unsigned threads = 0);
  ~SheetPrefetcher();  // waits for the sheets being read, reads no more
  SheetPrefetcher(const SheetPrefetcher&) = delete;
  SheetPrefetcher& operator=(const SheetPrefetcher&) = delete;

  // The grid of sheet `name`, as OpenSheetGrid gives it (an empty grid and a
  // problem for a missing or unreadable sheet; WorkbookLimitError thrown).
  // Names are taken in the order given; any other name is read at once.
  SheetGrid Take(std::string_view name, Problems& problems);

 private:
  struct Slot {
    bool done = false;
    std::optional<std::size_t> index;  // into the workbook's sheets; none when missing
    std::optional<SheetGrid> grid;
    std::exception_ptr error;
  };
  void Work();

  Workbook& workbook_;
  std::vector<std::string> names_;
  std::vector<Slot> slots_;
  std::size_t window_ = 0;  // how far reading may run ahead of taking
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_read_ = 0;
  std::size_t next_take_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_SHEET_PREFETCH_H_
