// Mistakes engineers make, each planted alone in the example plant and
// saved as a workbook of its own: `check` must point at each, and say
// nothing of the kind about the plant as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "app/cli/cli.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"
#include "workbook/workbook.h"
#include "workbook/workbook_writer.h"

namespace kvr {
namespace {

// A sheet as read, to be changed and written again.
struct Rows {
  std::string name;
  std::vector<std::vector<Cell>> cells;
  std::vector<std::string> texts;  // owns what changed cells hold
};

class PlantedMistakesTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    auto book = testing::Open(KVR_EXAMPLES_DIR "/plant.xlsx");
    grids_.clear();
    for (std::size_t i = 0; i < book->SheetNames().size(); ++i) grids_.push_back(book->ReadSheet(i));
  }

  // The example plant with `change` made to sheet `name`, saved and checked:
  // what check says on stderr.
  std::string Check(const std::string& name, const std::function<void(std::vector<std::vector<Cell>>&)>& change) {
    std::vector<OutSheet> sheets;
    std::vector<std::vector<Cell>> rows;
    for (const SheetGrid& g : grids_) {
      rows.assign(static_cast<std::size_t>(g.rows()), std::vector<Cell>(static_cast<std::size_t>(g.columns())));
      for (int r = 1; r <= g.rows(); ++r) {
        for (int c = 1; c <= g.columns(); ++c) rows[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(c - 1)] = g.at(r, c);
      }
      if (g.sheet_name() == name) change(rows);
      OutSheet sheet(g.sheet_name());
      for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
          const Cell& cell = rows[r][c];
          const int row = static_cast<int>(r) + 1, column = static_cast<int>(c) + 1;
          if (cell.kind == CellKind::kNumber) sheet.SetNumber(row, column, cell.number);
          else if (cell.kind == CellKind::kText) sheet.SetText(row, column, std::string(cell.text));
        }
      }
      sheets.push_back(std::move(sheet));
    }
    const std::string path = File("planted-" + std::to_string(++count_) + ".xlsx").string();
    EXPECT_TRUE(WriteXlsx(sheets, path, 0).ok());
    const char* args[] = {"kvrconversion", "check", "--workbook", path.c_str()};
    std::ostringstream out, err;
    RunCommandLine(4, args, out, err);
    return err.str();
  }

  static Cell Text(const char* text) { return Cell{CellKind::kText, 0, text}; }
  static Cell Number(double n) { return Cell{CellKind::kNumber, n, {}}; }

  std::vector<SheetGrid> grids_;
  int count_ = 0;
};

// The lines of `said` that begin with `kind` ("problem: ", "not read: ").
std::string Lines(const std::string& said, std::string_view kind) {
  std::istringstream in(said);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kind, 0) == 0) out += line + "\n";
  }
  return out;
}

TEST_F(PlantedMistakesTest, ThePlantAsItIsSaysNothing) {
  const std::string said = Check("none", [](auto&) {});
  // Nothing but the values the plant keeps for itself: the System sheet's
  // console sizes and the consoles' "MFD Proc" rows, which no run reads.
  EXPECT_EQ(said, Lines(said, "not read: "));
  EXPECT_NE(said.find("not read: System!B5:B9: the rows \"8\" (row 5), \"16\" (row 6), \"24\" (row 7), \"32\" (row 8) "
                      "and \"40\" (row 9) are not read: no field of this sheet is read by their labels (5 values: B5:B9)\n"),
            std::string::npos);
  EXPECT_NE(said.find("not read: 'Console #1'!D6:O6: the row \"MFD Proc\" (row 6) is not read: no field of this "
                      "sheet is read by its label (8 values: D6, F6:G6, J6:L6, N6:O6); so too on 5 more sheets "
                      "(\"Console #2\" to \"Console #6\")\n"),
            std::string::npos);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2);
}

TEST_F(PlantedMistakesTest, ATitleRowAboveTheHeadings) {
  const std::string said = Check("Sources", [](auto& rows) {
    rows.insert(rows.begin(), std::vector<Cell>(rows[0].size()));
    rows[0][0] = Text("Sources of Plant A");
  });
  EXPECT_NE(said.find("notice: Sources!A1:U1: the headings stand in row 2, but they are read from the first row, row 1 "
                      "(\"Sources of Plant A\"), which names no column: no column of this sheet is read"),
            std::string::npos)
      << said;
}

TEST_F(PlantedMistakesTest, ChannelsNumberedFromZero) {
  const std::string said = Check("Destinations", [](auto& rows) {
    for (std::size_t r = 1; r < rows.size(); ++r) rows[r][0] = Number(rows[r][0].number - 1);
  });
  EXPECT_NE(said.find("notice: Destinations!A2: row 2 is numbered 0, but numbers count from 1, so it is passed over "
                      "and nothing of it is read; if the sheet counts from 0, every later row reaches the record one "
                      "below the one meant (row 3, numbered 1, is the first record)"),
            std::string::npos)
      << said;
}

TEST_F(PlantedMistakesTest, ARowWithValuesButNoNumber) {
  const std::string said = Check("Opto", [](auto& rows) {
    std::vector<Cell> row = rows[5];
    row[0] = Cell{};
    rows.insert(rows.begin() + 5, row);
  });
  EXPECT_NE(said.find("notice: Opto!A6: row 6 holds values but no number in column A, so it is passed over and "
                      "nothing of it is read"),
            std::string::npos)
      << said;
  // Remarks after the last channel are the sheet's own.
  EXPECT_EQ(Check("Opto", [](auto& rows) {
              std::vector<Cell> row = rows[5];
              row[0] = Cell{};
              rows.push_back(row);
            }).find("no number in column"),
            std::string::npos);
}

TEST_F(PlantedMistakesTest, RemoteControlHeadingsThatFillNoSlotOrOneTwice) {
  std::string said = Check("RC", [](auto& rows) {
    for (std::size_t c = 0; c < rows[0].size(); ++c) {
      if (rows[0][c].text == "Opto 1") rows[0][c] = Text("Opto1");
      if (rows[0][c].text == "Relay 5") rows[0][c] = Text("Relay 9");
      if (rows[0][c].text == "Opto 3") rows[0][c] = Text("Opto 2");
    }
  });
  EXPECT_NE(said.find("the heading \"Opto1\" names no opto slot (the slot is the character after \"Opto\" and one "
                      "separator, 1 to 5), so its column is not read; \"Opto 1\" is probably meant"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("the heading \"Relay 9\" names no relay slot"), std::string::npos) << said;
  EXPECT_NE(said.find("the heading \"Opto 2\" fills opto slot 2 as \"Opto 2\" in "), std::string::npos) << said;
}

TEST_F(PlantedMistakesTest, ModuleTypesAndMarksThatDifferByCase) {
  const std::string said = Check("Console #1", [](auto& rows) {
    rows[1][3] = Text("input");
    for (auto& row : rows) {
      if (row[0].text == "MFD Ch Pan/Balance") row[4] = Text("yes");
      if (row[0].text == "Mix Minus Off") row[0] = Text("Mix minus off");
      if (row[0].text == "MFD Ch Phase") row[0] = Text("MFD Ch Phase (rear)");
    }
  });
  EXPECT_NE(said.find("'Console #1'!D2: the module type \"input\" is not \"Input\" (only case or blanks differ), so "
                      "module 1 is read as a blank module (3999) with no assignments"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("the mark \"yes\" is not \"Show\" or \"Yes\" (only case or blanks differ), so \"MFD Ch "
                      "Pan/Balance\" is not marked for module 2"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("the row label \"Mix minus off\" is not \"Mix Minus Off\" (only case or blanks differ), so the "
                      "row is not read"),
            std::string::npos)
      << said;
  // More text after an MFD keyword is not a difference of case or blanks.
  EXPECT_NE(said.find("the row label \"MFD Ch Phase (rear)\" is not \"MFD Ch Phase\" (an MFD row's label is its keyword "
                      "alone, and this one has more after it), so the row is not read"),
            std::string::npos)
      << said;
}

// Mistakes made under time pressure, each planted alone in the example
// plant: `check` names each at the cell or row given, in the words given.
// Rows and columns here count from 0 (row 0 is the headings).
struct Planted {
  const char* what;
  const char* sheet;
  std::function<void(std::vector<std::vector<Cell>>&)> change;
  const char* said;  // a line of stderr begins with it, or holds it
};

void Put(std::vector<std::vector<Cell>>& rows, std::size_t r, std::size_t c, Cell cell) {
  if (rows.size() <= r) rows.resize(r + 1);
  for (auto& row : rows) {
    if (row.size() <= c) row.resize(c + 1);
  }
  rows[r][c] = cell;
}

TEST_F(PlantedMistakesTest, EachPlantedMistakeIsNamedAtItsPlace) {
  auto text = [](const char* t) { return Cell{CellKind::kText, 0, t}; };
  auto number = [](double n) { return Cell{CellKind::kNumber, n, {}}; };
  auto put = [](std::size_t r, std::size_t c, Cell cell) {
    return [=](std::vector<std::vector<Cell>>& rows) { Put(rows, r, c, cell); };
  };
  const std::vector<Planted> planted = {
      // References to what the workbook does not define.
      {"a location past the Location sheet", "Sources", put(1, 6, number(40)),
       "notice: Sources!G2: 40 under \"Location #\" points at location 40, which no row of the \"Location\" sheet numbers"},
      {"a console's location past the Location sheet", "Console Config", put(2, 1, number(99)),
       "notice: 'Console Config'!B3: 99 under \"Location #\" points at location 99"},
      {"an opto past the table", "RC", put(1, 2, number(300)),
       "notice: RC!C2: 300 under \"Opto 1\" points at opto 300, which lies past the 257 the table holds"},
      {"a relay past the table", "RC", put(3, 8, number(999)),
       "notice: RC!I4: 999 under \"Relay 2\" points at relay 999"},
      {"an output past the table from an opto", "Opto", put(1, 6, number(500)),
       "notice: Opto!G2: 500 under \"Output\" points at output 500"},
      {"an IFB output past the table", "Sources", put(4, 8, number(999)),
       "notice: Sources!I5: 999 under \"IFB/MM\" points at output 999"},
      {"an associated output past the table", "Destinations", put(7, 8, number(1000)),
       "notice: Destinations!I8: 1000 under \"AssocOutput\" points at output 1000"},
      {"a negative location", "Destinations", put(2, 6, number(-3)),
       "notice: Destinations!G3: -3 under \"Location #\" points at location -3"},
      // Values nothing reads.
      {"a value right of the headed columns", "Sources", put(4, 22, number(7)),
       "notice: Sources!W5: values in columns without a heading are not read"},
      {"a merged heading: the second column of it has none", "Sources",
       [&](auto& rows) { rows[0][2] = Cell{}; }, "notice: Sources!C"},
      {"a value below the last channel", "Sources", put(300, 1, text("spare")),
       "notice: Sources!B301: values in rows whose first cell is empty are not read"},
      {"a value in a blank row between channels", "Relay",
       [&](auto& rows) { rows.insert(rows.begin() + 10, std::vector<Cell>(rows[0].size())); rows[10][2] = text("moved"); },
       "notice: Relay!C11: values in rows whose first cell is empty are not read"},
      {"a label in a row named as no rule reads", "Console #2",
       [&](auto& rows) { Put(rows, rows.size(), 0, text("Mix Minus")); Put(rows, rows.size() - 1, 3, number(5)); },
       "'Console #2'!D"},
      {"a System value under a mistyped key", "System", [&](auto& rows) { rows[2][0] = text("Output"); },
       "System!A3"},
      // Texts that do not show what they hold.
      {"a label with a blank at its end", "Sources", put(3, 1, text("Mic 3 ")),
       "notice: Sources!B4: \"Mic 3 \" under \"Chan Label\" holds a blank at its end, which the sheet does not show"},
      {"a label with a no-break space", "Destinations", put(3, 1, text("PGM\xC2\xA0" "2")),
       "holds a no-break space (U+00A0), which the sheet does not show"},
      {"a location name with a blank at its start", "Location", put(2, 1, text(" Studio 2")),
       "notice: Location!B3: \" Studio 2\" under \"Location Name\" holds a blank at its start"},
      {"a console name with a tab", "Console Name", put(1, 1, text("Desk\t1")), "notice: 'Console Name'!B2:"},
      // Numbers that do not read as typed.
      {"a source type with a unit", "Sources", put(5, 7, text("2 type")), "notice: Sources!H6:"},
      {"a location with decimals", "Sources", put(6, 6, number(2.5)), "notice: Sources!G7:"},
      {"a number that does not fit", "Destinations", put(5, 7, number(40000)),
       "problem: Destinations!H6: 40000 under \"Bus Type #\" does not fit a 16-bit number"},
      {"a dim value past a byte", "Console Config", put(1, 9, number(300)), "problem: 'Console Config'!J2:"},
      {"a flag typed as a word", "Sources", put(4, 4, text("yes")), "notice: Sources!E5:"},
      // Rows and headings.
      {"a channel typed twice", "Sources", put(10, 0, number(9)), "notice: Sources!A"},
      {"a channel number skipped", "Destinations", put(20, 0, number(99)), "notice: Destinations!A"},
      {"a heading mistyped", "Destinations", put(0, 7, text("Bus Tpye #")),
       "notice: Destinations!H1: the heading \"Bus Tpye #\" begins with no keyword"},
      {"a heading without its mark", "Sources", put(0, 6, text("Location")),
       "notice: Sources!G1: the heading \"Location\" begins with no keyword of this sheet"},
      {"a meter heading past the five", "Console Config",
       [&](auto& rows) {
         for (auto& cell : rows[0]) {
           if (cell.text == "Meter #5") cell = Cell{CellKind::kText, 0, "Meter #6"};
         }
       },
       "the heading \"Meter #6\" begins with no keyword"},
      {"a second column for one field", "Opto", put(0, 8, text("Type")), "notice: Opto!I1:"},
      {"a set number past the sets", "RC", put(20, 0, number(500)), "RC!A"},
      {"a module type mistyped", "Console #3", put(1, 4, text("Imput")),
       "notice: 'Console #3'!E2: the module type \"Imput\" is none of the module types, so module 2 is read as a blank "
       "module (3999) with no assignments; \"Input\" is probably meant"},
      {"an assignment row numbered out of turn", "Console #4",
       [&](auto& rows) {
         for (auto& row : rows) {
           if (row[0].kind == CellKind::kNumber && row[0].number == 3) row[0] = Cell{CellKind::kNumber, 33, {}};
         }
       },
       "were passed over while the assignments waited for number 3, which never came: their module cells are not "
       "read as assignments"},
      {"a crosspoint to an output past the table", "Crosspoints", put(2, 2, number(999)),
       "notice: Crosspoints!C3: 999 under \"Destination\" points at output 999, which lies past the 193 the table holds"},
      {"a crosspoint row without a level", "Crosspoints", put(5, 0, Cell{}), "notice: Crosspoints!B6:C6: values in rows whose first cell is empty"},
  };
  int named = 0;
  for (const Planted& p : planted) {
    const std::string said = Check(p.sheet, p.change);
    const bool found = said.find(p.said) != std::string::npos;
    named += found;
    EXPECT_TRUE(found) << p.what << ": expected \"" << p.said << "\" in\n" << said;
  }
  EXPECT_GE(planted.size(), 30u);
  EXPECT_EQ(named, static_cast<int>(planted.size()));
}

// What an engineer does on purpose is no mistake: an accented label that
// fits, a column and a remark row of their own. Listed at most, never noticed.
TEST_F(PlantedMistakesTest, HarmlessChangesAreNoMistake) {
  const std::string said = Check("Sources", [](auto& rows) {
    rows[1][1] = Cell{CellKind::kText, 0, "Caf\xC3\xA9 1"};
    Put(rows, 0, 21, Cell{CellKind::kText, 0, "Engineer"});
    Put(rows, 3, 21, Cell{CellKind::kText, 0, "KM"});
    Put(rows, rows.size() + 1, 0, Cell{CellKind::kText, 0, "Checked:"});
    Put(rows, rows.size() - 1, 1, Cell{CellKind::kText, 0, "KM, 3 March"});
  });
  EXPECT_EQ(Lines(said, "notice: ") + Lines(said, "problem: "), "") << said;
  EXPECT_NE(said.find("not read: Sources!V4: the column \"Engineer\" (V) is not read"), std::string::npos) << said;
  EXPECT_NE(said.find("the row \"Checked:\" (row 259) is not read"), std::string::npos) << said;
}

}  // namespace
}  // namespace kvr
