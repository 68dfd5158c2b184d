// The seven table steps: each sheet read into its table and written into a
// database made by CreateSwitcherDatabase.
#include <gtest/gtest.h>

#include "base/problems.h"
#include "tables/input_table.h"
#include "tables/named_tables.h"
#include "tables/new_database.h"
#include "tables/opto_relay_tables.h"
#include "tables/output_table.h"
#include "tables/switcher_database.h"
#include "tables/switcher_tables.h"
#include "tests/grid_maker.h"
#include "tests/test_util.h"

namespace kvr {
namespace {

using testing::E;
using testing::kEmpty;
using testing::MakeGrid;
using testing::Query;

// Each table's headings, as export writes them and in any order, are each
// read as their own field with no note; a field's second keyword fills the
// same field. (The set sheet's slot headings are read by their digit.)
TEST(SwitcherTablesTest, EveryHeadingReadsAsItsField) {
  for (const TableSpec* table : kTableSpecs) {
    if (table == &kOptoRelaySets) continue;
    SCOPED_TRACE(std::string(table->name));
    std::vector<testing::V> header = {std::string(table->number_heading)};
    std::vector<int> expected = {-1, -1};
    for (auto f = table->fields.rbegin(); f != table->fields.rend(); ++f) {  // reversed: order does not matter
      if (f->heading.empty()) continue;
      header.emplace_back(std::string(f->heading));
      expected.push_back(static_cast<int>(table->fields.rend() - f) - 1);
    }
    Problems problems;
    EXPECT_EQ(FieldColumns(MakeGrid(std::string(table->sheet), {header}), *table, problems), expected);
    EXPECT_TRUE(problems.empty() && problems.notices().empty())
        << (problems.notices().empty() ? "" : problems.notices().front().ToString());
  }
  Problems problems;
  const auto columns = FieldColumns(MakeGrid("Destinations", {{"Chan Num", "Associated Output", "Utility-Fader"}}),
                                    kOutptAlphas, problems);
  EXPECT_EQ(columns, (std::vector<int>{-1, -1, FieldIndex(kOutptAlphas, "AssocOutput"),
                                       FieldIndex(kOutptAlphas, "Fader")}));
}

class ChannelTablesTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    db_path_ = File("sw.db");
    ASSERT_TRUE(CreateSwitcherDatabase(db_path_, DatabaseSizes{8, 8, 4, 4, 4}).ok());
    db_ = OpenSqliteDatabase(db_path_, {});
  }
  std::string Q(const std::string& sql) {
    db_->Commit();
    db_.reset();
    return Query(db_path_, sql);
  }
  std::filesystem::path db_path_;
  std::unique_ptr<SwitcherDatabase> db_;
  Problems problems_;
};

TEST_F(ChannelTablesTest, SourcesKeywordOrderAndFieldRules) {
  db_.reset();
  testing::Exec(db_path_, "UPDATE InptAlphas SET Label='OldName9', Notes='keep' WHERE \"Chan Num\" IN (2, 3)");
  db_ = OpenSqliteDatabase(db_path_, {});
  const auto grid = MakeGrid(
      "Sources",
      {{"Chan", "Chan Label", "LocalLabel", "IFB/MM", "IFB 2", "Cue Off", "Local Label", "Linked", "Location #",
        "Source Type", "Notes", "Hidden", "MM Type", "GPI 1"},
       {1, "Microphone 1", kEmpty, 3, 7, 5, "ignored", 2, 5, 1, "n1", 0, 2, 4},
       {2, "0", kEmpty, 0, 0, 0, kEmpty, 1, 0, 2, " ", 0, 1, 0},
       {3, "{Spare}", "Loc", kEmpty, 0, kEmpty, kEmpty, -1, kEmpty, 3, "0", 0, 0, 0}});
  InputTable table;
  ReadSources(grid, 2, table, problems_);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].Label, "Microphone 1");  // stored whole, cut when written
  EXPECT_EQ(table[0].AssocOutput, 2);         // "IFB/MM" before "IFB"
  EXPECT_EQ(table[0].IFB, 7);                 // "IFB 2"
  EXPECT_EQ(table[0].CueOn, 4);               // any "Cue..." header feeds CueOn
  EXPECT_EQ(table[0].Linked, 0);              // 2 is stored as 0
  EXPECT_EQ(table[2].Linked, -1);
  EXPECT_EQ(table[0].MMType, 0);
  EXPECT_EQ(table[0].GPI, 4);
  EXPECT_EQ(table[1].Location, NoIndex);
  EXPECT_EQ(table[2].Location, NoIndex);      // empty cell
  WriteInptAlphas(*db_, table, 2, problems_);
  EXPECT_EQ(Q("SELECT \"Chan Num\", Label, LocalLabel, Location, Type, Mute, MixMinus, Hidden, Linked, AssocOutput, "
              "Notes FROM InptAlphas WHERE \"Chan Num\" <= 4"),
            "1|Micropho|Micropho|4|1|1|0|0|0|2|n1\n"
            "2|OldName9|OldName9|16383|2|0|1|0|1|16383|keep\n"
            "3|{Spare}|Loc|16383|3|0|0|1|-1|16383|keep\n"
            "4|||0|0|0|0|0|0|0|");
  EXPECT_TRUE(problems_.empty());
}

// Labels are cut to 8 characters, not 8 bytes: "Größe Sü" is 10 bytes.
TEST_F(ChannelTablesTest, LabelsAreCutByCharacters) {
  const auto grid = MakeGrid("Sources", {{"Chan", "Chan Label"}, {1, "Größe Süd 1"}, {2, "Mikrofon Ü1"}, {3, "Ü"}});
  InputTable table;
  ReadSources(grid, 2, table, problems_);
  WriteInptAlphas(*db_, table, 2, problems_);
  EXPECT_EQ(Q("SELECT Label, LocalLabel FROM InptAlphas WHERE \"Chan Num\" <= 3"),
            "Größe Sü|Größe Sü\nMikrofon|Mikrofon\nÜ|Ü");
  EXPECT_TRUE(problems_.empty());
}

TEST_F(ChannelTablesTest, SourcesTableHoldsCountPlusOneAndMissingColumnsAreZero) {
  const auto grid = MakeGrid("Sources", {{"Chan", "Chan Label"}, {1, "a"}, {2, "b"}, {3, "c"}});
  InputTable table;
  ReadSources(grid, 1, table, problems_);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[1].ChanNum, 2);
  EXPECT_EQ(table[1].Location, 0);  // no "Location #" column: index 0, not NoIndex
  ReadSources(grid, 2, table, problems_);
  EXPECT_EQ(table[2].Label, "c");
}

TEST_F(ChannelTablesTest, UnreadableCellLeavesItsFieldAndIsReported) {
  const auto grid = MakeGrid("Sources", {{"Chan", "Location #", "Chan Label"}, {1, 40000, E{"#N/A"}}});
  InputTable table;
  ReadSources(grid, 1, table, problems_);
  EXPECT_EQ(table[0].Location, 0);
  EXPECT_EQ(table[0].Label, "");
  ASSERT_EQ(problems_.size(), 2u);
  EXPECT_EQ(problems_.list()[0].ToString(), "Sources!B2: 40000 under \"Location #\" does not fit a 16-bit number; Location of input 1 is written as 0 (location 1)");
  EXPECT_EQ(problems_.list()[1].ToString(), "Sources!C2: the error value #N/A under \"Chan Label\"; nothing of it reaches Label of input 1");

  // An index says which entry it is, on every sheet; none stays "(none)".
  Problems sets;
  RcSetTable rc{};
  rc[0].setRelays[1] = NoIndex;
  ReadRemoteControlSheet(MakeGrid("RC", {{"Set", "Opto 1", "Relay 2"}, {1, 70000, E{"#N/A"}}}), rc, sets);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_NE(sets.list()[0].ToString().find("Opto1 of set 1 is written as 0 (opto 1)"), std::string::npos)
      << sets.list()[0].ToString();
  EXPECT_NE(sets.list()[1].ToString().find("written as 16383 (none)"), std::string::npos) << sets.list()[1].ToString();
}

TEST_F(ChannelTablesTest, DestinationsBusTypesAssociationsAndAuxNumbering) {
  const auto grid = MakeGrid(
      "Destinations",
      {{"Chan", "Chan Label", "Bus Type #", "Switch", "Fader", "Mute", "Associated Output", "AssocOutput",
        "RelayControl", "Utility-Switch"},
       {1, "Out 1", 0, 1, 1, 1, 3, 5, 300, kEmpty},
       {2, "Out 2", 3, 0, 0, 0, kEmpty, kEmpty, 2, kEmpty},
       {3, "Out 3", 3, 0, 0, 0, 1, 0, 0, kEmpty},
       {4, "Out 4", 6, 0, 0, 0, 1, 0, 0, kEmpty},
       {5, "Out 5", 14, 0, 1, 0, 1, 0, 0, 1},
       {6, "Out 6", 9, 1, 0, 1, 1, 0, 0, 0},
       {7, "Out 7", 22, 1, 1, 0, 1, 0, 0, kEmpty},
       {8, "Out 8", 4, 0, 0, 0, 1, 0, 0, kEmpty}});
  OutputTable table;
  ReadDestinations(grid, 7, table, problems_);
  EXPECT_EQ(table[0].AssocOutput, 4);   // the rightmost of the two association columns
  EXPECT_EQ(table[1].AssocOutput, NoIndex);
  EXPECT_EQ(table[0].RelayControl, 0);  // 300 does not fit a byte
  EXPECT_EQ(table[6].Type, 0);          // 22 is stored as 0
  EXPECT_EQ(table[5].Switch, 0);        // "Utility-Switch" right of "Switch" wins
  ASSERT_EQ(problems_.size(), 1u);
  WriteOutptAlphas(*db_, table, 7, problems_);
  EXPECT_EQ(Q("SELECT \"Chan Num\", Type, Mute, Switch, Fader, AllowMM, AssocInput, AuxId FROM OutptAlphas"),
            "1|0|1|0|0|1|16383|16383\n"
            "2|3|0|1|1|1|16383|1\n"
            "3|3|0|1|1|1|16383|2\n"
            "4|6|0|1|1|1|16383|3\n"
            "5|14|1|0|0|1|16383|16383\n"
            "6|9|1|0|0|1|16383|16383\n"
            "7|0|0|0|0|1|16383|16383\n"
            "8|4|0|1|1|1|16383|4");
}

TEST_F(ChannelTablesTest, AuxNumberingCoversRecordsTheSheetDidNotReach) {
  db_.reset();
  testing::Exec(db_path_, "UPDATE OutptAlphas SET Type = 4, Label = 'Old' WHERE \"Chan Num\" > 2");
  db_ = OpenSqliteDatabase(db_path_, {});
  OutputTable table;
  ReadDestinations(MakeGrid("Destinations", {{"Chan", "Bus Type #"}, {1, 3}, {2, 1}}), 1, table, problems_);
  WriteOutptAlphas(*db_, table, 1, problems_);
  EXPECT_EQ(Q("SELECT group_concat(AuxId) FROM OutptAlphas"), "1,16383,2,3,4,5,6,7");
  EXPECT_EQ(Query(db_path_, "SELECT Label FROM OutptAlphas WHERE \"Chan Num\" = 3"), "Old");
}

// A stored Type is read as a 16-bit number, rounded half to even: 3.5 is 4,
// an aux type; 2.5 is 2, not one; text holds no number.
TEST_F(ChannelTablesTest, AuxNumberingRoundsAStoredFraction) {
  db_.reset();
  testing::Exec(db_path_,
                "UPDATE OutptAlphas SET Type = CASE \"Chan Num\" WHEN 3 THEN 3.5 WHEN 4 THEN 2.5 WHEN 5 THEN 'x' "
                "WHEN 6 THEN 1e300 ELSE 3 END");
  db_ = OpenSqliteDatabase(db_path_, {});
  OutputTable table;
  ReadDestinations(MakeGrid("Destinations", {{"Chan"}}), 0, table, problems_);
  WriteOutptAlphas(*db_, table, 0, problems_);
  EXPECT_EQ(Q("SELECT group_concat(AuxId) FROM OutptAlphas WHERE \"Chan Num\" <= 8"),
            "1,2,3,16383,16383,16383,4,5");
}

TEST_F(ChannelTablesTest, OptoAndRelayIgnoreRowsPastTheTable) {
  OptoTable optos(3);
  ReadOpto(MakeGrid("Opto", {{"Chan", "Name", "Input", "Relay"}, {1, "Opto name 1", 1, 0}, {2, "0", 16383, 2},
                             {3, "c", 3, 3}, {4, "d", 4, 4}, {5, "e", 5, 5}}),
           2, optos, problems_);
  RelayTable relays(3);
  ReadRelay(MakeGrid("Relay", {{"Chan", "Name"}, {2, "never"}, {1, "Relay 1"}, {2, " "}}), 2, relays, problems_);
  WriteOptoAlphas(*db_, optos, 2, problems_);
  WriteRelayAlphas(*db_, relays, 2, problems_);
  EXPECT_EQ(Q("SELECT \"Chan Num\", Label, Input, Relay, Salvo FROM OptoAlphas WHERE \"Chan Num\" <= 4 UNION ALL "
              "SELECT \"Chan Num\", Label, 0, 0, 0 FROM RelayAlphas WHERE \"Chan Num\" <= 3"),
            "1|Opto nam|0|16383|0\n2||16383|1|0\n3|c|2|2|0\n4||0|0|0\n"
            "1|Relay 1|0|0|0\n2||0|0|0\n3||0|0|0");
  // Opto rows for numbers 4 and 5 found no place in a table of 3 entries.
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_EQ(problems_.list()[0].ToString(),
            "Opto!A5:A6: \"Inputs\" on the System sheet is 2, so the table holds 3 entries: rows 5 to 6 (numbered 4 to "
            "5) lie beyond it, and nothing of them is stored");
}

TEST_F(ChannelTablesTest, LocationsConsolesAndSets) {
  LocationTable locations{};
  ReadLocationSheet(MakeGrid("Location", {{"#", "Location Name", "Notes"}, {1, "Studio A Control Room 1", "n"},
                                          {2, "0", kEmpty}, {4, "skipped", kEmpty}, {3, "C", "c"}}),
                    locations, problems_);
  ConsoleNameTable consoles{};
  ReadConsoleNameSheet(MakeGrid("Console Name", {{"#", "Console Name (max 16)", "Console name"},
                                                 {1, "Production Console 12", "x"}}),
                       consoles, problems_);
  RcSetTable sets{};
  ReadRemoteControlSheet(MakeGrid("RC", {{"#", "Set Name", "Opto 2", "Relay 12", "Opto3", "Relay 4", "Opto x"},
                                         {1, "Remote set 1", 7, 3, 9, kEmpty, 5},
                                         {2, "0", kEmpty, 4, 9, 2, 5}}),
                         sets, problems_);
  EXPECT_EQ(sets[0].setOptos[1], 6);
  EXPECT_EQ(sets[0].setRelays[0], 2);        // "Relay 12": the slot is the one character "1"
  EXPECT_EQ(sets[0].setOptos[2], 0);         // "Opto3": position 6 holds nothing, no slot
  EXPECT_EQ(sets[0].setRelays[3], NoIndex);  // empty cell
  EXPECT_EQ(sets[1].setOptos[1], NoIndex);
  WriteLocationAlphas(*db_, locations, problems_);
  WriteConsoleAlphas(*db_, consoles, problems_);
  WriteOptoRelaySets(*db_, sets, problems_);
  EXPECT_EQ(Q("SELECT \"Chan Num\", Label, Notes FROM LocationAlphas UNION ALL "
              "SELECT \"Chan Num\", Label, Notes FROM ConsoleAlphas WHERE \"Chan Num\" = 1 UNION ALL "
              "SELECT SetNum, Label, Opto1 || ',' || Relay1 || ',' || Opto2 || ',' || Relay2 || ',' || Relay4 "
              "FROM OptoRelaySets WHERE SetNum <= 3"),
            "1|Studio A Control|n\n2||\n3|C|c\n4||\n"
            "1|Production Conso|\n"
            "1|Remote s|0,2,6,0,16383\n2||0,3,16383,0,1\n3||0,0,0,0,0");
  EXPECT_TRUE(problems_.empty());
}

TEST_F(ChannelTablesTest, RowsPastAFixedTableAreReported) {
  std::vector<std::vector<testing::V>> rows = {{"#", "Console Name"}};
  for (int i = 1; i <= 258; ++i) rows.push_back({i, "c" + std::to_string(i)});
  ConsoleNameTable consoles{};
  ReadConsoleNameSheet(MakeGrid("Console Name", rows), consoles, problems_);
  EXPECT_EQ(consoles[256].consoleLabel, "c257");
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_EQ(problems_.list()[0].ToString(),
            "'Console Name'!A259: the table holds 257 entries: row 259 (numbered 258) lies beyond it, and nothing of it "
            "is stored");
}

}  // namespace
}  // namespace kvr

namespace kvr {
namespace {

// A report that says what a field "is written as" says what the run writes:
// a later column of the same field, a bus type, a label beginning with "{"
// decide it after the cell was read.
TEST(ConsequencesTest, WhatIsWrittenIsWhatTheRowFinallyGives) {
  Problems problems;
  OutputTable outputs;
  ReadDestinations(MakeGrid("Destinations", {{"Chan", "Chan Label", "Utility-Fader", "Fader", "Bus Type #", "Mute", "Hidden"},
                                             {1, "Out 1", 0.5, 1, 3, 0, 0},
                                             {2, "Out 2", kEmpty, kEmpty, 14, "0 x", kEmpty},
                                             {3, "{Spare}", kEmpty, kEmpty, 9, "1 x", "0 x"}}),
                   2, outputs, problems);
  std::vector<std::string> said;
  for (const auto& n : problems.notices()) said.push_back(n.ToString());
  const std::vector<std::string> expected = {
      "Destinations!D1: the heading \"Fader\" fills the same field as \"Utility-Fader\" in C1; this later column's "
      "values are the ones stored",
      "Destinations!C2: 0.5 under \"Utility-Fader\" is not a whole number: it reads as 0; Fader of output 1 is not "
      "written from this cell: the later column \"Fader\" in D decides it",
      "Destinations!F3: \"0 x\" under \"Mute\" has text after its number: it reads as 0; Mute of output 2 is written "
      "as 1 (bus type 14 sets it)",
      "Destinations!F4: \"1 x\" under \"Mute\" has text after its number: it reads as 1; Mute of output 3 is written "
      "as 1",
      "Destinations!G4: \"0 x\" under \"Hidden\" has text after its number: it reads as 0; Hidden of output 3 is "
      "written as 1 (the label \"{Spare}\" begins with \"{\")"};
  EXPECT_EQ(said, expected);
}

}  // namespace
}  // namespace kvr
