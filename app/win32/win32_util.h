// Small helpers the Win32 window and its dialogs share: UTF-8 and UTF-16,
// twips and pixels at a window's DPI, the message font, child controls, a
// modal loop, and running a call on the window's thread.
#ifndef KVR_APP_WIN32_WIN32_UTIL_H_
#define KVR_APP_WIN32_WIN32_UTIL_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace kvr::win32 {

// Sent (never posted) to a window with a std::function<void()>* in lParam:
// runs it on the window's thread while the sender waits.
inline constexpr UINT kRunOnWindowThread = WM_APP + 1;

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The window's DPI (96 when the system cannot say).
UINT DpiOf(HWND window);
// Twips (1/1440 inch) as pixels at `dpi`.
int Twips(int twips, UINT dpi);
// Logical pixels at 96 DPI as pixels at `dpi`.
int Scaled(int pixels, UINT dpi);

// The system's message font at `dpi`; one per DPI, kept for the program's life.
HFONT MessageFont(UINT dpi);

// A child control of `parent`: its class, text, style (WS_CHILD and
// WS_VISIBLE added), id, and the message font.
HWND Control(HWND parent, const wchar_t* window_class, std::wstring_view text, DWORD style, int id,
             DWORD ex_style = 0);

// The text of a window.
std::wstring TextOf(HWND window);

// The heading of column `column` (from 0) of a report-view list.
std::wstring HeadingOf(HWND list, int column);

// Runs `call` on `window`'s thread and waits for it (at once when already there).
void OnWindowThread(HWND window, const std::function<void()>& call);

// Runs a modal loop for `dialog`: its owner is disabled until `done` is set
// (the dialog's window procedure sets it), Tab and Enter move and press as
// in a dialog box.
void RunModal(HWND dialog, const bool& done);

// A top-level window of its own class (registered on first use; the
// program's icon with `icon`) whose messages go to `owner->Handle(message,
// wParam, lParam)`: the window procedure every window of this program shares.
HWND CreateClassWindow(const wchar_t* window_class, bool icon, DWORD ex_style, const wchar_t* title, DWORD style,
                       int width, int height, HWND parent, void* owner, WNDPROC procedure);

template <typename Owner>
LRESULT CALLBACK OwnerProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return owner != nullptr ? owner->Handle(message, w, l) : DefWindowProcW(window, message, w, l);
}

template <typename Owner>
HWND CreateOwnedWindow(Owner* owner, const wchar_t* window_class, bool icon, DWORD ex_style, const wchar_t* title,
                       DWORD style, int width, int height, HWND parent) {
  return CreateClassWindow(window_class, icon, ex_style, title, style, width, height, parent, owner,
                           &OwnerProcedure<Owner>);
}

// Keeps `window` on the monitor it opens on: no larger than its work area,
// and moved into it.
void FitToMonitor(HWND window, HWND anchor);

}  // namespace kvr::win32

#endif  // KVR_APP_WIN32_WIN32_UTIL_H_
