#include "app/win32/details_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>

#include "base/utf8.h"

namespace kvr::win32 {
namespace {

constexpr int kTabsId = 201, kReportsId = 202, kOpenId = 203, kSaveId = 204;
constexpr const wchar_t* kClass = L"KvrDetailsWindow";

HWND List(HWND parent, int id, std::initializer_list<const wchar_t*> headings) {
  HWND list = Control(parent, WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, id,
                      WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  int c = 0;
  for (const wchar_t* heading : headings) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(heading);
    column.cx = 100;
    ListView_InsertColumn(list, c++, &column);
  }
  return list;
}

void AddRow(HWND list, std::initializer_list<std::wstring> cells) {
  const int row = ListView_GetItemCount(list);
  int c = 0;
  for (const std::wstring& cell : cells) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = c;
    item.pszText = const_cast<wchar_t*>(cell.c_str());
    if (c++ == 0) ListView_InsertItem(list, &item);
    else ListView_SetItem(list, &item);
  }
}

// Every column as wide as what it holds and as its heading, with room to
// spare. The heading is measured itself: a column with no text in it sized
// by the list alone shows its heading cut to "..." on some systems.
void SizeColumns(HWND list) {
  HWND header = ListView_GetHeader(list);
  const int spare = Scaled(12, DpiOf(list));
  for (int c = 0; c < Header_GetItemCount(header); ++c) {
    const int heading = ListView_GetStringWidth(list, HeadingOf(list, c).c_str()) + 2 * spare;
    ListView_SetColumnWidth(list, c, LVSCW_AUTOSIZE);
    const int content = ListView_GetColumnWidth(list, c);
    ListView_SetColumnWidth(list, c, LVSCW_AUTOSIZE_USEHEADER);
    ListView_SetColumnWidth(list, c, std::max({content, heading, ListView_GetColumnWidth(list, c)}) + spare);
  }
}

}  // namespace

DetailsWindow::DetailsWindow(HWND owner, RunRecord record) : record_(std::move(record)) {
  const UINT dpi = DpiOf(owner);
  window_ = CreateOwnedWindow(this, kClass, false, WS_EX_DLGMODALFRAME, L"Details of the last run",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, Scaled(760, dpi), Scaled(500, dpi),
                              owner);
  std::wstring head;
  for (const std::string& line : record_.Head()) head += (head.empty() ? L"" : L"\r\n") + Wide(line);
  head_ = Control(window_, L"STATIC", head, SS_LEFT | SS_NOPREFIX, 0);
  tabs_ = Control(window_, WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS, kTabsId);
  lists_[0] = kvr::win32::List(window_, kReportsId, {L"Place", L"Kind", L"Message"});
  lists_[1] = kvr::win32::List(window_, 0, {L"File", L"Outcome", L"Why"});
  if (!record_.inputs.database.empty()) {
    lists_[2] = kvr::win32::List(window_, 0, {L"Table", L"Records changed", L"Fields changed"});
    tab_count_ = 3;
  }
  message_ = Control(window_, L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP, 0, WS_EX_CLIENTEDGE);
  said_ = Control(window_, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 0);
  open_ = Control(window_, L"BUTTON", L"Open folder", WS_TABSTOP | BS_PUSHBUTTON, kOpenId);
  save_ = Control(window_, L"BUTTON", L"Save report", WS_TABSTOP | BS_PUSHBUTTON, kSaveId);
  close_ = Control(window_, L"BUTTON", L"Close", WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL);
  Fill();
  FitToMonitor(window_, owner);
  Layout();
  // A run that had nothing to say opens on what it wrote.
  const bool quiet = record_.result.problems.empty() && record_.result.problems.notices().empty();
  TabCtrl_SetCurSel(tabs_, quiet ? 1 : 0);
  ShowTab(quiet ? 1 : 0);
}

DetailsWindow::~DetailsWindow() { DestroyWindow(window_); }

void DetailsWindow::Fill() {
  const RunResult& r = record_.result;
  std::wstring titles[3];
  for (int t = 0; t < 3; ++t) titles[t] = Wide(record_.DetailTabs()[static_cast<std::size_t>(t)]);
  for (int t = 0; t < tab_count_; ++t) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(titles[t].c_str());
    TabCtrl_InsertItem(tabs_, t, &item);
  }
  // Groups with problems first; inside each, the problems first.
  for (const ReportGroup& g : record_.Groups()) {
    AddRow(lists_[0], {Wide(g.name), Wide(g.Counts()), L""});
    report_rows_.push_back({});
    for (const Problem* p : g.problems) {
      AddRow(lists_[0], {L"    " + Wide(p->place()), L"problem", Wide(p->message)});
      report_rows_.push_back({p, L"problem"});
    }
    for (const Problem* n : g.notices) {
      const wchar_t* kind = Problems::IsListing(*n) ? L"not read" : L"notice";
      AddRow(lists_[0], {L"    " + Wide(n->place()), kind, Wide(n->message)});
      report_rows_.push_back({n, kind});
    }
  }
  for (const FileOutcome& f : r.files) {
    AddRow(lists_[1], {Wide(Utf8Path(f.path)), Wide(FileOutcome::KindName(f.kind)), Wide(f.why)});
  }
  for (const auto& [table, c] : record_.Changes()) {
    AddRow(lists_[2], {Wide(std::string(table)), std::to_wstring(c.records), std::to_wstring(c.fields)});
  }
  for (HWND list : lists_) {
    if (list != nullptr) SizeColumns(list);
  }
}

void DetailsWindow::Layout() {
  const UINT dpi = DpiOf(window_);
  RECT client;
  GetClientRect(window_, &client);
  const int margin = Scaled(10, dpi), width = client.right - 2 * margin, line = Scaled(15, dpi);
  const int button_w = Scaled(96, dpi), button_h = Scaled(26, dpi);
  const int head_h = line * static_cast<int>(record_.Head().size());
  MoveWindow(head_, margin, margin, width, head_h, TRUE);
  const int top = margin + head_h + Scaled(6, dpi);
  const int bottom = client.bottom - margin - button_h;
  const int tabs_h = std::max(line * 4, bottom - line * 2 - Scaled(8, dpi) - top);
  MoveWindow(tabs_, margin, top, width, tabs_h, TRUE);
  RECT area{margin, top, margin + width, top + tabs_h};
  TabCtrl_AdjustRect(tabs_, FALSE, &area);
  const int area_h = area.bottom - area.top;
  for (int t = 0; t < 3; ++t) {
    if (lists_[t] == nullptr) continue;
    // The problems share their page with the selected one's full text.
    const int h = t == 0 ? area_h * 2 / 3 : area_h;
    MoveWindow(lists_[t], area.left, area.top, area.right - area.left, h, TRUE);
  }
  MoveWindow(message_, area.left, area.top + area_h * 2 / 3 + Scaled(4, dpi), area.right - area.left,
             area_h - area_h * 2 / 3 - Scaled(4, dpi), TRUE);
  MoveWindow(said_, margin, bottom - line * 2 - Scaled(4, dpi), width, line * 2, TRUE);
  int x = client.right - margin - button_w;
  for (HWND button : {close_, save_, open_}) {
    MoveWindow(button, x, bottom, button_w, button_h, TRUE);
    x -= button_w + Scaled(8, dpi);
  }
  // The tab control is drawn under the page it holds.
  SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void DetailsWindow::ShowTab(int tab) {
  for (int t = 0; t < 3; ++t) {
    if (lists_[t] != nullptr) ShowWindow(lists_[t], t == tab ? SW_SHOW : SW_HIDE);
  }
  ShowWindow(message_, tab == 0 ? SW_SHOW : SW_HIDE);
}

void DetailsWindow::Run() {
  SetFocus(close_);
  RunModal(window_, done_);
  ShowWindow(window_, SW_HIDE);
}

void DetailsWindow::ShowMessageOf(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= report_rows_.size() || report_rows_[row].entry == nullptr) {
    SetWindowTextW(message_, L"");  // a group's row
    return;
  }
  const ReportRow& r = report_rows_[static_cast<std::size_t>(row)];
  SetWindowTextW(message_,
                 (Wide(r.entry->place()) + L" (" + r.kind + L")\r\n" + Wide(r.entry->message)).c_str());
}

std::wstring DetailsWindow::SaveReportTo(const std::wstring& path) {
  const Result<std::filesystem::path> json = record_.SaveReport(std::filesystem::path(path));
  const std::wstring said = json.ok() ? L"Saved the report as " + path + L" and " + json->wstring()
                                      : L"The report was not saved: " + Wide(json.why());
  SetWindowTextW(said_, said.c_str());
  return said;
}

void DetailsWindow::OpenFolder() {
  const std::wstring folder = record_.inputs.output_folder.wstring();
  std::error_code ec;
  std::wstring said;
  if (!std::filesystem::is_directory(record_.inputs.output_folder, ec)) {
    said = L"Cannot open the output folder " + folder + L": it no longer exists.";
  } else if (reinterpret_cast<INT_PTR>(ShellExecuteW(window_, L"open", folder.c_str(), nullptr, nullptr,
                                                      SW_SHOWNORMAL)) <= 32) {
    said = L"Cannot open the output folder " + folder +
           L": Windows has no program to show folders with. Its path can be copied from above.";
  } else {
    said = L"Opened " + folder;
  }
  SetWindowTextW(said_, said.c_str());
}

LRESULT DetailsWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDCANCEL, DC_HASDEFID);
    case WM_CLOSE:
      Close();
      return 0;
    case WM_COMMAND:
      if (LOWORD(w) == IDCANCEL) Close();
      if (LOWORD(w) == kOpenId) OpenFolder();
      if (LOWORD(w) == kSaveId) {
        std::wstring name = (record_.inputs.output_folder / "KVR Conversion report.txt").wstring();
        name.resize(32768);
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = window_;
        ofn.lpstrFilter = L"Text files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
        ofn.lpstrFile = name.data();
        ofn.nMaxFile = static_cast<DWORD>(name.size());
        ofn.lpstrTitle = L"Save report";
        ofn.lpstrDefExt = L"txt";
        ofn.Flags = OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
        if (GetSaveFileNameW(&ofn)) SaveReportTo(name.c_str());
      }
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(l);
      if (header->idFrom == kTabsId && header->code == TCN_SELCHANGE) ShowTab(TabCtrl_GetCurSel(tabs_));
      if (header->idFrom == kReportsId && header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<NMLISTVIEW*>(l);
        if ((change->uNewState & LVIS_SELECTED) != 0) ShowMessageOf(change->iItem);
      }
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window_, message, w, l);
}

}  // namespace kvr::win32
