// What each sheet reader says a failed or doubtful cell does to the outputs:
// the heading as typed, the record the row fills and the value that reaches
// the database or file. One small sheet per reader.
#include <gtest/gtest.h>

#include <memory>

#include "app/core/variables.h"
#include "base/problems.h"
#include "console/console_sheets.h"
#include "demo/demo_model.h"
#include "tests/grid_maker.h"
#include "xpoints/crosspoints.h"

namespace kvr {
namespace {

using testing::E;
using testing::MakeGrid;

// The first problem's and the first notice's texts.
std::pair<std::string, std::string> Said(const Problems& problems) {
  return {problems.empty() ? "" : problems.list().front().ToString(),
          problems.notices().empty() ? "" : problems.notices().front().ToString()};
}

TEST(MessagesTest, EachReaderNamesTheRecordAndWhatIsWritten) {
  auto vars = std::make_unique<Variables>();
  Problems p;
  ReadDestinations(MakeGrid("Destinations", {{"Chan", "Bus Type #"}, {1, "25 x"}}), 1, vars->outputs, p);
  EXPECT_EQ(Said(p).second, "Destinations!B2: \"25 x\" under \"Bus Type #\" has text after its number: it reads as "
                            "25, stored as 0; Type of output 1 is written as 0");

  p.Clear();
  vars->optos.assign(3, OptoRecord{});
  ReadOpto(MakeGrid("Opto", {{"Chan", "Type", "Relay"}, {1, 7}, {2, E{"#N/A"}, 70000}}), 2, vars->optos, p);
  EXPECT_EQ(p.list().at(0).ToString(), "Opto!B3: the error value #N/A under \"Type\"; Type of opto 2 is written as 0");
  EXPECT_EQ(p.list().at(1).ToString(),
            "Opto!C3: 70000 under \"Relay\" does not fit a 16-bit number; Relay of opto 2 is written as 0 (relay 1)");

  p.Clear();
  ReadLocationSheet(MakeGrid("Location", {{"Loc", "Location Name"}, {1, E{"#REF!"}}}), vars->locations, p);
  EXPECT_EQ(Said(p).first, "Location!B2: the error value #REF! under \"Location Name\"; nothing of it reaches Label "
                           "of location 1");

  p.Clear();
  ReadRemoteControlSheet(MakeGrid("RC", {{"Set", "Set Name", "Opto 2"}, {1, "Studio", "three"}}), vars->rc_sets, p);
  EXPECT_EQ(Said(p).second, "RC!C2: \"three\" under \"Opto 2\" is not a number: it reads as 0; Opto2 of set 1 is "
                            "written as 16383 (none)");

  p.Clear();
  ReadConsoleConfigSheet(MakeGrid("Console Config", {{"Console", "Mic", "Dim Value"}, {1, 2.5, 300}}),
                         vars->console_config, p);
  EXPECT_EQ(Said(p).first, "'Console Config'!C2: 300 under \"Dim Value\" does not fit a byte (0 to 255); Dim Value "
                           "of console 1 is written as 0");
  EXPECT_EQ(Said(p).second, "'Console Config'!B2: 2.5 under \"Mic\" is not a whole number: it reads as 2; Mic of "
                            "console 1 is written as 1");
  // Each meter is a field of its own: a later meter's column decides nothing of this one.
  p.Clear();
  ReadConsoleConfigSheet(MakeGrid("Console Config", {{"Console", "Meter #1", "Meter #2"}, {1, "2 x", 3}}),
                         vars->console_config, p);
  EXPECT_EQ(Said(p).second, "'Console Config'!B2: \"2 x\" under \"Meter #1\" has text after its number: it reads as 2; "
                            "Meter #1 of console 1 is written as 1");
  // The file keeps no Timer Hold: the claim says what the file holds instead.
  p.Clear();
  ReadConsoleConfigSheet(MakeGrid("Console Config", {{"Console", "Timer Hold"}, {1, "4 x"}}), vars->console_config, p);
  EXPECT_EQ(Said(p).second, "'Console Config'!B2: \"4 x\" under \"Timer Hold\" has text after its number: it reads as 4; "
                            "Timer Hold of console 1 is written as 16383 (none: the console configuration file keeps "
                            "no Timer Hold, and 16383 always stands in its place)");

  p.Clear();
  ReadCrosspoints(MakeGrid("Crosspoints", {{"P-Level", "Source", "Destination"}, {"1.5", 2, 40000}}), p);
  EXPECT_EQ(Said(p).first, "Crosspoints!C2: 40000 under \"Destination\" does not fit a 16-bit number; destination "
                           "of crosspoint 1 is written as 0 (output 1)");
  EXPECT_EQ(Said(p).second, "Crosspoints!A2: \"1.5\" under \"P-Level\" is not a whole number: it reads as 2, stored "
                            "as 16383; level of crosspoint 1 is written as 16383");

  // Module sheets have no headings over their cells: the assignment and module say where.
  p.Clear();
  ReadConsoleModuleSheet(MakeGrid("Console #1", {{"Desk", testing::kEmpty, 1, 1}, {"Type", testing::kEmpty,
                                                  testing::kEmpty, "Input"}, {1, "Src Sel", testing::kEmpty, "12 x"}}),
                         1, false, vars->consoles, p);
  EXPECT_EQ(Said(p).second, "'Console #1'!D3: \"12 x\" under module 1 has text after its number: it reads as 12; "
                            "the target of assignment 1 of module 1 is written as 11");

  // The demo run's rows are named by their labels, the module by its number.
  p.Clear();
  ReadDemoConsoleSheet(MakeGrid("Console #1", {{"Desk", testing::kEmpty, 2, 1, 2},
                                               {"Type", testing::kEmpty, testing::kEmpty, "Input", "Input"},
                                               {"Device ID:", testing::kEmpty, testing::kEmpty, 101, 102},
                                               {"MFD Ch Mode", testing::kEmpty, testing::kEmpty, "Show", 7}}),
                       1, vars->consoles, p);
  EXPECT_EQ(Said(p).second, "'Console #1'!D4: \"Show\" in the row \"MFD Ch Mode\" under module 1 is not a number: it "
                            "reads as 0; Template of module 1 is written as 0");
}

}  // namespace
}  // namespace kvr
