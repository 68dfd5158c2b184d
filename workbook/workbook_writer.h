// Writing a workbook: sheets of numbers and texts, each with its heading rows
// frozen and its columns as wide as what they hold, saved as .xlsx or .ods
// (zips of their XML parts, made through libzip as they are compressed). Saving is deterministic: the same sheets and creation time give
// the same bytes.
#ifndef KVR_WORKBOOK_WORKBOOK_WRITER_H_
#define KVR_WORKBOOK_WORKBOOK_WRITER_H_

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "workbook/sheet_grid.h"

namespace kvr {

// One worksheet to be written; rows and columns count from 1.
class OutSheet {
 public:
  explicit OutSheet(std::string name, int frozen_rows = 1) : name_(std::move(name)), frozen_rows_(frozen_rows) {}

  void SetNumber(int row, int column, double value);
  // An empty text leaves the cell empty: a reader sees no difference. A
  // text that is not UTF-8 has each ill-formed sequence written as U+FFFD,
  // and a text longer than a cell holds (SheetGrid::kMaxTextChars
  // characters) is cut to that; either way the cell is listed in cut().
  void SetText(int row, int column, std::string text);

  // The cells whose text SetText changed: cut, with the length it was
  // given, or mended where it was not UTF-8.
  struct CutCell {
    int row = 0;
    int column = 0;
    std::size_t characters = 0;  // 0 when the text was whole
    bool not_utf8 = false;
  };
  const std::vector<CutCell>& cut() const { return cut_; }

  const std::string& name() const { return name_; }
  int frozen_rows() const { return frozen_rows_; }
  int rows() const { return static_cast<int>(rows_.size()); }
  int columns() const { return columns_; }
  // The cell at (row, column) (empty, a number or a text); outside what was
  // set, an empty cell. A text lives as long as the sheet.
  Cell at(int row, int column) const;
  // Each column's width in characters: its longest cell, with a margin.
  std::vector<double> ColumnWidths() const;

  // The grid a reader gives for this sheet once written: its used range,
  // the same cells.
  SheetGrid ToGrid() const;

 private:
  // 16 bytes a cell, its text in the sheet's one buffer: a plant's sheets
  // hold over a million cells.
  struct Slot {
    double number = 0;
    std::uint32_t text_at = 0;
    std::uint32_t text_length : 24 = 0;  // a cell holds at most 32767 characters of 4 bytes
    std::uint32_t kind : 8 = static_cast<std::uint32_t>(CellKind::kEmpty);
  };
  Slot& Place(int row, int column);

  std::string name_;
  int frozen_rows_;
  int columns_ = 0;
  std::vector<std::vector<Slot>> rows_;
  std::string texts_;
  std::vector<CutCell> cut_;
};

// A cell an .ods file cannot hold as given: its text had characters XML
// does not carry (control characters other than tab and line feed), written
// as U+FFFD instead.
struct AlteredCell {
  std::string sheet;
  int row = 0;
  int column = 0;
};

// Writes `sheets` as an .xlsx workbook at `path` (a new file), its document
// created at `created`.
Status WriteXlsx(const std::vector<OutSheet>& sheets, const std::filesystem::path& path, std::time_t created);

// Writes `sheets` as an .ods spreadsheet at `path` (a new file), its parts
// dated `created`; cells it had to alter are added to `altered`.
Status WriteOds(const std::vector<OutSheet>& sheets, const std::filesystem::path& path, std::time_t created,
                std::vector<AlteredCell>& altered);

// Where the grid `read` (of a written file) differs from what `written`
// asked for: "B7: the text "a_x0041_" reads back as "aA"", at most a few.
std::vector<std::string> GridDifferences(const OutSheet& written, const SheetGrid& read);

// A number as the writers store it: the shortest text that reads back as
// the same double.
std::string NumberText(double v);

}  // namespace kvr

#endif  // KVR_WORKBOOK_WORKBOOK_WRITER_H_
