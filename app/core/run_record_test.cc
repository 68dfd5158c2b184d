// What every front end draws of a run: the record's groups, counts, summary
// and saved report; the output folder; the progress; the preview's search;
// the database sized for a plant.
#include "app/core/run_record.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/change_search.h"
#include "app/core/output_folder.h"
#include "app/core/plant_size.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"

namespace kvr {
namespace {

using testing::SheetRows;

RunResult Completed() {
  RunResult r;
  r.outcome = RunResult::Outcome::kCompleted;
  return r;
}

RunRecord Record(RunResult result, std::string database = "sw.db") {
  RunRecord record;
  record.inputs.command = "convert";
  record.inputs.workbook = "plant.xlsx";
  record.inputs.database = std::move(database);
  record.result = std::move(result);
  record.exit_status = ExitStatus(record.result, false);
  return record;
}

// Groups by sheet, then table, then the rest, in the order first met; those
// with problems first, and inside each the problems before the notices.
TEST(RunRecordTest, GroupsProblemsAndNoticesAsTheDetailsShowThem) {
  RunResult r = Completed();
  r.problems.Note(Where::Sheet("Sources", "C1"), "heading");
  r.problems.Note(Where::Record("InptAlphas", "Chan Num 3"), "cut");
  r.problems.Report(Where::Sheet("Destinations"), "missing");
  r.problems.Report("Desk 2.cns", "a folder is in the way");
  r.problems.Note(Where::Sheet("Destinations", "B4"), "odd");
  const auto groups = GroupReports(r.problems);
  ASSERT_EQ(groups.size(), 4u);
  EXPECT_EQ(groups[0].name, "Sheet \"Destinations\"");
  EXPECT_EQ(groups[0].Counts(), "1 problem, 1 notice");
  EXPECT_EQ(groups[0].problems.front()->message, "missing");
  EXPECT_EQ(groups[1].name, "Files and other steps");
  EXPECT_EQ(groups[1].Counts(), "1 problem");
  EXPECT_EQ(groups[2].name, "Sheet \"Sources\"");
  EXPECT_EQ(groups[2].Counts(), "1 notice");
  EXPECT_EQ(groups[3].name, "Table InptAlphas");
}

// A listing of values not read is counted apart: it is no notice, and a run
// with listings alone is clean.
TEST(RunRecordTest, ListingsAreCountedApartFromNotices) {
  RunResult r = Completed();
  r.problems.Note(Where::Sheet("System", "B5:B9"), "rows not read", Problems::kNotReadTag);
  EXPECT_EQ(GroupReports(r.problems)[0].Counts(), "1 place not read");
  const RunRecord listed = Record(r);
  EXPECT_EQ(listed.DetailTabs()[0], "0 problems, 0 notices, 1 place not read");
  EXPECT_EQ(listed.severity(), Severity::kClean);
  EXPECT_EQ(ExitStatus(listed.result, true), kExitOk);
  r.problems.Note(Where::Sheet("System", "C2"), "odd");
  EXPECT_EQ(GroupReports(r.problems)[0].Counts(), "1 notice, 1 place not read");
  EXPECT_EQ(Record(r).DetailTabs()[0], "0 problems, 1 notice, 1 place not read");
  EXPECT_EQ(ExitStatus(r, true), kExitProblems);
}

TEST(RunRecordTest, SummaryAndSeverity) {
  RunResult clean = Completed();
  clean.files = {{"a.con", FileOutcome::kWritten, {}}, {"b.cns", FileOutcome::kKept, "exists"}};
  clean.changed = {{"InptAlphas", {2, 5}}, {"OutptAlphas", {1, 1}}};
  EXPECT_EQ(Record(clean).Summary(), "1 file, 6 changes");
  EXPECT_EQ(Record(clean).severity(), Severity::kClean);
  EXPECT_EQ(Record(clean, "").Summary(), "1 file");  // a run without a database counts no changes

  RunResult noticed = clean;
  noticed.problems.Note("x", "n1");
  noticed.problems.Note("x", "n2");
  EXPECT_EQ(Record(noticed).Summary(), "2 notices");
  EXPECT_EQ(Record(noticed).severity(), Severity::kNotices);
  noticed.problems.Report("y", "p");
  EXPECT_EQ(Record(noticed).Summary(), "1 problem, 2 notices");
  EXPECT_EQ(Record(noticed).severity(), Severity::kProblems);

  // A conversion whose database was not reached is told as plainly as a
  // run that did not run, with the problem that says why; one that reached
  // it is not, whatever its problems.
  RunResult unreached = clean;
  unreached.problems.Report("site.mdb", "no Jet ODBC driver is installed", ErrorCode::kDatabase);
  EXPECT_EQ(Record(unreached).Summary(), "database not reached, 1 problem");
  EXPECT_EQ(Record(unreached).severity(), Severity::kProblems);
  const std::string alert = Record(unreached).Alert();
  EXPECT_NE(alert.find("The database was not reached"), std::string::npos) << alert;
  EXPECT_NE(alert.find("site.mdb: no Jet ODBC driver is installed"), std::string::npos) << alert;
  EXPECT_NE(alert.find("(1 file)"), std::string::npos) << alert;
  unreached.database_read = true;
  EXPECT_EQ(Record(unreached).Alert(), "");
  EXPECT_EQ(Record(noticed).Alert(), "");
  RunResult not_run;
  not_run.outcome = RunResult::Outcome::kNotRun;
  not_run.reason = "no workbook";
  EXPECT_EQ(Record(not_run).Alert(), "no workbook");

  RunResult cancelled;
  cancelled.outcome = RunResult::Outcome::kCancelled;
  cancelled.preview_cancelled = true;
  EXPECT_TRUE(Record(cancelled).HasDetails());
  EXPECT_EQ(Record(cancelled).Summary(), "preview cancelled");

  RunResult stopped;
  stopped.outcome = RunResult::Outcome::kInterrupted;
  stopped.reason = "interrupted: nothing was changed";
  EXPECT_EQ(Record(stopped).Summary(), stopped.reason);
  EXPECT_EQ(Record(stopped).severity(), Severity::kStopped);
  EXPECT_FALSE(Record(RunResult{}).HasDetails());  // cancelled at a file dialog: nothing to show
}

// Every table in table order, a table without changes at 0; none when the
// database was not read.
TEST(RunRecordTest, ChangesInTableOrder) {
  RunResult r = Completed();
  r.database_read = true;
  r.changed = {{"OptoRelaySets", {1, 2}}, {"InptAlphas", {3, 4}}};
  const auto changes = Record(r).Changes();
  ASSERT_EQ(changes.size(), kSwitcherTables.size());
  EXPECT_EQ(changes.front().table, "InptAlphas");
  EXPECT_EQ(changes.front().count.fields, 4);
  EXPECT_EQ(changes[1].table, "OutptAlphas");
  EXPECT_EQ(changes[1].count.records, 0);
  EXPECT_EQ(changes.back().table, "OptoRelaySets");
  r.database_read = false;
  EXPECT_TRUE(Record(r).Changes().empty());
  EXPECT_NE(Record(Completed()).ReportText().find("outcome: completed"), std::string::npos);
}

class RunRecordFilesTest : public testing::TempDirTest {};

// The report as text and JSON beside it; never over the workbook.
TEST_F(RunRecordFilesTest, SavesTheReportAsTextAndJson) {
  RunRecord record = Record(Completed(), File("sw.db").string());
  record.inputs.workbook = File("plant.xlsx").string();
  testing::WriteBytes(File("plant.xlsx"), "workbook");
  const auto saved = record.SaveReport(File("run.txt"));
  ASSERT_TRUE(saved.ok()) << saved.why();
  EXPECT_EQ(*saved, File("run.json"));
  const std::string text = testing::ReadBytes(File("run.txt"));
  EXPECT_EQ(text.rfind("KVR Conversion ", 0), 0u);
#ifdef _WIN32
  EXPECT_EQ(text.find("\r\r"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r')) << "CRLF lines";
#else
  EXPECT_EQ(text.find('\r'), std::string::npos);
#endif
  EXPECT_EQ(nlohmann::json::parse(testing::ReadBytes(File("run.json")))["command"], "convert");
  EXPECT_EQ(*record.SaveReport(File("run")), File("run.json"));  // no ".txt": ".json" is added

  const auto refused = record.SaveReport(File("plant.xlsx"));
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.why().find("the workbook"), std::string::npos) << refused.why();
  EXPECT_EQ(testing::ReadBytes(File("plant.xlsx")), "workbook");
}

// The files the run chose become its inputs, a password never among them;
// the exit status follows --strict.
TEST_F(RunRecordFilesTest, RunAndRecordTakesTheInputsAsChosen) {
  class Chooser : public FileChooser {
   public:
    std::string workbook;
    std::string GetFileName(const std::string&, const std::string& ext, int) override {
      return AsksForDatabase(ext) ? "odbc:DSN=plant;PWD=hunter2" : workbook;
    }
  } chooser;
  class Quiet : public StatusSink {
    void SetStatus(const std::string&) override {}
  } status;
  class No : public OverwriteQuestion {
    bool Ask(const std::string&, const std::string&) override { return false; }
  } no;
  chooser.workbook = File("wb.xlsx").string();
  testing::WriteXlsx(File("wb.xlsx"), {{"System", SheetRows{{std::string("Name:"), std::string("")}}},
                                       {"Crosspoints", SheetRows{{std::string("P-Level")}, {1.0}}}});
  RunContext ctx{chooser, no, status, false, dir_};
  auto vars = std::make_unique<Variables>();
  RunInputs strict;
  strict.strict = true;
  const RunRecord xpoints = RunAndRecord(*FindRunCommand("xpoints"), *vars, ctx, strict);
  EXPECT_EQ(xpoints.inputs.command, "xpoints");
  EXPECT_EQ(xpoints.inputs.workbook, chooser.workbook);
  EXPECT_EQ(xpoints.inputs.database, "");  // the crosspoint run takes no database
  EXPECT_EQ(xpoints.inputs.output_folder, dir_);
  EXPECT_FALSE(xpoints.result.problems.notices().empty());  // the empty system name
  EXPECT_EQ(xpoints.exit_status, kExitProblems);            // strict: a notice counts

  const RunRecord convert = RunAndRecord(*FindRunCommand("convert"), *vars, ctx, RunInputs{});
  EXPECT_EQ(convert.inputs.database.find("hunter2"), std::string::npos) << convert.inputs.database;
  EXPECT_EQ(convert.inputs.database.rfind("odbc:", 0), 0u);
  EXPECT_EQ(FindRunCommand("export"), nullptr);
  EXPECT_EQ(RecordNotRun(*FindRunCommand("check"), RunInputs{}, "why").exit_status, kExitNotRun);
}

TEST_F(RunRecordFilesTest, OutputFolders) {
  // The user's choice while it is a folder; else the program's folder when
  // it takes files (no probe left behind); else the user's folder, made.
  std::filesystem::create_directories(File("chosen"));
  EXPECT_TRUE(WindowOutputFolder(File("chosen"), dir_, File("mine")).chosen);
  const OutputFolder own = WindowOutputFolder(File("gone"), dir_, File("mine"));
  EXPECT_EQ(own.path, dir_);
  EXPECT_FALSE(own.fell_back || own.chosen);
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    EXPECT_NE(e.path().filename().string().rfind(".probe", 0), 0u) << "a probe file was left";
  }
  testing::WriteBytes(File("not-a-folder"), "x");
  const OutputFolder fallback = WindowOutputFolder({}, File("not-a-folder"), File("mine"));
  EXPECT_EQ(fallback.path, File("mine"));
  EXPECT_TRUE(fallback.fell_back);
  EXPECT_TRUE(std::filesystem::is_directory(File("mine")));

  // An installed program's folder is never written to, writable or not: a
  // per-user setup's folder (its uninstaller beside the program), a Unix
  // prefix's bin (its documents under share/doc).
  std::filesystem::create_directories(File("setup"));
  testing::WriteBytes(File("setup") / "uninstall.exe", "MZ");
  std::filesystem::create_directories(File("usr") / "bin");
  std::filesystem::create_directories(File("usr") / "share" / "doc" / "kvrconversion");
  for (const std::filesystem::path& installed : {File("setup"), File("usr") / "bin"}) {
    EXPECT_TRUE(IsInstalledProgramFolder(installed)) << installed;
    const OutputFolder documents = WindowOutputFolder({}, installed, File("Documents") / "KVR Conversion");
    EXPECT_EQ(documents.path, File("Documents") / "KVR Conversion");
    EXPECT_TRUE(documents.fell_back);
    EXPECT_EQ(DialogStartFolder({}, documents), documents.path);  // never the program's folder
  }
  EXPECT_FALSE(IsInstalledProgramFolder(dir_));
  // An installation's example is copied once to where the user may write.
  std::filesystem::create_directories(File("setup") / "example");
  testing::WriteBytes(File("setup") / "example" / "plant.xlsx", "workbook");
  testing::WriteBytes(File("setup") / "example" / "Switcher.db", "database");
  const OutputFolder documents = WindowOutputFolder({}, File("setup"), File("Documents") / "KVR Conversion");
  EXPECT_EQ(CopyExampleFor(File("setup"), documents), documents.path / "example");
  EXPECT_EQ(testing::ReadBytes(documents.path / "example" / "Switcher.db"), "database");
  testing::WriteBytes(documents.path / "example" / "Switcher.db", "converted by the user");
  EXPECT_EQ(CopyExampleFor(File("setup"), documents), std::filesystem::path());  // never again
  EXPECT_EQ(testing::ReadBytes(documents.path / "example" / "Switcher.db"), "converted by the user");
  EXPECT_EQ(CopyExampleFor(dir_, own), std::filesystem::path());  // a portable copy uses its own example
  // The dialogs open where the user last took a file from, while it exists.
  EXPECT_EQ(DialogStartFolder(File("chosen"), own), File("chosen"));
  EXPECT_EQ(DialogStartFolder(File("gone"), own), dir_);

  // The command line's folder: made with its parents, removed again if nothing came.
  const auto made = PrepareOutputFolder(File("a") / "b" / "c");
  ASSERT_TRUE(made.ok()) << made.why();
  EXPECT_EQ(*made, File("a"));
  EXPECT_EQ(*PrepareOutputFolder(File("a") / "b"), std::filesystem::path());  // it exists
  RemoveIfNothingCame(*made);
  EXPECT_FALSE(std::filesystem::exists(File("a")));
  ASSERT_TRUE(PrepareOutputFolder(File("k") / "l").ok());
  testing::WriteBytes(File("k") / "l" / "out.con", "x");
  RemoveIfNothingCame(File("k"));
  EXPECT_TRUE(std::filesystem::exists(File("k") / "l" / "out.con"));
  EXPECT_FALSE(PrepareOutputFolder(File("not-a-folder")).ok());
  EXPECT_FALSE(PrepareOutputFolder(File("not-a-folder") / "below").ok());

  EXPECT_EQ(FilePatternsFor("xls"), "*.xls *.xlsx *.xlsm *.ods");
  EXPECT_EQ(FilePatternsFor("mdb"), "*.mdb *.db *.sqlite *.sqlite3");
}

// A sheet of `rows` numbered rows under "#" and `heading`.
SheetRows Numbered(const std::string& heading, int rows) {
  SheetRows sheet{{std::string("#"), heading}};
  for (int n = 1; n <= rows; ++n) sheet.push_back({static_cast<double>(n), heading + " " + std::to_string(n)});
  return sheet;
}

// A database made for a workbook holds every record the plant addresses;
// a size given still holds over it.
TEST_F(RunRecordFilesTest, DatabaseSizedForThePlant) {
  testing::WriteXlsx(File("plant.xlsx"),
                     {{"System", SheetRows{{std::string("Name:"), std::string("P")}, {std::string("Inputs"), 300.0},
                                           {std::string("Outputs"), 40.0}, {std::string("Consoles"), 2.0}}},
                      {"Destinations", Numbered("Label", 41)},  // one past the count
                      {"Location", Numbered("Location Name", 31)},
                      {"Console Name", Numbered("Console Name", 5)},
                      {"RC", Numbered("Set Name", 12)}});
  const auto sizes = DatabaseSizesFor(File("plant.xlsx"));
  ASSERT_TRUE(sizes.ok()) << sizes.why();
  EXPECT_EQ(sizes->inputs, 300);
  EXPECT_EQ(sizes->outputs, 41);
  EXPECT_EQ(sizes->consoles, 5);
  EXPECT_EQ(sizes->locations, 31);
  EXPECT_EQ(sizes->sets, 12);
  EXPECT_FALSE(DatabaseSizesFor(File("none.xlsx")).ok());
}

TEST(RunProgressTest, SheetsWhileTheyAreReadThenTablesAndStages) {
  RunProgress progress;
  EXPECT_EQ(progress.Text(), "");
  progress.Start();
  EXPECT_FALSE(progress.ShowNow());  // nothing to show yet, and not a second old
  progress.Sheet(3, 17, "Opto");
  progress.Table(1, 7, "InptAlphas");  // the tables are updated beside the sheets
  EXPECT_EQ(progress.Text(), "Reading sheet 3 of 17: Opto");
  progress.SheetsDone();
  EXPECT_EQ(progress.Text(), "Updating table 1 of 7: InptAlphas");
  progress.Stage("Writing the files");
  EXPECT_EQ(progress.Text(), "Writing the files");
}

// Filters hold in any one cell, case aside, never across two; a longer
// filter narrows the last result; sorts put numbers by value.
TEST(ChangeSearchTest, FiltersNarrowsAndSorts) {
  const ChangeList changes = {
      {"InptAlphas", "Chan Num 1", "Label", std::string(""), std::string("Mic 1")},
      {"InptAlphas", "Chan Num 2", "Type", std::int64_t{10}, std::int64_t{3}},
      {"OutptAlphas", "Chan Num 1", "Label", std::string(""), std::string("PGM")},
      {"InptAlphas", "Chan Num 3", "Type", std::int64_t{2}, std::int64_t{9}}};
  ChangeSearch search(changes);
  const std::atomic<bool> go{false};
  auto rows = [&](ChangeQuery q) { return *search.Select(q, nullptr, nullptr, go); };
  EXPECT_EQ(rows({}), (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(rows({"LABEL", {}, false}), (std::vector<std::uint32_t>{0, 2}));
  EXPECT_EQ(rows({"mic", {}, false}), (std::vector<std::uint32_t>{0}));
  EXPECT_TRUE(rows({"alphaschan", {}, false}).empty());  // "InptAlphas" + "Chan Num 1" is no cell
  EXPECT_EQ(rows({"", ChangeColumn::kOld, false}), (std::vector<std::uint32_t>{3, 1, 0, 2}));
  EXPECT_EQ(rows({"type", ChangeColumn::kNew, true}), (std::vector<std::uint32_t>{3, 1}));

  // Texts that differ only at their ends sort by their whole text.
  const ChangeList labels = {{"T", "K 1", "Label", std::string("Studio 19"), std::string("")},
                             {"T", "K 2", "Label", std::string("Studio 10"), std::string("")},
                             {"T", "K 3", "Label", std::string("Studio 1"), std::string("")}};
  ChangeSearch by_label(labels);
  EXPECT_EQ(*by_label.Select({"", ChangeColumn::kOld, false}, nullptr, nullptr, go),
            (std::vector<std::uint32_t>{2, 1, 0}));

  const ChangeQuery wide{"chan", {}, false}, narrow{"chan num 1", {}, false};
  const std::vector<std::uint32_t> earlier = {2};  // the narrowing looks only at these
  EXPECT_EQ(*search.Select(narrow, &wide, &earlier, go), earlier);
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(search.Select({"x", {}, false}, nullptr, nullptr, stop).has_value());
}

}  // namespace
}  // namespace kvr
