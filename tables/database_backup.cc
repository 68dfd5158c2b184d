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

struct SqliteFree {
  void operator()(unsigned char* p) const { sqlite3_free(p); }
};

// The whole database at `file`, as the bytes of a database file, copied by
// SQLite's online backup into memory.
struct Image {
  std::unique_ptr<unsigned char, SqliteFree> bytes;
  std::size_t size = 0;
  std::string_view view() const { return {reinterpret_cast<const char*>(bytes.get()), size}; }
};

Result<Image> SqliteImage(const std::string& file) {
  Connection source = Open(file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  Connection copy = Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  if (!source || !copy) return Status::Error("cannot open " + file + " to copy it");
  sqlite3_busy_timeout(source.get(), 5000);
  sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source.get(), "main");
  if (backup == nullptr) return Status::Error(sqlite3_errmsg(copy.get()));
  const int step = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (step != SQLITE_DONE) return Status::Error(std::string("cannot copy it: ") + sqlite3_errstr(step));
  source.reset();
  sqlite3_int64 size = 0;
  Image image{std::unique_ptr<unsigned char, SqliteFree>(sqlite3_serialize(copy.get(), "main", &size, 0)), 0};
  if (!image.bytes) return Status::Error("out of memory copying it");
  image.size = static_cast<std::size_t>(size);
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
  if (kind == DatabaseKind::kSqlite) {
    const Result<Image> image = SqliteImage(Utf8Path(database));
    if (!image.ok()) return Status::Error(image.why());
    return batch.Stage(BackupPathFor(database), image->view(), "database backup");
  }
  const Result<std::string> bytes = FileBytes(database);
  if (!bytes.ok()) return Status::Error(bytes.why());
  return batch.Stage(BackupPathFor(database), *bytes, "database backup");
}

}  // namespace kvr
