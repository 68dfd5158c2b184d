// The details of what the last run did, as a native window drawn from the
// run's record: the inputs and output folder, the problems and notices
// grouped (the selected one in full below the list), the files, the changes
// per table; "Open folder" and "Save report", each saying what it did.
#ifndef KVR_APP_WIN32_DETAILS_WINDOW_H_
#define KVR_APP_WIN32_DETAILS_WINDOW_H_

#include <string>
#include <vector>

#include "app/core/run_record.h"
#include "app/win32/win32_util.h"

namespace kvr::win32 {

class DetailsWindow {
 public:
  DetailsWindow(HWND owner, RunRecord record);
  ~DetailsWindow();
  DetailsWindow(const DetailsWindow&) = delete;
  DetailsWindow& operator=(const DetailsWindow&) = delete;

  // Shows the window until it is closed.
  void Run();
  void Close() { done_ = true; }
  HWND handle() const { return window_; }
  // The list of tab `tab` (0 problems and notices, 1 files, 2 changes).
  HWND List(int tab) const { return lists_[tab]; }
  // Writes the report as text at `path` and JSON beside it; says where (or
  // why not) under the buttons and returns that text.
  std::wstring SaveReportTo(const std::wstring& path);
  void OpenFolder();
  std::wstring Said() const { return TextOf(said_); }
  // Shows the full text of row `row` of the problems and notices.
  void ShowMessageOf(int row);
  std::wstring MessageShown() const { return TextOf(message_); }

 private:
  template <typename Owner>
  friend LRESULT CALLBACK OwnerProcedure(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void Fill();
  void Layout();
  void ShowTab(int tab);

  RunRecord record_;
  // What each row of the problems list shows: a problem or a notice of
  // record_, or nothing (a group's row).
  struct ReportRow {
    const Problem* entry = nullptr;
    const wchar_t* kind = L"";
  };
  std::vector<ReportRow> report_rows_;
  HWND window_ = nullptr, head_ = nullptr, tabs_ = nullptr, message_ = nullptr, said_ = nullptr;
  HWND lists_[3] = {};
  HWND open_ = nullptr, save_ = nullptr, close_ = nullptr;
  int tab_count_ = 2;
  bool done_ = false;
};

}  // namespace kvr::win32

#endif  // KVR_APP_WIN32_DETAILS_WINDOW_H_
