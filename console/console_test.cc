// The console sheets, the byte layouts of the .con and .cns files, and the
// writers' overwrite question and mended faults.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include "base/little_endian.h"
#include "base/output_file.h"
#include "base/overwrite_question.h"
#include "base/problems.h"
#include "console/con_format.h"
#include "console/console_sheets.h"
#include "console/disk_work.h"
#include "tests/grid_maker.h"
#include "tests/test_util.h"

namespace kvr {
namespace {

using testing::E;
using testing::kEmpty;
using testing::MakeGrid;

class ScriptedQuestion : public OverwriteQuestion {
 public:
  explicit ScriptedQuestion(bool answer) : answer_(answer) {}
  bool Ask(const std::string& text, const std::string& title) override {
    asked.push_back(text);
    EXPECT_EQ(title, "Save Inhibits");
    return answer_;
  }
  std::vector<std::string> asked;

 private:
  bool answer_;
};

std::int16_t Word(const std::string& bytes, std::size_t at) { return GetInt16(bytes, at); }

std::string EncodeCon(const ConsoleConfigTable& table) {
  const auto bytes = EncodeConsoleConfigFile(table);
  EXPECT_TRUE(bytes.ok()) << bytes.why();
  return bytes.ok() ? *bytes : std::string();
}

TEST(ConsoleConfigSheetTest, KeywordsConversionsAndScan) {
  auto table = std::make_unique<ConsoleConfigTable>();
  Problems problems;
  ReadConsoleConfigSheet(
      MakeGrid("Console Config",
               {{"Console", "Microphone", "Monitor", "Talkback", "Cue Bus", "MIC", "Dim Value", "Source Select",
                 "Fader", "Meter #10", "Meter #6", "Timer Hold"},
                {1, 5, 0, kEmpty, 16383, 9, 200, 1, 2, 3, 4, 6},
                {1, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
                {2, 1, 1, -32768, 1, 1, 300, E{"#N/A"}, 1, 1, 1, 1},
                {4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}}),
      *table, problems);
  const ConsoleConfigRecord& c1 = (*table)[0];
  EXPECT_EQ(c1.mic, 4);
  EXPECT_EQ(c1.monitor, NoIndex);
  EXPECT_EQ(c1.talkback, NoIndex);
  EXPECT_EQ(c1.cueBus, NoIndex);
  EXPECT_EQ(c1.dimValue, 200);
  EXPECT_EQ(c1.sourceSelect, 1);
  EXPECT_EQ(c1.fader, 2);
  EXPECT_EQ(c1.meters[0], 2);  // "Meter #10" begins with "Meter #1"
  EXPECT_EQ(c1.meters[5], 0);  // "Meter #6" matches nothing
  EXPECT_EQ(c1.timerHold, 5);
  const ConsoleConfigRecord& c2 = (*table)[1];
  EXPECT_EQ(c2.dimValue, 0);      // 300 does not fit: unchanged
  EXPECT_EQ(c2.sourceSelect, 0);  // error value: unchanged (not the previous cell's number)
  EXPECT_EQ(c2.talkback, 0);      // -32768 - 1 leaves 16 bits: unchanged
  EXPECT_EQ(c2.monitor, 0);       // the cell before it still made an index
  EXPECT_EQ((*table)[2].mic, 0);  // console 4 never follows 2
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems.list()[0].place(), "'Console Config'!D4");
}

TEST(ModuleTablesTest, TypesAndFunctionCodes) {
  EXPECT_EQ(ModuleTypeFor("Input").code, 3601);
  EXPECT_EQ(ModuleTypeFor("Input").assignments, 12);
  EXPECT_EQ(ModuleTypeFor("input").code, 3999);
  EXPECT_EQ(ModuleTypeFor("SLConsole Ctl").assignments, 9);
  EXPECT_EQ(ModuleTypeFor("MCCM").code, 3620);
  EXPECT_EQ(ModuleTypeFor("").code, 3999);
  EXPECT_EQ(ModuleTypeFor(" Input").code, 3999);
  struct Case { std::int16_t type; const char* label; int normal, big; } cases[] = {
      {3601, "Bus Assn", 10, 100}, {3631, "SOLO", 17, 521}, {3601, "Cue", 16, 520}, {3601, "CUE", 16, 520},
      {3601, "IFB", 15, 510}, {3601, "Src Sel", 0, 0}, {3601, "bus assn", 255, 255}, {3610, "Bus Assn", 5, 10},
      {3635, "", 5, 10}, {3612, "", 5, 10}, {3620, "Bus Assn", 70, 30}, {3640, "", 70, 30}, {3605, "IFB", 255, 255},
      {3616, "", 255, 255}, {3999, "", 255, 255}, {0, "", 255, 255}};
  for (const auto& c : cases) {
    EXPECT_EQ(FunctionCodeFor(c.type, c.label, false), c.normal) << c.type << " " << c.label;
    EXPECT_EQ(FunctionCodeFor(c.type, c.label, true), c.big) << c.type << " " << c.label;
  }
}

SheetGrid ConsoleSheet() {
  return MakeGrid("Console #2",
                  {{"Desk 2", kEmpty, 3, 1, 2, 3},
                   {"Type", kEmpty, kEmpty, "Input", "Control Rm", "Console Ctl"},
                   {"MFD Ch Phase", kEmpty, kEmpty, kEmpty, kEmpty, "Show"},
                   {"  MFD Ch Mode  ", kEmpty, kEmpty, "show", kEmpty, "Yes"},
                   {"MFD Proc", kEmpty, kEmpty, "Show", "Show", "Show"},
                   {1, "Bus Assn", kEmpty, 3, 3, kEmpty},
                   {"Device ID:", kEmpty, kEmpty, 11, 12, 13},
                   {"2", "IFB", kEmpty, 1, 2, 3},
                   {"4", "IFB", kEmpty, 1, 2, 3},
                   {"3 (top)", "IFB", kEmpty, 9, 9, 9},
                   {"+3", "SOLO", kEmpty, 5, 5, 5},
                   {"Mix Minus On (PGM)", kEmpty, kEmpty, 8, 0, 1},
                   {"Mix Minus Off", kEmpty, kEmpty, kEmpty, 2, 1}});
}

TEST(ConsoleModuleSheetTest, ReadsModulesAssignmentsMasksAndMixMinus) {
  auto table = std::make_unique<ConsoleTable>();
  Problems problems;
  ReadConsoleModuleSheet(ConsoleSheet(), 2, false, *table, problems);
  const ConsoleRecord& c = (*table)[2];
  EXPECT_EQ(c.consoleIndex, 2);
  EXPECT_EQ(c.consoleName, "Desk 2");
  EXPECT_EQ(c.moduleCount, 3);
  const ModuleRecord& input = c.modules[1];
  EXPECT_EQ(input.moduleTypeCode, 3601);
  EXPECT_EQ(input.assignmentCount, 12);
  EXPECT_EQ(input.assignments[0].functionCode, 10);
  EXPECT_EQ(input.assignments[0].targetIndex, 2);
  EXPECT_EQ(input.assignments[1].functionCode, 15);  // "2" is assignment row 2
  EXPECT_EQ(input.assignments[2].functionCode, 17);  // "+3" (after "4" and "3 (top)" were passed over)
  EXPECT_EQ(input.assignments[3].functionCode, NoIndex);
  EXPECT_EQ(input.mfdMask, 0);  // "show" marks nothing, "MFD Proc" is no MFD row
  EXPECT_EQ(input.mixMinusOn, 7);
  EXPECT_EQ(input.mixMinusOff, NoIndex);
  EXPECT_EQ(c.modules[2].assignments[0].functionCode, 5);   // Control Rm
  EXPECT_EQ(c.modules[3].assignments[0].functionCode, 70);  // Console Ctl
  EXPECT_EQ(c.modules[3].assignments[0].targetIndex, NoIndex);  // empty cell
  EXPECT_EQ(c.modules[3].mfdMask, 4098);                    // Ch Phase (4096) + Ch Mode (2)
  EXPECT_EQ(c.modules[2].mixMinusOn, NoIndex);
  EXPECT_TRUE(problems.empty());

  ReadConsoleModuleSheet(ConsoleSheet(), 2, true, *table, problems);
  EXPECT_EQ(c.modules[1].assignments[0].functionCode, 100);
  EXPECT_EQ(c.modules[2].assignments[0].functionCode, 10);
  EXPECT_EQ(c.modules[3].assignments[0].functionCode, 30);
  EXPECT_EQ(c.modules[1].assignments[0].targetIndex, 2);  // only the codes change
}

TEST(ConsoleModuleSheetTest, TypesComeOnlyFromTheFirstAssignmentRow) {
  auto table = std::make_unique<ConsoleTable>();
  Problems problems;
  (*table)[1].modules[1].moduleTypeCode = 3612;
  ReadConsoleModuleSheet(MakeGrid("Console #1", {{"D", kEmpty, 1, 1}, {"Type", kEmpty, kEmpty, "Input"},
                                                 {2, "IFB", kEmpty, 4}}),
                         1, false, *table, problems);
  EXPECT_EQ((*table)[1].modules[1].moduleTypeCode, 3612);  // no row 1: the type stays
  EXPECT_EQ((*table)[1].modules[1].assignments[0].functionCode, NoIndex);
}

TEST(ConsoleModuleSheetTest, ModuleNumbersOutsideTheRecordAreReported) {
  auto table = std::make_unique<ConsoleTable>();
  Problems problems;
  ReadConsoleModuleSheet(MakeGrid("Console #1", {{"D", kEmpty, 45, 45, -1}, {"Type", kEmpty, kEmpty, "Input", "Input"},
                                                 {1, "IFB", kEmpty, 1, 1}}),
                         1, false, *table, problems);
  EXPECT_EQ((*table)[1].moduleCount, 45);
  EXPECT_EQ(problems.size(), 2u);
}

TEST(ConFormatTest, EmptyTableGivesTheFixedSlots) {
  auto table = std::make_unique<ConsoleConfigTable>();
  const std::string bytes = EncodeCon(*table);
  ASSERT_EQ(bytes.size(), 17930u);
  EXPECT_EQ(bytes.substr(0, 10), std::string("\xDA\x00\x00\x01\x01\x00\x1E\x00\x05\x00", 10));
  for (std::size_t i = 0; i < 256; ++i) {
    for (std::size_t slot = 1; slot <= 35; ++slot) {
      const bool fixed = (slot >= 19 && slot <= 21) || slot == 24 || (slot >= 27 && slot <= 30);
      ASSERT_EQ(Word(bytes, 10 + 70 * i + 2 * (slot - 1)), fixed ? NoIndex : 0) << "record " << i << " slot " << slot;
    }
  }
}

TEST(ConFormatTest, SlotsOfARecord) {
  auto table = std::make_unique<ConsoleConfigTable>();
  ConsoleConfigRecord& r = (*table)[2];
  r.sourceSelect = 1; r.cancelCue = 0; r.cueType = 1; r.fader = 1;
  r.mic = 4; r.cueSpeaker = NoIndex; r.cueBus = 7; r.hpOutput = 8; r.hpBus = 9; r.timerHold = 5;
  r.timerReset = 6; r.dimValue = 200; r.meters = {1, 2, 3, 4, 5, 0, 0, 0};
  const std::string bytes = EncodeCon(*table);
  const std::size_t at = 10 + 70 * 2;
  EXPECT_EQ(Word(bytes, at), 11);  // 1 + 2*1 + 4*0 + 8*1
  EXPECT_EQ(Word(bytes, at + 6), 4);
  EXPECT_EQ(Word(bytes, at + 16), NoIndex);  // cueSpeaker before cueBus
  EXPECT_EQ(Word(bytes, at + 18), 7);
  EXPECT_EQ(Word(bytes, at + 22), 8);        // hpOutput before hpBus
  EXPECT_EQ(Word(bytes, at + 24), 9);
  EXPECT_EQ(Word(bytes, at + 34), 5);
  EXPECT_EQ(Word(bytes, at + 46), NoIndex);  // timerHold is never written
  EXPECT_EQ(Word(bytes, at + 48), 6);
  EXPECT_EQ(Word(bytes, at + 60), 200);
}

TEST(ConFormatTest, ModuleFileLayout) {
  auto table = std::make_unique<ConsoleTable>();
  ConsoleRecord& c = (*table)[3];
  c.moduleCount = 8;
  c.consoleIndex = 3;
  ResetConsoleAssignments(c);
  ModuleRecord& m = c.modules[2];
  m.moduleTypeCode = 3601;
  m.assignmentCount = 12;
  m.mfdMask = 0x12345678;
  m.mixMinusOn = 4;
  for (std::size_t k = 0; k < 33; ++k) m.assignments[k] = {static_cast<std::int16_t>(k), static_cast<std::int16_t>(100 + k)};
  c.modules[0].moduleTypeCode = 1111;  // index 0 is never written
  const auto bytes = EncodeModuleFile(c);
  ASSERT_TRUE(bytes.ok());
  ASSERT_EQ(bytes->size(), 1352u);
  EXPECT_EQ(Word(*bytes, 0), 3620);
  EXPECT_EQ(Word(*bytes, 4), 8);
  EXPECT_EQ(Word(*bytes, 6), 2);
  const std::size_t at = 8 + 168;  // module 2
  EXPECT_EQ(Word(*bytes, at), 3601);
  EXPECT_EQ(Word(*bytes, at + 2), NoIndex);
  EXPECT_EQ(Word(*bytes, at + 6), 0);
  for (std::size_t off = 10; off <= 26; off += 2) EXPECT_EQ(Word(*bytes, at + off), NoIndex);
  EXPECT_EQ(Word(*bytes, at + 28), 4);
  EXPECT_EQ(Word(*bytes, at + 30), NoIndex);
  EXPECT_EQ(GetInt32(*bytes, at + 34), 0x12345678);
  EXPECT_EQ(Word(*bytes, at + 38), 12);
  EXPECT_EQ(Word(*bytes, at + 40 + 4 * 11), 11);
  EXPECT_EQ(Word(*bytes, at + 42 + 4 * 11), 111);
  EXPECT_EQ(Word(*bytes, at + 40 + 4 * 12), 255);  // past assignmentCount
  EXPECT_EQ(Word(*bytes, at + 42 + 4 * 31), NoIndex);
  EXPECT_EQ(Word(*bytes, 8), 0);                   // module 1: never set, type 0

  c.moduleCount = 41;
  EXPECT_FALSE(EncodeModuleFile(c).ok());
  EXPECT_NE(EncodeModuleFile(c).why().find("at most 40 modules"), std::string::npos);
}

TEST(ConFormatTest, InspectDecodesAndRejectsWrongSizes) {
  auto table = std::make_unique<ConsoleConfigTable>();
  (*table)[0].mic = 4;
  const auto text = DescribeConsoleConfigFile(EncodeCon(*table));
  ASSERT_TRUE(text.ok());
  EXPECT_NE(text->find("header 218 256 1 30 5"), std::string::npos);
  EXPECT_NE(text->find("\n1\t0\t0\t0\t4\t"), std::string::npos);
  EXPECT_FALSE(DescribeConsoleConfigFile(std::string(17929, '\0')).ok());
  EXPECT_FALSE(DescribeModuleFile(std::string(9, '\0')).ok());
  std::string header;
  for (std::int16_t v : {3620, 1, 2, 0}) PutInt16(header, v);
  const auto wrong = DescribeModuleFile(header + std::string(168, '\0'));  // counts 2, holds 1
  EXPECT_FALSE(wrong.ok());
  EXPECT_NE(wrong.why().find("counts 2 modules but the file holds 1"), std::string::npos);
}

class DiskWorkTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    consoles_ = std::make_unique<ConsoleTable>();
    for (int n = 1; n <= 3; ++n) {
      (*consoles_)[static_cast<std::size_t>(n)].moduleCount = 1;
      (*consoles_)[static_cast<std::size_t>(n)].consoleIndex = static_cast<std::int16_t>(n);
    }
    (*consoles_)[1].consoleName = "Desk 1";
  }
  // The writers stage into a batch that is then committed, as a run does.
  std::filesystem::path SaveCon(const std::string& system_name, const ConsoleConfigTable& table,
                                OverwriteQuestion& question) {
    OutputBatch batch;
    const PreparedFile file = PrepareConsoleConfig(dir_, system_name, table, &batch);
    auto path = SaveConsoleConfig(file, question, batch, problems_);
    if (!Commit(batch)) path.clear();
    return path;
  }
  std::vector<std::filesystem::path> SaveModules(OverwriteQuestion& question) {
    OutputBatch batch;
    const auto files = PrepareModuleFiles(dir_, "Studio A", *consoles_, 3, &batch);
    auto paths = SaveModuleConfig(files, question, batch, problems_);
    Commit(batch);
    return paths;
  }
  bool Commit(OutputBatch& batch) {
    const auto failures = batch.Commit();
    for (const auto& f : failures) problems_.Report(f.target.string(), f.what + " not written: " + f.why);
    return failures.empty();
  }
  std::unique_ptr<ConsoleTable> consoles_;
  Problems problems_;
};

TEST_F(DiskWorkTest, NamesFilesByConsoleOrSystem) {
  ScriptedQuestion question(true);
  const auto written = SaveModules(question);
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[0].filename(), "Desk 1.cns");
  EXPECT_EQ(written[1].filename(), "Studio A Console 2.cns");
  EXPECT_EQ(testing::ReadBytes(written[2]).size(), 176u);
  EXPECT_TRUE(question.asked.empty());
}

TEST_F(DiskWorkTest, OneQuestionForManyExistingFiles) {
  for (const char* name : {"Desk 1.cns", "Studio A Console 2.cns", "Studio A Console 3.cns"}) {
    testing::WriteBytes(File(name), "old");
  }
  ScriptedQuestion no(false);
  EXPECT_TRUE(SaveModules(no).empty());
  EXPECT_EQ(no.asked.size(), 1u);
  EXPECT_EQ(no.asked[0], (dir_ / "Desk 1.cns").string() + " exists.\r\rDo you wish to overwrite?");
  EXPECT_EQ(testing::ReadBytes(File("Studio A Console 3.cns")), "old");
  ScriptedQuestion yes(true);
  EXPECT_EQ(SaveModules(yes).size(), 3u);
  EXPECT_EQ(yes.asked.size(), 1u);
  EXPECT_EQ(testing::ReadBytes(File("Studio A Console 3.cns")).size(), 176u);
}

// Two consoles of one name would land in one file, the later replacing the
// earlier's modules: the later is not written and is a problem naming both,
// whatever the case of its letters; no question is asked for it.
TEST_F(DiskWorkTest, TwoConsolesOfOneNameNeverShareAFile) {
  (*consoles_)[2].consoleName = "DESK 1";
  (*consoles_)[2].moduleCount = 2;
  ScriptedQuestion yes(true);
  const auto written = SaveModules(yes);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0].filename(), "Desk 1.cns");
  EXPECT_EQ(written[1].filename(), "Studio A Console 3.cns");
  EXPECT_EQ(testing::ReadBytes(File("Desk 1.cns")).size(), 176u);  // console 1's single module, whole
  EXPECT_TRUE(yes.asked.empty());
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_EQ(problems_.list()[0].tag, "module-file-name-taken");
  EXPECT_NE(problems_.list()[0].message.find("no module file written for console 2: console 1's module file"),
            std::string::npos)
      << problems_.list()[0].message;
}

TEST_F(DiskWorkTest, ConsoleFileKeptOnNoAndReplacedOnYes) {
  auto table = std::make_unique<ConsoleConfigTable>();
  testing::WriteBytes(File("Studio A.con"), "old");
  ScriptedQuestion no(false);
  EXPECT_TRUE(SaveCon("Studio A", *table, no).empty());
  EXPECT_EQ(testing::ReadBytes(File("Studio A.con")), "old");
  ScriptedQuestion yes(true);
  EXPECT_EQ(SaveCon("Studio A", *table, yes), File("Studio A.con"));
  EXPECT_EQ(testing::ReadBytes(File("Studio A.con")).size(), 17930u);
  EXPECT_TRUE(problems_.empty());
}

// Slot 1's sum is 16-bit arithmetic: a product or partial sum leaving 16
// bits writes no console file at all, and an earlier file stays as it was.
TEST_F(DiskWorkTest, SwitchesSumLeaving16BitsWritesNoConsoleFile) {
  auto table = std::make_unique<ConsoleConfigTable>();
  (*table)[0] = {.sourceSelect = 16383, .cueType = 0, .fader = 1};  // 1 + 32766 still fits
  ASSERT_TRUE(EncodeConsoleConfigFile(*table).ok());
  EXPECT_EQ(Word(*EncodeConsoleConfigFile(*table), 10), 32767);
  (*table)[0].fader = 2;  // the sum 2 + 32766 does not
  EXPECT_EQ(EncodeConsoleConfigFile(*table).why(), "console 1: 2 + 32766 does not fit 16 bits");
  (*table)[0] = {.cueType = 5000, .fader = 1};  // 8 x 5000 overflows as a product
  EXPECT_EQ(EncodeConsoleConfigFile(*table).why(), "console 1: 8 x 5000 does not fit 16 bits");
  (*table)[0] = {.sourceSelect = -16384, .cancelCue = -1, .fader = 0};  // -32768 - 4 leaves below
  EXPECT_FALSE(EncodeConsoleConfigFile(*table).ok());

  (*table)[0] = {};
  (*table)[4].cueType = 5000;
  testing::WriteBytes(File("Studio A.con"), "old");
  ScriptedQuestion yes(true);
  EXPECT_TRUE(SaveCon("Studio A", *table, yes).empty());
  EXPECT_EQ(testing::ReadBytes(File("Studio A.con")), "old");
  EXPECT_TRUE(yes.asked.empty());  // nothing to ask about a file that will not be written
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_NE(problems_.list()[0].ToString().find("not written: console 5: 8 x 5000 does not fit 16 bits"),
            std::string::npos);
}

// A console that cannot be written no longer stops the consoles after it,
// and names that would leave the output folder write nothing at all.
TEST_F(DiskWorkTest, OneConsolesFailureDoesNotStopTheOthers) {
  (*consoles_)[1].consoleName = "..\\x";
  (*consoles_)[2].moduleCount = 45;
  ScriptedQuestion question(true);
  const auto written = SaveModules(question);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].filename(), "Studio A Console 3.cns");
  ASSERT_EQ(problems_.size(), 2u);
  EXPECT_NE(problems_.list()[0].message.find("holds \"..\""), std::string::npos);
  EXPECT_NE(problems_.list()[1].message.find("at most 40 modules"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.parent_path() / "x.cns"));
}

TEST_F(DiskWorkTest, UnsafeSystemNamesWriteNothing) {
  auto table = std::make_unique<ConsoleConfigTable>();
  ScriptedQuestion question(true);
  for (const char* name : {"../up", "a/b", "a\\b", "C:", "what?", "tab\there", "a|b", "*"}) {
    EXPECT_TRUE(SaveCon(name, *table, question).empty()) << name;
  }
  EXPECT_EQ(problems_.size(), 8u);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(DiskWorkTest, FileThatCannotBeCreatedIsReportedAndNothingElseMoves) {
  auto table = std::make_unique<ConsoleConfigTable>();
  std::filesystem::create_directory(File("S.con"));  // the name is taken by a folder
  testing::WriteBytes(File("Desk 1.cns"), "earlier");
  ScriptedQuestion yes(true);
  EXPECT_TRUE(SaveCon("S", *table, yes).empty());
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_NE(problems_.list()[0].message.find("is a folder, not a file, and is never replaced"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(File("S.con")));
  EXPECT_EQ(testing::ReadBytes(File("Desk 1.cns")), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);  // no temporary file left
}

#ifndef _WIN32  // FIFOs and symbolic links as POSIX has them
// What No protects it protects whatever stands at the name: a symbolic link
// that points nowhere is asked about like a file; a FIFO or a folder is
// never replaced, asked about or not, and the problem says why.
TEST_F(DiskWorkTest, WhatStandsAtANameIsProtectedWhateverItIs) {
  auto table = std::make_unique<ConsoleConfigTable>();
  std::filesystem::create_symlink(File("gone.con"), File("Studio A.con"));
  ASSERT_EQ(::mkfifo(File("Desk 1.cns").c_str(), 0600), 0);
  std::filesystem::create_directory(File("Studio A Console 2.cns"));
  ScriptedQuestion no(false);
  EXPECT_TRUE(SaveCon("Studio A", *table, no).empty());
  EXPECT_EQ(no.asked.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_symlink(File("Studio A.con")));
  ScriptedQuestion yes(true);
  const auto written = SaveModules(yes);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].filename(), "Studio A Console 3.cns");
  EXPECT_TRUE(yes.asked.empty());
  EXPECT_TRUE(std::filesystem::is_fifo(File("Desk 1.cns")));
  EXPECT_TRUE(std::filesystem::is_directory(File("Studio A Console 2.cns")));
  ASSERT_EQ(problems_.size(), 2u);
  EXPECT_NE(problems_.list()[0].message.find("is a FIFO, not a regular file, and is never replaced"),
            std::string::npos) << problems_.list()[0].message;
  EXPECT_NE(problems_.list()[1].message.find("is a folder"), std::string::npos);
  // A batch staged before a FIFO came to stand there does not replace it.
  OutputBatch batch;
  ASSERT_TRUE(batch.Stage(File("late.ini"), "x").ok());
  ASSERT_EQ(::mkfifo(File("late.ini").c_str(), 0600), 0);
  const auto failures = batch.Commit();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_fifo(File("late.ini")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 5);  // no temporary left
}
#endif

#ifndef _WIN32  // folder permissions as POSIX has them
TEST_F(DiskWorkTest, UnwritableFolderLeavesEarlierFilesAndIsReported) {
  auto table = std::make_unique<ConsoleConfigTable>();
  testing::WriteBytes(File("S.con"), "old");
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  ScriptedQuestion yes(true);
  const bool root = ::geteuid() == 0;  // root writes anyway; then there is nothing to see
  const auto path = SaveCon("S", *table, yes);
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
  if (root) GTEST_SKIP() << "permissions do not bind root";
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(testing::ReadBytes(File("S.con")), "old");
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_NE(problems_.list()[0].message.find("cannot create a file"), std::string::npos);
}
#endif

}  // namespace
}  // namespace kvr
