#include "workbook/workbook.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/problems.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"
#include "workbook/cell_convert.h"
#include "workbook/sheet_prefetch.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;
using testing::BiffRecords;

const fs::path kFixtures = KVR_FIXTURES_DIR;

std::vector<std::vector<std::string>> Texts(const SheetGrid& grid) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= grid.rows(); ++r) {
    rows.emplace_back();
    for (int c = 1; c <= grid.columns(); ++c) rows.back().push_back(CellText(grid, r, c).value_or("<error>"));
  }
  return rows;
}

class TempDir : public testing::TempDirTest {
 protected:
  static void WriteBytes(const fs::path& p, const std::string& bytes) { testing::WriteBytes(p, bytes); }
  static std::string ReadBytes(const fs::path& p) { return testing::ReadBytes(p); }
  // The message of the WorkbookError that `f` throws, or "" when it throws none.
  template <typename F>
  static std::string ErrorOf(F f) {
    try {
      f();
    } catch (const WorkbookError& e) {
      return e.what();
    }
    return "";
  }
};

// Files saved by LibreOffice from the same source, in both formats.
TEST(WorkbookFixtureTest, XlsxAndXlsReadTheSame) {
  auto xlsx = testing::Open(kFixtures / "types.xlsx");
  auto xls = testing::Open(kFixtures / "types.xls");
  EXPECT_EQ(xlsx->SheetNames(), (std::vector<std::string>{"System", "Cells", "Empty", "Single"}));
  ASSERT_EQ(xls->SheetNames(), xlsx->SheetNames());
  for (std::size_t i = 0; i < xlsx->SheetNames().size(); ++i) {
    const SheetGrid a = xlsx->ReadSheet(i), b = xls->ReadSheet(i);
    EXPECT_EQ(Texts(a), Texts(b)) << xlsx->SheetNames()[i];
    EXPECT_EQ(a.first_row(), b.first_row());
    EXPECT_EQ(a.first_column(), b.first_column());
  }
}

TEST(WorkbookFixtureTest, GridKeepsTheUsedRangeOriginAndValueKinds) {
  for (const char* name : {"types.xlsx", "types.xls"}) {
    SCOPED_TRACE(name);
    auto wb = testing::Open(kFixtures / name);
    Problems problems;
    const SheetGrid system = OpenSheetGrid(*wb, "SYSTEM", problems);  // names match without case
    EXPECT_EQ(system.rows(), 5);
    EXPECT_EQ(system.columns(), 2);
    EXPECT_EQ(system.At(1, 1).ToString(), "System!B2");
    EXPECT_EQ(CellNumber(system, 4, 2), 4);  // 3.5 rounds to even

    const SheetGrid cells = OpenSheetGrid(*wb, "Cells", problems);
    EXPECT_EQ(Texts(cells), (std::vector<std::vector<std::string>>{
                                {"2.5", "Microphone 1", "1", "3/15/2020", "7/4/2021 4:17:37 PM", "6:34:00 AM"},
                                {"<error>", "<error>", "abc", "True", "42", "1E+20"},
                                {"-1E-05", "40000", "0.1", "Ünïcödé ✓ 𝄞", "1.23456789012346E+17", "#N/A"}}));
    EXPECT_EQ(cells.at(2, 1).text, "#DIV/0!");
    EXPECT_EQ(cells.at(2, 2).text, "#N/A");
    EXPECT_EQ(cells.at(3, 6).kind, CellKind::kText);  // text that looks like an error is text

    EXPECT_EQ(OpenSheetGrid(*wb, "Empty", problems).rows(), 0);
    const SheetGrid single = OpenSheetGrid(*wb, "Single", problems);
    EXPECT_EQ(single.rows(), 1);
    EXPECT_EQ(single.columns(), 1);
    EXPECT_EQ(single.At(1, 1).ToString(), "Single!C2");
    EXPECT_TRUE(problems.empty());
  }
}

TEST(WorkbookFixtureTest, MissingSheetIsAnEmptyGridAndAProblem) {
  auto wb = testing::Open(kFixtures / "types.xlsx");
  Problems problems;
  const SheetGrid grid = OpenSheetGrid(*wb, "Sources", problems);
  EXPECT_EQ(grid.rows(), 0);
  EXPECT_EQ(grid.columns(), 0);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems.list()[0].ToString(), "the workbook has no sheet \"Sources\"; nothing read from it");
  EXPECT_EQ(problems.ErrorText(), ": Error #  9 - Subscript out of range");
}

// Rows and columns the workbook hides are known to the grid, in its own
// coordinates, in each of the three formats.
void ExpectHidden(const SheetGrid& g) {
  EXPECT_FALSE(g.RowHidden(1));
  EXPECT_TRUE(g.RowHidden(2));
  EXPECT_FALSE(g.RowHidden(3));
  EXPECT_FALSE(g.ColumnHidden(1));
  EXPECT_TRUE(g.ColumnHidden(2));
  EXPECT_FALSE(g.ColumnHidden(3));
}

using XlsxTest = TempDir;

TEST_F(XlsxTest, ReadsPackageQuirks) {
  const auto path = File("q.xlsx");
  testing::WriteZip(
      path, testing::MinimalXlsx(
                "<row r=\"2\"><c t=\"s\"><v>0</v></c><c><v>7</v></c><c r=\"E2\" t=\"inlineStr\"><is><r><t>in</t></r>"
                "<r><t>line</t></r><rPh><t>PHONETIC</t></rPh></is></c></row>"
                "<row><c t=\"b\"><v>1</v></c><c t=\"e\"><v>#VALUE!</v></c><c t=\"str\"><v>f_x000D_x</v></c>"
                "<c t=\"d\"><v>2020-03-15T12:00:00</v></c><c><f>A1</f></c><c s=\"0\"/></row>",
                "<si><t>A_x005F_x000D_ _xD834__xDD1E_ _xD800_</t></si>"));
  auto wb = testing::Open(path);
  const SheetGrid g = wb->ReadSheet(0);
  EXPECT_EQ(g.At(1, 1).ToString(), "Sheet1!A2");
  EXPECT_EQ(Texts(g), (std::vector<std::vector<std::string>>{
                          {"A_x000D_ 𝄞 \xEF\xBF\xBD", "7", "", "", "inline"},
                          {"True", "<error>", "f\rx", "3/15/2020 12:00:00 PM", ""}}));
}

// Day 366 is 1/1/1905 counted from 1904 (a leap year) and 12/31/1900 counted
// from 1900; the workbook's own flag decides.
TEST_F(XlsxTest, DatesCountFromTheWorkbooksSystem) {
  for (const bool date1904 : {false, true}) {
    auto parts = testing::MinimalXlsx("<row r=\"1\"><c s=\"1\"><v>366</v></c><c s=\"1\"><v>0</v></c></row>");
    if (date1904) parts[2].second.insert(parts[2].second.find("<sheets>"), "<workbookPr date1904=\"1\"/>");
    parts[3].second.insert(parts[3].second.find("</Relationships>"),
                           "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                           "relationships/styles\" Target=\"styles.xml\"/>");
    parts.emplace_back("xl/styles.xml",
                       "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><cellXfs>"
                       "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>");
    testing::WriteZip(File("d.xlsx"), parts);
    const SheetGrid g = testing::Open(File("d.xlsx"))->ReadSheet(0);
    EXPECT_EQ(Texts(g), (std::vector<std::vector<std::string>>{
                            date1904 ? std::vector<std::string>{"1/1/1905", "1/1/1904"}
                                     : std::vector<std::string>{"12/31/1900", "12:00:00 AM"}}));
  }
}

TEST_F(XlsxTest, HiddenRowsAndColumnsAreKnown) {
  auto parts = testing::MinimalXlsx("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\" hidden=\"1\"/>"
                                    "<row r=\"3\"><c r=\"C3\"><v>9</v></c></row>");
  for (auto& [name, data] : parts) {
    const std::size_t at = data.find("<sheetData>");
    if (at != std::string::npos) data.insert(at, "<cols><col min=\"2\" max=\"2\" hidden=\"true\"/></cols>");
  }
  testing::WriteZip(File("h.xlsx"), parts);
  ExpectHidden(testing::Open(File("h.xlsx"))->ReadSheet(0));
}

TEST_F(XlsxTest, FormulasWithoutASavedResultAreKnown) {
  testing::WriteZip(File("f.xlsx"),
                    testing::MinimalXlsx("<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1+1</f></c>"
                                         "<c r=\"C1\"><f>A1*2</f><v></v></c><c r=\"D1\" t=\"str\"><f>\"\"</f><v></v></c>"
                                         "<c r=\"E1\"><f>A1</f><v>1</v></c></row>"));
  const SheetGrid g = testing::Open(File("f.xlsx"))->ReadSheet(0);
  // B1 has no result, C1 an empty one; D1's empty text is a saved result, E1's 1 too.
  EXPECT_EQ(g.unsaved_formulas(), (std::vector<std::pair<int, int>>{{1, 2}, {1, 3}}));
  EXPECT_EQ(g.at(1, 5).number, 1);
}

TEST_F(XlsxTest, ClaimedDimensionIsIgnored) {
  auto parts = testing::MinimalXlsx("<row r=\"3\"><c r=\"C3\"><v>5</v></c></row>");
  parts[4].second.insert(parts[4].second.find("<sheetData>"), "<dimension ref=\"A1:XFD1048576\"/>");
  testing::WriteZip(File("dim.xlsx"), parts);
  const SheetGrid g = testing::Open(File("dim.xlsx"))->ReadSheet(0);
  EXPECT_EQ(g.rows(), 1);
  EXPECT_EQ(g.columns(), 1);
  EXPECT_EQ(g.At(1, 1).ToString(), "Sheet1!C3");
}

TEST_F(XlsxTest, BadInputsGiveClearErrors) {
  WriteBytes(File("text.xlsx"), "Name:,Studio A\n");
  EXPECT_NE(ErrorOf([&] { testing::Open(File("text.xlsx")); }).find("not a workbook"), std::string::npos);
  WriteBytes(File("empty.xlsx"), "");
  EXPECT_NE(ErrorOf([&] { testing::Open(File("empty.xlsx")); }).find("not a workbook"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { testing::Open(dir_); }).find("folder"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("absent.xlsx")); }).find("cannot open"), std::string::npos);

  const std::string good = ReadBytes(kFixtures / "types.xlsx");
  WriteBytes(File("truncated.xlsx"), good.substr(0, good.size() / 2));
  EXPECT_NE(ErrorOf([&] { testing::Open(File("truncated.xlsx")); }).find("damaged zip"), std::string::npos);

  std::string corrupt = good;  // deflated data overwritten: inflating fails or the CRC does
  for (std::size_t i = 200; i < 1200 && i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(i * 7);
  WriteBytes(File("corrupt.xlsx"), corrupt);
  EXPECT_NE(ErrorOf([&] {
              auto wb = testing::Open(File("corrupt.xlsx"));
              for (std::size_t i = 0; i < wb->SheetNames().size(); ++i) wb->ReadSheet(i);
            }),
            "");

  testing::WriteZip(File("nowb.xlsx"), {{"hello.txt", "hi"}});
  EXPECT_NE(ErrorOf([&] { testing::Open(File("nowb.xlsx")); }).find("without a spreadsheet workbook"),
            std::string::npos);
}

TEST_F(XlsxTest, MalformedSheetContentIsRefused) {
  struct Case { const char* name; std::string sheet_data; const char* expect; } cases[] = {
      {"xml", "<row><c><v>1</v></row>", "malformed XML"},
      {"utf8", "<row><c t=\"inlineStr\"><is><t>\xFF\xFE</t></is></c></row>", "malformed XML"},
      {"charref", "<row><c t=\"inlineStr\"><is><t>&#xD800;</t></is></c></row>", "malformed XML"},
      {"ref0", "<row><c r=\"A0\"><v>1</v></c></row>", "malformed cell reference \"A0\""},
      {"refcol", "<row><c r=\"XFE1\"><v>1</v></c></row>", "malformed cell reference"},
      {"refnum", "<row><c r=\"12\"><v>1</v></c></row>", "malformed cell reference"},
      {"rowattr", "<row r=\"x\"><c><v>1</v></c></row>", "malformed row number"},
      {"huge", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>",
       "more than 4194304 cells"},
      {"sst", "<row><c t=\"s\"><v>5</v></c></row>", "shared string \"5\", which does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = File(std::string(c.name) + ".xlsx");
    testing::WriteZip(path, testing::MinimalXlsx(c.sheet_data));
    auto wb = testing::Open(path);
    EXPECT_NE(ErrorOf([&] { wb->ReadSheet(0); }).find(c.expect), std::string::npos)
        << ErrorOf([&] { wb->ReadSheet(0); });
    Problems problems;  // in a run the same failure is a problem and an empty grid
    EXPECT_EQ(OpenSheetGrid(*wb, "Sheet1", problems).rows(), 0);
    EXPECT_EQ(problems.size(), 1u);
  }
}

TEST_F(XlsxTest, PartThatInflatesPastTheCapIsRefused) {
  auto parts = testing::MinimalXlsx("");
  // A workbook part of 65 MiB of blanks compresses to a few kilobytes.
  parts[2].second.insert(parts[2].second.find("<sheets>"), std::string(std::size_t{65} << 20, ' '));
  testing::WriteZip(File("bomb.xlsx"), parts);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("bomb.xlsx")); }).find("part too large"), std::string::npos);
}

class XlsTest : public TempDir {
 protected:
  void SetUp() override {
    TempDir::SetUp();
    if (!testing::CanWriteOle2()) GTEST_SKIP() << "this build writes no compound files";
  }
};

std::string Workbook(const std::string& globals_extra, const BiffRecords& sheet, const std::string& sst = "") {
  // Globals: BOF, optional records, one BOUNDSHEET8 whose offset is patched in, EOF.
  BiffRecords head;
  head.Bof(0x0005);
  const std::string tail_records = globals_extra + sst;
  const std::string name = BiffRecords::Str8("Sheet1");
  const std::size_t boundsheet_size = 4 + 4 + 2 + name.size();
  const std::size_t offset = head.size() + tail_records.size() + boundsheet_size + 4;
  BiffRecords globals;
  globals.Add(0x0085, BiffRecords::U32(static_cast<std::uint32_t>(offset)) + std::string(2, '\0') + name).Eof();
  return head.bytes() + tail_records + globals.bytes() + sheet.bytes();
}

std::string Cell(int row, int col, int xf) {
  return BiffRecords::U16(static_cast<std::uint16_t>(row)) + BiffRecords::U16(static_cast<std::uint16_t>(col)) +
         BiffRecords::U16(static_cast<std::uint16_t>(xf));
}

TEST_F(XlsTest, ReadsCellRecordsAndContinuedStrings) {
  using B = BiffRecords;
  // SST of two strings; the second starts compressed and continues wide in a CONTINUE record.
  BiffRecords sst;
  sst.Add(0x00FC, B::U32(2) + B::U32(2) + B::Str16("Mic") + B::U16(6) + std::string(1, '\0') + "ab");
  sst.Add(0x003C, std::string(1, '\x01') + std::string("\x3A\x04\x1E\x20\x34\xD8", 6) + std::string("\x1E\xDD", 2));
  // Formats: XF 0 general, XF 1 a custom date format 164.
  BiffRecords styles;
  styles.Add(0x041E, B::U16(164) + B::Str16("dd/mm/yyyy"));
  styles.Add(0x00E0, B::U16(0) + B::U16(0) + std::string(16, '\0'));
  styles.Add(0x00E0, B::U16(0) + B::U16(164) + std::string(16, '\0'));
  BiffRecords sheet;
  sheet.Bof(0x0010)
      .Add(0x00FD, Cell(1, 1, 0) + B::U32(0))
      .Add(0x00FD, Cell(1, 2, 0) + B::U32(1))
      .Add(0x027E, Cell(2, 1, 0) + B::U32((123 << 2) | 2 | 1))  // integer RK / 100
      .Add(0x00BD, B::U16(2) + B::U16(2) + B::U16(0) + B::U32((7 << 2) | 2) + B::U16(1) + B::U32((43905 << 2) | 2) +
                       B::U16(3))
      .Add(0x0203, Cell(3, 1, 0) + B::F64(2.5))
      .Add(0x0205, Cell(3, 2, 0) + std::string("\x01\x00", 2))
      .Add(0x0205, Cell(3, 3, 0) + std::string("\x2A\x01", 2))
      .Add(0x0006, Cell(4, 1, 0) + std::string("\x00\x00\x00\x00\x00\x00\xFF\xFF", 8) + std::string(6, '\0'))
      .Add(0x0207, B::Str16("formula text"))
      .Add(0x0006, Cell(4, 2, 0) + std::string("\x02\x00\x07\x00\x00\x00\xFF\xFF", 8) + std::string(6, '\0'))
      .Add(0x0204, Cell(4, 3, 0) + B::Str16("label"))
      .Bof(0x0020).Add(0x0203, Cell(9, 9, 0) + B::F64(1)).Eof()  // an embedded chart's records are not cells
      .Eof();
  testing::WriteOle2(File("t.xls"), {{"Workbook", Workbook(styles.bytes(), sheet, sst.bytes())}});
  auto wb = testing::Open(File("t.xls"));
  ASSERT_EQ(wb->SheetNames(), std::vector<std::string>{"Sheet1"});
  const SheetGrid g = wb->ReadSheet(0);
  EXPECT_EQ(g.At(1, 1).ToString(), "Sheet1!B2");
  EXPECT_EQ(Texts(g), (std::vector<std::vector<std::string>>{{"Mic", "abк„𝄞", ""},
                                                               {"1.23", "7", "3/15/2020"},
                                                               {"2.5", "True", "<error>"},
                                                               {"formula text", "<error>", "label"}}));
  EXPECT_EQ(g.at(3, 3).text, "#N/A");
  EXPECT_EQ(g.at(4, 2).text, "#DIV/0!");
}

TEST_F(XlsTest, HiddenRowsAndColumnsAreKnown) {
  if (!testing::CanWriteOle2()) GTEST_SKIP() << "no compound-file writer";
  using B = BiffRecords;
  BiffRecords sheet;
  sheet.Bof(0x0010)
      .Add(0x007D, B::U16(1) + B::U16(1) + B::U16(2560) + B::U16(0) + B::U16(0x0001) + B::U16(0))  // column B hidden
      .Add(0x0208, B::U16(1) + B::U16(0) + B::U16(3) + B::U16(255) + B::U16(0) + B::U16(0) + B::U16(0x0020) +
                       B::U16(0))  // row 2 hidden
      .Add(0x0203, Cell(0, 0, 0) + B::F64(1))
      .Add(0x0203, Cell(2, 2, 0) + B::F64(9))
      .Eof();
  testing::WriteOle2(File("h.xls"), {{"Workbook", Workbook("", sheet)}});
  ExpectHidden(testing::Open(File("h.xls"))->ReadSheet(0));
}

TEST_F(XlsTest, DatesCountFromTheWorkbooksSystem) {
  using B = BiffRecords;
  for (const bool date1904 : {false, true}) {
    BiffRecords globals;
    globals.Add(0x0022, B::U16(date1904 ? 1 : 0));  // DATEMODE
    globals.Add(0x00E0, B::U16(0) + B::U16(0) + std::string(16, '\0'));
    globals.Add(0x00E0, B::U16(0) + B::U16(14) + std::string(16, '\0'));  // built-in date format
    BiffRecords sheet;
    sheet.Bof(0x0010).Add(0x0203, Cell(0, 0, 1) + B::F64(366)).Add(0x0203, Cell(0, 1, 1) + B::F64(0)).Eof();
    testing::WriteOle2(File("d.xls"), {{"Workbook", Workbook(globals.bytes(), sheet)}});
    const SheetGrid g = testing::Open(File("d.xls"))->ReadSheet(0);
    EXPECT_EQ(Texts(g), (std::vector<std::vector<std::string>>{
                            date1904 ? std::vector<std::string>{"1/1/1905", "1/1/1904"}
                                     : std::vector<std::string>{"12/31/1900", "12:00:00 AM"}}));
  }
}

TEST_F(XlsTest, BadInputsGiveClearErrors) {
  using B = BiffRecords;
  BiffRecords sheet;
  sheet.Bof(0x0010).Add(0x0203, Cell(0, 0, 0) + B::F64(1)).Eof();

  BiffRecords filepass;
  filepass.Add(0x002F, std::string(6, '\0'));
  testing::WriteOle2(File("enc.xls"), {{"Workbook", Workbook(filepass.bytes(), sheet)}});
  EXPECT_NE(ErrorOf([&] { testing::Open(File("enc.xls")); }).find("encrypted workbook"), std::string::npos);

  testing::WriteOle2(File("pkg.xls"), {{"EncryptionInfo", "x"}, {"EncryptedPackage", "y"}});
  EXPECT_NE(ErrorOf([&] { testing::Open(File("pkg.xls")); }).find("encrypted workbook"), std::string::npos);

  testing::WriteOle2(File("book.xls"), {{"Book", "x"}});
  EXPECT_NE(ErrorOf([&] { testing::Open(File("book.xls")); }).find("Excel 5.0/95"), std::string::npos);

  testing::WriteOle2(File("doc.xls"), {{"WordDocument", "x"}});
  EXPECT_NE(ErrorOf([&] { testing::Open(File("doc.xls")); }).find("without a workbook stream"), std::string::npos);

  const std::string good = Workbook("", sheet);
  testing::WriteOle2(File("trunc.xls"), {{"Workbook", good.substr(0, good.size() - 10)}});
  EXPECT_NE(ErrorOf([&] {
              auto wb = testing::Open(File("trunc.xls"));
              wb->ReadSheet(0);
            }).find("truncated"),
            std::string::npos);

  BiffRecords short_number;  // a NUMBER record too short for its value
  short_number.Bof(0x0010).Add(0x0203, Cell(0, 0, 0) + "\x01\x02").Eof();
  testing::WriteOle2(File("short.xls"), {{"Workbook", Workbook("", short_number)}});
  EXPECT_NE(ErrorOf([&] {
              auto wb = testing::Open(File("short.xls"));
              wb->ReadSheet(0);
            }).find("record ends early"),
            std::string::npos);

  const std::string ole = ReadBytes(kFixtures / "types.xls");
  WriteBytes(File("cut.xls"), ole.substr(0, 1000));
  EXPECT_NE(ErrorOf([&] { testing::Open(File("cut.xls")); }), "");
}

// Hostile compound files end in an error, never in a loop or a wild read.
TEST_F(XlsTest, DamagedCompoundFilesAreRefused) {
  const std::string ole = ReadBytes(kFixtures / "types.xls");
  auto u32 = [](const std::string& d, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, d.data() + at, 4);
    return v;
  };
  auto put32 = [](std::string& d, std::size_t at, std::uint32_t v) { std::memcpy(d.data() + at, &v, 4); };
  const std::size_t fat = (u32(ole, 0x4C) + 1) * 512;

  std::string loop = ole;  // every chain points back at itself
  for (std::uint32_t i = 0; i < 128; ++i) put32(loop, fat + 4 * i, i);
  WriteBytes(File("loop.xls"), loop);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("loop.xls")); }).find("chain is broken"), std::string::npos);

  std::string far = ole;  // the directory starts past the end of the file
  put32(far, 0x30, 0x00FFFFF0);
  WriteBytes(File("far.xls"), far);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("far.xls")); }).find("damaged OLE2"), std::string::npos);

  std::string many = ole;  // more allocation sectors than the file has
  put32(many, 0x2C, 0x7FFFFFFF);
  WriteBytes(File("many.xls"), many);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("many.xls")); }).find("damaged OLE2"), std::string::npos);

  std::string header = ole.substr(0, 512);  // a header and nothing else
  WriteBytes(File("header.xls"), header);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("header.xls")); }), "");
}


using OdsTest = TempDir;

// An OpenDocument package around the given tables (table:table elements).
testing::Parts OdsParts(const std::string& tables) {
  return {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
          {"content.xml",
           "<?xml version=\"1.0\"?><office:document-content "
           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:t=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
           "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\" "
           "office:version=\"1.3\"><office:body><office:spreadsheet>" +
               tables + "</office:spreadsheet></office:body></office:document-content>"}};
}

TEST_F(OdsTest, HiddenRowsAndColumnsAreKnown) {
  testing::WriteZip(
      File("h.ods"),
      OdsParts("<t:table t:name=\"S\"><t:table-column/><t:table-column t:visibility=\"collapse\"/><t:table-column/>"
               "<t:table-row><t:table-cell office:value-type=\"float\" office:value=\"1\"/></t:table-row>"
               "<t:table-row t:visibility=\"filter\"/>"
               "<t:table-row><t:table-cell t:number-columns-repeated=\"2\"/>"
               "<t:table-cell office:value-type=\"float\" office:value=\"9\"/></t:table-row></t:table>"));
  ExpectHidden(testing::Open(File("h.ods"))->ReadSheet(0));
}

TEST_F(OdsTest, FormulasWithoutASavedResultAreKnown) {
  testing::WriteZip(
      File("f.ods"),
      OdsParts("<t:table t:name=\"S\"><t:table-row><t:table-cell office:value-type=\"float\" office:value=\"1\"/>"
               "<t:table-cell t:formula=\"of:=[.A1]+1\"/>"
               "<t:table-cell t:formula=\"of:=[.A1]\" office:value-type=\"float\" office:value=\"1\"/>"
               "</t:table-row></t:table>"));
  EXPECT_EQ(testing::Open(File("f.ods"))->ReadSheet(0).unsaved_formulas(), (std::vector<std::pair<int, int>>{{1, 2}}));
}

// A prefix means the namespace bound to it where the element stands: bound
// again inside (for the element itself too), it is another vocabulary until
// that element ends; a default namespace names elements without a prefix,
// never attributes.
TEST_F(OdsTest, PrefixesMeanWhatTheirScopeBindsThemTo) {
  testing::WriteZip(
      File("ns.ods"),
      OdsParts("<t:table t:name=\"S\">"
               "<t:table-row xmlns:t=\"urn:example:other\"><t:table-cell office:value-type=\"float\" "
               "office:value=\"1\"/></t:table-row>"
               "<table-row xmlns=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\">"
               "<table-cell office:value-type=\"float\" office:value=\"2\"/>"
               "<table-cell number-columns-repeated=\"3\" office:value-type=\"float\" office:value=\"3\"/>"
               "<t:table-cell xmlns:t=\"\" office:value-type=\"float\" office:value=\"4\"/></table-row>"
               "<t:table-row><t:table-cell office:value-type=\"float\" office:value=\"5\"/></t:table-row>"
               "</t:table>"));
  const SheetGrid grid = testing::Open(File("ns.ods"))->ReadSheet(0);
  EXPECT_EQ(grid.rows(), 2);
  EXPECT_EQ(grid.columns(), 2);  // the repeat is no table attribute: one cell
  EXPECT_EQ(grid.at(1, 1).number, 2);
  EXPECT_EQ(grid.at(1, 2).number, 3);
  EXPECT_EQ(grid.at(2, 1).number, 5);
}

TEST_F(OdsTest, ValueTypesTextAndRepeats) {
  // The table prefix is "t", not "table": names are matched by namespace.
  testing::WriteZip(
      File("v.ods"),
      OdsParts("<t:table t:name=\"First\"><t:table-row><t:table-cell office:value-type=\"string\"><text:p>x</text:p>"
               "</t:table-cell></t:table-row></t:table>"
               "<t:table t:name=\"Second\"><t:table-column t:number-columns-repeated=\"5\"/>"
               "<t:table-row t:number-rows-repeated=\"1000000\"/>"
               "<t:table-header-rows><t:table-row>"
               "<t:table-cell t:number-columns-repeated=\"2\"/>"
               "<t:table-cell office:value-type=\"percentage\" office:value=\"0.25\"><text:p>25%</text:p></t:table-cell>"
               "<t:table-cell office:value-type=\"date\" office:date-value=\"2021-01-01T10:10:10\"/>"
               "<t:table-cell office:value-type=\"time\" office:time-value=\"PT10H10M10S\"/>"
               "<t:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"/>"
               "</t:table-row></t:table-header-rows>"
               "<t:table-row-group><t:table-row t:number-rows-repeated=\"2\">"
               "<t:table-cell t:number-columns-repeated=\"2\"/>"
               "<t:table-cell office:value-type=\"string\" t:number-columns-repeated=\"2\">"
               "<office:annotation><text:p>comment</text:p></office:annotation>"
               "<text:p>a<text:s text:c=\"2\"/>b<text:tab/><text:span>c</text:span></text:p><text:p>d<text:line-break/>"
               "</text:p></t:table-cell>"
               "<t:table-cell t:formula=\"of:=1/0\" office:value-type=\"string\" office:string-value=\"\" "
               "calcext:value-type=\"error\"><text:p>#DIV/0!</text:p></t:table-cell>"
               "<t:table-cell t:formula=\"of:=&quot;&quot;\"><text:p/></t:table-cell>"
               "<t:covered-table-cell office:value-type=\"float\" office:value=\"9\"/>"
               "</t:table-row></t:table-row-group>"
               "<t:table-row t:number-rows-repeated=\"1048000\"><t:table-cell t:number-columns-repeated=\"16384\"/>"
               "</t:table-row></t:table>"));
  auto wb = testing::Open(File("v.ods"));
  EXPECT_EQ(wb->SheetNames(), (std::vector<std::string>{"First", "Second"}));
  const SheetGrid g = wb->ReadSheet(1);
  EXPECT_EQ(g.At(1, 1).ToString(), "Second!C1000001");
  const std::string text = "a  b\tc\nd\n";
  EXPECT_EQ(Texts(g), (std::vector<std::vector<std::string>>{
                          {"0.25", "1/1/2021 10:10:10 AM", "10:10:10 AM", "True"},
                          {text, text, "<error>", ""},
                          {text, text, "<error>", ""}}));
  EXPECT_EQ(g.at(2, 3).text, "#DIV/0!");
  EXPECT_EQ(Texts(wb->ReadSheet(0)), (std::vector<std::vector<std::string>>{{"x"}}));
}

TEST_F(OdsTest, ContentDecidesTheFormatAndBadPackagesAreRefused) {
  const std::string cell =
      "<t:table t:name=\"S\"><t:table-row><t:table-cell office:value-type=\"float\" office:value=\"7\"/>"
      "</t:table-row></t:table>";
  auto parts = OdsParts(cell);
  parts.erase(parts.begin());  // no mimetype entry: content.xml alone tells
  testing::WriteZip(File("named.xlsx"), parts);
  EXPECT_EQ(Texts(testing::Open(File("named.xlsx"))->ReadSheet(0)), (std::vector<std::vector<std::string>>{{"7"}}));

  parts = OdsParts(cell);
  parts.emplace_back("META-INF/manifest.xml",
                     "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                     "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
                     "</manifest:file-entry></manifest:manifest>");
  testing::WriteZip(File("locked.ods"), parts);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("locked.ods")); }).find("encrypted"), std::string::npos);

  parts = OdsParts(cell);
  parts[0].second = "application/vnd.oasis.opendocument.text";
  testing::WriteZip(File("letter.ods"), parts);
  EXPECT_NE(ErrorOf([&] { testing::Open(File("letter.ods")); }).find("not a spreadsheet"), std::string::npos);

  // One value repeated past what a sheet may hold is refused, not expanded.
  testing::WriteZip(File("bomb.ods"),
                    OdsParts("<t:table t:name=\"S\"><t:table-row t:number-rows-repeated=\"999999999\">"
                             "<t:table-cell office:value-type=\"string\" t:number-columns-repeated=\"999999999\">"
                             "<text:p>x</text:p></t:table-cell></t:table-row></t:table>"));
  EXPECT_NE(ErrorOf([&] { testing::Open(File("bomb.ods"))->ReadSheet(0); }).find("more than 4194304 cells"),
            std::string::npos);

  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<text:span>";
  testing::WriteZip(File("deep.ods"), OdsParts("<t:table t:name=\"S\">" + deep + "</t:table>"));
  EXPECT_NE(ErrorOf([&] { testing::Open(File("deep.ods")); }).find("nested deeper than 256"), std::string::npos);
}

}  // namespace
}  // namespace kvr

namespace kvr {
namespace {

// A cell covered by a merge still takes its column: what follows it stays in
// its own column, wherever in the row the merge lies.
TEST_F(OdsTest, CoveredCellsKeepTheirColumns) {
  testing::WriteZip(
      File("m.ods"),
      OdsParts("<t:table t:name=\"M\"><t:table-row>"
               "<t:table-cell office:value-type=\"string\" t:number-columns-spanned=\"3\"><text:p>A</text:p>"
               "</t:table-cell><t:covered-table-cell t:number-columns-repeated=\"2\"/>"
               "<t:table-cell office:value-type=\"float\" office:value=\"4\"/>"
               "<t:table-cell office:value-type=\"string\" t:number-columns-spanned=\"2\"><text:p>E</text:p>"
               "</t:table-cell><t:covered-table-cell/>"
               "<t:table-cell office:value-type=\"float\" office:value=\"7\"/>"
               "</t:table-row></t:table>"));
  EXPECT_EQ(Texts(testing::Open(File("m.ods"))->ReadSheet(0)),
            (std::vector<std::vector<std::string>>{{"A", "", "", "4", "E", "", "7"}}));
}

// A workbook of many sheets whose reads are counted.
class CountingWorkbook : public Workbook {
 public:
  explicit CountingWorkbook(std::size_t sheets) {
    for (std::size_t i = 0; i < sheets; ++i) names_.push_back("S" + std::to_string(i));
  }
  const std::vector<std::string>& SheetNames() const override { return names_; }
  SheetGrid ReadSheet(std::size_t) override {
    ++reads;
    return SheetGrid();
  }
  bool ConcurrentReads() const override { return true; }
  std::atomic<int> reads{0};

 private:
  std::vector<std::string> names_;
};

// Sheets are read ahead only a few at a time, so memory stays that of a few
// sheets however many the workbook holds.
TEST(SheetPrefetcherTest, ReadsAheadOnlyAFewSheets) {
  CountingWorkbook workbook(40);
  SheetPrefetcher prefetch(workbook, workbook.SheetNames(), 2);
  Problems problems;
  for (int taken = 0; taken < 3; ++taken) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // time enough to read every sheet
    EXPECT_LE(workbook.reads.load(), taken + 3);
    EXPECT_GE(workbook.reads.load(), taken + 1);
    prefetch.Take("S" + std::to_string(taken), problems);
  }
}

}  // namespace
}  // namespace kvr
