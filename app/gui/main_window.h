// frmMain: the desktop window. Three commands and the "Big Switch" option over
// the core runs; a command runs on a worker thread while the window stays
// responsive, and the file dialog, the overwrite question and the preview
// are still asked on the window's thread. After each run a line under the
// status counts what it did and opens its details.
#ifndef KVR_APP_GUI_MAIN_WINDOW_H_
#define KVR_APP_GUI_MAIN_WINDOW_H_

#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/core/run_context.h"
#include "app/core/variables.h"
#include "app/gui/run_dialogs.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace kvr {

class MainWindow : public QWidget {
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

  // The last run as the details view shows it; its problems and notices.
  const RunRecord& LastRun() const { return last_run_; }
  const Problems& LastProblems() const { return last_run_.result.problems; }
  // The details view when it is open.
  DetailsDialog* Details() const { return details_; }
  // Why the last command did not run ("" when it ran or was cancelled).
  const QString& LastReason() const { return last_reason_; }
  // Answers the question whether to stop a run when the window is closed
  // during one (tests), instead of asking.
  void AnswerStopQuestion(int button) { stop_answer_ = button; }

 signals:
  void runFinished();

 public slots:
  void cmdStart_Click();
  void cmdIni_Click();
  void cmdXpoints_Click();
  void chkBigSwitch_Click();
  void ShowDetails();

 protected:
  // The window stays open while a command runs: the run's thread still uses it.
  void closeEvent(QCloseEvent* event) override;
  // The focused control shows its focus ring as soon as the window is active,
  // as after a Tab, not only once a key has moved the focus.
  void changeEvent(QEvent* event) override;

 private:
  class Bridge;
  using RunFunction = RunResult (*)(Variables&, RunContext&);
  void Start(RunFunction run, const char* command);
  void Finish(RunResult result, RunInputs inputs, bool fell_back);
  void SetBusy(bool busy);

  bool close_after_run_ = false;  // closed during a run, and told to stop it
  std::optional<int> stop_answer_;
  QLabel* lblStatus_;
  QCheckBox* chkBigSwitch_;
  QCheckBox* chkPreview_;
  QPushButton* cmdIni_;
  QPushButton* cmdXpoints_;
  QPushButton* cmdStart_;
  QPushButton* cmdDetails_;
  FileChooser* chooser_;
  OverwriteQuestion* question_;
  ChangePreview* preview_;
  QString last_reason_;
  std::unique_ptr<FileChooser> dialog_chooser_;
  std::unique_ptr<Bridge> bridge_;
  QString program_folder_;
  std::unique_ptr<Variables> vars_;
  RunRecord last_run_;
  QPointer<DetailsDialog> details_;
  bool BigSwitch = false;
  bool busy_ = false;
};

}  // namespace kvr

#endif  // KVR_APP_GUI_MAIN_WINDOW_H_
