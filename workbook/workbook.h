// A workbook file opened for reading: its worksheet names and their grids.
//
// OpenWorkbook tells the format from the file's first bytes, not its name:
// a zip container is an OpenDocument spreadsheet (.ods) when it says so in
// its "mimetype" entry or has content.xml without package relationships, and
// an Office Open XML workbook (.xlsx, .xlsm) otherwise; an OLE2 compound file
// is an Excel 97-2003 binary workbook (.xls, BIFF8).
#ifndef KVR_WORKBOOK_WORKBOOK_H_
#define KVR_WORKBOOK_WORKBOOK_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "workbook/sheet_grid.h"
#include "workbook/workbook_error.h"

namespace kvr {

class Problems;

// The most sheets a workbook may list. The largest installation workbook has
// a few hundred; a file listing more is refused before any sheet is read.
inline constexpr std::size_t kMaxSheets = 4096;

class Workbook {
 public:
  virtual ~Workbook() = default;

  // Worksheet names in workbook order. Chart sheets and other non-worksheets
  // are not listed.
  virtual const std::vector<std::string>& SheetNames() const = 0;

  // Reads worksheet `index` (0-based, into SheetNames()). Throws WorkbookError
  // when the sheet's content is malformed or beyond the reader's limits.
  virtual SheetGrid ReadSheet(std::size_t index) = 0;

  // True when ReadSheet may run on several threads at once (for different
  // sheets); SheetNames is always safe to call.
  virtual bool ConcurrentReads() const { return false; }
};

// Opens the workbook at `path`, or says why not in a message that names the
// file: "not a workbook: ...", a corrupt or truncated container, an
// encrypted workbook, a missing part.
Result<std::unique_ptr<Workbook>> OpenWorkbook(const std::filesystem::path& path);

// The index of the worksheet called `name`, matched without regard to case as
// the spreadsheet application matches sheet names.
std::optional<std::size_t> FindSheet(const Workbook& workbook, std::string_view name);

// The grid of worksheet `name`. A missing sheet, or one that cannot be read,
// gives an empty grid (0 x 0) and a recorded problem, so that the reader of
// that sheet fills nothing. A sheet past a reader's bounds throws
// WorkbookLimitError, which ends the run.
SheetGrid OpenSheetGrid(Workbook& workbook, std::string_view name, Problems& problems);

// The two halves of OpenSheetGrid, for readers that fetch grids otherwise:
// the problem of a missing sheet (with a notice of a sheet whose name is
// near, SheetMeant), and `read` with its failures reported.
SheetGrid MissingSheet(const Workbook& workbook, std::string_view name, Problems& problems);

// The sheet of `sheet_names` that was probably meant by `name`, which none
// of them is: the same when case, blanks and "#" are set aside, or one slip
// of the keys away from a name of five letters or more.
std::optional<std::string> SheetMeant(std::string_view name, const std::vector<std::string>& sheet_names);
SheetGrid SheetOrProblem(std::string_view name, const std::function<SheetGrid()>& read, Problems& problems);

// Readers behind OpenWorkbook; each throws WorkbookError.
std::unique_ptr<Workbook> OpenXlsxWorkbook(const std::filesystem::path& path);
std::unique_ptr<Workbook> OpenXlsWorkbook(const std::filesystem::path& path);
std::unique_ptr<Workbook> OpenOdsWorkbook(const std::filesystem::path& path);

}  // namespace kvr

#endif  // KVR_WORKBOOK_WORKBOOK_H_
