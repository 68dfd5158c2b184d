// The preview and details dialogs, on their own and after runs of the window, headless.
#include <QApplication>
#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBrowser>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include "app/qt/gui_test_support.h"
#include "app/qt/gui_util.h"
#include "app/qt/main_window.h"

namespace kvr {
namespace {

class DialogsTest : public QObject {
  Q_OBJECT

 private:
  TestFolder folder_;
  const std::filesystem::path& dir_ = folder_.dir;
  QString File(const char* name) const { return folder_.File(name); }

 private slots:
  void initTestCase() {
    folder_.Make("kvr_dialogs_");
    MakeStudio(dir_);
  }
  void cleanupTestCase() { std::filesystem::remove_all(dir_); }

  // A run whose console file exists and is kept, one module file written and
  // one that cannot be (a folder holds its name): the details view lists each,
  // the changes per table and the problems and notices grouped, and saves the
  // report as text and JSON.
  void detailsOfWrittenKeptAndFailedFiles() {
    const auto out = dir_ / "details";
    std::filesystem::create_directories(out / "Desk 2.cns");
    { std::ofstream(out / "Two.con") << "earlier"; }
    QVERIFY(CreateSwitcherDatabase(dir_ / "details.db", DatabaseSizes{4, 4, 2, 2, 2}).ok());
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
    // A missing sheet names no place: it is among the other steps.
    const int other = groups.indexOf("Files and other steps");
    bool missing_sheet = false;
    for (int i = 0; i < reports->topLevelItem(other)->childCount(); ++i) {
      missing_sheet |= reports->topLevelItem(other)->child(i)->text(2).contains("no sheet \"Destinations\"");
    }
    QVERIFY(missing_sheet);
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
    QCOMPARE(json["schema"].toInt(), 2);
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
    QVERIFY(CreateSwitcherDatabase(dir_ / "pristine.db", DatabaseSizes{4, 4, 2, 2, 2}).ok());
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
    const ChangeList changes = {{"InptAlphas", "Chan Num 1", "Label", std::string(""), std::string("Mic 1")},
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

  // Tab leaves the changes table as it leaves any control; the filter works
  // off the window's thread and its rows follow.
  void previewTabLeavesTheTable() {
    ChangeList changes;
    for (int i = 1; i <= 50; ++i) {
      changes.Add({"InptAlphas", "Chan Num " + std::to_string(i), "Label", std::string(""),
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

namespace testing {
int RunDialogTests(int argc, char** argv) {
  DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}
}  // namespace testing
}  // namespace kvr

#include "dialogs_test.moc"
