// The preview of a conversion's changes before they are kept, as a native
// window: counts per table, a filter, the changes in a virtual list view
// (rows are drawn from the changes as they are shown, so a million open at
// once), filtered and sorted by the core's ChangeSelector beside the
// window's thread; Apply or Cancel (the default).
#ifndef KVR_APP_WIN32_PREVIEW_WINDOW_H_
#define KVR_APP_WIN32_PREVIEW_WINDOW_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/change_search.h"
#include "app/win32/win32_util.h"

#include <commctrl.h>

namespace kvr::win32 {

class PreviewWindow {
 public:
  // `changes` must outlive the window.
  PreviewWindow(HWND owner, const ChangeList& changes, const std::map<std::string, ChangeCount>& counts);
  ~PreviewWindow();
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  // Shows the window until Apply (true) or Cancel, Escape or closing (false).
  bool Run();
  HWND handle() const { return window_; }
  // The rows shown now, and whether a filter or sort is still worked out.
  int ShownCount() const;
  bool Selecting() const { return shown_generation_ != asked_; }
  // Ends Run as Apply (true) or Cancel would.
  void End(bool apply);

 private:
  template <typename Owner>
  friend LRESULT CALLBACK OwnerProcedure(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void Layout();
  void Select();
  void CellText(NMLVDISPINFOW* info) const;

  const ChangeList& changes_;
  HWND window_ = nullptr, counts_ = nullptr, filter_ = nullptr, list_ = nullptr, shown_ = nullptr;
  HWND apply_ = nullptr, cancel_ = nullptr;
  std::unique_ptr<ChangeSelector> selector_;
  ChangeSelector::Rows rows_;  // null: every change, as made
  int sort_column_ = -1;
  bool descending_ = false;
  std::uint64_t asked_ = 0, shown_generation_ = 0;
  bool done_ = false, applied_ = false;
};

}  // namespace kvr::win32

#endif  // KVR_APP_WIN32_PREVIEW_WINDOW_H_
