// kvrconversion-gui.exe: the window, a GUI-subsystem program. "--version"
// and "--help" answer in a message box.
#include "app/core/window_help.h"
#include "app/win32/main_window.h"

#include <commctrl.h>
#include <objbase.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int show) {
  const std::wstring args = command_line != nullptr ? command_line : L"";
  if (args.find(L"--version") != std::wstring::npos) {
    MessageBoxW(nullptr, kvr::win32::Wide("kvrconversion-gui " KVR_VERSION).c_str(), L"KVR Conversion",
                MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  if (args.find(L"--help") != std::wstring::npos) {
    MessageBoxW(nullptr, kvr::win32::Wide(kvr::kWindowHelp).c_str(), L"KVR Conversion", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                     ICC_LINK_CLASS};
  InitCommonControlsEx(&controls);
  int status = 0;
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
