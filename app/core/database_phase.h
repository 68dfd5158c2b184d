// The conversion's database phase: the seven table steps in one
// transaction, then the backup put in place and the commit (or, in a dry
// run or a cancelled preview, the rollback). It can run beside the sheet
// phase on a thread of its own: each table step waits for the sheet it
// writes from, and the commit for every sheet.
#ifndef KVR_APP_CORE_DATABASE_PHASE_H_
#define KVR_APP_CORE_DATABASE_PHASE_H_

#include <condition_variable>
#include <mutex>

#include "app/core/run_context.h"
#include "app/core/variables.h"
#include "tables/database_target.h"
#include "workbook/system_settings.h"

namespace kvr {

// The conversion's sheets in reading order; a table step needs the sheet at
// its number, the commit all of them and the module sheets after them.
enum SheetStage : int { kSources = 1, kDestinations, kOpto, kRelay, kLocation, kConsoleName, kRc, kConsoleConfig,
                        kAllSheets };

// How far the sheet phase has come, for a database phase running beside it.
// An aborted sheet phase (a workbook past a bound) makes every wait fail,
// and the database is rolled back.
class SheetProgress {
 public:
  void Reached(int stage);
  void Abort();
  // Waits until `stage` is reached: true, or the sheet phase was aborted: false.
  bool WaitFor(int stage);
  // True once `stage` is reached or the sheet phase was aborted: nothing
  // more to wait for.
  bool Passed(int stage);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int reached_ = 0;
  bool aborted_ = false;
};

// The database phase into `result`: its problems, the changes counted (and,
// in a dry run, listed), the backup, a cancelled preview, a stop. With
// `progress` each table step waits for its sheet; without, the sheets are
// all read already.
void UpdateDatabase(const DatabaseTarget& target, Variables& vars, const SystemSettings& system, RunContext& ctx,
                    RunResult& result, SheetProgress* progress = nullptr);

// What the table steps say of the values themselves (texts cut to their
// fields, values a field does not take), against a new database of the
// standard layout that fits the plant: what `check` says for `convert`
// without a database. The scratch database is removed again.
void ReportValuesAsConvertWould(Variables& vars, const SystemSettings& system, RunContext& ctx, Problems& problems);

}  // namespace kvr

#endif  // KVR_APP_CORE_DATABASE_PHASE_H_
