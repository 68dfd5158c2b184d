#include "app/cli/cli.h"

#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace kvr {
namespace {

struct Result {
  int status;
  std::string out, err;
};

Result RunCli(std::vector<const char*> args) {
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

}  // namespace
}  // namespace kvr
