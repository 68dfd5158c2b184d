#include "workbook/cell_account.h"

#include <gtest/gtest.h>

#include "tests/grid_maker.h"
#include "workbook/channel_row_scan.h"

namespace kvr {
namespace {

using testing::kEmpty;
using testing::MakeGrid;

std::vector<std::string> Said(const Problems& problems) {
  std::vector<std::string> out;
  for (const Notice& n : problems.notices()) out.push_back(std::string(Problems::KindOf(n)) + ": " + n.ToString());
  return out;
}

// Reads every cell of rows `first` to `last`, columns 1 to `columns`, as a reader that uses them would.
void ReadRows(const SheetGrid& grid, int first, int last, int columns) {
  for (int r = first; r <= last; ++r) {
    for (int c = 1; c <= columns; ++c) grid.at(r, c);
  }
}

TEST(CellAccountTest, ASheetWhoseEveryValueIsReadSaysNothing) {
  // Texts of blanks alone show nothing, so they are no values to account for.
  const auto grid = MakeGrid("S", {{"Chan", "Label"}, {1, "Mic 1", "  "}, {2, "Mic 2", kEmpty, "\xC2\xA0"}});
  ReadRows(grid, 1, 3, 2);
  Problems problems;
  AccountForCells(grid, {true, false}, {}, problems);
  EXPECT_TRUE(problems.notices().empty());
}

TEST(CellAccountTest, EachCauseIsNamedOnceAsRanges) {
  // Columns: A number, B read, C the engineer's own, D no heading.
  // Rows: 2-3 records, 4 a row whose first cell is empty, 5 a remark, 6 a
  // record with a value beside the cells read (E), 8-9 below the last row read.
  const auto grid = MakeGrid("S", {{"Chan", "Label", "Comment", kEmpty, kEmpty},
                                   {1, "a", "spare", "x"},
                                   {2, "b", kEmpty, "y"},
                                   {kEmpty, "stray", kEmpty, kEmpty},
                                   {"Total", 7},
                                   {3, "c", kEmpty, kEmpty, "z"},
                                   {},
                                   {kEmpty, "late"},
                                   {kEmpty, "later"}});
  for (int r = 1; r <= 6; ++r) grid.at(r, 1);
  for (int r : {1, 2, 3, 6}) grid.at(r, 2);
  grid.at(2, 5);  // a reader that looks at E2 (empty) reads column E
  Problems problems;
  AccountForCells(grid, {true, false}, {}, problems);
  EXPECT_EQ(Said(problems),
            (std::vector<std::string>{
                "not read: S!C1:C2: the column \"Comment\" (C) is not read: no field of this sheet is read by its "
                "heading (2 values: C1:C2)",
                "notice: S!D2:D3: values in columns without a heading are not read: a column is read by the heading in "
                "its first row (2 values: D2:D3)",
                "notice: S!B8:B9: values below row 6, the last row this run reads, are not read (2 values: B8:B9)",
                "notice: S!B4: values in rows whose first cell is empty are not read: a row is read by what its first "
                "cell holds (1 value: B4)",
                "notice: S!B5: values in rows whose first cell names nothing this run reads are not read (1 value: B5)",
                "notice: S!E6: values beside the cells read, where no field is read from, are not read (1 value: E6)"}));
  // Only the engineer's own column is a listing: it counts as no notice.
  EXPECT_EQ(problems.NoticesNotListings(), 5u);
}

TEST(CellAccountTest, RangesJoinOnlyRunsOfTheSameRows) {
  const auto grid = MakeGrid("S", {{"Chan", "Own", "Other"}, {1, "a", "b"}, {2, "c", "d"}, {kEmpty, kEmpty, "e"}});
  for (int r = 1; r <= 4; ++r) grid.at(r, 1);
  grid.at(1, 2), grid.at(1, 3);
  Problems problems;
  AccountForCells(grid, {true, false}, {}, problems);
  ASSERT_EQ(problems.notices().size(), 1u);
  EXPECT_NE(problems.notices()[0].message.find("(5 values: B2:B3, C2:C4)"), std::string::npos)
      << problems.notices()[0].message;
}

// A row labelled by a number is a record its reader passed over, not the
// engineer's own row: a notice, not a listing.
TEST(CellAccountTest, ARowNumberedButNotReadIsNoListing) {
  const auto grid = MakeGrid("S", {{"Name:", "Plant"}, {7, "stray"}, {"Engineer", "Kim"}});
  grid.at(1, 1), grid.at(1, 2), grid.at(2, 1), grid.at(3, 1);
  Problems problems;
  AccountForCells(grid, {false, true}, {}, problems);
  EXPECT_EQ(Said(problems),
            (std::vector<std::string>{
                "not read: S!B3: the row \"Engineer\" (row 3) is not read: no field of this sheet is read by its label "
                "(1 value: B3)",
                "notice: S!B2: values in rows whose first cell names nothing this run reads are not read (1 value: B2)"}));
}

TEST(CellAccountTest, AReportNamesItsCellsItsRowsOrItsColumn) {
  const auto grid = MakeGrid("S", {{"Chan", "Lable", "Label"}, {1, "a", "b"}, {"x", "c", "d"}, {2, "e", "f"}}, 3, 2);
  for (int r = 1; r <= 4; ++r) grid.at(r, 1), grid.at(r, 3);
  grid.at(1, 2);
  Problems problems;
  const ProblemsMark mark = ProblemsMark::Of(problems);
  problems.Note(grid.At(1, 2), "a heading mistyped");         // names its column
  problems.Note(grid.Span(3, 1, 3, 1), "a row passed over");  // names its row
  AccountForCells(grid, {true, false}, mark, problems);
  EXPECT_EQ(problems.notices().size(), 2u);
  // A report made before the mark names nothing.
  Problems later;
  later.Note(grid.At(1, 2), "said before the sheet was read");
  AccountForCells(grid, {true, false}, ProblemsMark::Of(later), later);
  ASSERT_EQ(later.notices().size(), 2u);
  EXPECT_EQ(later.notices()[1].where.ToString(), "S!C4:C6");
}

TEST(CellAccountTest, ALookAroundIsNoRead) {
  const auto grid = MakeGrid("S", {{"Name:", "Plant"}, {"Engineer", "Kim"}});
  grid.at(1, 1), grid.at(1, 2), grid.at(2, 1);
  {
    const SheetGrid::Quiet quiet(grid);
    grid.at(2, 2);
  }
  EXPECT_FALSE(grid.Read(2, 2));
  Problems problems;
  AccountForCells(grid, {false, true}, {}, problems);
  EXPECT_EQ(Said(problems), (std::vector<std::string>{"not read: S!B2: the row \"Engineer\" (row 2) is not read: no "
                                                      "field of this sheet is read by its label (1 value: B2)"}));
  grid.MarkRead(2, 2, 2, 2);
  Problems none;
  AccountForCells(grid, {false, true}, {}, none);
  EXPECT_TRUE(none.notices().empty());
}

TEST(CellAccountTest, AChannelSheetNamesOnlyWhatItsReaderLeaves) {
  // A title row above the headings reads no column, and the heading match says so once.
  const auto titled = MakeGrid("Sources", {{"Plant A inputs"}, {"Chan", "Chan Label"}, {1, "Mic 1"}});
  Problems problems;
  MatchHeaderColumns(titled, {"Chan Label"}, problems);
  ChannelRowScan(titled, ScanLimit::kNoCount, 0, problems, [](int, int) {});
  AccountForCells(titled, {true, false}, {}, problems);
  ASSERT_EQ(problems.notices().size(), 1u);
  EXPECT_EQ(problems.notices()[0].tag, "headings-below-title");

  // Blank texts are no values; a column of the engineer's own is listed,
  // not noticed where its heading is matched, nor repeated as unread rows.
  const auto sheet = MakeGrid("Sources", {{"Chan", "Chan Label", "Rack"}, {1, "Mic 1", "R1"}, {2, " ", "R2"}});
  Problems own;
  MatchHeaderColumns(sheet, {"Chan Label"}, own);
  ChannelRowScan(sheet, ScanLimit::kNoCount, 0, own, [&](int, int r) { sheet.at(r, 2); });
  AccountForCells(sheet, {true, false}, {}, own);
  EXPECT_EQ(Said(own), (std::vector<std::string>{"not read: Sources!C2:C3: the column \"Rack\" (C) is not read: no "
                                                 "field of this sheet is read by its heading (2 values: C2:C3)"}));
}

TEST(CellAccountTest, ValuesReadFromHiddenRowsOrColumnsAreSaid) {
  SheetGridBuilder b("S", false);
  for (int r = 1; r <= 4; ++r) {
    for (int c = 1; c <= 3; ++c) b.AddNumber(r, c, r * 10 + c);
  }
  b.HideRows(3, 3);
  b.HideColumns(2, 2);
  const SheetGrid grid = std::move(b).Build();
  ReadRows(grid, 1, 4, 3);
  Problems problems;
  AccountForCells(grid, {true, false}, {}, problems);
  EXPECT_EQ(Said(problems),
            (std::vector<std::string>{
                "notice: S!A3:C3: the row 3 is hidden, yet read: what the sheet does not show reaches the outputs "
                "(3 values: A3:C3)",
                "notice: S!B1:B4: the column B is hidden, yet read: what the sheet does not show reaches the outputs "
                "(3 values: B1:B2, B4)"}));
  // A hidden row whose first cell alone was looked at (a scan for numbers) reaches nothing.
  SheetGridBuilder remark("S", false);
  remark.AddNumber(1, 1, 1);
  remark.AddNumber(1, 2, 5);
  remark.AddText(2, 1, remark.InternText("Total"));
  remark.HideRows(2, 2);
  const SheetGrid scanned = std::move(remark).Build();
  ReadRows(scanned, 1, 1, 2);
  scanned.at(2, 1);
  Problems none;
  AccountForCells(scanned, {true, false}, {}, none);
  EXPECT_TRUE(none.notices().empty());
}

TEST(CellAccountTest, FormulasWithoutASavedResultAreSaid) {
  SheetGridBuilder b("S", false);
  b.AddNumber(2, 1, 1);
  b.AddUnsavedFormula(2, 2);
  b.AddUnsavedFormula(3, 2);
  b.AddUnsavedFormula(9, 4);  // outside the used range: said all the same
  const SheetGrid grid = std::move(b).Build();
  grid.at(1, 1);
  Problems problems;
  AccountForCells(grid, {}, {}, problems);
  ASSERT_EQ(problems.notices().size(), 1u);
  EXPECT_EQ(problems.notices()[0].where.ToString(), "S!B2:D9");
  EXPECT_NE(problems.notices()[0].message.find("read as empty: the spreadsheet application shows a value the run does "
                                               "not see"),
            std::string::npos);
  EXPECT_NE(problems.notices()[0].message.find("(3 values: B2:B3, D9)"), std::string::npos);
  // A sheet of such formulas alone holds no value at all, and says so too.
  SheetGridBuilder only("S", false);
  only.AddUnsavedFormula(1, 1);
  Problems alone;
  AccountForCells(std::move(only).Build(), {}, {}, alone);
  EXPECT_EQ(alone.notices().size(), 1u);
}

TEST(CellAccountTest, ACauseOnManySheetsIsSaidOnce) {
  Problems problems;
  problems.Note(Where::Sheet("Other"), "said before", "cells-unread");
  const std::size_t from = problems.notices().size();
  for (int n = 1; n <= 4; ++n) {
    const std::string sheet = "Console #" + std::to_string(n);
    problems.Note(Where::Sheet(sheet, "D6:O6"), "the row \"MFD Proc\" (row 6) is not read (" + std::to_string(n) +
                                                    " values: D6, F" + std::to_string(n) + ")", Problems::kNotReadTag);
    problems.Note(Where::Sheet(sheet, "C" + std::to_string(n)), "2.5 is not a whole number", "number-doubt");
  }
  problems.Note(Where::Sheet("Console #4", "B2"), "another cause", "cells-unread");
  // The same words under another code are another cause.
  problems.Note(Where::Sheet("Console #5", "D6:O6"), "the row \"MFD Proc\" (row 6) is not read (5 values: D6, F5)",
                "cells-unread");
  problems.FoldAcrossSheets(from);
  EXPECT_EQ(Said(problems),
            (std::vector<std::string>{
                "notice: Other: said before",
                "not read: 'Console #1'!D6:O6: the row \"MFD Proc\" (row 6) is not read (1 values: D6, F1); so too on "
                "3 more sheets (\"Console #2\" to \"Console #4\")",
                "notice: 'Console #1'!C1: 2.5 is not a whole number", "notice: 'Console #2'!C2: 2.5 is not a whole number",
                "notice: 'Console #3'!C3: 2.5 is not a whole number", "notice: 'Console #4'!C4: 2.5 is not a whole number",
                "notice: 'Console #4'!B2: another cause",
                "notice: 'Console #5'!D6:O6: the row \"MFD Proc\" (row 6) is not read (5 values: D6, F5)"}));
}

}  // namespace
}  // namespace kvr
