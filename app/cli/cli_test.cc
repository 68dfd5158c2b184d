#include "app/cli/cli.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <thread>
#include <nlohmann/json.hpp>

#include "app/cli/terminal.h"
#include "base/interrupt.h"
#include "tables/switcher_database.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"

namespace kvr {
namespace {

struct CliResult {
  int status;
  std::string out, err;
};

CliResult RunCli(std::vector<const char*> args) {
  args.insert(args.begin(), "kvrconversion");
  std::ostringstream out, err;
  const int status = RunCommandLine(static_cast<int>(args.size()), args.data(), out, err);
  return {status, out.str(), err.str()};
}

const std::string kTypes = std::string(KVR_FIXTURES_DIR) + "/types.xlsx";

TEST(CommandLineTest, SheetPrintsTheGridAsJson) {
  const auto r = RunCli({"sheet", "--workbook", kTypes.c_str(), "--sheet", "Cells"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["rows"], 3);
  EXPECT_EQ(doc["columns"], 6);
  EXPECT_EQ(doc["cells"][0][0], "2.5");
  EXPECT_TRUE(doc["cells"][1][0].is_null());  // #DIV/0!
  EXPECT_EQ(doc["cells"][2][3], "Ünïcödé ✓ 𝄞");
  EXPECT_EQ(RunCli({"sheet", "--workbook", kTypes.c_str(), "--sheet", "Empty"}).out,
            "{\"rows\":0,\"columns\":0,\"cells\":[]}\n");
}

TEST(CommandLineTest, FailuresExitWithTwoAndSayWhy) {
  auto r = RunCli({"sheet", "--workbook", kTypes.c_str(), "--sheet", "Nope"});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("has no sheet \"Nope\""), std::string::npos);
  r = RunCli({"sheet", "--workbook", "/nonexistent.xlsx", "--sheet", "A"});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("cannot open"), std::string::npos);
  EXPECT_EQ(RunCli({"sheet", "--workbook", kTypes.c_str()}).status, kExitNotRun);  // --sheet missing
  EXPECT_EQ(RunCli({}).status, kExitNotRun);
  EXPECT_EQ(RunCli({"frobnicate"}).status, kExitNotRun);
}

// Mistakes on the command line are named plainly, with the name meant.
TEST(CommandLineTest, UsageErrorsGuide) {
  struct Case {
    std::vector<const char*> args;
    const char* says;
  } cases[] = {
      {{"conver"}, "kvrconversion: unknown command conver; did you mean convert?"},
      {{"convert", "--out-dir", "x", "--database", "d", "--workbook", "w"},
       "kvrconversion: unknown option --out-dir; did you mean --output-dir?"},
      {{"convert"}, "kvrconversion: convert needs --database and --workbook"},
      {{"new-database", "--database", "x.db", "--inputs", "lots"}, "\"lots\" is not a number"},
      {{"new-database", "--database", "x.db", "--sets", "40000"}, "40000 is more than 32767"},
      {{"convert", "--database", "d", "--workbook", "w", "--verbose"}, "give it with --dry-run"},
      {{"convert", "--database", "d", "--workbook", "w", "--yes", "--no"}, "--yes and --no cannot both be given"},
      {{"help", "nope"}, "no command \"nope\""},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.status, kExitNotRun) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunCli({"--version"}).out, "kvrconversion 0.1.0\n");
  EXPECT_EQ(RunCli({"version"}).out, "kvrconversion 0.1.0\n");
  const auto help = RunCli({"help", "demo-ini"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_NE(help.out.find("Examples:\n  kvrconversion demo-ini"), std::string::npos);
  EXPECT_EQ(help.out.find("--database"), std::string::npos);  // only its own options
  const auto all = RunCli({"help"});  // every command, not the options of "help" itself
  EXPECT_NE(all.out.find("Usage: kvrconversion [OPTIONS] SUBCOMMAND"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("new-database"), std::string::npos);
}

TEST(CommandLineTest, HelpDocumentsExitStatuses) {
  const auto r = RunCli({"--help"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
}

TEST(CommandLineTest, SystemPrintsTheSettings) {
  const auto r = RunCli({"system", "--workbook", kTypes.c_str()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "SystemName: Studio A\nInputCount: 64\nOutputCount: 48\nConsoleCount: 4\n");
}

class CommandLineRunTest : public testing::TempDirTest {};

TEST_F(CommandLineRunTest, ConvertDryRunInspectAndExitStatuses) {
  const std::string db = File("sw.db").string(), out = dir_.string();
  const std::string plant = std::string(KVR_EXAMPLES_DIR) + "/plant.xlsx";
  ASSERT_EQ(RunCli({"new-database", "--database", db.c_str(), "--inputs", "256", "--outputs", "192", "--consoles",
                    "6", "--locations", "24", "--sets", "16"}).status,
            kExitOk);
  EXPECT_EQ(RunCli({"new-database", "--database", db.c_str()}).status, kExitNotRun);  // never overwritten

  auto r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str(),
                   "--dry-run", "--verbose"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("dry run: nothing was written"), std::string::npos);
  EXPECT_NE(r.out.find("InptAlphas: 256 record(s),"), std::string::npos);
  EXPECT_NE(r.out.find("  InptAlphas, Chan Num 1, Label: \"\" -> \"CD 1\""), std::string::npos);
  EXPECT_NE(r.out.find("would write Plant A.con"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);  // the database alone

  r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("wrote " + (dir_ / "Plant A.con").string()), std::string::npos);
  r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str(), "--no"});
  EXPECT_EQ(r.status, kExitOk);  // declining to overwrite is no problem
  EXPECT_EQ(r.out.find("wrote"), std::string::npos);
  EXPECT_NE(r.err.find("kvrconversion: kept " + (dir_ / "Plant A.con").string() + " (it exists; --no); give --yes"),
            std::string::npos)
      << r.err;
  // With neither --yes nor --no and no terminal, an existing file is kept
  // and that is a problem: the outputs are not what the workbook gives. The
  // dry run says so beforehand.
  r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str()});
  EXPECT_EQ(r.status, kExitProblems) << r.err;
  EXPECT_NE(r.err.find("problem: " + (dir_ / "Plant A.con").string() + ": kept as it was"), std::string::npos) << r.err;
  r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str(),
              "--dry-run"});
  EXPECT_NE(r.out.find("would ask before replacing Plant A.con (it exists;"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("would write Plant A.con"), std::string::npos) << r.out;
  r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str(),
              "--dry-run", "--no"});
  EXPECT_NE(r.out.find("would keep Plant A.con (it exists)"), std::string::npos) << r.out;
  EXPECT_EQ(RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--yes", "--no"}).status,
            kExitNotRun);

  r = RunCli({"inspect", (dir_ / "Plant A.con").string().c_str()});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out.substr(0, 50), "# console configuration file; header 218 256 1 30 ");
  r = RunCli({"inspect", (dir_ / "Desk 1.cns").string().c_str()});
  EXPECT_NE(r.out.find("# module file; type 3620, version 1, 12 modules, for console 1 (index 0)\n"
                       "# \"-\" stands for 16383 (none)"),
            std::string::npos);
  EXPECT_EQ(RunCli({"inspect", db.c_str()}).status, kExitNotRun);

  // A workbook with a missing sheet and a bad cell completes, with problems: exit 1.
  const std::string bad = File("bad.xlsx").string();
  testing::WriteXlsx(bad, {{"System", {{std::string("Name:"), std::string("S")}, {std::string("Inputs"), 1.0}}},
                           {"Sources", {{std::string("Chan"), std::string("Location #")}, {1.0, 40000.0}}}});
  r = RunCli({"convert", "--database", db.c_str(), "--workbook", bad.c_str(), "--output-dir", out.c_str()});
  EXPECT_EQ(r.status, kExitProblems);
  EXPECT_NE(r.err.find("problem: Sources!B2: 40000 under \"Location #\" does not fit a 16-bit number; Location of input 1 is written as 0"),
            std::string::npos);
  EXPECT_NE(r.err.find("problem: the workbook has no sheet \"Destinations\""), std::string::npos);
  EXPECT_NE(r.out.find("Completed with"), std::string::npos);
}

// A missing output folder is made, parents and all, and said; one that
// cannot be made ends the run; a run that does not run leaves none behind.
TEST_F(CommandLineRunTest, MissingOutputFolderIsMade) {
  const std::string wb = File("x.xlsx").string();
  testing::WriteXlsx(wb, {{"System", {{std::string("Name:"), std::string("S")}}},
                          {"Crosspoints", {{std::string("P-Level")}, {1.0}}}});
  const auto made = dir_ / "new" / "deeper";
  CliResult r = RunCli({"xpoints", "--workbook", wb.c_str(), "--output-dir", made.string().c_str()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("created folder " + made.string()), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(made / "S Crosspoints.xpt"));

  const auto unused = dir_ / "unused" / "deeper";
  r = RunCli({"xpoints", "--workbook", File("missing.xlsx").string().c_str(), "--output-dir", unused.string().c_str()});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "unused"));

  testing::WriteBytes(File("a-file"), "x");
  r = RunCli({"xpoints", "--workbook", wb.c_str(), "--output-dir", File("a-file").string().c_str()});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("is a file, not a folder"), std::string::npos) << r.err;
  r = RunCli({"xpoints", "--workbook", wb.c_str(), "--output-dir", (File("a-file") / "below").string().c_str()});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("cannot be created"), std::string::npos) << r.err;
}

// Notices are printed after the problems and change the exit status only
// with --strict; a report that cannot be written is said and counts as a problem.
TEST_F(CommandLineRunTest, NoticesStrictAndReports) {
  const std::string wb = File("xp.xlsx").string(), out = dir_.string(), report = File("r.json").string();
  testing::WriteXlsx(wb, {{"System", {{std::string("Name:"), std::string("S")}}},
                          {"Crosspoints", {{std::string("P-Level"), std::string("Source"), std::string("Destination")},
                                           {std::string("1 x"), 2.0, 3.0}}}});
  auto r = RunCli({"xpoints", "--workbook", wb.c_str(), "--output-dir", out.c_str()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.err, "notice: Crosspoints!A2: \"1 x\" under \"P-Level\" has text after its number: it reads as 1; "
                   "level of crosspoint 1 is written as 1\n");
  EXPECT_NE(r.out.find("Completed with 1 notice, listed on stderr"), std::string::npos);
  r = RunCli({"xpoints", "--workbook", wb.c_str(), "--output-dir", out.c_str(), "--strict", "--report",
              report.c_str()});
  EXPECT_EQ(r.status, kExitProblems);
  const auto doc = nlohmann::json::parse(testing::ReadBytes(report));
  EXPECT_EQ(doc["exit_status"], kExitProblems);
  EXPECT_EQ(doc["notices"][0]["sheet"], "Crosspoints");
  EXPECT_EQ(doc["notices"][0]["cells"], "A2");
  EXPECT_EQ(doc["files"][0]["status"], "written");
  EXPECT_TRUE(doc["tables"].empty());

  r = RunCli({"check", "--workbook", wb.c_str(), "--report", File("no/such/folder/r.json").string().c_str()});
  EXPECT_EQ(r.status, kExitProblems);  // the missing sheets of the conversion
  EXPECT_NE(r.err.find("kvrconversion: report " + File("no/such/folder/r.json").string() + " not written: "),
            std::string::npos);
  const std::size_t last_problem = r.err.rfind("problem: "), first_notice = r.err.find("notice: ");
  EXPECT_LT(last_problem, first_notice);
}

// What a run says of a cell is what it did: a claim about a record the
// database does not hold is put right, and the engineer's own column is
// listed apart, passing --strict; a stray value beside the data is a notice.
TEST_F(CommandLineRunTest, ClaimsAndListingsSayWhatTheRunDid) {
  const std::string wb = File("p.xlsx").string(), db = File("s.db").string(), out = dir_.string();
  auto sources = [](const char* beside) {
    using S = std::string;
    testing::SheetRows rows = {{S("Chan Num"), S("Chan Label"), S("Location #"), S("Comment")},
                               {1.0, S("Mic 1"), 1.0, S("spare")},
                               {2.0, S("Mic 2"), S("two"), S("")},
                               {3.0, S("Mic 3"), S("three"), S("")}};
    if (*beside != 0) rows.push_back({S(""), S(""), S(""), S(""), S(beside)});
    return rows;
  };
  const testing::SheetRows system = {{std::string("Name:"), std::string("P")}, {std::string("Inputs"), 2.0}};
  testing::WriteXlsx(wb, {{"System", system}, {"Sources", sources("")}});
  ASSERT_EQ(RunCli({"new-database", "--database", db.c_str(), "--inputs", "4"}).status, kExitOk);
  testing::Exec(db, "DELETE FROM InptAlphas WHERE \"Chan Num\" = 3");
  auto r = RunCli({"convert", "--database", db.c_str(), "--workbook", wb.c_str(), "--output-dir", out.c_str(), "--yes"});
  // Input 2 is written; input 3 has no record.
  EXPECT_NE(r.err.find("Sources!C3: \"two\" under \"Location #\" is not a number: it reads as 0; Location of input 2 "
                       "is written as 16383 (none)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Sources!C4: \"three\" under \"Location #\" is not a number: it reads as 0; Location of input "
                       "3 is not written: no record of InptAlphas has this Chan Num, so nothing of it is written"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("not read: Sources!D2: the column \"Comment\" (D) is not read: no field of this sheet is read "
                       "by its heading (1 value: D2)"),
            std::string::npos)
      << r.err;

  // The listing is no notice; a stray value beside the data is one. (The
  // workbook's missing sheets are problems and notices of their own.)
  const std::string own_only = File("own.xlsx").string(), stray = File("stray.xlsx").string();
  testing::WriteXlsx(own_only, {{"System", system}, {"Sources", {{std::string("Chan Num"), std::string("Comment")},
                                                                 {1.0, std::string("spare")}}}});
  r = RunCli({"check", "--workbook", own_only.c_str()});
  EXPECT_EQ(r.err.find("notice: Sources"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not read: Sources!B2: the column \"Comment\""), std::string::npos) << r.err;
  testing::WriteXlsx(stray, {{"System", system}, {"Sources", {{std::string("Chan Num"), std::string("Comment")},
                                                              {1.0, std::string("spare"), 5.0}}}});
  r = RunCli({"check", "--workbook", stray.c_str()});
  EXPECT_NE(r.err.find("notice: Sources!C2: values in columns without a heading are not read"), std::string::npos)
      << r.err;
}

// Every command given a folder, a FIFO or a device where a file belongs says
// so and ends with 2 at once (a FIFO is never opened, so nothing hangs); an
// output folder that is a file is called one.
class CommandLineInputsTest : public testing::TempDirTest {};

#ifndef _WIN32  // a POSIX process: fork, signals, resource limits, FIFOs
TEST_F(CommandLineInputsTest, NonFilesAreRefusedPlainly) {
  std::filesystem::create_directory(File("d.con"));
  ASSERT_EQ(mkfifo(File("p.xlsx").c_str(), 0644), 0);
  const std::string dir = File("d.con").string(), fifo = File("p.xlsx").string();
  struct Case {
    std::vector<const char*> args;
    const char* says;
  } cases[] = {
      {{"inspect", dir.c_str()}, "is a folder"},
      {{"inspect", fifo.c_str()}, "is a FIFO"},
      {{"inspect", "/dev/null"}, "is a device"},
      {{"sheet", "--workbook", fifo.c_str(), "--sheet", "S"}, "is a FIFO"},
      {{"system", "--workbook", fifo.c_str()}, "is a FIFO"},
      {{"system", "--workbook", dir.c_str()}, "is a folder"},
      {{"xpoints", "--workbook", dir.c_str()}, "not a workbook"},
      {{"convert", "--database", fifo.c_str(), "--workbook", kTypes.c_str()}, "not a switcher database"},
      {{"xpoints", "--workbook", kTypes.c_str(), "--output-dir", kTypes.c_str()}, "is a file, not a folder"},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.status, kExitNotRun) << c.args[0] << " " << c.args[1];
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}
#endif

#ifndef _WIN32  // a POSIX process: fork, signals
// A run killed after it set the earlier backup aside but before its changes
// were kept (its journal is left beside the database): the next run puts
// that backup back, where it serves as before, and clears the killed run's
// temporary copies; a run killed once its changes were kept (no journal)
// has its set-aside backup removed, as it would have.
TEST_F(CommandLineInputsTest, AKilledRunsEarlierBackupIsPutBack) {
  const std::string db = File("Switcher.db").string(), out = dir_.string();
  const std::string plant = std::string(KVR_EXAMPLES_DIR) + "/plant.xlsx";
  ASSERT_EQ(RunCli({"new-database", "--database", db.c_str(), "--workbook", plant.c_str()}).status, kExitOk);
  for (const bool kept : {false, true}) {
    SCOPED_TRACE(kept ? "changes kept" : "changes not kept");
    testing::WriteBytes(File(".Switcher.db.bak.earlier"), "the earlier backup");
    testing::WriteBytes(File("Switcher.db.bak"), "the killed run's backup");
    testing::WriteBytes(File(".Switcher.db.bak.0123456789abcdef.tmp"), "a killed run's copy");
    if (!kept) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        auto open = OpenSqliteDatabase(db, {});
        auto records = open->OpenRecordset("InptAlphas", "Chan Num");
        records->MoveFirst();
        records->Edit();
        records->Assign("Label", std::string("killed"));
        records->Update();
        ::kill(::getpid(), SIGKILL);
      }
      int status = 0;
      waitpid(child, &status, 0);
      ASSERT_TRUE(std::filesystem::exists(JournalOf(db)));
    }
    const auto r = RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir",
                           out.c_str(), "--no-backup", "--yes"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(testing::ReadBytes(File("Switcher.db.bak")), kept ? "the killed run's backup" : "the earlier backup");
    EXPECT_FALSE(std::filesystem::exists(File(".Switcher.db.bak.earlier")));
    EXPECT_FALSE(std::filesystem::exists(File(".Switcher.db.bak.0123456789abcdef.tmp")));
  }
}
#endif

#ifndef _WIN32  // a POSIX process: fork, signals, resource limits, FIFOs
// new-database builds the file whole: a file-size limit hit on the way names
// the file and leaves nothing, no partial database and no journal.
TEST_F(CommandLineInputsTest, NewDatabaseOnAFullDiskLeavesNothing) {
  const std::string db = File("big.db").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{65536, 65536};
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto r = RunCli({"new-database", "--database", db.c_str(), "--inputs", "32767", "--outputs", "32767"});
    _exit(r.status == kExitNotRun && r.err.find("cannot create " + db) != std::string::npos ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 0);
}
#endif

// new-database makes no file where a stopped run's journal or log of a
// database of that name lies (SQLite would play it into the new file), and
// names what is missing when an option is given empty.
TEST_F(CommandLineInputsTest, NewDatabaseRefusesAJournalLeftBesideItsName) {
  const std::string db = File("sw.db").string();
  for (const char* leftover : {"-journal", "-wal", "-shm"}) {
    testing::WriteBytes(db + leftover, "left by a killed run");
    const auto r = RunCli({"new-database", "--database", db.c_str()});
    EXPECT_EQ(r.status, kExitNotRun) << leftover;
    EXPECT_NE(r.err.find(std::string("sw.db") + leftover + " lies beside it"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(db)) << leftover;
    std::filesystem::remove(db + leftover);
  }
  EXPECT_EQ(RunCli({"new-database", "--database", db.c_str()}).status, kExitOk);

  auto r = RunCli({"new-database", "--database", ""});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("no database file given"), std::string::npos) << r.err;
  r = RunCli({"new-database", "--database", File("other.db").string().c_str(), "--workbook", ""});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("no workbook given"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(File("other.db")));
  // A SQLite file is never named as a Jet file: a Jet file is made through
  // the Jet driver, on Windows, as an .mdb; here, with no Jet driver, none.
  for (const char* name : {"site.mdb", "site.ACCDB"}) {
    r = RunCli({"new-database", "--database", File(name).string().c_str()});
    EXPECT_EQ(r.status, kExitNotRun) << name;
#ifdef _WIN32
    const char* why = name[5] == 'm' ? "no Jet ODBC driver is installed" : "makes a Jet database as an .mdb file";
#else
    const char* why = name[5] == 'm' ? "which runs on Windows only" : "makes a Jet database as an .mdb file";
#endif
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(File(name))) << name;
  }
}

// A stop asked for before a command's first safe point ends every command
// with 130, having printed nothing and made nothing.
TEST_F(CommandLineInputsTest, EveryCommandStopsAtItsFirstSafePoint) {
  const std::string db = File("sw.db").string(), plant = std::string(KVR_EXAMPLES_DIR) + "/plant.xlsx";
  const std::vector<std::vector<const char*>> commands = {
      {"sheet", "--workbook", plant.c_str(), "--sheet", "Sources"},
      {"system", "--workbook", plant.c_str()},
      {"new-database", "--database", db.c_str()},
      {"new-database", "--database", db.c_str(), "--workbook", plant.c_str()},
  };
  for (const auto& command : commands) {
    RequestInterrupt();
    const auto r = RunCli(command);
    ClearInterrupt();
    EXPECT_EQ(r.status, kExitInterrupted) << command[0] << r.err;
    EXPECT_EQ(r.out, "") << command[0];
    EXPECT_NE(r.err.find("interrupted: nothing was"), std::string::npos) << r.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 0) << command[0];
  }
}

// export keeps convert's promises: its report never takes the place of a
// file it reads or protects, however the database is named; a stop before
// the workbook is put in place leaves OUT and the folder as they were; what
// stands at OUT is asked about or never replaced as for convert's files.
TEST_F(CommandLineInputsTest, ExportProtectsWhatItReadsAndStopsCleanly) {
  const std::string db = File("sw.db").string(), plant = std::string(KVR_EXAMPLES_DIR) + "/plant.xlsx";
  const std::string out = File("out").string(), con = File("out/Plant A.con").string();
  ASSERT_EQ(RunCli({"new-database", "--database", db.c_str(), "--workbook", plant.c_str()}).status, kExitOk);
  ASSERT_EQ(RunCli({"convert", "--database", db.c_str(), "--workbook", plant.c_str(), "--output-dir", out.c_str()})
                .status,
            kExitOk);
  const std::string odbc = "odbc:Driver={SQLite3};Database=" + db + ";";
  const std::string wb = File("back.xlsx").string();
  const std::vector<std::pair<std::string, std::string>> protected_reports = {
      {db, db}, {db, db + ".bak"}, {odbc, db}, {db, File("out/Desk 1.cns").string()}, {db, con}};
  for (const auto& [database, report] : protected_reports) {
    const auto r = RunCli({"export", "--workbook", wb.c_str(), "--database", database.c_str(), "--con", con.c_str(),
                           "--report", report.c_str()});
    EXPECT_EQ(r.status, kExitNotRun) << report;
    EXPECT_NE(r.err.find("the report cannot be written"), std::string::npos) << r.err;
  }
  // OUT that is a file a connection string names.
  auto r = RunCli({"export", "--workbook", File("named.xlsx").string().c_str(), "--database",
                   ("odbc:Driver={SQLite3};Database=" + File("named.xlsx").string()).c_str()});
  EXPECT_EQ(r.status, kExitNotRun);
  EXPECT_NE(r.err.find("is a source of the export"), std::string::npos) << r.err;

  testing::WriteBytes(wb, "the earlier workbook");
  RequestInterrupt();
  r = RunCli({"export", "--workbook", wb.c_str(), "--database", db.c_str(), "--con", con.c_str(), "--yes"});
  ClearInterrupt();
  EXPECT_EQ(r.status, kExitInterrupted) << r.err;
  EXPECT_EQ(testing::ReadBytes(wb), "the earlier workbook");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 4) << "a temporary file left";  // sw.db, its .bak, out, back.xlsx

#ifndef _WIN32
  std::filesystem::remove(wb);
  std::filesystem::create_symlink(File("nowhere.xlsx"), wb);
  r = RunCli({"export", "--workbook", wb.c_str(), "--database", db.c_str(), "--no"});
  EXPECT_TRUE(std::filesystem::is_symlink(wb)) << r.err;
  std::filesystem::remove(wb);
  ASSERT_EQ(::mkfifo(wb.c_str(), 0600), 0);
  r = RunCli({"export", "--workbook", wb.c_str(), "--database", db.c_str(), "--yes"});
  EXPECT_TRUE(std::filesystem::is_fifo(wb));
  EXPECT_NE(r.err.find("is a FIFO, not a regular file, and is never replaced"), std::string::npos) << r.err;
#endif
}

// A database text longer than a cell holds: the export is written, the cell
// holds the text's first 32767 characters, and a problem names the cell.
TEST_F(CommandLineInputsTest, ExportCutsATextNoCellHoldsAndSaysWhere) {
  const std::string db = File("sw.db").string();
  ASSERT_EQ(RunCli({"new-database", "--database", db.c_str(), "--inputs", "3", "--outputs", "2"}).status, kExitOk);
  testing::Exec(db, "UPDATE InptAlphas SET Label='Mic 1', Notes=printf('%.40000c', 'n') WHERE \"Chan Num\"=1");
  for (const char* name : {"long.xlsx", "long.ods"}) {
    const std::string wb = File(name).string();
    const auto r = RunCli({"export", "--workbook", wb.c_str(), "--database", db.c_str()});
    EXPECT_EQ(r.status, kExitProblems) << r.err;
    EXPECT_NE(r.err.find("holds 40000 characters, more than the 32767 a cell takes"), std::string::npos) << r.err;
    const auto sheet = RunCli({"sheet", "--workbook", wb.c_str(), "--sheet", "Sources"});
    ASSERT_EQ(sheet.status, kExitOk) << sheet.err;
    EXPECT_NE(sheet.out.find("\"" + std::string(32767, 'n') + "\""), std::string::npos) << name;
    EXPECT_EQ(sheet.out.find(std::string(32768, 'n')), std::string::npos) << name;
  }
}

// Text from a workbook never splits a problem line: control characters are
// written out.
TEST_F(CommandLineInputsTest, ProblemLinesEscapeControlCharacters) {
  const std::string db = File("sw.db").string(), wb = File("nl.xlsx").string();
  ASSERT_EQ(RunCli({"new-database", "--database", db.c_str()}).status, kExitOk);
  testing::WriteXlsx(wb, {{"System", {{std::string("Name:"), std::string("Plant\nA")}}}});
  const std::string out = dir_.string();
  const auto r = RunCli({"convert", "--database", db.c_str(), "--workbook", wb.c_str(), "--output-dir", out.c_str()});
  EXPECT_EQ(r.status, kExitProblems);
  EXPECT_NE(r.err.find("problem: Plant\\nA.con: "), std::string::npos) << r.err;
  for (std::size_t at = 0; (at = r.err.find('\n', at)) != std::string::npos; ++at) {
    EXPECT_TRUE(at + 1 == r.err.size() || r.err.compare(at + 1, 8, "problem:") == 0) << r.err;
  }
}

// On a terminal a long run's progress is one line rewritten in place and
// cleared at the end; elsewhere nothing is shown.
TEST(TerminalProgressTest, OneLineOnATerminalNothingElsewhere) {
  RunProgress progress;
  progress.Start();
  progress.Sheet(1, 2, "System");
  std::ostringstream terminal, file;
  {
    TerminalProgress shown(progress, terminal, true);
    TerminalProgress quiet(progress, file, false);
    std::this_thread::sleep_for(RunProgress::kShowAfter + std::chrono::milliseconds(400));
  }
  EXPECT_TRUE(file.str().empty());
  const std::string line = "kvrconversion: Reading sheet 1 of 2: System";
  EXPECT_EQ(terminal.str(), "\r" + line + "\r" + "\r" + std::string(line.size(), ' ') + "\r");
}

}  // namespace
}  // namespace kvr
