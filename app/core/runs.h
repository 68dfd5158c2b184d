// The three commands, free of any user interface.
//
// ConversionRun ("Convert"):
//   1. Choose the switcher database; cancelled, missing or not a database:
//      the run ends, nothing read or written, status unchanged.
//   2. Choose the workbook; cancelled, missing or unreadable: the same.
//   3. Status "In Process". Sheet phase: "System", "Sources", "Destinations",
//      "Opto", "Relay", "Location", "Console Name", "RC", "Console Config",
//      then "Console #1".. "Console #n". The workbook is then released.
//   4. Database phase, one transaction: "InptAlphas", "OutptAlphas",
//      "OptoAlphas", "RelayAlphas", "ConsoleAlphas", "LocationAlphas",
//      "OptoRelaySets", then one commit (a dry run rolls back instead).
//   5. The .con file, then the .cns files. Status "Completed".
// DemoIniRun ("Demo .ini") and CrosspointExportRun ("Read xPoints") clear the
// status, choose a workbook (same early ends), read their sheets and write
// DemoSetup.ini or the crosspoint file.
//
// Every step that fails is recorded in the result's problems and the run goes
// on; nothing here prints, shows or exits. `vars` is cleared at the start.
// A stop asked for (base/interrupt.h) ends a run at its next safe point, up
// to the commit, with the outcome kInterrupted: nothing changed or written.
#ifndef KVR_APP_CORE_RUNS_H_
#define KVR_APP_CORE_RUNS_H_

#include "app/core/run_context.h"
#include "app/core/variables.h"

namespace kvr {

RunResult ConversionRun(Variables& vars, RunContext& ctx);
RunResult DemoIniRun(Variables& vars, RunContext& ctx);
RunResult CrosspointExportRun(Variables& vars, RunContext& ctx);
// The sheet phases of all three, reading everything and writing nothing:
// the problems and notices an engineer checks before going to site, and the
// console files the conversion would refuse to write.
RunResult CheckRun(Variables& vars, RunContext& ctx);
// NewDatabaseRun ("New Database"): asks for a workbook, then for the name
// of a new SQLite database, and creates it with as many records in each
// table as the workbook's plant needs (as `new-database --workbook`); an
// existing file is never written over.
RunResult NewDatabaseRun(Variables& vars, RunContext& ctx);

}  // namespace kvr

#endif  // KVR_APP_CORE_RUNS_H_
