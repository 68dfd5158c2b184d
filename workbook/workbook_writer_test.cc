#include "workbook/workbook_writer.h"

#include <gtest/gtest.h>
#include <zip.h>

#include "console/console_export.h"
#include "console/con_format.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"

namespace kvr {
namespace {

using testing::ReadBytes;

// Texts a label or note may hold, each of which a careless writer or reader
// changes: blanks a reader collapses, line breaks, escapes of the package
// format, numbers as text, characters beyond the first plane.
const char* const kTexts[] = {"Mic 1",   "  lead", "trail  ", "a   b", "tab\tin", "two\nlines", "012", "0",
                              " ",       "{hid",   "Ünïcødé", "日本語", "emoji😀", "<&>\"'",   "=1+1", "_x0041_",
                              "a_x005F_b", "_x00", "-5",      "1e3",   "TRUE",    "#N/A"};

std::vector<OutSheet> Sample() {
  OutSheet sheet("Sources");
  sheet.SetText(1, 1, "Chan Num");
  sheet.SetText(1, 2, "Chan Label");
  int row = 2;
  for (const char* text : kTexts) {
    sheet.SetNumber(row, 1, row - 1);
    sheet.SetText(row, 2, text);
    sheet.SetNumber(row, 4, -32768 + row);  // a gap in column 3
    ++row;
  }
  // Runs of equal cells, which a writer may store as one repeated cell.
  for (int c = 1; c <= 6; ++c) sheet.SetNumber(row, c, c <= 3 ? 7 : 0);
  sheet.SetText(row, 7, "same");
  sheet.SetText(row, 8, "same");
  sheet.SetNumber(row, 9, 7);
  OutSheet system("System", 0);
  system.SetText(1, 1, "Name:");
  system.SetText(1, 2, "Studio A");
  return {std::move(system), std::move(sheet)};
}

// Part `name` of the zip package at `path`, or "(missing)".
std::string PartOf(const std::filesystem::path& path, const char* name) {
  zip_t* z = zip_open(path.string().c_str(), ZIP_RDONLY, nullptr);
  zip_stat_t st;
  if (z == nullptr || zip_stat(z, name, 0, &st) != 0) {
    if (z != nullptr) zip_close(z);
    return "(missing)";
  }
  std::string text(st.size, '\0');
  zip_file_t* f = zip_fopen(z, name, 0);
  zip_fread(f, text.data(), st.size);
  zip_fclose(f);
  zip_close(z);
  return text;
}

class WorkbookWriterTest : public testing::TempDirTest {
 protected:
  // Writes the sheets as `name` and reads every sheet back through the
  // program's own readers: what differs.
  std::vector<std::string> RoundTrip(const std::vector<OutSheet>& sheets, const std::string& name) {
    const auto path = File(name);
    std::vector<AlteredCell> altered;
    const Status s = name.ends_with(".ods") ? WriteOds(sheets, path, 1700000000, altered)
                                            : WriteXlsx(sheets, path, 1700000000);
    EXPECT_TRUE(s.ok()) << s.why();
    auto book = testing::Open(path);
    EXPECT_EQ(book->SheetNames().size(), sheets.size());
    std::vector<std::string> found;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      EXPECT_EQ(book->SheetNames()[i], sheets[i].name());
      for (const auto& d : GridDifferences(sheets[i], book->ReadSheet(i))) found.push_back(d);
    }
    return found;
  }
};

TEST_F(WorkbookWriterTest, EveryTextAndNumberReadsBackAsWritten) {
  for (const char* name : {"plant.xlsx", "plant.ods"}) {
    EXPECT_EQ(RoundTrip(Sample(), name), std::vector<std::string>{}) << name;
  }
}

TEST_F(WorkbookWriterTest, TheSameSheetsGiveTheSameBytes) {
  for (const char* ext : {".xlsx", ".ods"}) {
    std::vector<AlteredCell> altered;
    for (const char* name : {"a", "b"}) {
      const auto path = File(std::string(name) + ext);
      const Status s = std::string(ext) == ".ods" ? WriteOds(Sample(), path, 1700000000, altered)
                                                  : WriteXlsx(Sample(), path, 1700000000);
      ASSERT_TRUE(s.ok()) << s.why();
    }
    EXPECT_EQ(ReadBytes(File(std::string("a") + ext)), ReadBytes(File(std::string("b") + ext))) << ext;
  }
}

// The .ods package as other programs expect it: the media type first and
// stored, the heading row frozen, column widths from the content.
TEST_F(WorkbookWriterTest, OdsPackageStartsWithItsMediaTypeAndFreezesHeadings) {
  std::vector<AlteredCell> altered;
  ASSERT_TRUE(WriteOds(Sample(), File("p.ods"), 1700000000, altered).ok());
  const std::string bytes = ReadBytes(File("p.ods"));
  EXPECT_EQ(bytes.substr(30, 8), "mimetype");
  EXPECT_EQ(bytes.substr(38, 46), "application/vnd.oasis.opendocument.spreadsheet");
  auto part = [&](const char* name) { return PartOf(File("p.ods"), name); };
  const std::string settings = part("settings.xml");
  EXPECT_NE(settings.find("config:name=\"Sources\""), std::string::npos);
  EXPECT_EQ(settings.find("config:name=\"System\""), std::string::npos);  // no heading row to freeze
  EXPECT_NE(part("content.xml").find("style:column-width"), std::string::npos);
}

TEST_F(WorkbookWriterTest, OdsReplacesWhatXmlCannotCarryAndSaysWhere) {
  OutSheet sheet("Notes");
  sheet.SetText(1, 1, "Heading");
  sheet.SetText(3, 2, std::string("bell\x07here"));
  sheet.SetText(3, 3, std::string("bell\x07here"));  // the same text beside it: each cell is named
  std::vector<AlteredCell> altered;
  ASSERT_TRUE(WriteOds({sheet}, File("c.ods"), 0, altered).ok());
  ASSERT_EQ(altered.size(), 2u);
  EXPECT_EQ(altered[0].row, 3);
  EXPECT_EQ(altered[0].column, 2);
  EXPECT_EQ(altered[1].column, 3);
  // .xlsx carries it.
  EXPECT_EQ(RoundTrip({sheet}, "c.xlsx"), std::vector<std::string>{});
}

// A text from a database need not be UTF-8: the cell gets U+FFFD for each
// byte sequence that is no character, and says so, in both formats; a
// writer's failure is the program's to say, not the library's on stderr.
TEST_F(WorkbookWriterTest, TextThatIsNotUtf8IsMendedAndSaid) {
  OutSheet sheet("Notes");
  sheet.SetText(1, 1, "Heading");
  sheet.SetText(2, 2, std::string("A\xFF" "B"));
  sheet.SetText(3, 2, "fine");
  ASSERT_EQ(sheet.cut().size(), 1u);
  EXPECT_TRUE(sheet.cut()[0].not_utf8);
  EXPECT_EQ(sheet.cut()[0].characters, 0u);
  EXPECT_EQ(sheet.at(2, 2).text, "A\xEF\xBF\xBD" "B");
  sheet.SetText(2, 2, "whole again");
  EXPECT_TRUE(sheet.cut().empty());
  sheet.SetText(2, 2, std::string("\xC3"));
  EXPECT_EQ(RoundTrip({sheet}, "u.xlsx"), std::vector<std::string>{});
  EXPECT_EQ(RoundTrip({sheet}, "u.ods"), std::vector<std::string>{});

  ::testing::internal::CaptureStderr();
  const Status s = WriteXlsx({sheet}, dir_ / "no such folder" / "x.xlsx", 0);
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.why().find("x.xlsx"), std::string::npos) << s.why();
  EXPECT_EQ(printed, "");
}

// The .xlsx package as other programs expect it: the sheets listed in order
// with their parts, the heading row frozen where a sheet has one, column
// widths from the content, the creation time in the document's properties.
TEST_F(WorkbookWriterTest, XlsxPackageListsItsSheetsAndFreezesHeadings) {
  ASSERT_TRUE(WriteXlsx(Sample(), File("p.xlsx"), 1700000000).ok());
  auto part = [&](const char* name) { return PartOf(File("p.xlsx"), name); };
  const std::string workbook = part("xl/workbook.xml");
  EXPECT_LT(workbook.find("name=\"System\""), workbook.find("name=\"Sources\"")) << workbook;
  const std::string system = part("xl/worksheets/sheet1.xml"), sources = part("xl/worksheets/sheet2.xml");
  EXPECT_EQ(system.find("state=\"frozen\""), std::string::npos);  // no heading row to freeze
  EXPECT_NE(sources.find("<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"),
            std::string::npos);
  EXPECT_NE(sources.find("<dimension ref=\"A1:I24\"/>"), std::string::npos) << sources.substr(0, 400);
  EXPECT_NE(sources.find("<col min=\"2\" max=\"2\" width=\"12.7109375\" customWidth=\"1\"/>"), std::string::npos);
  EXPECT_NE(part("docProps/core.xml").find(">2023-11-14T22:13:20Z</dcterms:created>"), std::string::npos);
  EXPECT_NE(part("[Content_Types].xml").find("/xl/worksheets/sheet2.xml"), std::string::npos);
  // Blanks at either end are marked to be kept: an XML reader may drop them otherwise.
  EXPECT_NE(sources.find("<t xml:space=\"preserve\">  lead</t>"), std::string::npos);
  EXPECT_NE(sources.find("<t>a   b</t>"), std::string::npos);
  // Every part is dated with the document's creation time (the same sheets give the same bytes).
  zip_t* z = zip_open(File("p.xlsx").string().c_str(), ZIP_RDONLY, nullptr);
  ASSERT_NE(z, nullptr);
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st), 0);
    EXPECT_EQ(st.mtime, 1700000000) << st.name;
  }
  zip_close(z);
}

// Every character a text may hold reaches an .xlsx cell and reads back: the
// control characters XML does not carry (a carriage return included, which
// an XML reader turns into a line feed), the two it forbids beyond them,
// blanks and line breaks at either end; a sheet named with XML's own marks.
TEST_F(WorkbookWriterTest, XlsxCarriesEveryCharacterOfAText) {
  OutSheet sheet("R&D <\"A\">");
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls += c;
  const std::string texts[] = {controls, "cr\rlf\r\n", "\xEF\xBF\xBE\xEF\xBF\xBFx\xEF\xBF\xBD",
                               "\nlead", "trail\n", "\ttab", "_x000D_\r_x000d_"};
  int row = 1;
  for (const std::string& text : texts) sheet.SetText(row++, 1, text);
  EXPECT_EQ(RoundTrip({sheet}, "chars.xlsx"), std::vector<std::string>{});
}

// A name no worksheet can have is refused before anything is written.
TEST_F(WorkbookWriterTest, XlsxRefusesANameNoWorksheetTakes) {
  for (const char* name : {"", "a/b", "[x]", "'quoted'", "thirty-two characters, just past"}) {
    const Status s = WriteXlsx({OutSheet(name)}, File("n.xlsx"), 0);
    EXPECT_FALSE(s.ok()) << name;
    EXPECT_FALSE(std::filesystem::exists(File("n.xlsx"))) << name;
  }
  const Status twice = WriteXlsx({OutSheet("Sources"), OutSheet("SOURCES")}, File("n.xlsx"), 0);
  EXPECT_NE(twice.why().find("another sheet"), std::string::npos) << twice.why();
}

TEST_F(WorkbookWriterTest, WidthsFollowTheLongestCell) {
  OutSheet sheet("S");
  sheet.SetText(1, 1, "x");
  sheet.SetText(2, 2, "a much longer text");
  sheet.SetText(3, 2, "first\nsecond line is longest");
  const auto widths = sheet.ColumnWidths();
  ASSERT_EQ(widths.size(), 2u);
  EXPECT_EQ(widths[0], 6.0);  // at least a few characters
  EXPECT_EQ(widths[1], 24.0);  // the longest line ("second line is longest") and a margin
}

// The file decoders are the inverse of the encoders.
TEST(ConsoleExportTest, DecodedFilesEncodeToTheSameBytes) {
  ConsoleConfigTable table{};
  table[0].fader = 1;
  table[0].cueType = -3;
  table[0].mic = 4;
  table[0].dimValue = 200;
  table[5].meters[4] = 16383;
  const std::string con = *EncodeConsoleConfigFile(table);
  const auto decoded = DecodeConsoleConfigFile(con);
  ASSERT_TRUE(decoded.ok()) << decoded.why();
  EXPECT_EQ(*EncodeConsoleConfigFile(*decoded), con);
  EXPECT_FALSE(DecodeConsoleConfigFile(con.substr(2)).ok());

  ConsoleRecord console;
  ResetConsoleAssignments(console);
  console.moduleCount = 3;
  console.consoleIndex = 2;
  console.modules[1] = {3601, "", 0, 0, 4098, 5, NoIndex, 12, {}};
  console.modules[1].assignments[0] = {10, 7};
  const std::string cns = *EncodeModuleFile(console);
  const auto again = DecodeModuleFile(cns);
  ASSERT_TRUE(again.ok()) << again.why();
  EXPECT_EQ(*EncodeModuleFile(*again), cns);
  EXPECT_FALSE(DecodeModuleFile(cns + "x").ok());
  const auto xpt = DecodeCrosspointFile(EncodeCrosspointFile({{1, 11, 6}, {NoIndex, NoIndex, 0}}));
  ASSERT_TRUE(xpt.ok());
  EXPECT_EQ(xpt->size(), 2u);
  EXPECT_FALSE(DecodeCrosspointFile(std::string("\x02\x00", 2)).ok());
}

TEST(ConsoleExportTest, DifferencesNameTheConsoleModuleAndField) {
  ConsoleRecord console;
  ResetConsoleAssignments(console);
  console.moduleCount = 2;
  console.consoleIndex = 1;
  console.modules[2].moduleTypeCode = 3610;
  const std::string file = *EncodeModuleFile(console);
  console.modules[2].mixMinusOff = 4;
  const auto found = ModuleFileDifferences(file, *EncodeModuleFile(console), 5);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], "module 2, Mix Minus Off: 16383 in the file, 4 from the sheet");
  ConsoleConfigTable table{};
  const std::string con = *EncodeConsoleConfigFile(table);
  table[2].meters[5] = 9;
  EXPECT_EQ(ConsoleConfigDifferences(con, *EncodeConsoleConfigFile(table), 5),
            std::vector<std::string>{"console 3, slot 19 (meter6): 16383 in the file, 9 from the sheet"});
}

}  // namespace
}  // namespace kvr
