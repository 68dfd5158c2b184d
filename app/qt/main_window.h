// The desktop window. Three commands and the "Big Switch" option over the
// core runs, and a fourth that makes a database for a workbook; a command runs on a worker thread while the window stays
// responsive, and the file dialog, the overwrite question and the preview
// are still asked on the window's thread. While a long run goes on, where it
// is shows under the status; after each run a line there sums up its record
// and opens its details. The output folder is shown, opens with a click and
// can be chosen (remembered between starts).
#ifndef KVR_APP_QT_MAIN_WINDOW_H_
#define KVR_APP_QT_MAIN_WINDOW_H_

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/output_folder.h"
#include "app/core/run_controller.h"
#include "app/core/run_record.h"
#include "app/qt/details_dialog.h"
#include "app/qt/preview_dialog.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kvr {

class MainWindow : public QWidget, private RunWindow {
  Q_OBJECT

 public:
  // `chooser`, `question` and `preview` replace the file dialog, the message
  // box and the preview dialog (tests script them); null for the real ones.
  // `program_folder` replaces AppFolder when not empty: the outputs go there
  // when it takes files, else to "KVR Conversion" under the documents.
  explicit MainWindow(FileChooser* chooser = nullptr, OverwriteQuestion* question = nullptr,
                      QString program_folder = {}, ChangePreview* preview = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // AppFolder: the executable's folder, ending in exactly one separator.
  static QString AppFolder();
  // The file dialog's filters for a first entry `extension` ("xls", "mdb"):
  // every name of a file this program reads in its place, then all files.
  static QStringList DialogFilters(const std::string& extension);
  // Twips (1/1440 inch) as pixels at the screen's logical DPI.
  static int Twips(int twips, qreal dpi);

  // The last run's record, as the details view shows it.
  const RunRecord& LastRun() const { return last_run_; }
  const Problems& LastProblems() const { return last_run_.result.problems; }
  // The details view when it is open.
  DetailsDialog* Details() const { return details_; }
  // Why the last command did not run ("" when it ran or was cancelled).
  const QString& LastReason() const { return last_reason_; }
  // Answers the question whether to stop a run when the window is closed
  // during one (tests), instead of asking.
  void AnswerStopQuestion(int button) {
    stop_answer_ = [button] { return button; };
  }
  // The same, answered by `answer` once it returns (tests: a run may end
  // while the question is open).
  void AnswerStopQuestionWith(std::function<int()> answer) { stop_answer_ = std::move(answer); }
  // Sends the outputs to `folder` from now on, and remembers it; "" goes
  // back to the default.
  void SetOutputFolder(const QString& folder);

 signals:
  void runFinished();

 public slots:
  void cmdStart_Click();
  void cmdIni_Click();
  void cmdXpoints_Click();
  void cmdNewDatabase_Click();
  void chkBigSwitch_Click();
  void ShowDetails();

 protected:
  // The window stays open while a command runs: the run's thread still uses it.
  void closeEvent(QCloseEvent* event) override;
  // The focused control shows its focus ring as soon as the window is active,
  // as after a Tab, not only once a key has moved the focus.
  void changeEvent(QEvent* event) override;

 private:
  void PlaceControls();
  // Enter starts the focused command; Tab goes through the controls in the
  // window's order.
  void ChainFocus();
  void ConnectControls();
  void Start(std::string_view command, QPushButton* origin);
  void SetBusy(bool busy);
  // The run's part on the window's thread (RunWindow).
  void OnWindowThread(const std::function<void()>& f) override;
  void PostToWindow(std::function<void()> f) override;
  std::string ChooseFile(const std::string& name, const std::string& extension, int type) override;
  bool AskYesNo(const std::string& text, const std::string& title) override;
  bool PreviewChanges(const ChangeList& changes,
                      const std::map<std::string, ChangeCount>& counts) override;
  void ShowStatus(const std::string& text) override;
  void RunFinished(RunRecord record) override;
  OutputFolder CurrentOutputFolder() const;
  void ShowOutputFolder(const std::filesystem::path& folder);
  void OpenOutputFolder();
  void ShowProgress();

  std::function<int()> stop_answer_;
  QLabel* lblStatus_;
  QCheckBox* chkBigSwitch_;
  QCheckBox* chkPreview_;
  QPushButton* cmdIni_;
  QPushButton* cmdXpoints_;
  QPushButton* cmdStart_;
  QPushButton* cmdNewDatabase_;
  QPushButton* cmdDetails_;
  QLabel* lblProgress_;
  QLabel* lblOutputs_;
  QPushButton* cmdOutputs_;
  QTimer* progress_timer_;
  FileChooser* chooser_;
  OverwriteQuestion* question_;
  ChangePreview* preview_;
  QString last_reason_;
  std::unique_ptr<FileChooser> dialog_chooser_;
  std::unique_ptr<RunController> runs_;
  QPushButton* origin_ = nullptr;  // the button that started the run
  QString program_folder_;
  QString chosen_folder_;  // the user's choice of output folder; "" for the default
  std::filesystem::path shown_folder_;
  RunRecord last_run_;
  QPointer<DetailsDialog> details_;
  bool BigSwitch = false;
};

}  // namespace kvr

#endif  // KVR_APP_QT_MAIN_WINDOW_H_
