#include "workbook/system_settings.h"

#include <gtest/gtest.h>

#include "base/problems.h"
#include "tests/grid_maker.h"

namespace kvr {
namespace {

using testing::E;
using testing::MakeGrid;

TEST(SystemSettingsTest, ReadsTheFourSettings) {
  Problems problems;
  const auto s = ReadSystemSettings(
      MakeGrid("System", {{"Name:", "Studio A"}, {"Inputs", 64}, {"Outputs", 48}, {"Consoles", 4}, {"8", 12}}),
      problems);
  EXPECT_EQ(s.SystemName, "Studio A");
  EXPECT_EQ(s.InputCount, 64);
  EXPECT_EQ(s.OutputCount, 48);
  EXPECT_EQ(s.ConsoleCount, 4);
  EXPECT_TRUE(problems.empty());
}

TEST(SystemSettingsTest, KeysAreExactOrCaseSensitivePrefixes) {
  Problems problems;
  const auto s = ReadSystemSettings(MakeGrid("System", {{"Name", "A"},
                                                        {"Name: ", "B"},
                                                        {"name:", "C"},
                                                        {"Inputs (analog)", "64 channels"},
                                                        {"inputs", 99},
                                                        {"Outputs", "sixty-four"},
                                                        {"Consoles", 3.5},
                                                        {"Name:", 2.5}}),
                                    problems);
  EXPECT_EQ(s.SystemName, "2.5");  // the last "Name:" row wins, a number as its text
  EXPECT_EQ(s.InputCount, 64);
  EXPECT_EQ(s.OutputCount, 0);
  EXPECT_EQ(s.ConsoleCount, 4);
}

TEST(SystemSettingsTest, UnreadableValueKeepsTheEarlierOneAndIsReported) {
  Problems problems;
  const auto s = ReadSystemSettings(
      MakeGrid("System", {{"Inputs", 64}, {"Inputs", 40000}, {"Outputs", E{"#DIV/0!"}}, {E{"#N/A"}, 5}}, 2, 2),
      problems);
  EXPECT_EQ(s.InputCount, 64);
  EXPECT_EQ(s.OutputCount, 0);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems.list()[0].ToString(), "System!C3: 40000 under \"Inputs\" does not fit a 16-bit number; \"InputCount\" stays 64");
  EXPECT_EQ(problems.list()[1].ToString(), "System!C4: the error value #DIV/0! under \"Outputs\"; \"OutputCount\" stays 0");
  EXPECT_EQ(problems.list()[2].place(), "System!B5");
}

TEST(SystemSettingsTest, EmptyGridGivesDefaults) {
  Problems problems;
  const auto s = ReadSystemSettings(SheetGrid(), problems);
  EXPECT_EQ(s.SystemName, "");
  EXPECT_EQ(s.InputCount, 0);
}

}  // namespace
}  // namespace kvr
