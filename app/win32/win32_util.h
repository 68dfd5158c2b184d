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

// Runs `call` on `window`'s thread and waits for it (at once when already there).
void OnWindowThread(HWND window, const std::function<void()>& call);

// Runs a modal loop for `dialog`: its owner is disabled until `done` is set
// (the dialog's window procedure sets it), Tab and Enter move and press as
// in a dialog box.
void RunModal(HWND dialog, const bool& done);

// Keeps `window` on the monitor it opens on: no larger than its work area,
// and moved into it.
void FitToMonitor(HWND window, HWND anchor);

}  // namespace kvr::win32

#endif  // KVR_APP_WIN32_WIN32_UTIL_H_
