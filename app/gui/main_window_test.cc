// The window, headless (QT_QPA_PLATFORM=offscreen), with a scripted chooser.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QScreen>
#include <filesystem>

#include "app/gui/main_window.h"
#include "tables/new_database.h"
#include "tests/workbook_files.h"

namespace kvr {
namespace {

// Answers with preset paths and records whether the window's controls were
// disabled while the run asked for them.
class ScriptedChooser : public FileChooser {
 public:
  QStringList answers;
  MainWindow* window = nullptr;
  std::vector<bool> disabled_while_asked;
  std::string GetFileName(const std::string&, const std::string&, int) override {
    bool disabled = true;
    for (const char* name : {"cmdStart", "cmdIni", "cmdXpoints", "chkBigSwitch"}) {
      disabled &= !window->findChild<QWidget*>(name)->isEnabled();
    }
    disabled_while_asked.push_back(disabled);
    return answers.isEmpty() ? std::string() : answers.takeFirst().toStdString();
  }
};

class Yes : public OverwriteQuestion {
 public:
  bool Ask(const std::string&, const std::string&) override { return true; }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::filesystem::path dir_;
  QString File(const char* name) const { return QString::fromStdString((dir_ / name).string()); }

  // Clicks `button` and waits for the run to finish.
  static void RunAndWait(MainWindow& w, const char* button) {
    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton);
    QVERIFY(finished.count() == 1 || finished.wait(20000));
  }

 private slots:
  void initTestCase() {
    dir_ = std::filesystem::temp_directory_path() / ("kvr_gui_" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "out");
    CreateSwitcherDatabase(dir_ / "sw.db", DatabaseSizes{4, 4, 2, 2, 2});
    using testing::SheetRows;
    testing::WriteXlsx(dir_ / "wb.xlsx",
                       {{"System", SheetRows{{std::string("Name:"), std::string("Studio A")}, {std::string("Inputs"), 2.0},
                                             {std::string("Consoles"), 1.0}}},
                        {"Sources", SheetRows{{std::string("Chan"), std::string("Location #")}, {1.0, 40000.0}}},
                        {"Crosspoints", SheetRows{{std::string("P-Level")}, {1.0}}}});
  }
  void cleanupTestCase() { std::filesystem::remove_all(dir_); }

  void captionsGeometryAndTabOrder() {
    MainWindow w;
    QCOMPARE(w.windowTitle(), QString("KVR Conversion"));
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.findChild<QPushButton*>("cmdStart")->text(), QString("Convert"));
    QCOMPARE(w.findChild<QPushButton*>("cmdIni")->text(), QString("Demo .ini"));
    QCOMPARE(w.findChild<QPushButton*>("cmdXpoints")->text(), QString("Read xPoints"));
    QCOMPARE(w.findChild<QCheckBox*>("chkBigSwitch")->text(), QString("Big Switch"));
    QVERIFY(!w.findChild<QCheckBox*>("chkBigSwitch")->isChecked());
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString());
    const qreal dpi = w.screen()->logicalDotsPerInch();
    auto px = [&](int twips) { return MainWindow::Twips(twips, dpi); };
    QCOMPARE(w.size(), QSize(px(4680), px(3195)));
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->geometry(), QRect(px(1200), px(600), px(2655), px(735)));
    QCOMPARE(w.findChild<QWidget*>("chkBigSwitch")->geometry(), QRect(px(1200), px(1680), px(2415), px(255)));
    QCOMPARE(w.findChild<QWidget*>("cmdIni")->geometry(), QRect(px(360), px(2400), px(975), px(495)));
    QCOMPARE(w.findChild<QWidget*>("cmdXpoints")->geometry(), QRect(px(1800), px(2400), px(1215), px(495)));
    QCOMPARE(w.findChild<QWidget*>("cmdStart")->geometry(), QRect(px(3480), px(2400), px(975), px(495)));
    QCOMPARE(MainWindow::Twips(1440, 96), 96);
    QWidget* start = w.findChild<QWidget*>("cmdStart");
    QCOMPARE(start->nextInFocusChain(), w.findChild<QWidget*>("cmdIni"));
    QCOMPARE(w.findChild<QWidget*>("cmdIni")->nextInFocusChain(), w.findChild<QWidget*>("cmdXpoints"));
    QCOMPARE(w.findChild<QWidget*>("cmdXpoints")->nextInFocusChain(), w.findChild<QWidget*>("chkBigSwitch"));
    QVERIFY(MainWindow::AppFolder().endsWith('/'));
    QVERIFY(!MainWindow::AppFolder().endsWith("//"));
  }

  void convertShowsCompletedAndTheProblemCount() {
    ScriptedChooser chooser;
    Yes yes;
    MainWindow w(&chooser, &yes, File("out"));
    chooser.window = &w;
    chooser.answers = {File("sw.db"), File("wb.xlsx")};
    RunAndWait(w, "cmdStart");
    QCoreApplication::processEvents();
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString("Completed"));
    QCOMPARE(chooser.disabled_while_asked, (std::vector<bool>{true, true}));
    QVERIFY(w.findChild<QWidget*>("cmdStart")->isEnabled());
    QVERIFY(w.LastProblems().size() > 0);  // the missing sheets and the 40000
    auto* problems = w.findChild<QPushButton*>("cmdProblems");
    QVERIFY(problems->isVisibleTo(&w));
    QVERIFY(problems->text().startsWith(QString::number(w.LastProblems().size()) + " problems"));
    QVERIFY(std::filesystem::exists(dir_ / "out" / "Studio A.con"));
    // The next command starts without the last run's problem line.
    RunAndWait(w, "cmdStart");  // cancelled at the database
    QVERIFY(!problems->isVisibleTo(&w));
    QCOMPARE(w.LastProblems().size(), std::size_t{0});
  }

  void cancelledOrUnreadableLeavesTheStatus() {
    ScriptedChooser chooser;
    MainWindow w(&chooser, nullptr, File("out"));
    chooser.window = &w;
    RunAndWait(w, "cmdStart");  // cancelled at the database
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString());
    chooser.answers = {File("sw.db"), File("sw.db")};  // a database is no workbook
    RunAndWait(w, "cmdStart");
    QCoreApplication::processEvents();
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString());
    QVERIFY(w.LastReason().startsWith("not a workbook"));
  }

  void demoAndCrosspointButtons() {
    ScriptedChooser chooser;
    MainWindow w(&chooser, nullptr, File("out"));
    chooser.window = &w;
    chooser.answers = {File("wb.xlsx")};
    RunAndWait(w, "cmdXpoints");
    QCoreApplication::processEvents();
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString("Completed"));
    QVERIFY(std::filesystem::exists(dir_ / "out" / "Studio A Crosspoints.xpt"));
    chooser.answers = {File("wb.xlsx")};
    RunAndWait(w, "cmdIni");
    QVERIFY(std::filesystem::exists(dir_ / "out" / "DemoSetup.ini"));
    w.findChild<QCheckBox*>("chkBigSwitch")->click();
    QVERIFY(w.findChild<QCheckBox*>("chkBigSwitch")->isChecked());
  }
};

}  // namespace
}  // namespace kvr

QTEST_MAIN(kvr::MainWindowTest)
#include "main_window_test.moc"
