#include "app/win32/win32_util.h"

#include <algorithm>
#include <map>

namespace kvr::win32 {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
  return out;
}

UINT DpiOf(HWND window) {
  // GetDpiForWindow came with Windows 10 1607: looked up, not linked.
  using GetDpi = UINT(WINAPI*)(HWND);
  static const auto get_dpi =
      reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = get_dpi != nullptr && window != nullptr ? get_dpi(window) : 0;
  return dpi != 0 ? dpi : 96;
}

int Twips(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

HFONT MessageFont(UINT dpi) {
  static std::map<UINT, HFONT> fonts;
  if (const auto it = fonts.find(dpi); it != fonts.end()) return it->second;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW font = metrics.lfMessageFont;
  // The metrics are for the system's DPI: scaled to this window's.
  HDC screen = GetDC(nullptr);
  const int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), system_dpi > 0 ? system_dpi : 96);
  return fonts[dpi] = CreateFontIndirectW(&font);
}

HWND Control(HWND parent, const wchar_t* window_class, std::wstring_view text, DWORD style, int id, DWORD ex_style) {
  const std::wstring caption(text);
  HWND control = CreateWindowExW(ex_style, window_class, caption.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont(DpiOf(parent))), TRUE);
  return control;
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring HeadingOf(HWND list, int column) {
  wchar_t text[128] = {};
  HDITEMW item{};
  item.mask = HDI_TEXT;
  item.pszText = text;
  item.cchTextMax = 128;
  Header_GetItem(ListView_GetHeader(list), column, &item);
  return text;
}

void OnWindowThread(HWND window, const std::function<void()>& call) {
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    call();
    return;
  }
  SendMessageW(window, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call));
}

void RunModal(HWND dialog, const bool& done) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner != nullptr) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  MSG msg;
  while (!done && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (owner != nullptr) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
}

HWND CreateClassWindow(const wchar_t* window_class, bool icon, DWORD ex_style, const wchar_t* title, DWORD style,
                       int width, int height, HWND parent, void* owner, WNDPROC procedure) {
  static std::set<std::wstring> registered;
  if (registered.insert(window_class).second) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;  // until the owner is known: see below
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (icon) wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    wc.lpszClassName = window_class;
    RegisterClassExW(&wc);
  }
  HWND window = CreateWindowExW(ex_style, window_class, title, style, CW_USEDEFAULT, CW_USEDEFAULT, width, height,
                                parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
  return window;
}

void FitToMonitor(HWND window, HWND anchor) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(anchor != nullptr ? anchor : window, MONITOR_DEFAULTTONEAREST), &info);
  const RECT work = info.rcWork;
  RECT r;
  GetWindowRect(window, &r);
  const int width = std::min<int>(r.right - r.left, work.right - work.left);
  const int height = std::min<int>(r.bottom - r.top, work.bottom - work.top);
  int left = r.left, top = r.top;
  if (anchor != nullptr) {  // centred over the window it belongs to
    RECT n;
    GetWindowRect(anchor, &n);
    left = (n.left + n.right - width) / 2;
    top = (n.top + n.bottom - height) / 2;
  }
  left = std::clamp<int>(left, work.left, std::max<int>(work.left, work.right - width));
  top = std::clamp<int>(top, work.top, std::max<int>(work.top, work.bottom - height));
  SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kvr::win32
