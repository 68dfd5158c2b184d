#include "app/qt/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "app/qt/gui_util.h"
#include "base/interrupt.h"
#include "base/utf8.h"

namespace kvr {
namespace {

// Where the chosen output folder, and the folder a file was last taken
// from, are remembered between starts.
constexpr const char* kOutputFolderKey = "outputFolder";
constexpr const char* kLastFileFolderKey = "lastFileFolder";

// The standard file dialog, as the runs ask for files. Its title is always
// the same; its labels say which file is asked for. It opens where the user
// last took a file from, else in the output folder.
class DialogChooser : public FileChooser {
 public:
  DialogChooser(QWidget* parent, std::function<OutputFolder()> output) : parent_(parent), output_(std::move(output)) {}
  std::string GetFileName(const std::string& sFileName, const std::string& sExtension, int iType) override {
    QSettings settings;
    const std::filesystem::path start = DialogStartFolder(
        PathFromUtf8(settings.value(kLastFileFolderKey).toString().toStdString()), output_());
    QFileDialog dialog(parent_, "Specify File Name", Q(Utf8Path(start)));
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // so that its labels can name the file
    const QStringList filters = MainWindow::DialogFilters(sExtension);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    dialog.setAcceptMode(iType == 1 ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);  // the callers check that the file exists
    const bool database = AsksForDatabase(sExtension);
    const bool create = iType != 1;
    dialog.setLabelText(QFileDialog::FileName,
                        database ? (create ? "New switcher database:" : "Switcher database:") : "Workbook:");
    dialog.setLabelText(QFileDialog::FileType, database ? "Database files:" : "Workbook files:");
    dialog.setLabelText(QFileDialog::Accept, create ? "Create" : "Open");
    // A database is never written over: the run says so, not a question.
    if (create) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(Q(sFileName));
    FitToScreen(&dialog, 720, 460);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return "";
    const QString chosen = dialog.selectedFiles().first();
    settings.setValue(kLastFileFolderKey, QFileInfo(chosen).absolutePath());
    return chosen.toStdString();
  }

 private:
  QWidget* parent_;
  std::function<OutputFolder()> output_;
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

// The colour a run's summary is drawn in.
const char* ColourOf(Severity severity) {
  switch (severity) {
    case Severity::kProblems: return "#b00020";
    case Severity::kNotices:
    case Severity::kStopped: return "#8a5a00";
    case Severity::kClean: break;
  }
  return "#1d3557";
}

}  // namespace

MainWindow::MainWindow(FileChooser* chooser, OverwriteQuestion* question, QString program_folder,
                       ChangePreview* preview, QWidget* parent)
    : QWidget(parent),
      chooser_(chooser),
      question_(question),
      preview_(preview),
      runs_(std::make_unique<RunController>(static_cast<RunWindow&>(*this))),
      program_folder_(std::move(program_folder)) {
  setObjectName("mainWindow");
  setWindowTitle("KVR Conversion");
  setWindowIcon(MakeIcon());
  if (chooser_ == nullptr) {
    dialog_chooser_ = std::make_unique<DialogChooser>(this, [this] { return CurrentOutputFolder(); });
    chooser_ = dialog_chooser_.get();
  }
  PlaceControls();
  ConnectControls();
  chosen_folder_ = QSettings().value(kOutputFolderKey).toString();
  if (!chosen_folder_.isEmpty()) ShowOutputFolder(CurrentOutputFolder().path);
  // An installation's first start: an example the user may convert, in
  // the folder the outputs go to.
  const std::filesystem::path program = PathFromUtf8((program_folder_.isEmpty() ? AppFolder() : program_folder_).toStdString());
  if (IsInstalledProgramFolder(program)) {
    const OutputFolder output = CurrentOutputFolder();
    if (!CopyExampleFor(program, output).empty()) ShowOutputFolder(output.path);
  }
}

void MainWindow::PlaceControls() {
  const qreal dpi = screen() != nullptr ? screen()->logicalDotsPerInch() : 96.0;
  auto place = [&](QWidget* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(name);
    w->setGeometry(Twips(left, dpi), Twips(top, dpi), Twips(width, dpi), Twips(height, dpi));
  };
  lblStatus_ = new QLabel(this);
  place(lblStatus_, "lblStatus", 1200, 600, 2655, 735);
  chkBigSwitch_ = new QCheckBox("Big Switch", this);
  place(chkBigSwitch_, "chkBigSwitch", 1200, 1680, 2160, 255);
  // Under "Big Switch", in the space above the buttons: Convert shows its
  // changes and asks before keeping them.
  chkPreview_ = new QCheckBox("Preview", this);
  place(chkPreview_, "chkPreview", 1200, 1980, 2160, 255);
  // Beside them, above Convert: a database sized for a workbook, for a
  // first conversion where the site has none yet.
  cmdNewDatabase_ = new QPushButton("New DB...", this);
  place(cmdNewDatabase_, "cmdNewDatabase", 3480, 1680, 975, 495);
  cmdNewDatabase_->setToolTip("Make a new switcher database with room for a workbook's plant");
  cmdIni_ = new QPushButton("Demo .ini", this);
  place(cmdIni_, "cmdIni", 360, 2400, 975, 495);
  cmdXpoints_ = new QPushButton("Read xPoints", this);
  place(cmdXpoints_, "cmdXpoints", 1800, 2400, 1215, 495);
  cmdStart_ = new QPushButton("Convert", this);
  place(cmdStart_, "cmdStart", 3480, 2400, 975, 495);
  // What the last run did, counted under the status; a click shows the
  // details. While a long run goes on, where it is shows in its place.
  cmdDetails_ = new QPushButton(this);
  place(cmdDetails_, "cmdDetails", 1200, 1335, 3255, 300);
  cmdDetails_->setFlat(true);
  cmdDetails_->hide();
  lblProgress_ = new QLabel(this);
  place(lblProgress_, "lblProgress", 1200, 1335, 3255, 300);
  lblProgress_->hide();
  // Above the status: where the outputs go (a link that opens the folder),
  // and a button to choose another.
  lblOutputs_ = new QLabel(this);
  place(lblOutputs_, "lblOutputs", 360, 150, 3000, 300);
  lblOutputs_->setTextFormat(Qt::RichText);
  lblOutputs_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  cmdOutputs_ = new QPushButton("Folder...", this);
  place(cmdOutputs_, "cmdOutputs", 3480, 105, 975, 390);
  cmdOutputs_->setToolTip("Choose the folder the outputs go to");
  setFixedSize(Twips(4680, dpi), Twips(3195, dpi));
  progress_timer_ = new QTimer(this);
  progress_timer_->setInterval(200);

  ChainFocus();
}

void MainWindow::ChainFocus() {
  // Enter on the focused command button starts it, as on a dialog's buttons.
  for (QPushButton* b : {cmdStart_, cmdIni_, cmdXpoints_, cmdNewDatabase_}) b->setAutoDefault(true);
  // Tab order: cmdStart, (lblStatus takes no focus), cmdIni, cmdXpoints,
  // chkBigSwitch, then what this window adds.
  cmdStart_->setFocus();
  setTabOrder(cmdStart_, cmdIni_);
  setTabOrder(cmdIni_, cmdXpoints_);
  setTabOrder(cmdXpoints_, chkBigSwitch_);
  setTabOrder(chkBigSwitch_, chkPreview_);
  setTabOrder(chkPreview_, cmdNewDatabase_);
  setTabOrder(cmdNewDatabase_, cmdDetails_);
  setTabOrder(cmdDetails_, lblOutputs_);
  setTabOrder(lblOutputs_, cmdOutputs_);
}

void MainWindow::ConnectControls() {
  connect(cmdStart_, &QPushButton::clicked, this, &MainWindow::cmdStart_Click);
  connect(cmdIni_, &QPushButton::clicked, this, &MainWindow::cmdIni_Click);
  connect(cmdXpoints_, &QPushButton::clicked, this, &MainWindow::cmdXpoints_Click);
  connect(cmdNewDatabase_, &QPushButton::clicked, this, &MainWindow::cmdNewDatabase_Click);
  connect(chkBigSwitch_, &QCheckBox::clicked, this, &MainWindow::chkBigSwitch_Click);
  connect(cmdDetails_, &QPushButton::clicked, this, &MainWindow::ShowDetails);
  connect(lblOutputs_, &QLabel::linkActivated, this, [this] { OpenOutputFolder(); });
  connect(cmdOutputs_, &QPushButton::clicked, this, [this] {
    const QString start = shown_folder_.empty() ? QDir::homePath() : Q(Utf8Path(shown_folder_));
    const QString folder = QFileDialog::getExistingDirectory(this, "Choose the output folder", start);
    if (!folder.isEmpty()) SetOutputFolder(folder);
  });
  connect(progress_timer_, &QTimer::timeout, this, &MainWindow::ShowProgress);
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
  // During a run its thread still uses the window: the user is asked whether
  // to stop it at its next safe point (its changes rolled back, its files
  // dropped), and the window closes once it has.
  const auto step = runs_->Close([this] {
    QMessageBox box(QMessageBox::Question, "KVR Conversion", kStopRunQuestion, QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setObjectName("stopRunQuestion");
    box.setDefaultButton(QMessageBox::No);
    return (stop_answer_ ? stop_answer_() : box.exec()) == QMessageBox::Yes;
  });
  if (step == RunController::CloseStep::kCloseNow) event->accept();
  else event->ignore();
}

void MainWindow::chkBigSwitch_Click() { BigSwitch = chkBigSwitch_->checkState() == Qt::Checked; }

void MainWindow::cmdStart_Click() { Start("convert", cmdStart_); }
void MainWindow::cmdIni_Click() { Start("demo-ini", cmdIni_); }
void MainWindow::cmdXpoints_Click() { Start("xpoints", cmdXpoints_); }
void MainWindow::cmdNewDatabase_Click() { Start("new-database", cmdNewDatabase_); }

void MainWindow::SetBusy(bool busy) {
  for (QWidget* w : {static_cast<QWidget*>(cmdStart_), static_cast<QWidget*>(cmdIni_),
                     static_cast<QWidget*>(cmdXpoints_), static_cast<QWidget*>(chkBigSwitch_),
                     static_cast<QWidget*>(chkPreview_), static_cast<QWidget*>(cmdOutputs_),
                     static_cast<QWidget*>(cmdNewDatabase_)}) {
    w->setEnabled(!busy);
  }
}

OutputFolder MainWindow::CurrentOutputFolder() const {
  // The user's choice; else the program's own folder for a portable copy;
  // an installed program's folder is not writable, so then "KVR Conversion"
  // under the documents.
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return WindowOutputFolder(PathFromUtf8(chosen_folder_.toStdString()),
                            PathFromUtf8((program_folder_.isEmpty() ? AppFolder() : program_folder_).toStdString()),
                            PathFromUtf8((documents + "/KVR Conversion").toStdString()));
}

void MainWindow::SetOutputFolder(const QString& folder) {
  chosen_folder_ = folder;
  QSettings settings;
  if (folder.isEmpty()) settings.remove(kOutputFolderKey);
  else settings.setValue(kOutputFolderKey, folder);
  ShowOutputFolder(CurrentOutputFolder().path);
}

void MainWindow::ShowOutputFolder(const std::filesystem::path& folder) {
  shown_folder_ = folder;
  const QString path = QDir::toNativeSeparators(Q(Utf8Path(folder)));
  const QFontMetrics metrics(lblOutputs_->font());
  const QString shown =
      metrics.elidedText(path, Qt::ElideMiddle, lblOutputs_->width() - metrics.horizontalAdvance("Outputs: ") - 4);
  lblOutputs_->setText("Outputs: <a href=\"folder\">" + shown.toHtmlEscaped() + "</a>");
  lblOutputs_->setToolTip(path + "\nClick to open it");
}

void MainWindow::OpenOutputFolder() {
  QString why;
  std::error_code ec;
  if (!std::filesystem::is_directory(shown_folder_, ec)) why = "it no longer exists.";
  else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Q(Utf8Path(shown_folder_))))) {
    why = "the desktop has no program to show folders with.";
  }
  if (why.isEmpty()) return;
  auto* box = new QMessageBox(QMessageBox::Warning, "KVR Conversion",
                              "Cannot open the output folder " + Q(Utf8Path(shown_folder_)) + ": " + why,
                              QMessageBox::Ok, this);
  box->setObjectName("openFolderMessage");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::ShowProgress() {
  if (!runs_->progress().ShowNow()) return;
  lblProgress_->setText(Q(runs_->progress().Text()));
  lblProgress_->show();
}

void MainWindow::Start(std::string_view command, QPushButton* origin) {
  const RunRequest request{command, BigSwitch, chkPreview_->isChecked(), CurrentOutputFolder(), KVR_VERSION};
  if (!runs_->Start(request)) return;  // one command at a time
  SetBusy(true);
  origin_ = origin;
  // The details line belongs to one run: a new command starts without it.
  last_run_ = RunRecord{};
  cmdDetails_->hide();
  progress_timer_->start();
}

void MainWindow::OnWindowThread(const std::function<void()>& f) {
  if (QThread::currentThread() == thread()) f();
  else QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

void MainWindow::PostToWindow(std::function<void()> f) {
  QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

std::string MainWindow::ChooseFile(const std::string& name, const std::string& extension, int type) {
  return chooser_->GetFileName(name, extension, type);
}

bool MainWindow::AskYesNo(const std::string& text, const std::string& title) {
  if (question_ != nullptr) return question_->Ask(text, title);
  QString shown = Q(text);
  shown.replace('\r', '\n');
  return QMessageBox::question(this, Q(title), shown, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
         QMessageBox::Yes;
}

bool MainWindow::PreviewChanges(const ChangeList& changes,
                                const std::map<std::string, ChangeCount>& counts) {
  if (preview_ != nullptr) return preview_->Apply(changes, counts);
  PreviewDialog dialog(changes, counts, this);
  return dialog.exec() == QDialog::Accepted;
}

void MainWindow::ShowStatus(const std::string& text) { lblStatus_->setText(Q(text)); }

void MainWindow::RunFinished(RunRecord record) {
  progress_timer_->stop();
  lblProgress_->hide();
  SetBusy(false);
  origin_->setFocus();  // back where the run started, as after a message box
  last_reason_.clear();
  if (const std::string alert = record.Alert(); !alert.empty()) {
    // The status stays as it was; why the run did not run, or did not reach
    // its database, is shown without blocking the window.
    if (record.result.outcome == RunResult::Outcome::kNotRun) last_reason_ = Q(record.result.reason);
    auto* box = new QMessageBox(QMessageBox::Warning, "KVR Conversion", Q(alert), QMessageBox::Ok, this);
    box->setObjectName(record.result.outcome == RunResult::Outcome::kNotRun ? "notRunMessage" : "alertMessage");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
  if (record.HasDetails()) {
    last_run_ = std::move(record);
    cmdDetails_->setStyleSheet(QString("text-align: left; color: %1;").arg(ColourOf(last_run_.severity())));
    const QString line = Q(last_run_.Summary());
    // A stopped run says so; any other gives way to " - details" should the line be too long.
    const QString link = last_run_.result.outcome == RunResult::Outcome::kInterrupted ? "" : " - details";
    const QFontMetrics metrics(cmdDetails_->font());
    cmdDetails_->setText(
        metrics.elidedText(line, Qt::ElideRight, cmdDetails_->width() - metrics.horizontalAdvance(link) - 8) + link);
    cmdDetails_->setToolTip(line);
    cmdDetails_->show();
    if (last_run_.result.outcome == RunResult::Outcome::kCompleted) ShowOutputFolder(last_run_.inputs.output_folder);
  }
  emit runFinished();
  if (runs_->closing()) close();
}

void MainWindow::ShowDetails() {
  if (details_ != nullptr) details_->close();
  details_ = new DetailsDialog(last_run_, this);
  details_->setAttribute(Qt::WA_DeleteOnClose);
  details_->open();
}

}  // namespace kvr
