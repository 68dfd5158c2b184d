// What a run needs from the front end that starts it: the file chooser, the
// overwrite question, the status label, the "Big Switch" setting and the
// folder the outputs go to. The command line and the window each implement
// these small interfaces.
#ifndef KVR_APP_CORE_RUN_CONTEXT_H_
#define KVR_APP_CORE_RUN_CONTEXT_H_

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/core/run_progress.h"
#include "base/output_file.h"
#include "base/overwrite_question.h"
#include "base/problems.h"
#include "tables/switcher_database.h"

namespace kvr {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Asks for a file: `sFileName` proposed, `sExtension` the first filter
  // entry ("" for none), `iType` 1 to open, otherwise to save. Returns the
  // chosen full path, or "" when the user cancelled.
  virtual std::string GetFileName(const std::string& sFileName, const std::string& sExtension, int iType) = 0;
};

// Shows the changes a conversion is about to make, once everything is read
// and before anything is kept, and asks whether to go on.
class ChangePreview {
 public:
  virtual ~ChangePreview() = default;
  // True: commit the changes and write the files; false: roll the changes
  // back and write nothing.
  virtual bool Apply(const ChangeList& changes, const std::map<std::string, ChangeCount>& counts) = 0;
};

class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Shows `text` ("", "In Process", "Completed") and lets the display catch up.
  virtual void SetStatus(const std::string& text) = 0;
};

struct RunContext {
  FileChooser& chooser;
  OverwriteQuestion& question;
  StatusSink& status;
  bool big_switch = false;
  std::filesystem::path output_folder;  // AppFolder: where every output file goes
  bool dry_run = false;                 // convert only: change nothing, report what would change
  bool backup = true;                   // convert only: keep the database as it was as "<file>.bak"
  bool count_changes = true;            // convert only: count the records and fields changed per table
  ChangePreview* preview = nullptr;     // convert only: asked before the changes are kept
  RunProgress* progress = nullptr;      // told of each sheet, table and stage, for a front end to show
};

struct RunResult {
  enum class Outcome {
    kCancelled,   // the user chose no file, or cancelled the preview: nothing changed or written
    kNotRun,      // an input is missing or unreadable: nothing read or written, status unchanged
    kCompleted,   // ran to the end ("Completed"); `problems` lists what failed on the way
    kInterrupted, // stopped on request at a safe point: nothing changed or written
  };
  Outcome outcome = Outcome::kCancelled;
  std::string reason;                         // why it did not run (kNotRun) or was cancelled after reading
  std::filesystem::path backup;               // the database's backup, when one was made
  bool preview_cancelled = false;             // the preview was cancelled: outcome kCancelled
  bool interrupted = false;                   // the database phase stopped on request: nothing kept
  bool database_read = false;                 // convert: the database was opened and its tables stepped through
  Problems problems;
  std::vector<std::filesystem::path> written;  // output files written
  std::vector<FileOutcome> files;              // every output file: written, kept or not written (and why)
  ChangeList changes;            // database changes one by one (dry runs)
  std::map<std::string, ChangeCount> changed;  // records and fields changed per table (kept or, in a dry run, not)
  std::vector<std::string> would_write;        // file names a dry run would have written
};

}  // namespace kvr

#endif  // KVR_APP_CORE_RUN_CONTEXT_H_
