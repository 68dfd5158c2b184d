// The changes a preview lists, filtered and sorted for display. A large
// plant makes over a million changes: the search texts are made once, on
// first use, and every selection can run off the window's thread and be
// cancelled when the user types on.
#ifndef KVR_APP_CORE_CHANGE_SEARCH_H_
#define KVR_APP_CORE_CHANGE_SEARCH_H_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tables/switcher_database.h"

namespace kvr {

// The columns a preview shows, in order.
enum class ChangeColumn : int { kTable, kKey, kField, kOld, kNew };
inline constexpr int kChangeColumns = 5;
inline constexpr const char* kChangeColumnNames[kChangeColumns] = {"Table", "Key", "Field", "Old", "New"};

// One cell of the preview as shown: "InptAlphas", "Chan Num 7", "Label",
// "\"\"", "\"Mic 1\"".
std::string ChangeCellText(const FieldChange& change, ChangeColumn column);

// What to show: the rows whose cells hold `filter` (case aside, in any one
// column), ordered by `sort_column` (none: as made).
struct ChangeQuery {
  std::string filter;
  std::optional<ChangeColumn> sort_column;
  bool descending = false;
};

class ChangeSearch {
 public:
  // `changes` must outlive the search.
  explicit ChangeSearch(const ChangeList& changes);

  std::size_t size() const { return changes_.size(); }

  // The rows (indices into the changes) `query` shows, or nullopt when
  // `cancelled` was set before it was done. `previous`, the rows of an
  // earlier query whose filter is a part of this one and that sorted the
  // same way, narrows the search to those rows. Safe to call from any one
  // thread at a time besides the owner's reads of size().
  std::optional<std::vector<std::uint32_t>> Select(const ChangeQuery& query, const ChangeQuery* previous_query,
                                                   const std::vector<std::uint32_t>* previous,
                                                   const std::atomic<bool>& cancelled);

 private:
  void MakeTexts();
  std::string_view TextOf(std::uint32_t row) const;

  const ChangeList& changes_;
  std::mutex texts_made_;
  // Every row's cells, folded to lower case and joined by '\x1f', one after
  // another; row i spans [starts_[i], starts_[i + 1]).
  std::string texts_;
  std::vector<std::size_t> starts_;
};

// Works out the rows of the latest query on a thread of its own, so a
// window's thread never waits for a filter or sort. A query asked while
// another is worked on cancels it; each finished one is delivered (a window
// shows only the latest generation it asked for). A longer filter narrows
// the rows of the one before.
class ChangeSelector {
 public:
  using Rows = std::shared_ptr<const std::vector<std::uint32_t>>;
  // Called on the selector's thread with the rows of query `generation`.
  using Deliver = std::function<void(Rows rows, std::uint64_t generation)>;

  // `changes` must outlive the selector.
  ChangeSelector(const ChangeList& changes, Deliver deliver);
  ~ChangeSelector();  // cancels the query under way and waits for the thread
  ChangeSelector(const ChangeSelector&) = delete;
  ChangeSelector& operator=(const ChangeSelector&) = delete;

  void Ask(ChangeQuery query, std::uint64_t generation);

 private:
  struct Job {
    ChangeQuery query;
    std::uint64_t generation = 0;
  };
  void Loop();

  ChangeSearch search_;
  Deliver deliver_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> pending_;
  bool stop_ = false;
  std::atomic<bool> cancel_{false};
  std::thread thread_;  // last: started once everything above is made
};

// Folds ASCII letters to lower case (other characters are kept, so a
// search for "ü" finds "ü" but not "Ü").
std::string FoldCase(std::string_view text);

}  // namespace kvr

#endif  // KVR_APP_CORE_CHANGE_SEARCH_H_
