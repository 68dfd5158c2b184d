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

}  // namespace
}  // namespace kvr
