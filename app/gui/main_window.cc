#include "app/gui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>

#include "app/core/runs.h"
#include "base/interrupt.h"
#include "base/utf8.h"

namespace kvr {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The standard file dialog, as the runs ask for files.
class DialogChooser : public FileChooser {
 public:
  explicit DialogChooser(QWidget* parent) : parent_(parent) {}
  std::string GetFileName(const std::string& sFileName, const std::string& sExtension, int iType) override {
    QFileDialog dialog(parent_, "Specify File Name", QCoreApplication::applicationDirPath());
    const QStringList filters = MainWindow::DialogFilters(sExtension);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    dialog.setAcceptMode(iType == 1 ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);  // the callers check that the file exists
    dialog.selectFile(Q(sFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return "";
    return dialog.selectedFiles().first().toStdString();
  }

 private:
  QWidget* parent_;
};

QIcon MakeIcon() {
  // A crosspoint matrix: the switcher's routing grid with a few routes lit.
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x1d, 0x35, 0x57));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(2, 2, 60, 60, 10, 10);
  p.setPen(QPen(QColor(0xa8, 0xda, 0xdc), 3));
  for (int i = 0; i < 4; ++i) {
    p.drawLine(12, 14 + 12 * i, 52, 14 + 12 * i);
    p.drawLine(14 + 12 * i, 12, 14 + 12 * i, 52);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xe6, 0x39, 0x46));
  for (const auto& [x, y] : {std::pair{0, 1}, {1, 3}, {2, 0}, {3, 2}}) p.drawEllipse(QPointF(14 + 12 * x, 14 + 12 * y), 5, 5);
  return QIcon(pixmap);
}

}  // namespace

// Carries the worker thread's calls to the window's thread: the file dialog
// and the overwrite question wait there for the user; status texts are posted.
// The files chosen are kept for the run's details.
class MainWindow::Bridge : public FileChooser, public OverwriteQuestion, public StatusSink, public ChangePreview {
 public:
  explicit Bridge(MainWindow* window) : window_(window) {}

  std::string GetFileName(const std::string& name, const std::string& ext, int type) override {
    std::string result;
    OnWindowThread([&] { result = window_->chooser_->GetFileName(name, ext, type); });
    (ext == "mdb" ? database : workbook) = result;
    return result;
  }
  bool Apply(const std::vector<FieldChange>& changes, const std::map<std::string, ChangeCount>& counts) override {
    bool apply = false;
    OnWindowThread([&] {
      if (window_->preview_ != nullptr) {
        apply = window_->preview_->Apply(changes, counts);
        return;
      }
      PreviewDialog dialog(changes, counts, window_);
      apply = dialog.exec() == QDialog::Accepted;
    });
    return apply;
  }
  bool Ask(const std::string& text, const std::string& title) override {
    bool yes = false;
    OnWindowThread([&] {
      if (window_->question_ != nullptr) {
        yes = window_->question_->Ask(text, title);
        return;
      }
      QString shown = Q(text);
      shown.replace('\r', '\n');
      yes = QMessageBox::question(window_, Q(title), shown, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
            QMessageBox::Yes;
    });
    return yes;
  }
  std::string database, workbook;  // as chosen for the current run

  void SetStatus(const std::string& text) override {
    QMetaObject::invokeMethod(window_, [w = window_, t = Q(text)] { w->lblStatus_->setText(t); }, Qt::QueuedConnection);
  }

 private:
  template <typename F>
  void OnWindowThread(F f) {
    if (QThread::currentThread() == window_->thread()) f();
    else QMetaObject::invokeMethod(window_, f, Qt::BlockingQueuedConnection);
  }
  MainWindow* window_;
};

MainWindow::MainWindow(FileChooser* chooser, OverwriteQuestion* question, QString program_folder,
                       ChangePreview* preview, QWidget* parent)
    : QWidget(parent),
      chooser_(chooser),
      question_(question),
      preview_(preview),
      program_folder_(std::move(program_folder)),
      vars_(std::make_unique<Variables>()) {
  setObjectName("frmMain");
  setWindowTitle("KVR Conversion");
  setWindowIcon(MakeIcon());
  if (chooser_ == nullptr) {
    dialog_chooser_ = std::make_unique<DialogChooser>(this);
    chooser_ = dialog_chooser_.get();
  }
  bridge_ = std::make_unique<Bridge>(this);

  const qreal dpi = screen() != nullptr ? screen()->logicalDotsPerInch() : 96.0;
  auto place = [&](QWidget* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(name);
    w->setGeometry(Twips(left, dpi), Twips(top, dpi), Twips(width, dpi), Twips(height, dpi));
  };
  lblStatus_ = new QLabel(this);
  place(lblStatus_, "lblStatus", 1200, 600, 2655, 735);
  chkBigSwitch_ = new QCheckBox("Big Switch", this);
  place(chkBigSwitch_, "chkBigSwitch", 1200, 1680, 2415, 255);
  // Under "Big Switch", in the space above the buttons: Convert shows its
  // changes and asks before keeping them.
  chkPreview_ = new QCheckBox("Preview", this);
  place(chkPreview_, "chkPreview", 1200, 1980, 2415, 255);
  cmdIni_ = new QPushButton("Demo .ini", this);
  place(cmdIni_, "cmdIni", 360, 2400, 975, 495);
  cmdXpoints_ = new QPushButton("Read xPoints", this);
  place(cmdXpoints_, "cmdXpoints", 1800, 2400, 1215, 495);
  cmdStart_ = new QPushButton("Convert", this);
  place(cmdStart_, "cmdStart", 3480, 2400, 975, 495);
  // What the last run did, counted under the status; a click shows the details.
  cmdDetails_ = new QPushButton(this);
  place(cmdDetails_, "cmdDetails", 1200, 1335, 3255, 300);
  cmdDetails_->setFlat(true);
  cmdDetails_->hide();
  setFixedSize(Twips(4680, dpi), Twips(3195, dpi));

  // Enter on the focused command button starts it, as on a dialog's buttons;
  // the focused control shows its focus ring from the start.
  for (QPushButton* b : {cmdStart_, cmdIni_, cmdXpoints_}) b->setAutoDefault(true);

  // Tab order: cmdStart, (lblStatus takes no focus), cmdIni, cmdXpoints, chkBigSwitch.
  cmdStart_->setFocus();
  setTabOrder(cmdStart_, cmdIni_);
  setTabOrder(cmdIni_, cmdXpoints_);
  setTabOrder(cmdXpoints_, chkBigSwitch_);
  setTabOrder(chkBigSwitch_, chkPreview_);
  setTabOrder(chkPreview_, cmdDetails_);

  connect(cmdStart_, &QPushButton::clicked, this, &MainWindow::cmdStart_Click);
  connect(cmdIni_, &QPushButton::clicked, this, &MainWindow::cmdIni_Click);
  connect(cmdXpoints_, &QPushButton::clicked, this, &MainWindow::cmdXpoints_Click);
  connect(chkBigSwitch_, &QCheckBox::clicked, this, &MainWindow::chkBigSwitch_Click);
  connect(cmdDetails_, &QPushButton::clicked, this, &MainWindow::ShowDetails);
}

MainWindow::~MainWindow() = default;

QString MainWindow::AppFolder() {
  QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
  if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
  return folder;
}

QStringList MainWindow::DialogFilters(const std::string& extension) {
  QStringList filters;
  if (!extension.empty()) filters << Q("(" + FilePatternsFor(extension) + ")");
  filters << "All Files (*.*)";
  return filters;
}

int MainWindow::Twips(int twips, qreal dpi) { return qRound(twips * dpi / 1440.0); }

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) setAttribute(Qt::WA_KeyboardFocusChange);
  QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!busy_) {
    event->accept();
    return;
  }
  // The run's thread still uses the window: it is asked to stop at its next
  // safe point (its changes rolled back, its files dropped), and the window
  // closes once it has.
  event->ignore();
  if (close_after_run_) return;
  QMessageBox box(QMessageBox::Question, "KVR Conversion",
                  "A command is still running. Stop it and close? The database and the files are left as they were "
                  "unless its changes are already being kept.",
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName("stopRunQuestion");
  box.setDefaultButton(QMessageBox::No);
  if ((stop_answer_ ? *stop_answer_ : box.exec()) != QMessageBox::Yes) return;
  close_after_run_ = true;
  RequestInterrupt();
}

void MainWindow::chkBigSwitch_Click() { BigSwitch = chkBigSwitch_->checkState() == Qt::Checked; }

void MainWindow::cmdStart_Click() { Start(&ConversionRun, "convert"); }
void MainWindow::cmdIni_Click() { Start(&DemoIniRun, "demo-ini"); }
void MainWindow::cmdXpoints_Click() { Start(&CrosspointExportRun, "xpoints"); }

void MainWindow::SetBusy(bool busy) {
  busy_ = busy;
  for (QWidget* w : {static_cast<QWidget*>(cmdStart_), static_cast<QWidget*>(cmdIni_),
                     static_cast<QWidget*>(cmdXpoints_), static_cast<QWidget*>(chkBigSwitch_),
                     static_cast<QWidget*>(chkPreview_)}) {
    w->setEnabled(!busy);
  }
}

void MainWindow::Start(RunFunction run, const char* command) {
  if (busy_) return;  // one command at a time: two runs must never share the tables
  SetBusy(true);
  ClearInterrupt();
  // The details line belongs to one run: a new command starts without it.
  last_run_ = RunRecord{};
  cmdDetails_->hide();
  // The program's own folder for a portable copy; an installed program's
  // folder is not writable, so then "KVR Conversion" under the documents.
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  bool fell_back = false;
  const std::filesystem::path folder =
      OutputFolderFor(PathFromUtf8((program_folder_.isEmpty() ? AppFolder() : program_folder_).toStdString()),
                      PathFromUtf8((documents + "/KVR Conversion").toStdString()), fell_back);
  const bool big = BigSwitch;
  ChangePreview* preview = chkPreview_->isChecked() ? bridge_.get() : nullptr;
  const std::string name = command;
  bridge_->database.clear();
  bridge_->workbook.clear();
  QThread* worker = QThread::create([this, run, folder, big, preview, name, fell_back] {
    RunContext ctx{*bridge_, *bridge_, *bridge_, big, folder};
    ctx.preview = preview;  // the details show the changes: they are counted (the default)
    RunResult result = run(*vars_, ctx);
    RunInputs inputs{name, bridge_->workbook, name == "convert" ? bridge_->database : std::string(), folder, big,
                     false, false, KVR_VERSION};
    QMetaObject::invokeMethod(
        this, [this, r = std::move(result), in = std::move(inputs), fell_back]() mutable {
          Finish(std::move(r), std::move(in), fell_back);
        },
        Qt::QueuedConnection);
  });
  connect(worker, &QThread::finished, worker, &QObject::deleteLater);
  worker->start();
}

void MainWindow::Finish(RunResult result, RunInputs inputs, bool fell_back) {
  SetBusy(false);
  last_reason_.clear();
  if (result.outcome == RunResult::Outcome::kNotRun) {
    // The status stays as it was; the reason is shown without blocking the window.
    last_reason_ = Q(result.reason);
    auto* box = new QMessageBox(QMessageBox::Warning, "KVR Conversion", last_reason_, QMessageBox::Ok, this);
    box->setObjectName("notRunMessage");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
  if (result.outcome == RunResult::Outcome::kCompleted || result.preview_cancelled) {
    const int status = ExitStatus(result, false);
    last_run_ = RunRecord{std::move(inputs), std::move(result), status, std::chrono::system_clock::now(), fell_back};
    const RunResult& r = last_run_.result;
    const char* colour = !r.problems.empty() ? "#b00020" : !r.problems.notices().empty() ? "#8a5a00" : "#1d3557";
    cmdDetails_->setStyleSheet(QString("text-align: left; color: %1;").arg(colour));
    // The counts give way before " - details" does, should the line be too long.
    const QString line = DetailsLine(last_run_);
    const QString link = " - details";
    const QFontMetrics metrics(cmdDetails_->font());
    cmdDetails_->setText(metrics.elidedText(line.chopped(link.size()), Qt::ElideRight,
                                            cmdDetails_->width() - metrics.horizontalAdvance(link) - 8) + link);
    cmdDetails_->setToolTip(line);
    cmdDetails_->show();
  }
  if (result.outcome == RunResult::Outcome::kInterrupted) {
    cmdDetails_->setStyleSheet("text-align: left; color: #8a5a00;");
    cmdDetails_->setText(Q(result.reason));
    cmdDetails_->setToolTip(Q(result.reason));
    cmdDetails_->show();
  }
  emit runFinished();
  if (close_after_run_) close();
}

void MainWindow::ShowDetails() {
  if (details_ != nullptr) details_->close();
  details_ = new DetailsDialog(last_run_, this);
  details_->setAttribute(Qt::WA_DeleteOnClose);
  details_->open();
}

}  // namespace kvr
