#include "xpoints/crosspoints.h"

#include <gtest/gtest.h>

#include "base/little_endian.h"
#include "base/problems.h"
#include "tests/grid_maker.h"
#include "workbook/cell_convert.h"
#include "workbook/system_settings.h"

namespace kvr {
namespace {

using testing::E;
using testing::kEmpty;
using testing::MakeGrid;

TEST(CrosspointsTest, RulesAndByteLayout) {
  Problems problems;
  const auto records = ReadCrosspoints(
      MakeGrid("Crosspoints", {{"P-Level", "Source", "Destination", "Source (alt)"},
                               {1, 12, 7, kEmpty},
                               {kEmpty, 5, 5, 5},
                               {2, "x", 16383, 16384},
                               {0, 3, 0, 4},
                               {-1, 1, 1, E{"#REF!"}}}),
      problems);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].level, 1);
  EXPECT_EQ(records[0].source, NoIndex);  // the rightmost "Source" column: empty
  EXPECT_EQ(records[0].destination, 6);
  EXPECT_EQ(records[1].level, NoIndex);
  EXPECT_EQ(records[1].source, 16383);    // 16384 - 1
  EXPECT_EQ(records[1].destination, NoIndex);
  EXPECT_EQ(records[2].source, 3);
  EXPECT_EQ(records[3].level, -1);
  EXPECT_EQ(records[3].source, 0);        // the error leaves the left column's value
  EXPECT_EQ(problems.size(), 1u);

  const std::string bytes = EncodeCrosspointFile(records);
  ASSERT_EQ(bytes.size(), 2u + 6 * 4);
  EXPECT_EQ(GetInt16(bytes, 0), 4);
  EXPECT_EQ(bytes.substr(2, 6), std::string("\x01\x00\xFF\x3F\x06\x00", 6));
  EXPECT_EQ(EncodeCrosspointFile({}), std::string("\x00\x00", 2));
}

TEST(CrosspointsTest, SystemNameAndInspect) {
  Problems problems;
  EXPECT_EQ(FirstSystemName(MakeGrid("System", {{"Name", "x"}, {"Name:", "Plant A"}, {"Name:", "B"}}), problems),
            "Plant A");
  EXPECT_EQ(FirstSystemName(SheetGrid(), problems), "");
  const auto text = DescribeCrosspointFile(EncodeCrosspointFile({CrosspointRecord{1, NoIndex, 6}}));
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text,
            "# crosspoint file; 1 crosspoints\n# \"-\" stands for 16383 (none); crosspoints count from 1, sources and "
            "destinations are indices from 0\ncrosspoint\tlevel\tsource\tdestination\n1\t1\t-\t6\n");
  EXPECT_FALSE(DescribeCrosspointFile(std::string("\x02\x00\x01", 3)).ok());
  EXPECT_FALSE(DescribeCrosspointFile("").ok());
}

// The file holds 32767 crosspoints: exactly that many is no problem; more
// names the first row left out and how many are.
TEST(CrosspointsTest, AFullFileIsNoProblemAndMoreNamesWhatIsLeftOut) {
  for (const int rows : {32767, 32770}) {
    std::vector<std::vector<testing::V>> cells = {{"P-Level", "Source", "Destination"}};
    for (int k = 1; k <= rows; ++k) cells.push_back({1, k % 100 + 1, k % 50 + 1});
    cells.push_back({kEmpty, kEmpty, kEmpty});  // a blank row at the end is no crosspoint
    Problems problems;
    const auto records = ReadCrosspoints(MakeGrid("Crosspoints", cells), problems);
    EXPECT_EQ(records.size(), 32767u);
    if (rows == 32767) {
      EXPECT_TRUE(problems.empty()) << problems.list()[0].ToString();
    } else {
      ASSERT_EQ(problems.size(), 1u);
      EXPECT_EQ(problems.list()[0].ToString(),
                "Crosspoints!A32769: the crosspoint file holds at most 32767 crosspoints; this row and the 2 "
                "crosspoint rows after it are left out");
    }
  }
}

}  // namespace
}  // namespace kvr
