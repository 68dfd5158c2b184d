// The copy of the switcher database as it was before a conversion changed
// it, kept beside it as "<file name>.bak" (one backup, replaced by the next
// run that keeps its changes).
//
// It is taken while the conversion's transaction holds the database against
// other writers and before its first change, so it is consistent, and
// written into a hidden temporary file beside the database in steps, so
// memory stays small whatever the database's size. It gets the database's
// permissions and owner: a private database never gets a readable copy.
//
// Just before the commit the copy is put in place and an earlier backup set
// aside under a hidden name; once the commit has kept the changes the
// earlier backup is removed, and when the commit fails it is put back. A run
// that keeps no change (a failure, a failed commit, a cancelled preview)
// therefore leaves the backup as it found it.
#ifndef KVR_TABLES_DATABASE_BACKUP_H_
#define KVR_TABLES_DATABASE_BACKUP_H_

#include <filesystem>

#include "base/output_file.h"
#include "base/status.h"
#include "tables/switcher_database.h"

namespace kvr {

// "Switcher.db" -> "Switcher.db.bak".
std::filesystem::path BackupPathFor(const std::filesystem::path& database);

class DatabaseBackup {
 public:
  DatabaseBackup() = default;
  ~DatabaseBackup();  // a backup put in place but not kept is undone
  DatabaseBackup(const DatabaseBackup&) = delete;
  DatabaseBackup& operator=(const DatabaseBackup&) = delete;

  // What a run killed while it kept its changes left beside `database`:
  // the earlier backup set aside under its hidden name, and temporary
  // copies. `kept` tells whether that run's changes were kept: where they
  // were not, the backup it put in place is of the database as it still
  // is, and the earlier one is put back; where they were, the earlier one
  // is removed, as that run would have. Called before the database is
  // opened (a SQLite journal left beside it says the changes were not kept).
  static void TidyAfterKilledRun(const std::filesystem::path& database, bool kept);

  // Copies the database file at `database`: a SQLite file through SQLite's
  // online backup, read on a connection of its own; a Jet file byte for
  // byte (the open transaction keeps its writers out).
  Status Stage(const std::filesystem::path& database, DatabaseKind kind);

  // Puts the copy in place as "<file>.bak", an earlier backup set aside.
  // On failure everything is as it was.
  Status PutInPlace();

  // The changes were kept: the earlier backup is removed.
  void Keep();

  // The changes were not kept: the new backup is removed and the earlier one
  // put back.
  void Undo();

  const std::filesystem::path& path() const { return backup_; }

 private:
  enum class State { kEmpty, kStaged, kInPlace, kDone };
  State state_ = State::kEmpty;
  bool had_earlier_ = false;  // an earlier backup was set aside
  std::filesystem::path backup_, earlier_;
  OutputBatch batch_;
};

}  // namespace kvr

#endif  // KVR_TABLES_DATABASE_BACKUP_H_
