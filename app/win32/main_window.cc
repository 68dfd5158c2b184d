#include "app/win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/win32/details_window.h"
#include "app/win32/dialog_chooser.h"
#include "app/win32/preview_window.h"
#include "base/interrupt.h"
#include "base/utf8.h"

namespace kvr::win32 {
namespace {

constexpr const wchar_t* kClass = L"KvrConversionMain";
constexpr UINT kPostedCall = WM_APP + 10;  // lParam: a new std::function<void()>
constexpr UINT_PTR kProgressTimer = 1;

std::wstring ProgramFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return std::filesystem::path(path).parent_path().wstring();
}

std::wstring DocumentsFolder() {
  wchar_t* path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}


// The folder browser's callback: once open, it selects the folder its
// caller passed.
int CALLBACK StartAtFolder(HWND dialog, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, folder);
  return 0;
}

std::wstring Escaped(std::wstring text) {  // a SysLink's text shows "<" only as a tag
  for (std::size_t at = 0; (at = text.find(L'<', at)) != std::wstring::npos; at += 4) text.replace(at, 1, L"&lt;");
  return text;
}

}  // namespace

std::wstring FilterPatterns(const std::string& extension) {
  std::wstring patterns = Wide(FilePatternsFor(extension));
  for (auto& c : patterns) {
    if (c == L' ') c = L';';
  }
  return patterns;
}

MainWindow::MainWindow(FileChooser* chooser, OverwriteQuestion* question, std::wstring program_folder,
                       ChangePreview* preview)
    : chooser_(chooser),
      question_(question),
      preview_(preview),
      runs_(std::make_unique<RunController>(static_cast<RunWindow&>(*this))),
      program_folder_(program_folder.empty() ? ProgramFolder() : std::move(program_folder)) {
  // Sized to its client area once its DPI is known (Layout).
  window_ = CreateOwnedWindow(this, kClass, true, WS_EX_CONTROLPARENT, L"KVR Conversion",
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 100, 100, nullptr);
  if (chooser_ == nullptr) {
    dialog_chooser_ = std::make_unique<DialogChooser>(window_, [this] { return CurrentOutputFolder(); });
    chooser_ = dialog_chooser_.get();
  }
  CreateControls();
  Layout();
  chosen_folder_ = RememberedFolder();
  if (!chosen_folder_.empty()) ShowOutputFolder(CurrentOutputFolder().path);
  // An installation's first start: an example the user may convert, in
  // the folder the outputs go to.
  if (IsInstalledProgramFolder(program_folder_)) {
    const OutputFolder output = CurrentOutputFolder();
    if (!CopyExampleFor(program_folder_, output).empty()) ShowOutputFolder(output.path);
  }
}

MainWindow::~MainWindow() {
  if (runs_->busy()) {  // its worker may be waiting for this window's thread
    RequestInterrupt();
    WaitForRun();
  }
  DestroyWindow(window_);
}

void MainWindow::CreateControls() {
  // Created in tab order: Convert, (the status takes no focus), Demo .ini,
  // Read xPoints, Big Switch, then what this window adds.
  Control(window_, L"BUTTON", L"Convert", WS_TABSTOP | BS_DEFPUSHBUTTON, kStartId);
  Control(window_, L"STATIC", L"", SS_LEFT | SS_CENTERIMAGE, kStatusId);
  Control(window_, L"BUTTON", L"Demo .ini", WS_TABSTOP | BS_PUSHBUTTON, kIniId);
  Control(window_, L"BUTTON", L"Read xPoints", WS_TABSTOP | BS_PUSHBUTTON, kXpointsId);
  Control(window_, L"BUTTON", L"Big Switch", WS_TABSTOP | BS_AUTOCHECKBOX, kBigSwitchId);
  Control(window_, L"BUTTON", L"Preview", WS_TABSTOP | BS_AUTOCHECKBOX, kPreviewId);
  // Beside the options, above Convert: a database sized for a workbook.
  Control(window_, L"BUTTON", L"New DB...", WS_TABSTOP | BS_PUSHBUTTON, kNewDatabaseId);
  ShowWindow(Control(window_, WC_LINK, L"", WS_TABSTOP, kDetailsId), SW_HIDE);
  ShowWindow(Control(window_, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kProgressId), SW_HIDE);
  Control(window_, WC_LINK, L"", WS_TABSTOP, kOutputsId);
  Control(window_, L"BUTTON", L"Folder...", WS_TABSTOP | BS_PUSHBUTTON, kFolderId);
}

void MainWindow::Layout() {
  const UINT dpi = DpiOf(window_);
  for (const ControlPlace& p : kPlaces) {
    HWND control = Item(p.id);
    SetWindowPos(control, nullptr, Twips(p.left, dpi), Twips(p.top, dpi), Twips(p.width, dpi), Twips(p.height, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont(dpi)), TRUE);
  }
  RECT frame{0, 0, Twips(kClientWidthTwips, dpi), Twips(kClientHeightTwips, dpi)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::SetBusy(bool busy) {
  for (ControlId id : {kStartId, kIniId, kXpointsId, kBigSwitchId, kPreviewId, kFolderId, kNewDatabaseId}) {
    EnableWindow(Item(id), busy ? FALSE : TRUE);
  }
}

OutputFolder MainWindow::CurrentOutputFolder() const {
  // The user's choice; else the program's own folder for a portable copy;
  // an installed program's folder is not writable, so then "KVR Conversion"
  // under the documents.
  return WindowOutputFolder(std::filesystem::path(chosen_folder_), std::filesystem::path(program_folder_),
                            std::filesystem::path(DocumentsFolder()) / L"KVR Conversion");
}

void MainWindow::SetOutputFolder(const std::wstring& folder) {
  chosen_folder_ = folder;
  if (folder.empty()) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kOutputFolderValue);
  } else {
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kOutputFolderValue, REG_SZ, folder.c_str(),
                    static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  ShowOutputFolder(CurrentOutputFolder().path);
}

void MainWindow::ShowOutputFolder(const std::filesystem::path& folder) {
  shown_folder_ = folder;
  // The path shortened in the middle to fit on the one line there is.
  HWND link = Item(kOutputsId);
  RECT box;
  GetClientRect(link, &box);
  HDC dc = GetDC(link);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(link, WM_GETFONT, 0, 0)));
  auto width = [&](const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  };
  const std::wstring label = L"Outputs: ", path = folder.wstring();
  std::wstring shown = path;
  for (std::size_t cut = 1; width(label + shown) > box.right - 4 && cut < path.size(); ++cut) {
    const std::size_t keep = path.size() - cut;
    shown = path.substr(0, keep / 3) + L"..." + path.substr(path.size() - (keep - keep / 3));
  }
  SelectObject(dc, old);
  ReleaseDC(link, dc);
  SetWindowTextW(link, (label + L"<a>" + Escaped(shown) + L"</a>").c_str());
}

void MainWindow::Tell(const std::wstring& text) {
  if (!quiet_) MessageBoxW(window_, text.c_str(), L"KVR Conversion", MB_OK | MB_ICONWARNING);
}

void MainWindow::OpenOutputFolder() {
  std::error_code ec;
  if (!std::filesystem::is_directory(shown_folder_, ec)) {
    Tell(L"Cannot open the output folder " + shown_folder_.wstring() + L": it no longer exists.");
  } else if (reinterpret_cast<INT_PTR>(ShellExecuteW(window_, L"open", shown_folder_.wstring().c_str(), nullptr,
                                                      nullptr, SW_SHOWNORMAL)) <= 32) {
    Tell(L"Cannot open the output folder " + shown_folder_.wstring() +
         L": Windows has no program to show folders with.");
  }
}

void MainWindow::ChooseOutputFolder() {
  BROWSEINFOW info{};
  info.hwndOwner = window_;
  info.lpszTitle = L"Choose the folder the outputs go to";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  // The tree opens at the folder the outputs go to now, not at the Desktop.
  const std::wstring current = CurrentOutputFolder().path.wstring();
  info.lParam = reinterpret_cast<LPARAM>(current.c_str());
  info.lpfn = StartAtFolder;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return;
  wchar_t path[MAX_PATH];
  if (SHGetPathFromIDListW(chosen, path)) SetOutputFolder(path);
  CoTaskMemFree(chosen);
}

void MainWindow::Start(std::string_view command, ControlId origin) {
  const RunRequest request{command, SendMessageW(Item(kBigSwitchId), BM_GETCHECK, 0, 0) == BST_CHECKED,
                           SendMessageW(Item(kPreviewId), BM_GETCHECK, 0, 0) == BST_CHECKED, CurrentOutputFolder(),
                           KVR_VERSION};
  if (!runs_->Start(request)) return;  // one command at a time
  SetBusy(true);
  origin_ = origin;
  // The details line belongs to one run: a new command starts without it.
  last_run_ = RunRecord{};
  ShowWindow(Item(kDetailsId), SW_HIDE);
  SetTimer(window_, kProgressTimer, 200, nullptr);
}

void MainWindow::OnWindowThread(const std::function<void()>& f) { win32::OnWindowThread(window_, f); }

void MainWindow::PostToWindow(std::function<void()> f) {
  PostMessageW(window_, kPostedCall, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(f))));
}

std::string MainWindow::ChooseFile(const std::string& name, const std::string& extension, int type) {
  return chooser_->GetFileName(name, extension, type);
}

bool MainWindow::AskYesNo(const std::string& text, const std::string& title) {
  if (question_ != nullptr) return question_->Ask(text, title);
  std::wstring shown = Wide(text);
  for (auto& c : shown) {
    if (c == L'\r') c = L'\n';
  }
  return MessageBoxW(window_, shown.c_str(), Wide(title).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool MainWindow::PreviewChanges(const ChangeList& changes,
                                const std::map<std::string, ChangeCount>& counts) {
  if (preview_ != nullptr) return preview_->Apply(changes, counts);
  PreviewWindow preview(window_, changes, counts);
  return preview.Run();
}

void MainWindow::ShowStatus(const std::string& text) { SetWindowTextW(Item(kStatusId), Wide(text).c_str()); }

void MainWindow::RunFinished(RunRecord record) {
  KillTimer(window_, kProgressTimer);
  ShowWindow(Item(kProgressId), SW_HIDE);
  SetBusy(false);
  SetFocus(Item(origin_));  // back where the run started, as after a message box
  last_reason_.clear();
  const bool not_run = record.result.outcome == RunResult::Outcome::kNotRun;
  if (record.HasDetails()) {
    const bool stopped = record.result.outcome == RunResult::Outcome::kInterrupted;
    const std::wstring line = Escaped(Wide(record.Summary()));
    SetWindowTextW(Item(kDetailsId), (stopped ? line : L"<a>" + line + L" - details</a>").c_str());
    ShowWindow(Item(kDetailsId), SW_SHOW);
    if (record.result.outcome == RunResult::Outcome::kCompleted) ShowOutputFolder(record.inputs.output_folder);
  }
  if (not_run) last_reason_ = Wide(record.result.reason);
  last_alert_ = Wide(record.Alert());
  last_run_ = std::move(record);
  if (!last_alert_.empty()) Tell(last_alert_);  // the status stays as it was
  if (runs_->closing()) PostMessageW(window_, WM_CLOSE, 0, 0);
}

void MainWindow::WaitForRun() {
  MSG msg;
  while (runs_->busy() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void MainWindow::ShowDetails() {
  DetailsWindow details(window_, last_run_);
  details.Run();
}

void MainWindow::Close() {
  // During a run its thread still uses the window: the user is asked whether
  // to stop it at its next safe point, and the window closes once it has.
  const auto step = runs_->Close([this] {
    return (stop_answer_ ? stop_answer_()
                         : MessageBoxW(window_, Wide(kStopRunQuestion).c_str(), L"KVR Conversion",
                                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)) == IDYES;
  });
  if (step == RunController::CloseStep::kCloseNow) PostQuitMessage(0);
}

LRESULT MainWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case kRunOnWindowThread:
      (*reinterpret_cast<const std::function<void()>*>(l))();
      return 0;
    case kPostedCall: {
      const std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(l));
      (*call)();
      return 0;
    }
    case WM_TIMER:
      if (w == kProgressTimer && runs_->progress().ShowNow()) {
        SetWindowTextW(Item(kProgressId), Wide(runs_->progress().Text()).c_str());
        ShowWindow(Item(kProgressId), SW_SHOW);
      }
      return 0;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case kStartId: Start("convert", kStartId); break;
        case kIniId: Start("demo-ini", kIniId); break;
        case kXpointsId: Start("xpoints", kXpointsId); break;
        case kNewDatabaseId: Start("new-database", kNewDatabaseId); break;
        case kFolderId: ChooseOutputFolder(); break;
        default: break;
      }
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<NMHDR*>(l);
      if (header->code == NM_CLICK || header->code == NM_RETURN) {
        if (header->idFrom == kDetailsId && last_run_.result.outcome != RunResult::Outcome::kInterrupted) {
          ShowDetails();
        }
        if (header->idFrom == kOutputsId) OpenOutputFolder();
      }
      return 0;
    }
    case DM_GETDEFID:
      return MAKELRESULT(kStartId, DC_HASDEFID);
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(l);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, w, l);
}

}  // namespace kvr::win32
