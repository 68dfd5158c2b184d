// The copy of the switcher database as it was before a conversion changed
// it, kept beside it as "<file name>.bak" (one backup, replaced by the next
// run). It is taken while the conversion's transaction holds the database
// against other writers and before its first change, so it is consistent;
// it is staged at once and put in place just before the commit, so a run
// that changes nothing (a failure, a cancelled preview) leaves no backup.
#ifndef KVR_TABLES_DATABASE_BACKUP_H_
#define KVR_TABLES_DATABASE_BACKUP_H_

#include <filesystem>

#include "base/output_file.h"
#include "base/status.h"
#include "tables/switcher_database.h"

namespace kvr {

// "Switcher.db" -> "Switcher.db.bak".
std::filesystem::path BackupPathFor(const std::filesystem::path& database);

// Stages the backup of the database file at `database` into `batch`: a
// SQLite file through SQLite's online backup, read on a connection of its
// own; a Jet file byte for byte (the open transaction keeps its writers out).
Status StageDatabaseBackup(const std::filesystem::path& database, DatabaseKind kind, OutputBatch& batch);

}  // namespace kvr

#endif  // KVR_TABLES_DATABASE_BACKUP_H_
