// References kept until what they point at is known: one record per sheet
// and thing, said in full once, counted, the last cell kept.
#include "base/problems.h"

#include <gtest/gtest.h>

namespace kvr {
namespace {

TEST(ProblemsTest, ReferencesAreKeptOncePerThingAndSaidInOrder) {
  Problems problems;
  int described = 0;
  auto refer = [&](const char* sheet, const char* cell, const char* noun, int number) {
    problems.Refer(Where::Sheet(sheet, cell), noun, number, [&, cell] {
      ++described;
      return std::string(cell) + " under \"Opto\"; Opto of input 1 is written as " + std::to_string(number - 1);
    });
  };
  // Known defined before the check: never kept, never described.
  problems.KnownDefined([](std::string_view noun, int n) { return noun == "opto" && n == 2; });
  refer("Sources", "B2", "opto", 5);
  refer("Sources", "B3", "opto", 6);
  refer("Sources", "B4", "opto", 5);
  refer("Sources", "B5", "opto", 2);
  refer("Sources", "B6", "opto", 7);  // defined at the check
  refer("Sources", "B7", "location", 9);
  refer("Destinations", "C2", "opto", 5);
  EXPECT_EQ(described, 5);  // once per sheet and thing
  problems.CheckReferences([](std::string_view noun, int n) -> std::optional<std::string> {
    if (noun == "opto" && n >= 5 && n <= 6) return std::string("lies past the 4 the table holds");
    if (noun == "location") return std::string("no row of the \"Location\" sheet numbers");
    return std::nullopt;
  });
  ASSERT_EQ(problems.notices().size(), 3u);
  EXPECT_EQ(problems.notices()[0].where.cells, "B2");
  EXPECT_EQ(problems.notices()[0].message,
            "B2 under \"Opto\" points at opto 5, which lies past the 4 the table holds; Opto of input 1 is written as "
            "4; 2 more cells of this sheet point at optos the workbook does not define either, the last at B4");
  EXPECT_EQ(problems.notices()[1].where.cells, "B7");
  EXPECT_EQ(problems.notices()[2].where.sheet, "Destinations");
  EXPECT_EQ(problems.notices()[2].message.find("more cells"), std::string::npos);

  // The check lets the references go, and with them what was known.
  refer("Sources", "B8", "opto", 2);
  problems.CheckReferences([](std::string_view, int) { return std::string("undefined"); });
  EXPECT_EQ(problems.notices().size(), 4u);
}

}  // namespace
}  // namespace kvr
