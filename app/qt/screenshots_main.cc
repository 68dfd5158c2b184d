// Pictures of the window for people who review it: the window after a
// conversion of the example plant, the preview of its changes and the details
// of the run. scripts/screenshot-gui.sh runs it under Xvfb.
//   kvr_gui_screenshots WORKBOOK OUT_PREFIX
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <iostream>

#include "app/qt/main_window.h"
#include "app/core/plant_size.h"
#include "tables/new_database.h"
#include "tests/fixed_answers.h"

namespace {

// Shows the real preview, takes its picture once it is painted, and applies.
class PicturedPreview : public kvr::ChangePreview {
 public:
  explicit PicturedPreview(QString path) : path_(std::move(path)) {}
  bool Apply(const kvr::ChangeList& changes,
             const std::map<std::string, kvr::ChangeCount>& counts) override {
    kvr::PreviewDialog dialog(changes, counts);
    QObject::connect(&dialog, &kvr::PreviewDialog::selectionShown, &dialog, [&] {
      QTimer::singleShot(300, &dialog, [&] {
        dialog.grab().save(path_);
        dialog.accept();
      });
    });
    QTimer::singleShot(200, &dialog, [&] { dialog.Filter("Label"); });
    return dialog.exec() == QDialog::Accepted;
  }

 private:
  QString path_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: kvr_gui_screenshots WORKBOOK OUT_PREFIX\n";
    return 2;
  }
  const QString prefix = QString::fromLocal8Bit(argv[2]);
  const auto dir = std::filesystem::temp_directory_path() / "kvr_screenshots";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto sizes = kvr::DatabaseSizesFor(std::filesystem::absolute(argv[1]));
  if (!sizes.ok()) {
    std::cerr << sizes.why() << '\n';
    return 2;
  }
  if (!kvr::CreateSwitcherDatabase(dir / "Switcher.db", *sizes).ok()) return 2;
  kvr::testing::FixedFiles files;
  files.database = (dir / "Switcher.db").string();
  files.workbook = std::filesystem::absolute(argv[1]).string();
  kvr::testing::AlwaysYes yes;
  PicturedPreview preview(prefix + "-preview.png");
  kvr::MainWindow window(&files, &yes, QString::fromStdString(dir.string()), &preview);
  window.show();
  window.findChild<QCheckBox*>("chkPreview")->click();
  QSignalSpy finished(&window, &kvr::MainWindow::runFinished);
  window.findChild<QPushButton*>("cmdStart")->click();
  if (!finished.wait(60000)) return 1;
  QApplication::processEvents();
  window.grab().save(prefix + "-window.png");
  window.findChild<QPushButton*>("cmdDetails")->click();
  kvr::DetailsDialog* details = window.Details();
  details->show();
  // The first problem or notice selected, to show it in full below the list.
  if (auto* reports = details->findChild<QTreeWidget*>("reports"); reports != nullptr && reports->topLevelItemCount() > 0) {
    QTreeWidgetItem* group = reports->topLevelItem(0);
    reports->setCurrentItem(group->childCount() > 0 ? group->child(0) : group);
  }
  QTimer::singleShot(500, details, [&] {
    details->grab().save(prefix + "-details.png");
    const QRect room = details->screen()->availableGeometry(), frame = details->frameGeometry();
    if (!room.contains(frame)) {
      std::cerr << "the details (" << frame.width() << "x" << frame.height() << ") do not fit the screen ("
                << room.width() << "x" << room.height() << ")\n";
    }
    QApplication::quit();
  });
  app.exec();
  std::cout << (prefix + "-window.png, -preview.png, -details.png").toStdString() << '\n';
  return 0;
}
