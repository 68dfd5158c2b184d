// What the window holds on a large plant: a convert with the preview asked
// for, run in the window as a user runs it, into a database made to fit the
// workbook. While the preview is open, filtered ("Label") and sorted by its
// new values, it prints:
//   changes=N           the changes the preview shows
//   preview_rss_mib=N   the memory the process holds then
//   peak_rss_mib=N      the most it held at any time until then
// The largest plant: python3 bench/make_workbook.py max.xlsx --max, then
//   QT_QPA_PLATFORM=offscreen build/kvr_window_bench max.xlsx
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "app/core/plant_size.h"
#include "app/qt/main_window.h"
#include "base/allocator.h"
#include "tables/new_database.h"
#include "tests/fixed_answers.h"

namespace {

// A line of /proc/self/status ("VmRSS", "VmHWM") in MiB.
long StatusMib(const std::string& name) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1)) / 1024;
  }
  return -1;
}

// Opens the real preview, filters and sorts it as a user would, measures
// once its rows are shown, and applies.
class MeasuredPreview : public kvr::ChangePreview {
 public:
  bool Apply(const kvr::ChangeList& changes, const std::map<std::string, kvr::ChangeCount>& counts) override {
    kvr::PreviewDialog dialog(changes, counts);
    int shown = 0;
    QObject::connect(&dialog, &kvr::PreviewDialog::selectionShown, &dialog, [&] {
      if (++shown == 1) {  // the filter's rows: now sort them by their new values
        dialog.findChild<QTableView*>("changes")->horizontalHeader()->sectionClicked(4);
        return;
      }
      std::printf("changes=%zu\npreview_rss_mib=%ld\npeak_rss_mib=%ld\n", changes.size(), StatusMib("VmRSS"),
                  StatusMib("VmHWM"));
      dialog.accept();
    });
    dialog.show();
    QTimer::singleShot(0, &dialog, [&] { dialog.Filter("Label"); });
    return dialog.exec() == QDialog::Accepted;
  }
};

}  // namespace

int main(int argc, char** argv) {
  kvr::LimitAllocatorArenas();  // as the window does
  QApplication app(argc, argv);
  if (argc != 2) {
    std::cerr << "usage: kvr_window_bench WORKBOOK\n";
    return 2;
  }
  const auto workbook = std::filesystem::absolute(argv[1]);
  const auto dir = std::filesystem::temp_directory_path() / "kvr_window_bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto sizes = kvr::DatabaseSizesFor(workbook);
  if (!sizes.ok() || !kvr::CreateSwitcherDatabase(dir / "Switcher.db", *sizes).ok()) {
    std::cerr << "cannot make a database for " << workbook << '\n';
    return 2;
  }
  kvr::testing::FixedFiles files;
  files.database = (dir / "Switcher.db").string();
  files.workbook = workbook.string();
  kvr::testing::AlwaysYes yes;
  MeasuredPreview preview;
  kvr::MainWindow window(&files, &yes, QString::fromStdString(dir.string()), &preview);
  window.show();
  window.findChild<QCheckBox*>("chkPreview")->click();
  QSignalSpy finished(&window, &kvr::MainWindow::runFinished);
  window.findChild<QPushButton*>("cmdStart")->click();
  const bool done = finished.wait(300000);
  std::filesystem::remove_all(dir);
  return done ? 0 : 1;
}
