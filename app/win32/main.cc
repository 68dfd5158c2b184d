// kvrconversion-gui.exe: the window, a GUI-subsystem program. "--version"
// and "--help" answer in a message box.
#include "app/core/window_help.h"
#include "app/win32/main_window.h"

#include <commctrl.h>
#include <objbase.h>

#include <string>

namespace {

// Says `text`: on standard output when it leads somewhere (a script, a pipe),
// else in a message box, as a program without a console must.
void Say(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
    const std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  MessageBoxW(nullptr, kvr::win32::Wide(text).c_str(), L"KVR Conversion", MB_OK | MB_ICONINFORMATION);
}

// Pumps the window's messages for `milliseconds`.
void Pump(int milliseconds) {
  const DWORD until = GetTickCount() + static_cast<DWORD>(milliseconds);
  MSG msg;
  while (GetTickCount() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int show) {
  const std::wstring args = command_line != nullptr ? command_line : L"";
  if (args.find(L"--version") != std::wstring::npos) {
    Say("kvrconversion-gui " KVR_VERSION);
    return 0;
  }
  if (args.find(L"--help") != std::wstring::npos) {
    Say(std::string("Usage: kvrconversion-gui [--version | --help | --smoke-test]\n\n") + kvr::kWindowHelp);
    return 0;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                     ICC_LINK_CLASS};
  InitCommonControlsEx(&controls);
  int status = 0;
  if (args.find(L"--smoke-test") != std::wstring::npos) {
    // The window as installed: made, shown, painted for a moment, closed.
    kvr::win32::MainWindow window;
    ShowWindow(window.handle(), SW_SHOW);
    Pump(500);
    const bool shown = IsWindowVisible(window.handle()) && window.Item(kvr::win32::kStartId) != nullptr;
    Say(shown ? "kvrconversion-gui: the window opens" : "kvrconversion-gui: the window did not open");
    CoUninitialize();
    return shown ? 0 : 1;
  }
  {
    kvr::win32::MainWindow window;
    ShowWindow(window.handle(), show);
    SetFocus(window.Item(kvr::win32::kStartId));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (IsDialogMessageW(window.handle(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    status = static_cast<int>(msg.wParam);
  }
  CoUninitialize();
  return status;
}
