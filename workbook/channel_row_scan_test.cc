#include "workbook/channel_row_scan.h"

#include <gtest/gtest.h>

#include "base/problems.h"
#include "tests/grid_maker.h"

namespace kvr {
namespace {

using testing::E;
using testing::MakeGrid;
using testing::kEmpty;

// Records taken as (index, row) pairs.
std::vector<std::pair<int, int>> Scan(const SheetGrid& grid, ScanLimit limit, int count, Problems& problems) {
  std::vector<std::pair<int, int>> taken;
  ChannelRowScan(grid, limit, count, problems, [&](int index, int row) { taken.emplace_back(index, row); });
  return taken;
}

TEST(ChannelRowScanTest, TakesOnlyTheNextExpectedNumber) {
  Problems problems;
  // Header, 1, 2, blank, 4, 3, 4: after the gap the scan waits for 3.
  const auto grid = MakeGrid("Sources", {{"Chan", "Label"}, {1}, {2}, {kEmpty, "x"}, {4}, {3}, {4}});
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Scan(grid, ScanLimit::kNoCount, 0, problems), (P{{0, 2}, {1, 3}, {2, 6}, {3, 7}}));
  EXPECT_TRUE(problems.empty());
}

TEST(ChannelRowScanTest, NumberedOneTwoFourFiveGivesTwoRecords) {
  Problems problems;
  const auto grid = MakeGrid("S", {{"#"}, {1}, {2}, {4}, {5}});
  EXPECT_EQ(Scan(grid, ScanLimit::kNoCount, 0, problems).size(), 2u);
}

// A repeated number is passed over: after 1, 2, 2 the scan waits for 3.
TEST(ChannelRowScanTest, RepeatedNumberIsPassedOver) {
  Problems problems;
  const auto grid = MakeGrid("S", {{"#"}, {1}, {2}, {2}, {3}});
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Scan(grid, ScanLimit::kNoCount, 0, problems), (P{{0, 2}, {1, 3}, {2, 5}}));
  EXPECT_EQ(Scan(grid, ScanLimit::kStopAfterCount, 2, problems), (P{{0, 2}, {1, 3}, {2, 5}}));
  EXPECT_TRUE(problems.empty());
}

TEST(ChannelRowScanTest, CountLimitsStopOrIgnore) {
  Problems problems;
  const auto grid = MakeGrid("S", {{"#"}, {1}, {2}, {3}, {4}});
  using P = std::vector<std::pair<int, int>>;
  // Count 1 holds indices 0 and 1 (count + 1 records).
  EXPECT_EQ(Scan(grid, ScanLimit::kStopAfterCount, 1, problems), (P{{0, 2}, {1, 3}}));
  EXPECT_TRUE(problems.empty());  // stopping after the count is silent
  EXPECT_EQ(Scan(grid, ScanLimit::kStopAfterCount, 2, problems).size(), 3u);
  EXPECT_EQ(Scan(grid, ScanLimit::kNoCount, 1, problems).size(), 4u);
  EXPECT_TRUE(problems.empty());
  // Ignoring past the count reports the rows that found no place, as one
  // range, the cause first.
  EXPECT_EQ(Scan(grid, ScanLimit::kIgnorePastCount, 1, problems), (P{{0, 2}, {1, 3}}));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems.list()[0].ToString(),
            "S!A4:A5: the table holds 2 entries: rows 4 to 5 (numbered 3 to 4) lie beyond it, and nothing of them is "
            "stored");
}

// The unreadable first cell must not let the row through as the next channel.
TEST(ChannelRowScanTest, RowWithUnreadableNumberIsPassedOverAndReported) {
  Problems problems;
  const auto grid = MakeGrid("Sources", {{"Chan"}, {1}, {E{"#REF!"}}, {40000}, {2}}, 3, 2);
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Scan(grid, ScanLimit::kNoCount, 0, problems), (P{{0, 2}, {1, 5}}));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems.list()[0].ToString(), "Sources!B5: the error value #REF! under \"Chan\"; row passed over");
  EXPECT_EQ(problems.list()[1].ToString(), "Sources!B6: 40000 under \"Chan\" does not fit a 16-bit number; row passed over");
  EXPECT_EQ(problems.ErrorText(), ": Error #  6 - Overflow");
}

TEST(MatchHeaderColumnsTest, FirstKeywordInListOrderDecides) {
  Problems problems;
  const auto grid = MakeGrid("Sources", {{"Chan", "IFB/MM", "IFB 2", "Cue Off", "Local Label", E{"#N/A"}, "GPI 1"}});
  const auto match = MatchHeaderColumns(grid, {"IFB/MM", "IFB", "Cue", "LocalLabel", "GPI"}, problems);
  EXPECT_EQ(match, (std::vector<int>{-1, -1, 0, 1, 2, -1, -1, 4}));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems.list()[0].place(), "Sources!F1");
}

}  // namespace
}  // namespace kvr

namespace kvr {
namespace {

// How far a heading may be from a keyword to be offered as what was meant:
// one slip of the keys below six letters, two from six on, never three.
TEST(KeywordMeantTest, SlipsAllowedGrowAtSixLetters) {
  const std::vector<std::string_view> five = {"Qwert"}, six = {"Qwerty"};
  EXPECT_EQ(KeywordMeant("Qxert", five), "Qwert");
  EXPECT_EQ(KeywordMeant("Qxeyt", five), std::nullopt);
  EXPECT_EQ(KeywordMeant("Qxerzy", six), "Qwerty");
  EXPECT_EQ(KeywordMeant("Qxezzy", six), std::nullopt);
}

}  // namespace
}  // namespace kvr
