// The sheet phases of the runs: which sheets each reads, in which order,
// into the tables, with the notices of what the System settings do to the
// outputs. Nothing here writes a file or touches the database.
#ifndef KVR_APP_CORE_RUN_SHEETS_H_
#define KVR_APP_CORE_RUN_SHEETS_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/database_phase.h"
#include "app/core/run_progress.h"
#include "app/core/variables.h"
#include "demo/demo_ini.h"
#include "workbook/sheet_grid.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"
#include "xpoints/crosspoints.h"

namespace kvr {

// Tells the front end's progress of each sheet as it is read.
class SheetCounter {
 public:
  SheetCounter(RunProgress* progress, int total) : progress_(progress), total_(total) {}
  void Next(std::string_view name) {
    ++read_;
    if (progress_ != nullptr) progress_->Sheet(read_, std::max(total_, read_), name);
  }
  void Done() {
    if (progress_ != nullptr) progress_->SheetsDone();
  }

 private:
  RunProgress* progress_;
  int total_;
  int read_ = 0;
};

// Hands out a sheet's grid by name (a missing sheet as an empty grid, with
// its problem reported).
using SheetSource = std::function<SheetGrid(const std::string& name)>;

// The "System" sheet read, and its cells accounted for.
SystemSettings ReadSystemSheet(Workbook& workbook, Problems& problems);
// The "Crosspoints" sheet read, and its cells accounted for.
std::vector<CrosspointRecord> ReadCrosspointSheet(Workbook& workbook, Problems& problems);

// The conversion's "System" sheet, noticed for what it does to the outputs.
SystemSettings ReadConversionSystem(Workbook& workbook, Problems& problems);
// The conversion's sheets after "System", in reading order.
std::vector<std::string> ConversionSheetNames(int last_console);
// Those sheets read into `vars`, in the conversion's order; `progress` hears of
// each channel sheet once it is read, and of the end.
void ReadRunSheets(const SheetSource& sheet, const SystemSettings& system, int last_console, Variables& vars,
                   bool big_switch, Problems& problems, SheetProgress& progress);
// "Consoles" past the consoles kept is a problem.
void ReportConsolesPastTable(const SystemSettings& system, int last_console, Problems& problems);

// The demo run's sheets after "System" (read by the caller into `demo`).
// Without `frames_required` a workbook without "32QX" reads no frames and says nothing of it.
void ReadDemoSheets(Workbook& workbook, DemoSystem& demo, Variables& vars, Problems& problems, SheetCounter& counter,
                    bool frames_required = true);
DemoSystem DemoSystemFrom(const SystemSettings& s);

// The crosspoint run's notice of an empty system name, which names its file.
void NoteCrosspointFileName(const std::string& system_name, Problems& problems);

}  // namespace kvr

#endif  // KVR_APP_CORE_RUN_SHEETS_H_
