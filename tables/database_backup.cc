#include "tables/database_backup.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "base/utf8.h"

namespace kvr {
namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

Connection Open(const std::string& name, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  Connection c(db);
  if (rc != SQLITE_OK) return nullptr;
  return c;
}

// The whole database at `file` as the bytes of a database file.
Result<std::string> SqliteImage(const std::string& file) {
  Connection source = Open(file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  Connection copy = Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  if (!source || !copy) return Status::Error("cannot open " + file + " to copy it");
  sqlite3_busy_timeout(source.get(), 5000);
  sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source.get(), "main");
  if (backup == nullptr) return Status::Error(sqlite3_errmsg(copy.get()));
  const int step = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (step != SQLITE_DONE) return Status::Error(std::string("cannot copy it: ") + sqlite3_errstr(step));
  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(copy.get(), "main", &size, 0);
  if (bytes == nullptr) return Status::Error("out of memory copying it");
  std::string image(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  sqlite3_free(bytes);
  return image;
}

Result<std::string> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error("cannot read " + Utf8Path(path));
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return Status::Error("cannot read " + Utf8Path(path));
  return bytes;
}

}  // namespace

std::filesystem::path BackupPathFor(const std::filesystem::path& database) {
  std::filesystem::path backup = database;
  backup += ".bak";
  return backup;
}

Status StageDatabaseBackup(const std::filesystem::path& database, DatabaseKind kind, OutputBatch& batch) {
  const Result<std::string> image = kind == DatabaseKind::kSqlite ? SqliteImage(Utf8Path(database))
                                                                   : FileBytes(database);
  if (!image.ok()) return Status::Error(image.why());
  return batch.Stage(BackupPathFor(database), *image, "database backup");
}

}  // namespace kvr
