#include "app/win32/dialog_chooser.h"

#include <shobjidl.h>

#include <filesystem>

#include "app/win32/main_window.h"
#include "base/utf8.h"

namespace kvr::win32 {

std::wstring RememberedFolder(const wchar_t* name) {
  wchar_t value[32768];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return {};
  }
  return value;
}

std::string DialogChooser::GetFileName(const std::string& sFileName, const std::string& sExtension, int iType) {
  const std::wstring folder =
      DialogStartFolder(std::filesystem::path(RememberedFolder(kLastFileFolderValue)), output_()).wstring();
  IFileDialog* dialog = nullptr;
  const CLSID kind = iType == 1 ? CLSID_FileOpenDialog : CLSID_FileSaveDialog;
  if (FAILED(CoCreateInstance(kind, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) return "";
  const bool database = AsksForDatabase(sExtension);
  dialog->SetTitle(L"Specify File Name");
  const bool create = iType != 1;
  dialog->SetFileNameLabel(database ? (create ? L"New switcher database:" : L"Switcher database:") : L"Workbook:");
  if (create) dialog->SetOkButtonLabel(L"Create");
  const std::wstring patterns = FilterPatterns(sExtension);
  const std::wstring shown = L"(" + patterns + L")";
  const COMDLG_FILTERSPEC filters[] = {{shown.c_str(), patterns.c_str()}, {L"All Files (*.*)", L"*.*"}};
  dialog->SetFileTypes(sExtension.empty() ? 1 : 2, sExtension.empty() ? filters + 1 : filters);
  dialog->SetFileName(Wide(sFileName).c_str());
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  // A database is never written over: the run says so, not a question.
  if (create) options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_OVERWRITEPROMPT);
  dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
  IShellItem* start = nullptr;
  if (SUCCEEDED(SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_PPV_ARGS(&start)))) {
    dialog->SetFolder(start);
    start->Release();
  }
  std::string chosen;
  IShellItem* item = nullptr;
  if (SUCCEEDED(dialog->Show(owner_)) && SUCCEEDED(dialog->GetResult(&item))) {
    wchar_t* path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      chosen = Narrow(path);
      const std::wstring taken_from = std::filesystem::path(path).parent_path().wstring();
      RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kLastFileFolderValue, REG_SZ, taken_from.c_str(),
                      static_cast<DWORD>((taken_from.size() + 1) * sizeof(wchar_t)));
      CoTaskMemFree(path);
    }
    item->Release();
  }
  dialog->Release();
  return chosen;
}

}  // namespace kvr::win32
