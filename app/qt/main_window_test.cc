// The window, headless (QT_QPA_PLATFORM=offscreen), with a scripted chooser.
#include <sqlite3.h>

#include <QApplication>
#include <QCheckBox>
#include <QStyleOption>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableView>
#include <QLineEdit>
#include <QTextBrowser>
#include <QSettings>
#include <QTreeWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QScreen>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/qt/gui_util.h"
#include "app/qt/gui_test_support.h"
#include "app/qt/main_window.h"
#include "app/core/plant_size.h"
#include "tables/new_database.h"
#include "tests/workbook_files.h"

namespace kvr {
namespace {

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  TestFolder folder_;
  const std::filesystem::path& dir_ = folder_.dir;
  QString File(const char* name) const { return folder_.File(name); }

 private slots:
  void initTestCase() {
    folder_.Make("kvr_gui_");
    std::filesystem::create_directories(dir_ / "out");
    // The remembered output folder lives in a settings file of the test's own.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir_ / "config").string()));
    QCoreApplication::setOrganizationName("KVR Conversion tests");
    QCoreApplication::setApplicationName("KVR Conversion tests");
    MakeStudio(dir_);
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
    QCOMPARE(w.findChild<QCheckBox*>("chkPreview")->text(), QString("Preview"));
    QVERIFY(!w.findChild<QCheckBox*>("chkPreview")->isChecked());
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString());
    const qreal dpi = w.screen()->logicalDotsPerInch();
    auto px = [&](int twips) { return MainWindow::Twips(twips, dpi); };
    QCOMPARE(w.size(), QSize(px(4680), px(3195)));
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->geometry(), QRect(px(1200), px(600), px(2655), px(735)));
    QCOMPARE(w.findChild<QWidget*>("chkBigSwitch")->geometry(), QRect(px(1200), px(1680), px(2160), px(255)));
    // "New DB..." above Convert, clear of the options beside it.
    QCOMPARE(w.findChild<QPushButton*>("cmdNewDatabase")->text(), QString("New DB..."));
    QCOMPARE(w.findChild<QWidget*>("cmdNewDatabase")->geometry(), QRect(px(3480), px(1680), px(975), px(495)));
    for (const char* option : {"chkBigSwitch", "chkPreview"}) {
      QVERIFY(!w.findChild<QWidget*>(option)->geometry().intersects(w.findChild<QWidget*>("cmdNewDatabase")->geometry()));
    }
    // Preview sits under Big Switch, clear of it, of the details line and of the buttons.
    const QRect preview = w.findChild<QWidget*>("chkPreview")->geometry();
    QVERIFY(!preview.intersects(w.findChild<QWidget*>("chkBigSwitch")->geometry()));
    QVERIFY(!preview.intersects(w.findChild<QWidget*>("cmdDetails")->geometry()));
    QVERIFY(preview.bottom() < w.findChild<QWidget*>("cmdStart")->geometry().top());
    QCOMPARE(w.findChild<QWidget*>("cmdIni")->geometry(), QRect(px(360), px(2400), px(975), px(495)));
    QCOMPARE(w.findChild<QWidget*>("cmdXpoints")->geometry(), QRect(px(1800), px(2400), px(1215), px(495)));
    QCOMPARE(w.findChild<QWidget*>("cmdStart")->geometry(), QRect(px(3480), px(2400), px(975), px(495)));
    QCOMPARE(MainWindow::Twips(1440, 96), 96);
    QWidget* start = w.findChild<QWidget*>("cmdStart");
    QCOMPARE(start->nextInFocusChain(), w.findChild<QWidget*>("cmdIni"));
    QCOMPARE(w.findChild<QWidget*>("cmdIni")->nextInFocusChain(), w.findChild<QWidget*>("cmdXpoints"));
    QCOMPARE(w.findChild<QWidget*>("cmdXpoints")->nextInFocusChain(), w.findChild<QWidget*>("chkBigSwitch"));
    QCOMPARE(w.findChild<QWidget*>("chkBigSwitch")->nextInFocusChain(), w.findChild<QWidget*>("chkPreview"));
    QCOMPARE(w.findChild<QWidget*>("chkPreview")->nextInFocusChain(), w.findChild<QWidget*>("cmdNewDatabase"));
    // "Convert" has the focus and shows its ring from the start.
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), start);
    QStyleOption option;
    option.initFrom(start);
    QVERIFY(option.state.testFlag(QStyle::State_HasFocus));
    QVERIFY(option.state.testFlag(QStyle::State_KeyboardFocusChange));
    QCOMPARE(MainWindow::DialogFilters("xls"), (QStringList{"(*.xls *.xlsx *.xlsm *.ods)", "All Files (*.*)"}));
    QCOMPARE(MainWindow::DialogFilters("mdb"),
             (QStringList{"(*.mdb *.db *.sqlite *.sqlite3)", "All Files (*.*)"}));
    QVERIFY(MainWindow::AppFolder().endsWith('/'));
    QVERIFY(!MainWindow::AppFolder().endsWith("//"));
  }

  // "New DB..." makes a database with room for the workbook's plant, which
  // a conversion of that workbook then fills; it never writes over a file.
  void newDatabaseFitsTheWorkbookAndIsNeverWrittenOver() {
    ScriptedChooser chooser;
    Yes yes;
    MainWindow w(&chooser, &yes, File("out"));
    chooser.window = &w;
    const std::filesystem::path db = dir_ / "made.db";
    std::filesystem::remove(db);
    chooser.answers = {File("wb.xlsx"), File("made.db")};
    RunAndWait(w, "cmdNewDatabase");
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString("Completed"));
    QCOMPARE(chooser.disabled_while_asked, (std::vector<bool>{true, true}));
    QVERIFY(std::filesystem::exists(db));
    QCOMPARE(QString::fromStdString(w.LastRun().inputs.workbook), File("wb.xlsx"));
    QCOMPARE(QString::fromStdString(w.LastRun().inputs.database), File("made.db"));
    QCOMPARE(w.LastRun().result.written, (std::vector<std::filesystem::path>{db}));
    // As many input records as the workbook's plant needs.
    const Result<DatabaseSizes> sizes = DatabaseSizesFor(dir_ / "wb.xlsx");
    QVERIFY(sizes.ok());
    sqlite3* made = nullptr;
    QCOMPARE(sqlite3_open((dir_ / "made.db").string().c_str(), &made), SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(made, "SELECT COUNT(*) FROM InptAlphas", -1, &count, nullptr);
    QCOMPARE(sqlite3_step(count), SQLITE_ROW);
    QCOMPARE(sqlite3_column_int(count, 0), sizes->inputs);
    sqlite3_finalize(count);
    sqlite3_close(made);
    // The same name again: refused, the database untouched.
    const auto before = std::filesystem::last_write_time(db);
    const auto size = std::filesystem::file_size(db);
    chooser.answers = {File("wb.xlsx"), File("made.db")};
    RunAndWait(w, "cmdNewDatabase");
    QCOMPARE(w.LastReason().contains("made.db"), true);
    QCOMPARE(std::filesystem::last_write_time(db), before);
    QCOMPARE(std::filesystem::file_size(db), size);
    // Cancelled at either question: nothing made.
    for (const QStringList& answers : {QStringList{}, QStringList{File("wb.xlsx")}}) {
      chooser.answers = answers;
      RunAndWait(w, "cmdNewDatabase");
      QVERIFY(!std::filesystem::exists(dir_ / "Switcher.db"));
      QCOMPARE(w.LastReason(), QString());
    }
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
    auto* problems = w.findChild<QPushButton*>("cmdDetails");
    QVERIFY(problems->isVisibleTo(&w));
    QVERIFY(problems->text().startsWith(QString::number(w.LastProblems().size()) + " problems"));
    QVERIFY(problems->text().endsWith(" - details"));
    QVERIFY(std::filesystem::exists(dir_ / "out" / "Studio A.con"));
    // The next command starts without the last run's problem line.
    RunAndWait(w, "cmdStart");  // cancelled at the database
    QVERIFY(!problems->isVisibleTo(&w));
    QCOMPARE(w.LastProblems().size(), std::size_t{0});
  }

  // A Jet database with no Jet driver: the files are written and the window
  // says, in a message box as for a run that did not run, that the database
  // was not reached and why.
  void anUnreachedDatabaseIsToldPlainly() {
    {
      std::ofstream mdb(dir_ / "site.mdb", std::ios::binary);
      std::string header(4096, '\0');
      header.replace(4, 15, "Standard Jet DB");
      mdb << header;
    }
    ScriptedChooser chooser;
    Yes yes;
    MainWindow w(&chooser, &yes, File("jet"));
    std::filesystem::create_directories(dir_ / "jet");
    chooser.window = &w;
    chooser.answers = {File("site.mdb"), File("wb.xlsx")};
    RunAndWait(w, "cmdStart");
    QCoreApplication::processEvents();
    QVERIFY(std::filesystem::exists(dir_ / "jet" / "Studio A.con"));
    auto* box = w.findChild<QMessageBox*>("alertMessage");
    QVERIFY(box != nullptr);
    QVERIFY2(box->text().contains("The database was not reached") && box->text().contains("Jet ODBC driver"),
             qPrintable(box->text()));
    QVERIFY(w.findChild<QPushButton*>("cmdDetails")->text().startsWith("database not reached"));
    box->close();
  }

  // Closed during a run, the window asks whether to stop it; No lets the run
  // go on, Yes stops it at its next safe point (nothing changed or written)
  // and the window closes once it has.
  void closingDuringARunStopsItFirst() {
    const std::filesystem::path db = dir_ / "stop.db", out = dir_ / "stop";
    std::filesystem::create_directories(out);
    QVERIFY(CreateSwitcherDatabase(db, DatabaseSizes{4, 4, 2, 2, 2}).ok());
    const std::string before = Dump(db);
    struct ClosingChooser : ScriptedChooser {
      std::string GetFileName(const std::string& a, const std::string& b, int c) override {
        if (answers.size() == 1) {  // the workbook is asked for: the run is under way
          window->AnswerStopQuestion(QMessageBox::No);
          window->close();
          closed_after_no = !window->isVisible();
          window->AnswerStopQuestion(QMessageBox::Yes);
          window->close();
        }
        return ScriptedChooser::GetFileName(a, b, c);
      }
      bool closed_after_no = true;
    } chooser;
    Yes yes;
    MainWindow w(&chooser, &yes, QString::fromStdString(out.string()));
    chooser.window = &w;
    chooser.answers = {QString::fromStdString(db.string()), File("wb.xlsx")};
    w.show();
    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(w.findChild<QPushButton*>("cmdStart"), Qt::LeftButton);
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    QCoreApplication::processEvents();
    QVERIFY(!chooser.closed_after_no);
    QVERIFY(!w.isVisible());
    QCOMPARE(Dump(db), before);
    QVERIFY(std::filesystem::is_empty(out));
    QCOMPARE(w.findChild<QPushButton*>("cmdDetails")->text(), QString("interrupted: nothing was changed"));
  }

  // The run ends while the question whether to stop it is still open: No
  // leaves the window open, and no later command closes it; Yes closes it
  // at once, the run being over.
  void aRunThatEndsWhileTheStopQuestionIsOpen() {
    for (const int answer : {int(QMessageBox::No), int(QMessageBox::Yes)}) {
      ScriptedChooser chooser;
      MainWindow w(&chooser, nullptr, File("out"));
      chooser.window = &w;
      chooser.answers = {File("wb.xlsx")};
      w.show();
      QSignalSpy finished(&w, &MainWindow::runFinished);
      bool asked = false;
      w.AnswerStopQuestionWith([&] {
        asked = true;
        if (finished.count() == 0) finished.wait(20000);  // the question stays open until the run has ended
        return answer;
      });
      QTest::mouseClick(w.findChild<QPushButton*>("cmdXpoints"), Qt::LeftButton);
      w.close();
      QVERIFY(asked);
      QCOMPARE(finished.count(), 1);
      QCoreApplication::processEvents();
      if (answer == QMessageBox::Yes) {
        QVERIFY(!w.isVisible());
        continue;
      }
      QVERIFY(w.isVisible());
      chooser.answers = {File("wb.xlsx")};
      RunAndWait(w, "cmdXpoints");
      QCoreApplication::processEvents();
      QVERIFY(w.isVisible());
      QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString("Completed"));
    }
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

  // A program folder that takes no files sends the outputs to "KVR Conversion"
  // under the documents, and the details say so.
  void outputsFallBackWhenTheProgramFolderTakesNoFiles() {
    const auto home = dir_ / "home";
    std::filesystem::create_directories(home);
    const QByteArray old_home = qgetenv("HOME"), old_config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / ".config").string()));
    { std::ofstream(dir_ / "not-a-folder") << "x"; }
    ScriptedChooser chooser;
    MainWindow w(&chooser, nullptr, File("not-a-folder"));
    chooser.window = &w;
    chooser.answers = {File("wb.xlsx")};
    RunAndWait(w, "cmdXpoints");
    qputenv("HOME", old_home);
    qputenv("XDG_CONFIG_HOME", old_config);
    QVERIFY(std::filesystem::exists(home / "Documents" / "KVR Conversion" / "Studio A Crosspoints.xpt"));
    QVERIFY(w.LastRun().output_fell_back);
    QTest::mouseClick(w.findChild<QPushButton*>("cmdDetails"), Qt::LeftButton);
    QVERIFY(w.Details()->findChild<QLabel*>("summary")->text().contains("the program's own folder takes no files"));
    w.Details()->close();
  }

  // The output folder shows once known, a chosen one is used and remembered
  // between starts, and focus goes back to the button that started the run.
  void outputFolderAndFocusAfterARun() {
    const auto chosen = dir_ / "chosen";
    std::filesystem::create_directories(chosen);
    ScriptedChooser chooser;
    MainWindow w(&chooser, nullptr, File("out"));
    chooser.window = &w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* outputs = w.findChild<QLabel*>("lblOutputs");
    QVERIFY(outputs->text().isEmpty());  // not known before a run
    chooser.answers = {File("wb.xlsx")};
    RunAndWait(w, "cmdXpoints");
    QCOMPARE(QApplication::focusWidget(), w.findChild<QWidget*>("cmdXpoints"));
    QVERIFY(outputs->text().contains("href"));
    QVERIFY(outputs->toolTip().startsWith(QDir::toNativeSeparators(File("out"))));

    w.SetOutputFolder(QString::fromStdString(chosen.string()));
    MainWindow again(&chooser, nullptr, File("out"));
    chooser.window = &again;
    QVERIFY(again.findChild<QLabel*>("lblOutputs")->toolTip().startsWith(QString::fromStdString(chosen.string())));
    chooser.answers = {File("wb.xlsx")};
    RunAndWait(again, "cmdIni");
    QVERIFY(std::filesystem::exists(chosen / "DemoSetup.ini"));
    again.SetOutputFolder({});  // back to the default for the other tests
    QVERIFY(QSettings().value("outputFolder").toString().isEmpty());
  }

  // A run that goes on for over a second shows where it is under the status.
  void progressOfALongRun() {
    struct SlowQuestion : OverwriteQuestion {
      MainWindow* window = nullptr;
      QString seen;
      bool Ask(const std::string&, const std::string&) override {
        QTest::qWait(1500);  // the window's thread, as a real message box would keep it
        auto* progress = window->findChild<QLabel*>("lblProgress");
        if (progress->isVisible()) seen = progress->text();
        return true;
      }
    } question;
    const auto out = dir_ / "slow";
    std::filesystem::create_directories(out);
    { std::ofstream(out / "Studio A.con") << "earlier"; }  // asked whether to replace it
    ScriptedChooser chooser;
    MainWindow w(&chooser, &question, QString::fromStdString(out.string()));
    chooser.window = &w;
    question.window = &w;
    w.show();
    chooser.answers = {File("sw.db"), File("wb.xlsx")};
    RunAndWait(w, "cmdStart");
    QCOMPARE(question.seen, QString("Writing the files"));
    QVERIFY(!w.findChild<QLabel*>("lblProgress")->isVisible());
  }

};

}  // namespace
}  // namespace kvr

namespace kvr::testing {
int RunMainWindowTests(int argc, char** argv) {
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}
}  // namespace kvr::testing

#include "main_window_test.moc"
