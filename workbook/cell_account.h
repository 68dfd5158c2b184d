// The account of a sheet's cells once a run has read it: every cell that
// holds a value either was read (it reaches a field, a byte of a file or a
// setting), or a problem or notice of the run names it, or this account
// names it now, grouped into ranges, one notice per cause.
//
// A cell counts as read when a reader looked at it (SheetGrid::at) or marked
// it (SheetGrid::MarkRead). A problem or notice placed on the sheet names the
// cells of its place; one placed in the first column names its whole rows,
// and, on a sheet whose first row holds the headings, one placed in that row
// names its whole columns.
#ifndef KVR_WORKBOOK_CELL_ACCOUNT_H_
#define KVR_WORKBOOK_CELL_ACCOUNT_H_

#include <cstddef>

#include "base/problems.h"
#include "workbook/sheet_grid.h"

namespace kvr {

// The code of a notice of values nothing read.
inline constexpr const char* kCellsUnreadTag = "cells-unread";
// The code of a notice of formulas whose result the file does not hold.
inline constexpr const char* kFormulaUnsavedTag = "formula-unsaved";
// The code of a notice of values read from rows or columns the workbook hides.
inline constexpr const char* kHiddenReadTag = "hidden-read";

// Where a list of problems and notices stood before a sheet was read.
struct ProblemsMark {
  std::size_t problems = 0;
  std::size_t notices = 0;
  static ProblemsMark Of(const Problems& p) { return {p.size(), p.notices().size()}; }
};

// Where a sheet names its lines. A column whose heading (a row whose label)
// no reader goes by is the engineer's own ("Comment", "Rack Position") and is
// listed as not read, which is no mistake on its own (Problems::kNotReadTag).
struct SheetShape {
  bool headings_in_row1 = false;
  bool labels_in_column1 = false;
};

// Names the cells of `grid` that hold a value, were not read, and that no
// problem or notice made since `since` names.
void AccountForCells(const SheetGrid& grid, const SheetShape& shape, ProblemsMark since, Problems& problems);

}  // namespace kvr

#endif  // KVR_WORKBOOK_CELL_ACCOUNT_H_
