#include <gtest/gtest.h>

#include "base/problems.h"
#include "demo/demo_ini.h"
#include "demo/demo_model.h"
#include "demo/ini_writer.h"
#include "tests/grid_maker.h"

namespace kvr {
namespace {

using testing::kEmpty;
using testing::MakeGrid;

struct Model {
  std::unique_ptr<FrameTable> frames = std::make_unique<FrameTable>();
  std::unique_ptr<ConsoleTable> consoles = std::make_unique<ConsoleTable>();
  Problems problems;
  std::int16_t Read(std::vector<std::vector<testing::V>> rows) {
    return ReadFrameSheet(MakeGrid("32QX", std::move(rows)), *frames, *consoles, problems);
  }
  const SlotRecord& Slot(int f, int s) const {
    return (*frames)[static_cast<std::size_t>(f - 1)][static_cast<std::size_t>(s - 1)];
  }
};

const std::vector<testing::V> kHeader = {"Slot", "Frame", "Module", "Input", "First Output", "Opto", "Relay", "Console"};

TEST(FrameSheetTest, FramesSlotsAndColumns) {
  Model m;
  const auto count = m.Read({kHeader,
                             {1, kEmpty, "pln16 card", "17-32", 9, "-5", "33", 2},
                             {kEmpty, "32QX Frame 3", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                             {2, kEmpty, "XYZ", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                             {kEmpty, "32QX Frame 12", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                             {4, kEmpty, "NGV", "5", kEmpty, kEmpty, kEmpty, 1}});
  EXPECT_EQ(count, 1);  // the last header read: "1" of "12"
  EXPECT_EQ(m.Slot(1, 1).moduleType, "PLN16");  // rows above the first header are frame 1
  EXPECT_EQ(m.Slot(1, 1).firstInput, 17);
  EXPECT_EQ(m.Slot(1, 1).firstOutput, 9);
  EXPECT_EQ(m.Slot(1, 1).firstOpto, 0);          // "-5": nothing before the "-"
  EXPECT_EQ(m.Slot(1, 1).firstRelay, 33);        // no "-": the whole cell
  EXPECT_EQ(m.Slot(3, 2).moduleType, "");
  EXPECT_EQ(m.Slot(1, 4).moduleType, "NGV32E");
  EXPECT_EQ(m.Slot(1, 4).firstInput, 5);
  EXPECT_EQ((*m.consoles)[1].frameNumber, 1);
  EXPECT_EQ((*m.consoles)[1].slotNumber, 1);
  EXPECT_EQ((*m.consoles)[0].frameNumber, 1);
  EXPECT_EQ((*m.consoles)[0].slotNumber, 4);
}

TEST(FrameSheetTest, FrameNineEndsTheSheetAndFrameZeroSkipsRows) {
  Model m;
  EXPECT_EQ(m.Read({kHeader,
                    {kEmpty, "32QX Frame x", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                    {3, kEmpty, "PRY", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                    {kEmpty, "32QX Frame 9", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                    {kEmpty, "32QX Frame 2", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
                    {3, kEmpty, "PRY", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}}),
            9);
  for (int f = 1; f <= kFrames; ++f) EXPECT_EQ(m.Slot(f, 3).moduleType, "") << f;
  Model zero;
  EXPECT_EQ(zero.Read({kHeader, {kEmpty, "32QX short", kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}}), 0);
  EXPECT_EQ(ModuleTypeCode("hbx card"), "HBX16E");
  EXPECT_EQ(ModuleTypeCode("MS"), "");
}

TEST(DemoConsoleTest, SheetLookupAndModules) {
  const std::vector<std::string> names = {"System", "Console B", "Console #2", "Console A", "Console #10"};
  EXPECT_EQ(ConsoleSheetName(names, 1), "Console A");
  EXPECT_EQ(ConsoleSheetName(names, 2), "Console #2");
  EXPECT_EQ(ConsoleSheetName(names, 3), "");
  EXPECT_EQ(ConsoleSheetName(names, 10), "Console #10");

  auto consoles = std::make_unique<ConsoleTable>();
  Problems problems;
  // The name "5th floor" in column 1 must not count as module number 5.
  ReadDemoConsoleSheet(MakeGrid("Console A", {{"5th floor", kEmpty, 3, 1, 2, 3, 42},
                                              {"Type", kEmpty, kEmpty, "Input", "CRM", "Input", "x"},
                                              {"Device ID:", kEmpty, kEmpty, 11, 12, 13, 14},
                                              {"Template", kEmpty, kEmpty, 1, 2, 3, 4}}),
                       1, *consoles, problems);
  const ConsoleRecord& c = (*consoles)[0];
  EXPECT_EQ(c.consoleName, "5th floor");
  EXPECT_EQ(c.moduleCount, 42);
  EXPECT_EQ(c.consoleIndex, 0);
  EXPECT_EQ(c.modules[1].moduleTypeText, "CRM");
  EXPECT_EQ(c.modules[1].deviceId, 12);
  EXPECT_EQ(c.modules[1].templateId, 2);
  EXPECT_EQ(problems.size(), 1u);  // module 42 has no record

  ReadDemoConsoleSheet(MakeGrid("Console #2", {{"Five", kEmpty, 5}}), 2, *consoles, problems);
  EXPECT_EQ((*consoles)[1].moduleCount, 5);
  ReadDemoConsoleSheet(MakeGrid("Console #3", {{"Empty"}}), 3, *consoles, problems);
  EXPECT_EQ((*consoles)[2].moduleCount, 1);
}

// The row under "Device ID:" gives the templates whatever its label; when
// it is a row of another kind (an MFD row of marks), that is said once for
// the sheet with its range and count, not once per cell.
TEST(DemoConsoleTest, ATemplateRowOfAnotherKindIsSaidOnce) {
  auto consoles = std::make_unique<ConsoleTable>();
  Problems problems;
  ReadDemoConsoleSheet(MakeGrid("Console #1", {{"Desk", kEmpty, 4, 1, 2, 3, 4},
                                               {"Type", kEmpty, kEmpty, "Input", "Input", "CRM", "Input"},
                                               {"Device ID:", kEmpty, kEmpty, 11, 12, 13, 14},
                                               {"MFD Router Control", kEmpty, kEmpty, "Show", kEmpty, "Yes", "Show"}}),
                       1, *consoles, problems);
  ASSERT_EQ(problems.notices().size(), 1u);
  const Notice& n = problems.notices()[0];
  EXPECT_EQ(n.tag, "template-row-labelled");
  EXPECT_EQ(n.where.cells, "D4:G4");
  EXPECT_NE(n.message.find("labelled \"MFD Router Control\": 3 of its module cells are not whole numbers"),
            std::string::npos)
      << n.message;
  EXPECT_EQ((*consoles)[0].modules[0].templateId, 0);
  EXPECT_TRUE(problems.empty());

  // A template row of its own keeps its notices per cell.
  Problems own;
  ReadDemoConsoleSheet(MakeGrid("Console #2", {{"Desk", kEmpty, 2, 1, 2},
                                               {"Type", kEmpty, kEmpty, "Input", "Input"},
                                               {"Device ID:", kEmpty, kEmpty, 11, 12},
                                               {"Template", kEmpty, kEmpty, "two", "three"}}),
                       2, *consoles, own);
  EXPECT_EQ(own.notices().size(), 2u);
  for (const Notice& each : own.notices()) EXPECT_NE(each.tag, "template-row-labelled");
}

TEST(IniWriterTest, KeepsOrderAndReplacesValues) {
  IniWriter ini;
  ini.SelectSection("B");
  ini.Set("k", "1");
  ini.SelectSection("A");
  ini.Set("x", std::int64_t{-5});
  ini.SelectSection("B");
  ini.Set("k", "2");
  ini.Set("j", "");
  EXPECT_EQ(ini.Serialize(), "[B]\r\nk=2\r\nj=\r\n\r\n[A]\r\nx=-5\r\n");
}

TEST(DemoIniTest, GoldenFileForOneFrameAndOneConsole) {
  auto frames = std::make_unique<FrameTable>();
  auto consoles = std::make_unique<ConsoleTable>();
  (*frames)[0][0] = SlotRecord{"PLN16", 17, 0, 0, 33};
  ConsoleRecord& c = (*consoles)[0];
  c.moduleCount = 2;
  c.frameNumber = 1;
  c.slotNumber = 7;
  c.modules[0].moduleTypeText = "Input";
  c.modules[0].deviceId = 101;
  c.modules[0].templateId = 3;
  const std::string ini = BuildDemoIni(DemoSystem{"Studio A", 64, 48, 1, 1}, *frames, *consoles);
  std::string expected =
      "[SYSTEM]\r\nName=Studio A\r\nInputs=64\r\nOutputs=48\r\nFrame Count=1\r\nConsole Count=1\r\n"
      "\r\n[SLOT 1-1]\r\nType=PLN16\r\nIn Chan=17\r\nOut Chan=\r\nRelay=33\r\nOpto=\r\n";
  for (int s = 2; s <= 21; ++s) {
    expected += "\r\n[SLOT 1-" + std::to_string(s) + "]\r\nType=\r\nIn Chan=\r\nOut Chan=\r\nRelay=\r\nOpto=\r\n";
  }
  expected += "\r\n[CONSOLE 1]\r\nSize=2\r\nFrame=1\r\nSlot=7\r\nPort=0\r\n"
              "\r\n[Module 1-1]\r\nType=Input\r\nID=101\r\nTemplate=3\r\n"
              "\r\n[Module 1-2]\r\nType=\r\nID=0\r\nTemplate=0\r\n";
  EXPECT_EQ(ini, expected);
}

TEST(DemoIniTest, FrameNineAndLargeModuleCounts) {
  auto frames = std::make_unique<FrameTable>();
  auto consoles = std::make_unique<ConsoleTable>();
  (*consoles)[0].moduleCount = 45;
  const std::string ini = BuildDemoIni(DemoSystem{"S", 0, 0, 9, 1}, *frames, *consoles);
  EXPECT_NE(ini.find("[SLOT 9-21]\r\nType=\r\nIn Chan=\r\n"), std::string::npos);
  EXPECT_NE(ini.find("[Module 1-41]"), std::string::npos);
  EXPECT_EQ(ini.find("[Module 1-42]"), std::string::npos);
  EXPECT_EQ(BuildDemoIni(DemoSystem{"S", 0, 0, 0, 0}, *frames, *consoles).find("SLOT"), std::string::npos);
}

}  // namespace
}  // namespace kvr
