#include "app/core/report_target.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/test_util.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

using ReportTargetTest = testing::TempDirTest;

TEST_F(ReportTargetTest, NeverOverTheRunsInputsOrOutputs) {
  testing::WriteBytes(File("plant.xlsx"), "workbook");
  testing::WriteBytes(File("Switcher.db"), "database");
  fs::create_directory(File("out"));
  const auto files = ProtectedFilesOf("convert", File("plant.xlsx").string(), File("Switcher.db").string());
  auto refusal = [&](const fs::path& target, std::string_view command = "convert") {
    const Status s = CheckReportTarget(target, command, files, File("out"));
    return s.ok() ? std::optional<std::string>() : std::optional<std::string>(s.why());
  };
  EXPECT_EQ(refusal(File("Switcher.db")), "it is the database");
  EXPECT_EQ(refusal(dir_ / "out" / ".." / "Switcher.db"), "it is the database");
  EXPECT_EQ(refusal(File("Switcher.db.bak")), "it is the database's backup");  // before it exists too
  EXPECT_EQ(refusal(File("plant.xlsx")), "it is the workbook");
  EXPECT_TRUE(refusal(File("out") / "Plant A.con"));
  EXPECT_TRUE(refusal(File("out") / "Plant A Console 1.CNS"));
  EXPECT_TRUE(refusal(File("out") / "DemoSetup.ini", "demo-ini"));
  EXPECT_TRUE(refusal(File("out") / "Plant A Crosspoints.xpt", "xpoints"));
  EXPECT_EQ(refusal(File("out")), "it is a folder");
  EXPECT_FALSE(refusal(File("out") / "report.json"));
  EXPECT_FALSE(refusal(File("Plant A.con")));  // not in the output folder
  EXPECT_FALSE(refusal(File("out") / "DemoSetup.ini"));  // convert writes none
#ifndef _WIN32
  fs::create_symlink(File("Switcher.db"), File("link.json"));
  EXPECT_EQ(refusal(File("link.json")), "it is the database");
  EXPECT_FALSE(refusal("/dev/null"));
#endif
  // A file-based engine reached through ODBC is its file.
  const auto odbc = ProtectedFilesOf("convert", "", "odbc:Driver={SQLite3};Database=" + File("Switcher.db").string());
  EXPECT_EQ(CheckReportTarget(File("Switcher.db"), "convert", odbc, {}).why(), "it is the database");
}

TEST_F(ReportTargetTest, AfterTheRunNeverOverWhatItWroteOrKept) {
  RunInputs inputs;
  inputs.command = "convert";
  inputs.workbook = File("plant.xlsx").string();
  inputs.database = File("Switcher.db").string();
  RunResult result;
  result.files.push_back({File("Plant A.con"), FileOutcome::kKept, "declined"});
  result.written.push_back(File("Plant A Console 1.cns"));
  result.backup = File("Switcher.db.bak");
  EXPECT_FALSE(CheckReportTarget(File("Plant A.con"), inputs, result).ok());
  EXPECT_FALSE(CheckReportTarget(File("Plant A Console 1.cns"), inputs, result).ok());
  EXPECT_FALSE(CheckReportTarget(File("Switcher.db.bak"), inputs, result).ok());
  EXPECT_FALSE(CheckReportTarget(File("Switcher.db"), inputs, result).ok());
  EXPECT_TRUE(CheckReportTarget(File("report.json"), inputs, result).ok());
}

#ifndef _WIN32
TEST_F(ReportTargetTest, AStreamIsWrittenIntoNeverReplaced) {
  ASSERT_TRUE(WriteReportFile("/dev/null", "{}\n").ok());
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  const Status full = WriteReportFile("/dev/full", "{}\n");
  EXPECT_FALSE(full.ok());
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(WriteReportFile(File("fifo"), "{}\n").why(), "no program reads from it");
  EXPECT_TRUE(fs::is_fifo(File("fifo")));
  ASSERT_TRUE(WriteReportFile(File("report.json"), "{}\n").ok());
  EXPECT_EQ(testing::ReadBytes(File("report.json")), "{}\n");
}
#endif

TEST(ReportJsonTest, NoticesCarryNoErrorNumber) {
  RunResult result;
  result.outcome = RunResult::Outcome::kCompleted;
  result.problems.Report(Where::Sheet("Sources"), "a problem", ErrorCode::kOverflow);
  result.problems.Note(Where::Sheet("Sources"), "a notice");
  RunInputs inputs;
  inputs.command = "check";
  const auto doc = nlohmann::json::parse(ReportJson(inputs, result, 1, {}));
  EXPECT_EQ(doc["problems"][0]["error"], 6);
  EXPECT_FALSE(doc["notices"][0].contains("error"));
}

}  // namespace
}  // namespace kvr
