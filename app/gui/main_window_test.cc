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

#include "app/gui/gui_util.h"
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

class No : public OverwriteQuestion {
 public:
  bool Ask(const std::string&, const std::string&) override { return false; }
};

// Answers the preview as told, keeping what it was shown.
class ScriptedPreview : public ChangePreview {
 public:
  bool answer = true;
  std::size_t shown = 0;
  std::map<std::string, ChangeCount> counts;
  bool Apply(const std::vector<FieldChange>& changes, const std::map<std::string, ChangeCount>& c) override {
    shown = changes.size();
    counts = c;
    return answer;
  }
};

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every file of `folder` by name, with its bytes.
std::map<std::string, std::string> Folder(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(folder)) files[e.path().filename().string()] = Bytes(e.path());
  return files;
}

// Every row of every table of a SQLite file, as text.
std::string Dump(const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string out;
  auto rows = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    std::vector<std::string> texts;
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* v = sqlite3_column_text(st, c);
        row += (v != nullptr ? reinterpret_cast<const char*>(v) : "NULL") + std::string("|");
      }
      texts.push_back(row);
    }
    sqlite3_finalize(st);
    return texts;
  };
  for (const auto& table : rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    const std::string name = table.substr(0, table.size() - 1);
    out += "## " + name + "\n";
    for (const auto& row : rows("SELECT * FROM \"" + name + "\" ORDER BY rowid")) out += row + "\n";
  }
  sqlite3_close(db);
  return out;
}

// The texts of one column of a tree's rows, the children of each group included.
QStringList Column(QTreeWidget* tree, int column) {
  QStringList out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree->topLevelItem(i);
    if (top->childCount() == 0) out << top->text(column);
    for (int k = 0; k < top->childCount(); ++k) out << top->child(k)->text(column);
  }
  return out;
}

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
    // The remembered output folder lives in a settings file of the test's own.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir_ / "config").string()));
    QCoreApplication::setOrganizationName("KVR Conversion tests");
    QCoreApplication::setApplicationName("KVR Conversion tests");
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
    QCOMPARE(w.findChild<QCheckBox*>("chkPreview")->text(), QString("Preview"));
    QVERIFY(!w.findChild<QCheckBox*>("chkPreview")->isChecked());
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->text(), QString());
    const qreal dpi = w.screen()->logicalDotsPerInch();
    auto px = [&](int twips) { return MainWindow::Twips(twips, dpi); };
    QCOMPARE(w.size(), QSize(px(4680), px(3195)));
    QCOMPARE(w.findChild<QLabel*>("lblStatus")->geometry(), QRect(px(1200), px(600), px(2655), px(735)));
    QCOMPARE(w.findChild<QWidget*>("chkBigSwitch")->geometry(), QRect(px(1200), px(1680), px(2415), px(255)));
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

  // Closed during a run, the window asks whether to stop it; No lets the run
  // go on, Yes stops it at its next safe point (nothing changed or written)
  // and the window closes once it has.
  void closingDuringARunStopsItFirst() {
    const std::filesystem::path db = dir_ / "stop.db", out = dir_ / "stop";
    std::filesystem::create_directories(out);
    CreateSwitcherDatabase(db, DatabaseSizes{4, 4, 2, 2, 2});
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

  // A run whose console file exists and is kept, one module file written and
  // one that cannot be (a folder holds its name): the details view lists each,
  // the changes per table and the problems and notices grouped, and saves the
  // report as text and JSON.
  void detailsOfWrittenKeptAndFailedFiles() {
    const auto out = dir_ / "details";
    std::filesystem::create_directories(out / "Desk 2.cns");
    { std::ofstream(out / "Two.con") << "earlier"; }
    CreateSwitcherDatabase(dir_ / "details.db", DatabaseSizes{4, 4, 2, 2, 2});
    using testing::SheetRows;
    const std::string s = "";
    testing::WriteXlsx(dir_ / "two.xlsx",
                       {{"System", SheetRows{{std::string("Name:"), std::string("Two")}, {std::string("Inputs"), 2.0},
                                             {std::string("Consoles"), 2.0}}},
                        {"Sources", SheetRows{{std::string("Chan"), std::string("Chan Label"), std::string("Label")},
                                              {1.0, std::string("Mic 1")}, {2.0, std::string("Mic 2")}}},
                        {"Console #1", SheetRows{{std::string("Desk 1"), s, 1.0, 1.0}}},
                        {"Console #2", SheetRows{{std::string("Desk 2"), s, 1.0, 1.0}}}});
    ScriptedChooser chooser;
    No no;
    MainWindow w(&chooser, &no, QString::fromStdString(out.string()));
    chooser.window = &w;
    chooser.answers = {File("details.db"), File("two.xlsx")};
    RunAndWait(w, "cmdStart");
    auto* line = w.findChild<QPushButton*>("cmdDetails");
    QVERIFY(line->isVisibleTo(&w));
    QVERIFY(line->text().contains("notice"));  // the heading "Label"
    QTest::mouseClick(line, Qt::LeftButton);
    DetailsDialog* details = w.Details();
    QVERIFY(details != nullptr);
    QTreeWidget* files = details->findChild<QTreeWidget*>("files");
    const QStringList names = Column(files, 0), outcomes = Column(files, 1);
    auto outcome_of = [&](const std::string& name) {
      const int i = names.indexOf(QString::fromStdString((out / name).string()));
      return i < 0 ? QString("missing") : outcomes[i];
    };
    QCOMPARE(outcome_of("Desk 1.cns"), QString("written"));
    QCOMPARE(outcome_of("Two.con"), QString("kept"));
    QCOMPARE(outcome_of("Desk 2.cns"), QString("not written"));
    QCOMPARE(Bytes(out / "Two.con"), std::string("earlier"));
    QTreeWidget* changes = details->findChild<QTreeWidget*>("changes");
    QCOMPARE(changes->topLevelItemCount(), 7);
    QCOMPARE(changes->topLevelItem(0)->text(0), QString("InptAlphas"));
    QCOMPARE(changes->topLevelItem(0)->text(1), QString("2"));
    // Problems first: the folder in the name of "Desk 2.cns" before the heading's notice.
    // Groups by sheet or table, those with problems first (the missing sheets,
    // the folder in the way), then the "Sources" heading's notice.
    QTreeWidget* reports = details->findChild<QTreeWidget*>("reports");
    QStringList groups;
    for (int i = 0; i < reports->topLevelItemCount(); ++i) groups << reports->topLevelItem(i)->text(0);
    const int sources = groups.indexOf("Sheet \"Sources\"");
    QCOMPARE(sources, groups.size() - 1);
    QVERIFY(groups.indexOf("Files and other steps") >= 0);
    QVERIFY(groups.indexOf("Sheet \"Destinations\"") >= 0);
    QCOMPARE(reports->topLevelItem(0)->child(0)->text(1), QString("problem"));
    QCOMPARE(reports->topLevelItem(sources)->text(1), QString("1 notice"));
    QCOMPARE(reports->topLevelItem(sources)->child(0)->text(0), QString("Sources!C1"));
    reports->sortByColumn(1, Qt::DescendingOrder);  // notices first
    QCOMPARE(reports->topLevelItem(0)->text(0), QString("Sheet \"Sources\""));
    QVERIFY(details->findChild<QLabel*>("summary")->text().contains("Backup of the database as it was: "));
    QVERIFY(details->findChild<QWidget*>("openFolder") != nullptr);
    // The selected one in full below the list, and no column cut short.
    QTreeWidgetItem* first = reports->topLevelItem(0)->child(0);
    reports->setCurrentItem(first);
    const QString shown = details->findChild<QTextBrowser*>("message")->toPlainText();
    QVERIFY(shown.contains(first->text(2)));
    QVERIFY(shown.startsWith(first->text(0)));
    QVERIFY(reports->columnWidth(2) >= reports->fontMetrics().horizontalAdvance(first->text(2)));
    QVERIFY(reports->columnWidth(1) >= reports->fontMetrics().horizontalAdvance(reports->topLevelItem(0)->text(1)));

    const QString report = QString::fromStdString((dir_ / "report.txt").string());
    QCOMPARE(details->SaveReportTo(report), QString());
    QCOMPARE(details->findChild<QLabel*>("said")->text(),
             "Saved the report as " + report + " and " + QString::fromStdString((dir_ / "report.json").string()));
    QVERIFY(!details->SaveReportTo(File("two.xlsx")).isEmpty());  // never over the workbook
    QVERIFY(details->findChild<QLabel*>("said")->text().startsWith("The report was not saved: "));
    const std::string text = Bytes(dir_ / "report.txt");
    QVERIFY(text.find("workbook: " + File("two.xlsx").toStdString()) != std::string::npos);
    QVERIFY(text.find("database: " + File("details.db").toStdString()) != std::string::npos);
    QVERIFY(text.rfind("KVR Conversion ", 0) == 0);
    const auto json = QJsonDocument::fromJson(QByteArray::fromStdString(Bytes(dir_ / "report.json"))).object();
    QCOMPARE(json["schema"].toInt(), 1);
    QCOMPARE(json["command"].toString(), QString("convert"));
    std::filesystem::rename(out, dir_ / "details-moved");
    details->OpenFolder();
    QVERIFY(details->findChild<QLabel*>("said")->text().endsWith("it no longer exists."));
    details->close();
  }

  // Preview: Cancel leaves the database and the folder as they were; Apply
  // does what a plain run does, backup included.
  void previewCancelAndApply() {
    using std::filesystem::copy_file;
    CreateSwitcherDatabase(dir_ / "pristine.db", DatabaseSizes{4, 4, 2, 2, 2});
    for (const char* name : {"plain", "cancel", "apply"}) {
      std::filesystem::create_directories(dir_ / name);
      copy_file(dir_ / "pristine.db", dir_ / name / "sw.db");
    }
    const std::string pristine = Bytes(dir_ / "pristine.db");
    auto convert = [&](const char* name, ScriptedPreview* preview) {
      ScriptedChooser chooser;
      Yes yes;
      MainWindow w(&chooser, &yes, QString::fromStdString((dir_ / name).string()), preview);
      chooser.window = &w;
      if (preview != nullptr) w.findChild<QCheckBox*>("chkPreview")->click();
      chooser.answers = {QString::fromStdString((dir_ / name / "sw.db").string()), File("wb.xlsx")};
      RunAndWait(w, "cmdStart");
      QCoreApplication::processEvents();
      return std::make_pair(w.findChild<QLabel*>("lblStatus")->text(), w.findChild<QPushButton*>("cmdDetails")->text());
    };
    convert("plain", nullptr);

    ScriptedPreview cancel;
    cancel.answer = false;
    const auto [cancel_status, cancel_line] = convert("cancel", &cancel);
    QVERIFY(cancel.shown > 0);
    int records = 0;
    for (const auto& [table, count] : cancel.counts) records += count.records;
    QVERIFY(records > 0);
    QCOMPARE(Folder(dir_ / "cancel"), (std::map<std::string, std::string>{{"sw.db", pristine}}));
    QCOMPARE(cancel_status, QString());
    QVERIFY(cancel_line.startsWith("preview cancelled"));

    ScriptedPreview apply;
    convert("apply", &apply);
    QCOMPARE(apply.shown, cancel.shown);
    const auto plain = Folder(dir_ / "plain");
    QCOMPARE(Folder(dir_ / "apply"), plain);
    QCOMPARE(Dump(dir_ / "plain" / "sw.db.bak"), Dump(dir_ / "pristine.db"));  // the database as it was
    QVERIFY(plain.at("sw.db") != pristine);
  }

  void previewFiltersItsChanges() {
    const std::vector<FieldChange> changes = {{"InptAlphas", "Chan Num 1", "Label", std::string(""), std::string("Mic 1")},
                                              {"InptAlphas", "Chan Num 2", "Type", std::int64_t{0}, std::int64_t{3}},
                                              {"OutptAlphas", "Chan Num 1", "Label", std::string(""), std::string("PGM")}};
    PreviewDialog dialog(changes, {{"InptAlphas", {2, 2}}, {"OutptAlphas", {1, 1}}});
    QCOMPARE(dialog.ShownCount(), 3);
    dialog.Filter("label");  // any column, case aside
    QTRY_VERIFY(!dialog.Selecting());
    QCOMPARE(dialog.ShownCount(), 2);
    dialog.Filter("mic");
    QTRY_VERIFY(!dialog.Selecting());
    QCOMPARE(dialog.ShownCount(), 1);
    QCOMPARE(dialog.findChild<QLabel*>("shown")->text(), QString("1 of 3 changes shown"));
    QVERIFY(dialog.findChild<QLabel*>("counts")->text().contains("InptAlphas: 2 records, 2 fields"));
    QVERIFY(dialog.findChild<QPushButton*>("cancel")->isDefault());
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

  // Tab leaves the changes table as it leaves any control; the filter works
  // off the window's thread and its rows follow.
  void previewTabLeavesTheTable() {
    std::vector<FieldChange> changes;
    for (int i = 1; i <= 50; ++i) {
      changes.push_back({"InptAlphas", "Chan Num " + std::to_string(i), "Label", std::string(""),
                         std::string("Mic ") + std::to_string(i)});
    }
    PreviewDialog dialog(changes, {{"InptAlphas", {50, 50}}});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* table = dialog.findChild<QTableView*>("changes");
    table->setFocus();
    table->setCurrentIndex(table->model()->index(0, 0));
    QTest::keyClick(table, Qt::Key_Tab);
    QVERIFY(!table->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QVERIFY(table->hasFocus());
    QTest::keyClicks(dialog.findChild<QLineEdit*>("filter"), "Mic 4");
    QTRY_VERIFY(!dialog.Selecting());
    QCOMPARE(dialog.ShownCount(), 11);  // Mic 4, Mic 40 to Mic 49
    QCOMPARE(table->model()->index(0, 4).data().toString(), QString("\"Mic 4\""));
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

  // However small the screen, a dialog opens on it whole.
  void dialogsFitTheScreen() {
    MainWindow w;
    w.show();
    const QRect room = w.screen()->availableGeometry();
    DetailsDialog details(w.LastRun(), &w);
    FitToScreen(&details, room.width() * 2, room.height() * 2);
    details.show();
    QVERIFY(room.contains(details.frameGeometry()) || room.contains(details.geometry()));
    QVERIFY(details.width() <= room.width() && details.height() <= room.height());
  }
};

}  // namespace
}  // namespace kvr

QTEST_MAIN(kvr::MainWindowTest)
#include "main_window_test.moc"
