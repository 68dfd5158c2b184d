// frmMain: the desktop window. Three commands and the "Big Switch" option over
// the core runs; a command runs on a worker thread while the window stays
// responsive, and the file dialog and the overwrite question are still asked
// on the window's thread.
#ifndef KVR_APP_GUI_MAIN_WINDOW_H_
#define KVR_APP_GUI_MAIN_WINDOW_H_

#include <QWidget>
#include <memory>
#include <string>

#include "app/core/run_context.h"
#include "app/core/variables.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace kvr {

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // `chooser` and `question` replace the file dialog and the message box
  // (tests script them); null for the real ones. `output_folder` replaces
  // AppFolder when not empty.
  explicit MainWindow(FileChooser* chooser = nullptr, OverwriteQuestion* question = nullptr,
                      QString output_folder = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // AppFolder: the executable's folder, ending in exactly one separator.
  static QString AppFolder();
  // Twips (1/1440 inch) as pixels at the screen's logical DPI.
  static int Twips(int twips, qreal dpi);

  // The last run's problems, for the problems dialog and tests.
  const Problems& LastProblems() const { return last_problems_; }
  // Why the last command did not run ("" when it ran or was cancelled).
  const QString& LastReason() const { return last_reason_; }

 signals:
  void runFinished();

 public slots:
  void cmdStart_Click();
  void cmdIni_Click();
  void cmdXpoints_Click();
  void chkBigSwitch_Click();
  void ShowProblems();

 protected:
  // The window stays open while a command runs: the run's thread still uses it.
  void closeEvent(QCloseEvent* event) override;

 private:
  class Bridge;
  using RunFunction = RunResult (*)(Variables&, RunContext&);
  void Start(RunFunction run);
  void Finish(RunResult result);
  void SetBusy(bool busy);

  QLabel* lblStatus_;
  QCheckBox* chkBigSwitch_;
  QPushButton* cmdIni_;
  QPushButton* cmdXpoints_;
  QPushButton* cmdStart_;
  QPushButton* cmdProblems_;
  FileChooser* chooser_;
  OverwriteQuestion* question_;
  QString last_reason_;
  std::unique_ptr<FileChooser> dialog_chooser_;
  std::unique_ptr<Bridge> bridge_;
  QString output_folder_;
  std::unique_ptr<Variables> vars_;
  Problems last_problems_;
  bool BigSwitch = false;
  bool busy_ = false;
};

}  // namespace kvr

#endif  // KVR_APP_GUI_MAIN_WINDOW_H_
