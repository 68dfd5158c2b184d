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
    EXPECT_TRUE(WriteXlsx(sheets, path, 0, dir_).ok());
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

}  // namespace
}  // namespace kvr
