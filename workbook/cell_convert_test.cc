#include "workbook/cell_convert.h"

#include <clocale>
#include <cmath>

#include <gtest/gtest.h>

#include "tests/grid_maker.h"

namespace kvr {
namespace {

using testing::D;
using testing::E;
using testing::One;

TEST(ValTest, ReadsTheLongestLeadingNumber) {
  struct Case { const char* text; double want; } cases[] = {
      {"", 0}, {"12", 12}, {"12 dB", 12}, {"x5", 0}, {"1,5", 1}, {"1 2", 12}, {" \t\n-1", -1},
      {"+7", 7}, {"- 5", -5}, {"2.5", 2.5}, {"1.2.3", 1.2}, {".5", 0.5}, {"1E3", 1000}, {"1e-2", 0.01},
      {"1D2", 100}, {"1E", 1}, {"1Ex", 1}, {"12 dB", 12}, {"&H10", 16}, {"&hff", 255},
      {"&HFFFF", -1}, {"&H8000", -32768}, {"&H10000", 65536}, {"&O17", 15}, {"&O177777", -1},
      {"&X1", 0}, {"True", 0}, {"3/15/2020", 3}, {"1 E 2", 100}, {"--1", 0}, {"1e400", HUGE_VAL},
  };
  for (const auto& c : cases) EXPECT_EQ(Val(c.text), c.want) << "Val(\"" << c.text << "\")";
}

TEST(CellNumberTest, RoundsHalfToEvenAndChecksTheRange) {
  struct Case { testing::V cell; std::optional<std::int16_t> want; } cases[] = {
      {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-1, -1}, {0.5, 0}, {1.5, 2}, {2.4999, 2}, {testing::kEmpty, 0},
      {"2.5", 2}, {"3.5", 4}, {"40000", std::nullopt}, {40000, std::nullopt}, {32767, 32767},
      {32767.5, std::nullopt}, {-32768, -32768}, {-32768.5, -32768}, {-32769, std::nullopt},
      {"64 channels", 64}, {"sixty-four", 0}, {true, 0}, {E{"#N/A"}, std::nullopt}, {D{43905}, 3},
  };
  for (const auto& c : cases) {
    const auto grid = One(c.cell);
    EXPECT_EQ(CellNumber(grid, 1, 1), c.want) << "cell " << CellText(grid, 1, 1).value_or("<error>");
  }
}

// A number cell must read exactly as the text CellText gives it would.
TEST(CellNumberTest, NumberCellsReadAsTheirText) {
  for (double v : {0.0, -0.0, 1.0, -1.0, 7.0, 32767.0, 32768.0, -32768.0, -32769.0, 2.5, 1.4999999999999998,
                   0.49999999999999994, 1e15 - 1, 1e15, 99999999999999.9, -2.5000000000000004, 255.0, 256.0, 1e-320}) {
    const auto from_text = One(FormatNumber(v));
    EXPECT_EQ(CellNumber(One(v), 1, 1), CellNumber(from_text, 1, 1)) << FormatNumber(v);
    EXPECT_EQ(CellByte(One(v), 1, 1), CellByte(from_text, 1, 1)) << FormatNumber(v);
  }
}

TEST(CellByteTest, AcceptsOnlyZeroTo255) {
  EXPECT_EQ(CellByte(One(200), 1, 1), 200);
  EXPECT_EQ(CellByte(One(255.5), 1, 1), std::nullopt);  // rounds to 256
  EXPECT_EQ(CellByte(One(254.5), 1, 1), 254);
  EXPECT_EQ(CellByte(One(300), 1, 1), std::nullopt);
  EXPECT_EQ(CellByte(One(-1), 1, 1), std::nullopt);
  EXPECT_EQ(CellByte(One(E{"#REF!"}), 1, 1), std::nullopt);
}

TEST(CellTextTest, ConvertsEveryKind) {
  struct Case { testing::V cell; std::optional<std::string> want; } cases[] = {
      {testing::kEmpty, ""}, {1, "1"}, {2.5, "2.5"}, {-0.0, "0"}, {0.1, "0.1"}, {1.0 / 3, "0.333333333333333"},
      {123456789012345.0, "123456789012345"}, {1234567890123456.0, "1.23456789012346E+15"},
      {1e20, "1E+20"}, {0.0001, "0.0001"}, {0.00001, "1E-05"}, {-0.000015, "-1.5E-05"}, {1e100, "1E+100"},
      {true, "True"}, {false, "False"}, {" Mic 1 ", " Mic 1 "}, {"#N/A", "#N/A"},
      {E{"#DIV/0!"}, std::nullopt}, {D{43905}, "3/15/2020"}, {D{44381.678900463}, "7/4/2021 4:17:37 PM"},
      {D{0.2736111111}, "6:34:00 AM"}, {D{61}, "3/1/1900"}, {D{44381.5}, "7/4/2021 12:00:00 PM"},
      {D{44381.999999}, "7/5/2021"},
      // Past the last date a serial shows as the number it is.
      {D{2958465}, "12/31/9999"}, {D{2958466}, "2958466"}, {D{1e20}, "1E+20"}, {D{-1e300}, "-1E+300"},
      {D{-657434}, "1/1/100"},
  };
  for (const auto& c : cases) EXPECT_EQ(CellText(One(c.cell), 1, 1), c.want);
}

TEST(CellTextTest, CountsDaysFrom1904InThatSystem) {
  const auto grid = testing::MakeGrid("S", {{D{0}, D{1462}}}, 1, 1, true);
  EXPECT_EQ(CellText(grid, 1, 1), "1/1/1904");
  EXPECT_EQ(CellText(grid, 1, 2), "1/2/1908");
}

TEST(CellTextTest, DoesNotDependOnTheLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no decimal-comma locale here";
  EXPECT_EQ(CellText(One(2.5), 1, 1), "2.5");
  EXPECT_EQ(CellNumber(One(3.5), 1, 1), 4);  // '3,5' would read as 3
  EXPECT_EQ(Val("1.5"), 1.5);
  std::setlocale(LC_ALL, before.c_str());
}

TEST(HeaderMatchesTest, ComparesTheKeywordsLengthExactly) {
  EXPECT_TRUE(HeaderMatches("Chan Labels", "Chan Label"));
  EXPECT_TRUE(HeaderMatches("Chan Label 2", "Chan Label"));
  EXPECT_TRUE(HeaderMatches("Chan Label (8 chars)", "Chan Label"));
  EXPECT_TRUE(HeaderMatches("Chan Label", "Chan Label"));
  EXPECT_FALSE(HeaderMatches("chan label", "Chan Label"));
  EXPECT_FALSE(HeaderMatches(" Chan Label", "Chan Label"));
  EXPECT_FALSE(HeaderMatches("Chan Lab", "Chan Label"));
  EXPECT_FALSE(HeaderMatches("", "Chan Label"));
}

TEST(ToTableIndexTest, MakesZeroBasedIndices) {
  EXPECT_EQ(ToTableIndex(1), 0);
  EXPECT_EQ(ToTableIndex(0), NoIndex);
  EXPECT_EQ(ToTableIndex(16383), NoIndex);
  EXPECT_EQ(ToTableIndex(16384), 16383);
  EXPECT_EQ(ToTableIndex(-5), -6);
  EXPECT_EQ(ToTableIndex(32767), 32766);
  EXPECT_EQ(ToTableIndex(-32768), std::nullopt);
}

}  // namespace
}  // namespace kvr
