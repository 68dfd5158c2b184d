// The three runs with a scripted chooser, question and status label.
#include "app/core/runs.h"

#include <gtest/gtest.h>

#include "base/interrupt.h"
#include "tables/new_database.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"

namespace kvr {
namespace {

using testing::Query;
using testing::SheetRows;

class ScriptedChooser : public FileChooser {
 public:
  std::vector<std::string> answers;  // handed out in order; "" past the end
  std::vector<std::string> asked;    // "sFileName|sExtension|iType"
  std::string GetFileName(const std::string& name, const std::string& ext, int type) override {
    asked.push_back(name + "|" + ext + "|" + std::to_string(type));
    return asked.size() <= answers.size() ? answers[asked.size() - 1] : "";
  }
};

class RecordingStatus : public StatusSink {
 public:
  std::vector<std::string> shown;
  void SetStatus(const std::string& text) override { shown.push_back(text); }
};

class FixedAnswer : public OverwriteQuestion {
 public:
  int asked = 0;
  bool Ask(const std::string&, const std::string&) override {
    ++asked;
    return true;
  }
};

using RunFunction = RunResult (*)(Variables&, RunContext&);

class RunsTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    out_ = dir_ / "out";
    std::filesystem::create_directories(out_);
    db_ = File("sw.db").string();
    ASSERT_TRUE(CreateSwitcherDatabase(db_, DatabaseSizes{4, 4, 2, 3, 2}).ok());
    vars_ = std::make_unique<Variables>();
  }
  RunContext Context() { return RunContext{chooser_, question_, status_, false, out_, false}; }
  std::string Workbook(const std::string& name, const std::vector<std::pair<std::string, SheetRows>>& sheets) {
    const auto path = File(name);
    testing::WriteXlsx(path, sheets);
    return path.string();
  }
  std::size_t OutputFiles() const { return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(out_), {})); }

  std::filesystem::path out_;
  std::string db_;
  std::unique_ptr<Variables> vars_;
  ScriptedChooser chooser_;
  FixedAnswer question_;
  RecordingStatus status_;
};

const std::vector<std::pair<std::string, SheetRows>> kSmall = {
    {"System", {{std::string("Name:"), std::string("Studio A")}, {std::string("Inputs"), 2.0},
                {std::string("Outputs"), 2.0}, {std::string("Consoles"), 1.0}}},
    {"Sources", {{std::string("Chan"), std::string("Chan Label")}, {1.0, std::string("Mic 1")}}},
    {"Location", {{std::string("#"), std::string("Location Name")}, {1.0, std::string("L1")},
                  {2.0, std::string("L2")}, {3.0, std::string("L3")}}},
    {"Console #1", {{std::string("Desk"), std::monostate{}, 1.0, 1.0}}},
};

TEST_F(RunsTest, ConversionAsksForDatabaseThenWorkbookAndEndsCompleted) {
  chooser_.answers = {db_, Workbook("a.xlsx", kSmall)};
  auto ctx = Context();
  const RunResult r = ConversionRun(*vars_, ctx);
  ASSERT_EQ(r.outcome, RunResult::Outcome::kCompleted) << r.reason;
  EXPECT_EQ(chooser_.asked, (std::vector<std::string>{"Switcher.mdb|mdb|1", "Excel|xls|1"}));
  EXPECT_EQ(status_.shown, (std::vector<std::string>{"In Process", "Completed"}));
  EXPECT_EQ(Query(db_, "SELECT Label FROM InptAlphas WHERE \"Chan Num\"=1"), "Mic 1");
  EXPECT_EQ(r.written.size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(out_ / "Studio A.con"));
  EXPECT_TRUE(std::filesystem::exists(out_ / "Desk.cns"));
  // Missing sheets are problems, not silence; they name no place, as the
  // sheet they would name does not exist.
  std::vector<std::string> said;
  for (const auto& p : r.problems.list()) said.push_back(p.ToString());
  std::vector<std::string> expected;
  for (const char* sheet : {"Destinations", "Opto", "Relay", "Console Name", "RC", "Console Config"}) {
    expected.push_back(std::string("the workbook has no sheet \"") + sheet + "\"; nothing read from it");
  }
  EXPECT_EQ(said, expected);
}

TEST_F(RunsTest, EarlyEndsWriteNothingAndLeaveTheStatus) {
  const std::string workbook = Workbook("a.xlsx", kSmall);
  testing::WriteBytes(File("text.mdb"), "not a database");
  testing::WriteBytes(File("broken.xlsx"), "PK\x03\x04 truncated");
  struct Case { std::vector<std::string> answers; RunResult::Outcome outcome; std::size_t asked; const char* reason; } cases[] = {
      {{}, RunResult::Outcome::kCancelled, 1, ""},
      {{File("none.mdb").string()}, RunResult::Outcome::kNotRun, 1, "database not found"},
      {{File("text.mdb").string()}, RunResult::Outcome::kNotRun, 1, "not a switcher database"},
      {{db_}, RunResult::Outcome::kCancelled, 2, ""},
      {{db_, File("none.xlsx").string()}, RunResult::Outcome::kNotRun, 2, "workbook not found"},
      {{db_, File("broken.xlsx").string()}, RunResult::Outcome::kNotRun, 2, "not a workbook"},
      {{db_, File("text.mdb").string()}, RunResult::Outcome::kNotRun, 2, "not a workbook"},
  };
  for (const auto& c : cases) {
    chooser_ = ScriptedChooser();
    chooser_.answers = c.answers;
    status_.shown.clear();
    auto ctx = Context();
    const RunResult r = ConversionRun(*vars_, ctx);
    EXPECT_EQ(r.outcome, c.outcome) << r.reason;
    EXPECT_EQ(chooser_.asked.size(), c.asked);
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    EXPECT_TRUE(status_.shown.empty());
  }
  EXPECT_EQ(OutputFiles(), 0u);
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM InptAlphas WHERE Label <> ''"), "0");
}

// A stop asked for before the commit leaves the database and the folder as
// they were; one asked for after it (at the overwrite question) lets the run
// complete, as the database and its files belong together.
TEST_F(RunsTest, AStopTakesEffectOnlyBeforeTheChangesAreKept) {
  struct StopOn : StatusSink {
    std::string when;
    void SetStatus(const std::string& text) override {
      if (text == when) RequestInterrupt();
    }
  };
  struct StopAndYes : OverwriteQuestion {
    bool Ask(const std::string&, const std::string&) override {
      RequestInterrupt();
      return true;
    }
  };
  const std::string workbook = Workbook("a.xlsx", kSmall);
  for (RunFunction run : {&ConversionRun, &DemoIniRun, &CrosspointExportRun, &CheckRun}) {
    ClearInterrupt();
    StopOn stop;
    stop.when = "In Process";
    chooser_ = ScriptedChooser();
    chooser_.answers = {db_, workbook};
    if (run != &ConversionRun) chooser_.answers = {workbook};
    RunContext ctx{chooser_, question_, stop, false, out_, false};
    const RunResult r = run(*vars_, ctx);
    EXPECT_EQ(r.outcome, RunResult::Outcome::kInterrupted);
    EXPECT_EQ(r.reason, "interrupted: nothing was changed");
  }
  ClearInterrupt();
  EXPECT_EQ(OutputFiles(), 0u);
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM InptAlphas WHERE Label <> ''"), "0");

  testing::WriteBytes(out_ / "Studio A.con", "earlier");
  chooser_ = ScriptedChooser();
  chooser_.answers = {db_, workbook};
  StopAndYes stop_and_yes;
  RunContext ctx{chooser_, stop_and_yes, status_, false, out_, false};
  const RunResult r = ConversionRun(*vars_, ctx);
  ClearInterrupt();
  EXPECT_EQ(r.outcome, RunResult::Outcome::kCompleted) << r.reason;
  EXPECT_EQ(Query(db_, "SELECT Label FROM InptAlphas WHERE \"Chan Num\"=1"), "Mic 1");
  EXPECT_NE(testing::ReadBytes(out_ / "Studio A.con"), "earlier");
}

// A module sheet past a bound is met while the database phase already runs
// beside the sheet phase: the run ends as not run, the database is rolled
// back and no file is written.
TEST_F(RunsTest, AWorkbookPastABoundLateInTheSheetsChangesNothing) {
  auto sheets = kSmall;
  sheets.back().second.push_back({std::string(40000, 'x')});  // longer than a cell holds
  chooser_.answers = {db_, Workbook("long.xlsx", sheets)};
  auto ctx = Context();
  const RunResult r = ConversionRun(*vars_, ctx);
  EXPECT_EQ(r.outcome, RunResult::Outcome::kNotRun);
  EXPECT_NE(r.reason.find("32767 characters"), std::string::npos) << r.reason;
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM InptAlphas WHERE Label <> ''"), "0");
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM LocationAlphas WHERE Label <> ''"), "0");
  EXPECT_EQ(OutputFiles(), 0u);
}

TEST_F(RunsTest, EveryRunStartsFromEmptyTables) {
  chooser_.answers = {db_, Workbook("a.xlsx", kSmall)};
  auto ctx = Context();
  ConversionRun(*vars_, ctx);
  EXPECT_EQ(vars_->locations[2].locationNumber, 3);
  auto fewer = kSmall;
  fewer[2].second.resize(2);  // location 1 only
  fewer[2].second[1][1] = std::string("New 1");
  testing::Exec(db_, "UPDATE LocationAlphas SET Label = 'Mine'");
  chooser_ = ScriptedChooser();
  chooser_.answers = {db_, Workbook("b.xlsx", fewer)};
  ConversionRun(*vars_, ctx);
  EXPECT_EQ(vars_->locations[2].locationNumber, 0);
  EXPECT_EQ(Query(db_, "SELECT group_concat(Label) FROM LocationAlphas"), "New 1,Mine,Mine");
}

TEST_F(RunsTest, DryRunChangesNothingAndCountsTheChanges) {
  chooser_.answers = {db_, Workbook("a.xlsx", kSmall)};
  auto ctx = Context();
  ctx.dry_run = true;
  const RunResult r = ConversionRun(*vars_, ctx);
  ASSERT_EQ(r.outcome, RunResult::Outcome::kCompleted);
  EXPECT_EQ(Query(db_, "SELECT Label FROM InptAlphas WHERE \"Chan Num\"=1"), "");
  EXPECT_EQ(OutputFiles(), 0u);
  EXPECT_EQ(r.would_write, (std::vector<std::string>{"Studio A.con", "Desk.cns"}));
  bool label_change = false;
  for (const auto& c : r.changes) label_change |= c.table == "InptAlphas" && c.field == "Label";
  EXPECT_TRUE(label_change);
}

TEST_F(RunsTest, JetDatabaseIsReportedAndTheFilesAreStillWritten) {
  testing::WriteBytes(File("old.mdb"), std::string("\x00\x01\x00\x00Standard Jet DB\x00", 20));
  chooser_.answers = {File("old.mdb").string(), Workbook("a.xlsx", kSmall)};
  auto ctx = Context();
  const RunResult r = ConversionRun(*vars_, ctx);
  ASSERT_EQ(r.outcome, RunResult::Outcome::kCompleted);
  EXPECT_EQ(r.written.size(), 2u);
  // The problem says which driver or package to use: on 64-bit Windows the
  // 32-bit package, which Windows' own Jet driver serves.
#ifdef _WIN32
  const std::string advice = sizeof(void*) == 8 ? "use the 32-bit package of this program (kvrconversion-windows-i686)"
                                                : "Windows carries one for 32-bit programs";
#else
  const std::string advice = "give an ODBC connection string as odbc:";
#endif
  bool reported = false;
  for (const auto& p : r.problems.list()) {
    reported |= p.message.find("no Jet ODBC driver") != std::string::npos && p.message.find(advice) != std::string::npos;
  }
  EXPECT_TRUE(reported) << r.problems.list().at(0).ToString();
}

TEST_F(RunsTest, DemoAndCrosspointRunsClearTheStatusFirst) {
  const auto workbook = Workbook("x.xlsx", {{"System", {{std::string("Name:"), std::string("Plant")}}},
                                            {"Crosspoints", {{std::string("P-Level"), std::string("Source"),
                                                              std::string("Destination")},
                                                             {1.0, 12.0, 7.0}}}});
  chooser_.answers = {workbook};
  auto ctx = Context();
  RunResult r = CrosspointExportRun(*vars_, ctx);
  EXPECT_EQ(status_.shown, (std::vector<std::string>{"", "In Process", "Completed"}));
  EXPECT_EQ(testing::ReadBytes(out_ / "Plant Crosspoints.xpt"), std::string("\x01\x00\x01\x00\x0B\x00\x06\x00", 8));
  EXPECT_TRUE(r.problems.empty());

  chooser_ = ScriptedChooser();
  chooser_.answers = {workbook};
  status_.shown.clear();
  r = DemoIniRun(*vars_, ctx);
  EXPECT_EQ(status_.shown, (std::vector<std::string>{"", "In Process", "Completed"}));
  EXPECT_EQ(testing::ReadBytes(out_ / "DemoSetup.ini").substr(0, 22), "[SYSTEM]\r\nName=Plant\r\n");
  ASSERT_EQ(r.problems.size(), 1u);  // no "32QX" sheet
  EXPECT_EQ(r.problems.list()[0].ToString(), "the workbook has no sheet \"32QX\"; no frames or slots written");

  chooser_ = ScriptedChooser();  // cancelled: the status was cleared, nothing more
  status_.shown.clear();
  EXPECT_EQ(DemoIniRun(*vars_, ctx).outcome, RunResult::Outcome::kCancelled);
  EXPECT_EQ(status_.shown, (std::vector<std::string>{""}));
}

TEST_F(RunsTest, BigSwitchChangesOnlyTheFunctionCodes) {
  auto sheets = kSmall;
  sheets[3].second = {{std::string("Desk"), std::monostate{}, 1.0, 1.0},
                      {std::string("Type"), std::monostate{}, std::monostate{}, std::string("Input")},
                      {1.0, std::string("Bus Assn"), std::monostate{}, 3.0}};
  const auto workbook = Workbook("a.xlsx", sheets);
  std::string files[2];
  for (int big = 0; big < 2; ++big) {
    chooser_ = ScriptedChooser();
    chooser_.answers = {db_, workbook};
    auto ctx = Context();
    ctx.big_switch = big == 1;
    ConversionRun(*vars_, ctx);
    files[big] = testing::ReadBytes(out_ / "Desk.cns");
  }
  ASSERT_EQ(files[0].size(), files[1].size());
  std::vector<std::size_t> differ;
  for (std::size_t i = 0; i < files[0].size(); ++i) {
    if (files[0][i] != files[1][i]) differ.push_back(i);
  }
  EXPECT_EQ(differ, (std::vector<std::size_t>{8 + 40}));  // the first function code: 10 vs 100
}

// check reads what the three commands read, asks for the workbook alone,
// writes nothing, and says each place once though two readers pass it.
TEST_F(RunsTest, CheckReadsEverythingAndWritesNothing) {
  auto sheets = kSmall;
  sheets[3].second.push_back({std::string("Type"), std::monostate{}, std::monostate{}, std::string("Input")});
  sheets[3].second[0][3] = 50.0;  // a module number past the table: both readers say so
  chooser_.answers = {Workbook("c.xlsx", sheets)};
  auto ctx = Context();
  const RunResult r = CheckRun(*vars_, ctx);
  ASSERT_EQ(r.outcome, RunResult::Outcome::kCompleted) << r.reason;
  EXPECT_EQ(chooser_.asked, (std::vector<std::string>{"Excel|xls|1"}));
  EXPECT_EQ(OutputFiles(), 0u);
  EXPECT_TRUE(r.files.empty());
  std::size_t at_d1 = 0, missing_32qx = 0;
  for (const auto& p : r.problems.list()) {
    at_d1 += p.place() == "'Console #1'!D1" ? 1 : 0;
    missing_32qx += p.message.find("\"32QX\"") != std::string::npos ? 1 : 0;
  }
  for (const auto& n : r.problems.notices()) {
    at_d1 += n.place() == "'Console #1'!D1" ? 1 : 0;
    if (n.message.find("no sheet \"32QX\"") != std::string::npos) {
      EXPECT_EQ(n.ToString(), "the workbook has no sheet \"32QX\", which only demo-ini reads; convert needs none of it");
    }
  }
  EXPECT_EQ(at_d1, 1u);         // the conversion's reader says it; the demo run's adds nothing
  EXPECT_EQ(missing_32qx, 0u);  // a plant that only converts has no "32QX": a notice, not a problem
  EXPECT_EQ(status_.shown, (std::vector<std::string>{"In Process", "Completed"}));

  // A console file the conversion would refuse is said, still without writing.
  sheets[0].second[0][1] = std::string("A/B");
  chooser_.answers = {Workbook("d.xlsx", sheets)};
  chooser_.asked.clear();
  const RunResult named = CheckRun(*vars_, ctx);
  bool refused = false;
  for (const auto& p : named.problems.list()) {
    refused |= p.ToString() == "A/B.con: no console configuration file written: the system name cannot name a file "
                               "(it holds a path separator)";
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(OutputFiles(), 0u);
}

}  // namespace
}  // namespace kvr
