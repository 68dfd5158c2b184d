// The file dialog the Win32 window asks the runs' questions with, and the
// settings it remembers (the output folder, where a file was last taken
// from) under HKEY_CURRENT_USER.
#ifndef KVR_APP_WIN32_DIALOG_CHOOSER_H_
#define KVR_APP_WIN32_DIALOG_CHOOSER_H_

#include <windows.h>

#include <functional>
#include <string>

#include "app/core/output_folder.h"
#include "app/core/run_context.h"

namespace kvr::win32 {

inline constexpr const wchar_t* kSettingsKey = L"Software\\KVR Conversion";
inline constexpr const wchar_t* kOutputFolderValue = L"OutputFolder";
inline constexpr const wchar_t* kLastFileFolderValue = L"LastFileFolder";  // where a file was last taken from

// A folder remembered under kSettingsKey; "" when none is.
std::wstring RememberedFolder(const wchar_t* name = kOutputFolderValue);

// The common item dialog, as the runs ask for files: the title "Specify File Name",
// and labels that say which file is asked for. It opens where the user last
// took a file from, else in the output folder.
class DialogChooser : public FileChooser {
 public:
  DialogChooser(HWND owner, std::function<OutputFolder()> output) : owner_(owner), output_(std::move(output)) {}
  std::string GetFileName(const std::string& sFileName, const std::string& sExtension, int iType) override;

 private:
  HWND owner_;
  std::function<OutputFolder()> output_;
};

}  // namespace kvr::win32

#endif  // KVR_APP_WIN32_DIALOG_CHOOSER_H_
