// The native Win32 window: "Convert", "Demo .ini", "Read xPoints", "Big
// Switch" and the status, placed in twips at the monitor's DPI; the
// "Preview" option, "New DB...", the details line, progress and the output
// folder drawn from the core's record. A command runs on a worker thread; the file
// dialog, the overwrite question and the preview are asked on the window's.
#ifndef KVR_APP_WIN32_MAIN_WINDOW_H_
#define KVR_APP_WIN32_MAIN_WINDOW_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/output_folder.h"
#include "app/core/run_controller.h"
#include "app/core/run_record.h"
#include "app/win32/win32_util.h"

namespace kvr::win32 {

// The controls, by id.
enum ControlId : int {
  kStartId = 1001, kStatusId, kIniId, kXpointsId, kBigSwitchId, kPreviewId, kDetailsId, kProgressId, kOutputsId,
  kFolderId, kNewDatabaseId,
};

// The controls' places in twips, as the window lays them out.
struct ControlPlace {
  ControlId id;
  int left, top, width, height;
};
inline constexpr ControlPlace kPlaces[] = {
    {kStartId, 3480, 2400, 975, 495},    {kStatusId, 1200, 600, 2655, 735},   {kIniId, 360, 2400, 975, 495},
    {kXpointsId, 1800, 2400, 1215, 495}, {kBigSwitchId, 1200, 1680, 2160, 255}, {kPreviewId, 1200, 1980, 2160, 255},
    {kDetailsId, 1200, 1335, 3255, 300}, {kProgressId, 1200, 1335, 3255, 300}, {kOutputsId, 360, 150, 3000, 300},
    {kFolderId, 3480, 105, 975, 390},    {kNewDatabaseId, 3480, 1680, 975, 495},
};
inline constexpr int kClientWidthTwips = 4680, kClientHeightTwips = 3195;

class MainWindow : private RunWindow {
 public:
  // `chooser`, `question` and `preview` replace the file dialog, the
  // message box and the preview window (tests script them); null for the
  // real ones. `program_folder` replaces the executable's folder.
  explicit MainWindow(FileChooser* chooser = nullptr, OverwriteQuestion* question = nullptr,
                      std::wstring program_folder = {}, ChangePreview* preview = nullptr);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND handle() const { return window_; }
  HWND Item(ControlId id) const { return GetDlgItem(window_, id); }
  const RunRecord& LastRun() const { return last_run_; }
  const std::wstring& LastReason() const { return last_reason_; }
  // What the last run told in a message box once it ended ("" for nothing).
  const std::wstring& LastAlert() const { return last_alert_; }
  // Runs messages until the command under way has ended (tests).
  void WaitForRun();
  // Sends the outputs to `folder` from now on, remembered between starts;
  // "" goes back to the default.
  void SetOutputFolder(const std::wstring& folder);
  // Messages that would block (the reason a command did not run) are not
  // shown (tests).
  void QuietMessages() { quiet_ = true; }
  // The answer to "stop the run and close?" (tests), instead of asking.
  void AnswerStopQuestion(int answer) {
    stop_answer_ = [answer] { return answer; };
  }
  // The same, answered by `answer` once it returns (tests: a run may end
  // while the question is open).
  void AnswerStopQuestionWith(std::function<int()> answer) { stop_answer_ = std::move(answer); }
  // Shows the details of the last run until they are closed.
  void ShowDetails();

 private:
  template <typename Owner>
  friend LRESULT CALLBACK OwnerProcedure(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void CreateControls();
  void Layout();
  void Start(std::string_view command, ControlId origin);
  // The run's part on the window's thread (RunWindow).
  void OnWindowThread(const std::function<void()>& f) override;
  void PostToWindow(std::function<void()> f) override;
  std::string ChooseFile(const std::string& name, const std::string& extension, int type) override;
  bool AskYesNo(const std::string& text, const std::string& title) override;
  bool PreviewChanges(const ChangeList& changes,
                      const std::map<std::string, ChangeCount>& counts) override;
  void ShowStatus(const std::string& text) override;
  void RunFinished(RunRecord record) override;
  // WM_CLOSE: closes at once when idle; during a run asks whether to stop it,
  // and closes once it has stopped.
  void Close();
  void SetBusy(bool busy);
  OutputFolder CurrentOutputFolder() const;
  void ShowOutputFolder(const std::filesystem::path& folder);
  void OpenOutputFolder();
  void ChooseOutputFolder();
  void Tell(const std::wstring& text);

  HWND window_ = nullptr;
  FileChooser* chooser_;
  OverwriteQuestion* question_;
  ChangePreview* preview_;
  std::unique_ptr<FileChooser> dialog_chooser_;
  std::unique_ptr<RunController> runs_;
  std::wstring program_folder_;
  std::wstring chosen_folder_;
  std::filesystem::path shown_folder_;
  RunRecord last_run_;
  std::wstring last_reason_;
  std::wstring last_alert_;
  ControlId origin_ = kStartId;
  std::function<int()> stop_answer_;
  bool quiet_ = false;
};

// The window's file dialog filters for a first entry `extension`, as the
// common item dialog takes them: every name of a file read in its place,
// then all files.
std::wstring FilterPatterns(const std::string& extension);

}  // namespace kvr::win32

#endif  // KVR_APP_WIN32_MAIN_WINDOW_H_
