#include "app/win32/preview_window.h"

#include <commctrl.h>

#include <algorithm>

#include "app/core/report.h"

namespace kvr::win32 {
namespace {

constexpr UINT kRowsReady = WM_APP + 2;  // wParam: generation, lParam: a new ChangeSelector::Rows
constexpr int kFilterId = 101, kListId = 102;
constexpr const wchar_t* kClass = L"KvrPreviewWindow";

std::wstring CountsText(const std::map<std::string, ChangeCount>& counts) {
  std::wstring text = Wide(PreviewHeading(counts));
  for (std::size_t at = 0; (at = text.find(L'\n', at)) != std::wstring::npos; at += 2) text.insert(at, 1, L'\r');
  return text;
}

}  // namespace

PreviewWindow::PreviewWindow(HWND owner, const ChangeList& changes,
                             const std::map<std::string, ChangeCount>& counts)
    : changes_(changes) {
  const UINT dpi = DpiOf(owner);
  window_ = CreateOwnedWindow(this, kClass, false, WS_EX_DLGMODALFRAME, L"Preview of the database changes",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, Scaled(760, dpi), Scaled(520, dpi),
                              owner);
  counts_ = Control(window_, L"STATIC", CountsText(counts), SS_LEFT, 0);
  filter_ = Control(window_, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, kFilterId, WS_EX_CLIENTEDGE);
  SendMessageW(filter_, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Filter: table, key, field or value"));
  list_ = Control(window_, WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, kListId,
                  WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int c = 0; c < kChangeColumns; ++c) {
    const std::wstring name = Wide(kChangeColumnNames[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(name.c_str());
    column.cx = Scaled(c == kChangeColumns - 1 ? 220 : 110, dpi);
    ListView_InsertColumn(list_, c, &column);
  }
  ListView_SetItemCountEx(list_, static_cast<int>(changes.size()), LVSICF_NOINVALIDATEALL);
  shown_ = Control(window_, L"STATIC", L"", SS_LEFT, 0);
  apply_ = Control(window_, L"BUTTON", L"Apply", WS_TABSTOP | BS_PUSHBUTTON, IDOK);
  cancel_ = Control(window_, L"BUTTON", L"Cancel", WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL);  // Enter never applies
  SetWindowTextW(shown_, (std::to_wstring(changes.size()) + L" of " + std::to_wstring(changes.size()) +
                          L" changes shown").c_str());
  selector_ = std::make_unique<ChangeSelector>(changes, [w = window_](ChangeSelector::Rows rows, std::uint64_t gen) {
    PostMessageW(w, kRowsReady, static_cast<WPARAM>(gen), reinterpret_cast<LPARAM>(new ChangeSelector::Rows(rows)));
  });
  FitToMonitor(window_, owner);
  Layout();
}

PreviewWindow::~PreviewWindow() {
  selector_.reset();  // its thread is done: no rows arrive after this
  MSG msg;
  while (PeekMessageW(&msg, window_, kRowsReady, kRowsReady, PM_REMOVE)) {
    delete reinterpret_cast<ChangeSelector::Rows*>(msg.lParam);
  }
  DestroyWindow(window_);
}

bool PreviewWindow::Run() {
  SetFocus(filter_);
  RunModal(window_, done_);
  ShowWindow(window_, SW_HIDE);
  return applied_;
}

void PreviewWindow::End(bool apply) {
  applied_ = apply;
  done_ = true;
}

int PreviewWindow::ShownCount() const { return rows_ ? static_cast<int>(rows_->size()) : static_cast<int>(changes_.size()); }

void PreviewWindow::Layout() {
  const UINT dpi = DpiOf(window_);
  RECT client;
  GetClientRect(window_, &client);
  const int margin = Scaled(10, dpi), width = client.right - 2 * margin, line = Scaled(15, dpi);
  const int button_w = Scaled(90, dpi), button_h = Scaled(26, dpi), edit_h = Scaled(23, dpi);
  int y = margin;
  MoveWindow(counts_, margin, y, width, line * 8, TRUE);
  y += line * 8 + Scaled(4, dpi);
  MoveWindow(filter_, margin, y, width, edit_h, TRUE);
  y += edit_h + Scaled(6, dpi);
  const int bottom = client.bottom - margin - button_h;
  MoveWindow(list_, margin, y, width, std::max(line, bottom - line - Scaled(8, dpi) - y), TRUE);
  MoveWindow(shown_, margin, bottom - line - Scaled(4, dpi), width, line, TRUE);
  MoveWindow(cancel_, client.right - margin - button_w, bottom, button_w, button_h, TRUE);
  MoveWindow(apply_, client.right - margin - 2 * button_w - Scaled(8, dpi), bottom, button_w, button_h, TRUE);
}

void PreviewWindow::Select() {
  ChangeQuery query;
  query.filter = Narrow(TextOf(filter_));
  if (sort_column_ >= 0) query.sort_column = static_cast<ChangeColumn>(sort_column_);
  query.descending = descending_;
  SetWindowTextW(shown_, (L"Filtering " + std::to_wstring(changes_.size()) + L" changes...").c_str());
  selector_->Ask(std::move(query), ++asked_);
}

void PreviewWindow::CellText(NMLVDISPINFOW* info) const {
  if ((info->item.mask & LVIF_TEXT) == 0 || info->item.cchTextMax <= 0) return;
  const auto row = static_cast<std::size_t>(info->item.iItem);
  if (row >= static_cast<std::size_t>(ShownCount())) return;
  const FieldChange& change = changes_[rows_ ? (*rows_)[row] : row];
  const std::wstring text = Wide(ChangeCellText(change, static_cast<ChangeColumn>(info->item.iSubItem)));
  const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(info->item.cchTextMax) - 1);
  std::copy_n(text.c_str(), n, info->item.pszText);
  info->item.pszText[n] = L'\0';
}

LRESULT PreviewWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDCANCEL, DC_HASDEFID);
    case WM_CLOSE:
      End(false);
      return 0;
    case WM_COMMAND:
      if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) End(LOWORD(w) == IDOK);
      else if (LOWORD(w) == kFilterId && HIWORD(w) == EN_CHANGE) Select();
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(l);
      if (header->idFrom != kListId) break;
      if (header->code == LVN_GETDISPINFOW) CellText(reinterpret_cast<NMLVDISPINFOW*>(l));
      if (header->code == LVN_COLUMNCLICK) {
        const int column = reinterpret_cast<NMLISTVIEW*>(l)->iSubItem;
        descending_ = column == sort_column_ && !descending_;
        sort_column_ = column;
        HWND heading = ListView_GetHeader(list_);
        for (int c = 0; c < kChangeColumns; ++c) {
          HDITEMW item{};
          item.mask = HDI_FORMAT;
          Header_GetItem(heading, c, &item);
          item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
          if (c == column) item.fmt |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
          Header_SetItem(heading, c, &item);
        }
        Select();
      }
      return 0;
    }
    case kRowsReady: {
      std::unique_ptr<ChangeSelector::Rows> rows(reinterpret_cast<ChangeSelector::Rows*>(l));
      if (static_cast<std::uint64_t>(w) != asked_) return 0;  // a later query is on its way
      rows_ = std::move(*rows);
      shown_generation_ = asked_;
      ListView_SetItemCountEx(list_, ShownCount(), 0);
      InvalidateRect(list_, nullptr, TRUE);
      SetWindowTextW(shown_, (std::to_wstring(ShownCount()) + L" of " + std::to_wstring(changes_.size()) +
                              L" changes shown").c_str());
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window_, message, w, l);
}

}  // namespace kvr::win32
