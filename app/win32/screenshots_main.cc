// Pictures of the Win32 window for people who review it: the window after a
// conversion of a workbook with "Preview" on, the preview of its changes and
// the details of the run, as .bmp files. scripts/screenshot-windows.sh runs
// it under Wine in a virtual desktop (so windows get their title bars).
//   kvr_win32_screenshots WORKBOOK OUT_PREFIX
#include "app/core/plant_size.h"
#include "app/win32/details_window.h"
#include "app/win32/main_window.h"
#include "app/win32/preview_window.h"
#include "tables/new_database.h"
#include "tests/fixed_answers.h"

#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using kvr::win32::Wide;

// Lets `window` paint for a moment.
void Settle(int milliseconds) {
  const DWORD until = GetTickCount() + static_cast<DWORD>(milliseconds);
  MSG msg;
  while (GetTickCount() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

// The screen under `window`, frame included, as a 24-bit .bmp file.
void Picture(HWND window, const std::filesystem::path& path) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Settle(400);
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const int stride = (width * 3 + 3) & ~3;
  std::string pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), '\0');
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info + pixels.size()), 0, 0,
                        sizeof(BITMAPFILEHEADER) + sizeof info};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// Shows the real preview filtered, takes its picture, and applies.
class PicturedPreview : public kvr::ChangePreview {
 public:
  explicit PicturedPreview(std::filesystem::path path) : path_(std::move(path)) {}
  HWND owner = nullptr;
  bool Apply(const kvr::ChangeList& changes,
             const std::map<std::string, kvr::ChangeCount>& counts) override {
    kvr::win32::PreviewWindow preview(owner, changes, counts);
    ShowWindow(preview.handle(), SW_SHOW);
    SetWindowTextW(GetDlgItem(preview.handle(), 101), L"Label");
    while (preview.Selecting()) Settle(50);
    Picture(preview.handle(), path_);
    return true;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: kvr_win32_screenshots WORKBOOK OUT_PREFIX\n", stderr);
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                     ICC_LINK_CLASS};
  InitCommonControlsEx(&controls);
  const std::filesystem::path workbook = std::filesystem::absolute(argv[1]);
  const std::wstring prefix = argv[2];
  const auto dir = std::filesystem::temp_directory_path() / "kvr_screenshots";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto sizes = kvr::DatabaseSizesFor(workbook);
  if (!sizes.ok()) return 2;
  if (!kvr::CreateSwitcherDatabase(dir / "Switcher.db", *sizes).ok()) return 2;
  kvr::testing::FixedFiles files;
  files.database = kvr::win32::Narrow((dir / "Switcher.db").wstring());
  files.workbook = kvr::win32::Narrow(workbook.wstring());
  kvr::testing::AlwaysYes yes;
  PicturedPreview preview(prefix + L"-preview.bmp");
  {
    kvr::win32::MainWindow window(&files, &yes, dir.wstring(), &preview);
    preview.owner = window.handle();
    ShowWindow(window.handle(), SW_SHOW);
    Picture(window.handle(), prefix + L".bmp");
    SendMessageW(window.Item(kvr::win32::kPreviewId), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(window.Item(kvr::win32::kStartId), BM_CLICK, 0, 0);
    window.WaitForRun();
    Picture(window.handle(), prefix + L"-window.bmp");
    kvr::win32::DetailsWindow details(window.handle(), window.LastRun());
    ShowWindow(details.handle(), SW_SHOW);
    HWND reports = details.List(0);
    ListView_SetItemState(reports, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Picture(details.handle(), prefix + L"-details.bmp");
  }
  {
    // The real file dialog, as Convert first asks for the database; its
    // picture taken, it is cancelled.
    kvr::win32::MainWindow window(nullptr, &yes, dir.wstring());
    window.QuietMessages();
    ShowWindow(window.handle(), SW_SHOW);
    std::thread([&prefix] {
      for (int tries = 0; tries < 300; ++tries) {  // a fresh Wine prefix takes its time
        Sleep(100);
        if (HWND dialog = FindWindowW(nullptr, L"Specify File Name")) {
          Sleep(500);
          Picture(dialog, prefix + L"-filedialog.bmp");
          PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
          return;
        }
      }
    }).detach();
    SendMessageW(window.handle(), WM_COMMAND, kvr::win32::kStartId, 0);  // the run is under way on return
    window.WaitForRun();
  }
  CoUninitialize();
  return 0;
}
