#include <gtest/gtest.h>

#include "app/core/export_plant.h"

namespace kvr::exporting {
namespace {

// What the workbook cannot give back: the first kListed fields of a table
// by record and field, the rest counted so that listed and counted add up
// to every field; the aux numbering once per table, naming its first record.
TEST(ExportReplayTest, ValuesNoCellGivesAreListedThenCounted) {
  ChangeList changes;
  const std::size_t fields = kListed + 3;
  for (std::size_t k = 1; k <= fields; ++k) {
    changes.Add("InptAlphas", "Chan Num", std::int64_t(k), "Mute", std::int64_t{1}, std::int64_t{0});
  }
  for (std::int64_t k = 4; k <= 6; ++k) {
    changes.Add("OutptAlphas", "Chan Num", k, "AuxId", std::int64_t{k + 100}, std::int64_t{k});
  }
  changes.Add("OutptAlphas", "Chan Num", std::int64_t{9}, "Label", std::string("PGM"), std::string("PGM 2"));
  Problems problems;
  ReportChanges(changes, problems);

  std::vector<std::string> said;
  for (const auto& p : problems.list()) said.push_back(p.ToString());
  ASSERT_EQ(said.size(), kListed + 3);
  EXPECT_EQ(said[0], "InptAlphas, Chan Num 1: \"Mute\" holds 1, which no cell of the workbook gives: a conversion "
                     "of it writes 0");
  EXPECT_EQ(said[kListed - 1].rfind("InptAlphas, Chan Num " + std::to_string(kListed) + ":", 0), 0u) << said[kListed - 1];
  EXPECT_EQ(said[kListed], "OutptAlphas, Chan Num 9: \"Label\" holds \"PGM\", which no cell of the workbook gives: a "
                           "conversion of it writes \"PGM 2\"");
  EXPECT_NE(said[kListed + 1].find("3 more fields the workbook cannot give back, not listed"), std::string::npos)
      << said[kListed + 1];
  EXPECT_NE(said[kListed + 2].find("of 3 records is not the one a conversion gives"), std::string::npos);
  EXPECT_NE(said[kListed + 2].find("(the first, Chan Num 4, holds 104 and gets 4)"), std::string::npos)
      << said[kListed + 2];
}

}  // namespace
}  // namespace kvr::exporting
