// The notices of the sheet readers, one test per family: each names the
// place, says what the rules did there and nothing else; what reads as it
// looks gives none.
#include <gtest/gtest.h>

#include "base/problems.h"
#include "tests/grid_maker.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"

namespace kvr {
namespace {

using testing::D;
using testing::MakeGrid;
using testing::One;
using testing::kEmpty;

std::vector<std::string> Notices(const Problems& problems) {
  std::vector<std::string> out;
  for (const auto& n : problems.notices()) out.push_back(n.ToString());
  return out;
}

TEST(NoticesTest, NumbersThatReadOtherwiseThanTheyLook) {
  auto doubt = [](testing::V v) {
    const auto d = NumberReadingDoubt(One(std::move(v)), 1, 1);
    return d ? d->value + " " + d->what : std::string("none");
  };
  EXPECT_EQ(doubt("two"), "\"two\" is not a number");
  EXPECT_EQ(doubt("12 dB"), "\"12 dB\" has text after its number");
  EXPECT_EQ(doubt("1,5"), "\"1,5\" has a comma, which is not read as a decimal point");
  EXPECT_EQ(doubt("2.5"), "\"2.5\" is not a whole number");
  EXPECT_EQ(doubt(2.5), "2.5 is not a whole number");
  EXPECT_EQ(doubt(true), "True is a truth value, not a number");
  EXPECT_EQ(doubt(D{43831}), "the date 1/1/2020 is not a number");
  EXPECT_EQ(doubt("1E3 x"), "\"1E3 x\" has text after its number");
  // What reads as it looks: whole numbers, numeric text with blanks, the
  // radix and exponent forms, and nothing at all; an exponent marker with no
  // digits is text after the number.
  for (const testing::V& v : {testing::V{12}, testing::V{" 12 "}, testing::V{"&H1F"}, testing::V{"1E3"},
                             testing::V{"-4"}, testing::V{kEmpty}, testing::V{"   "}}) {
    EXPECT_EQ(doubt(v), "none");
  }
  EXPECT_EQ(doubt("12E"), "\"12E\" has text after its number");

  // Through a field: the heading as typed, what it reads as and what is written.
  Problems problems;
  const auto grid = MakeGrid("Sources", {{"Chan", "Location #", "Linked"}, {1, "two", "2 x"}});
  CellReader cells(grid, problems);
  cells.SetSubject("input 1");
  std::int16_t location = 0, linked = 0;
  cells.IndexInto(2, 2, location, "Location");
  cells.NumberInto(2, 3, linked, "Linked", [](std::int16_t v) -> std::int16_t { return v > 1 ? 0 : v; });
  EXPECT_EQ(Notices(problems),
            (std::vector<std::string>{
                "Sources!B2: \"two\" under \"Location #\" is not a number: it reads as 0; Location of input 1 is "
                "written as 16383 (none)",
                "Sources!C2: \"2 x\" under \"Linked\" has text after its number: it reads as 2, stored as 0; Linked "
                "of input 1 is written as 0"}));
  EXPECT_TRUE(problems.empty());
}

// A number that gives no table index is quoted as the cell shows it, not
// as the whole number it rounds to.
TEST(NoticesTest, ANumberIsQuotedAsTheCellShowsIt) {
  Problems problems;
  const auto grid = MakeGrid("Sources", {{"Chan", "Location #"}, {1, -32767.5}});
  CellReader cells(grid, problems);
  cells.SetSubject("input 1");
  std::int16_t location = 3;
  cells.IndexInto(2, 2, location, "Location");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems.list()[0].ToString(),
            "Sources!B2: -32767.5 under \"Location #\" gives no 16-bit table index; Location of input 1 is written "
            "as 3");
}

// A mistake repeated down a sheet is listed a hundred times, then counted.
TEST(NoticesTest, ManyOnOneSheetAreCounted) {
  Problems problems;
  for (int r = 1; r <= 150; ++r) problems.Note(Where::Sheet("Sources", "G" + std::to_string(r)), "doubt");
  problems.Note(Where::Sheet("Destinations", "B1"), "another sheet");
  ASSERT_EQ(problems.notices().size(), Problems::kNoticesPerPlace + 2);
  EXPECT_EQ(problems.notices()[100].ToString(), "Sources: 50 more notices here, not listed");
  EXPECT_EQ(problems.notices()[101].ToString(), "Destinations!B1: another sheet");
  EXPECT_EQ(problems.Unlisted(), (std::vector<std::pair<std::string, std::size_t>>{{"Sources", 50}}));
  // Carried into another list, the count stays a count, and adds up.
  Problems all;
  all.Append(problems);
  all.Append(problems);
  EXPECT_EQ(all.Unlisted(), (std::vector<std::pair<std::string, std::size_t>>{{"Sources", 200}}));
  EXPECT_EQ(all.notices()[100].tag, Problems::kUnlistedTag);
}

TEST(NoticesTest, RowsTheScanPassesOver) {
  auto scan = [](const SheetGrid& grid, ScanLimit limit, int count) {
    Problems problems;
    ChannelRowScan(grid, limit, count, problems, [](int, int) {}, "Outputs");
    return Notices(problems);
  };
  // Header rows, blank rows and text in column 1 are passed over without a word.
  EXPECT_TRUE(scan(MakeGrid("S", {{"Chan"}, {"Studio A"}, {1}, {kEmpty, "x"}, {2}, {"end"}}), ScanLimit::kNoCount, 0)
                  .empty());
  // A repeated number: the scan waits for 3 and goes on when it comes.
  EXPECT_EQ(scan(MakeGrid("S", {{"Chan"}, {1}, {2}, {2}, {3}}), ScanLimit::kNoCount, 0),
            (std::vector<std::string>{"S!A4: row 4 (numbered 2) was passed over while the scan waited for number 3, "
                                      "which came in row 5; nothing of them was read"}));
  // A mistyped number: nothing after it is read. Rows count as the sheet numbers them.
  EXPECT_EQ(scan(MakeGrid("S", {{"Chan"}, {1}, {"x"}, {3}, {4}}, 3, 2), ScanLimit::kNoCount, 0),
            (std::vector<std::string>{
                "S!B5:B7: rows 5 to 7 (numbered 3 to 4) were passed over while the scan waited for number 2 (B5 "
                "holds \"x\"), which never came: nothing of them was read, and no record from number 2 on is written"}));
  // A sheet numbered from 0 is read from nothing: the wait for 1 is noticed.
  EXPECT_EQ(scan(MakeGrid("S", {{"Chan"}, {0}, {2}}), ScanLimit::kNoCount, 0).size(), 1u);
  // A count that stops the scan before the numbered rows end.
  EXPECT_EQ(scan(MakeGrid("S", {{"Chan"}, {1}, {2}, {3}, {kEmpty}}), ScanLimit::kStopAfterCount, 1),
            (std::vector<std::string>{"S!A4: row 4 (numbered 3) was never read: \"Outputs\" on the System sheet is "
                                      "1, so the scan stopped after number 2 in row 3"}));
  EXPECT_TRUE(scan(MakeGrid("S", {{"Chan"}, {1}, {2}, {"Total"}}), ScanLimit::kStopAfterCount, 1).empty());
}

TEST(NoticesTest, HeadingsThatMatchNoKeywordOrRepeatOne) {
  Problems problems;
  const auto grid = MakeGrid("Sources", {{"Chan", "Label", "chan label", " Chan Label", "Local Label", "Wiring",
                                          "Cue On", "Cue Off", "Chan Lable", kEmpty, "Notes (free)"}});
  // "Wiring" is like no keyword: the engineer's own column, listed by the
  // account of the sheet's cells, not noticed here.
  MatchHeaderColumns(grid, {"Chan Label", "LocalLabel", "Notes", "Cue"}, problems);
  const std::string none = "\" begins with no keyword of this sheet, so its column is not read";
  EXPECT_EQ(Notices(problems),
            (std::vector<std::string>{
                "Sources!B1: the heading \"Label" + none + "; \"Chan Label\" is probably meant",
                "Sources!C1: the heading \"chan label" + none + "; \"Chan Label\" is probably meant",
                "Sources!D1: the heading \" Chan Label" + none + "; \"Chan Label\" is probably meant",
                "Sources!E1: the heading \"Local Label" + none + "; \"LocalLabel\" is probably meant",
                "Sources!H1: the heading \"Cue Off\" is read as \"Cue\", as \"Cue On\" in G1 is; this later column's "
                "values are the ones stored",
                "Sources!I1: the heading \"Chan Lable" + none + "; \"Chan Label\" is probably meant"}));
  // What is probably meant is never a keyword another column fills, nor a
  // keyword that differs only in a number; of two, the more specific.
  Problems meant;
  MatchHeaderColumns(MakeGrid("Sources", {{"Chan", " Opto Off LED", "Opto Off LE", "OptoOff"}}),
                     {"OptoOn", "OptoOff", "Opto Off LED"}, meant);
  EXPECT_EQ(Notices(meant),
            (std::vector<std::string>{"Sources!B1: the heading \" Opto Off LED" + none + "; \"Opto Off LED\" is probably meant",
                                      "Sources!C1: the heading \"Opto Off LE" + none + "; \"Opto Off LED\" is probably meant"}));
  Problems meters;
  MatchHeaderColumns(MakeGrid("Console Config", {{"Console", "Meter #1", "Meter #6", "Meter #l"}}),
                     {"Meter #1", "Meter #2", "Meter #3", "Meter #4", "Meter #5"}, meters);
  EXPECT_EQ(Notices(meters), (std::vector<std::string>{"'Console Config'!C1: the heading \"Meter #6" + none,
                                                       "'Console Config'!D1: the heading \"Meter #l" + none}));
  // Keywords whose columns each have a place of their own may repeat.
  Problems rc;
  MatchHeaderColumns(MakeGrid("RC", {{"Set", "Opto 1", "Opto 2"}}), {"Set Name", "Opto"}, rc, {{1}, {}});
  EXPECT_TRUE(rc.notices().empty());
  // Two keywords that fill one field: the later column replaces the earlier.
  Problems dest;
  MatchHeaderColumns(MakeGrid("Destinations", {{"Chan", "Utility-Switch", "Fader", "Switch"}}),
                     {"Utility-Switch", "Switch", "Fader"}, dest, {{}, {{0, 1}}});
  EXPECT_EQ(Notices(dest), (std::vector<std::string>{
                               "Destinations!D1: the heading \"Switch\" fills the same field as \"Utility-Switch\" in "
                               "B1; this later column's values are the ones stored"}));
}

TEST(NoticesTest, SheetsOfANearName) {
  const std::vector<std::string> names = {"System", "Sources ", "Destination", "Console#1", "Console #10", "RC"};
  EXPECT_EQ(SheetMeant("Sources", names), "Sources ");
  EXPECT_EQ(SheetMeant("Destinations", names), "Destination");
  EXPECT_EQ(SheetMeant("Console #1", names), "Console#1");
  EXPECT_EQ(SheetMeant("Console #2", names), std::nullopt);  // numbers are never a slip
  EXPECT_EQ(SheetMeant("Relay", names), std::nullopt);
  EXPECT_EQ(SheetMeant("Opto", {"Optx"}), std::nullopt);  // short names need the same letters
}

TEST(NoticesTest, SystemKeysAndValues) {
  Problems problems;
  const auto s = ReadSystemSettings(
      MakeGrid("System", {{"Name", "Plant"}, {"inputs", 64}, {"Outputs", 2.5}, {"Consoles", "4 desks"}, {"8", 2},
                          {"Notes", "x"}}),
      problems);
  EXPECT_EQ(s.SystemName, "");
  EXPECT_EQ(s.InputCount, 0);
  EXPECT_EQ(s.OutputCount, 2);
  EXPECT_EQ(s.ConsoleCount, 4);
  const std::string ignored = " (keys are read exactly, \"Name:\" whole and the others as the start of the key), so "
                              "this row is ignored";
  EXPECT_EQ(Notices(problems),
            (std::vector<std::string>{
                "System!A1: the key \"Name\" is not \"Name:\"" + ignored,
                "System!A2: the key \"inputs\" is not \"Inputs\"" + ignored,
                "System!B3: 2.5 under \"Outputs\" is not a whole number: it reads as 2, so OutputCount is 2",
                "System!B4: \"4 desks\" under \"Consoles\" has text after its number: it reads as 4, so ConsoleCount "
                "is 4"}));
  EXPECT_TRUE(problems.empty());
}

}  // namespace
}  // namespace kvr
