#include "tables/database_backup.h"

#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "base/utf8.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

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

// Pages copied per step: a few MiB at a time, whatever the database's size.
constexpr int kPagesPerStep = 1024;

// Copies the SQLite database `source` into the empty file `copy` by SQLite's
// online backup, in steps.
Status CopySqlite(const std::string& source, const fs::path& copy) {
  Connection from = Open(source, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  Connection to = Open(Utf8Path(copy), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  if (!from || !to) return Status::Error("cannot open " + source + " to copy it");
  sqlite3_busy_timeout(from.get(), 5000);
  // The copy is flushed as a whole when it is put in place; a run that dies
  // meanwhile leaves only a temporary file, so it needs no journal.
  sqlite3_exec(to.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
  if (backup == nullptr) return Status::Error(sqlite3_errmsg(to.get()));
  int step = SQLITE_OK;
  while (step == SQLITE_OK || step == SQLITE_BUSY || step == SQLITE_LOCKED) {
    step = sqlite3_backup_step(backup, kPagesPerStep);
    if (step == SQLITE_BUSY || step == SQLITE_LOCKED) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  sqlite3_backup_finish(backup);
  if (step == SQLITE_DONE) return Status::Ok();
  // A failed write says why in the system's words ("File too large").
  if (const int code = sqlite3_system_errno(to.get()); code != 0 && ((step & 0xff) == SQLITE_IOERR || step == SQLITE_FULL)) {
    return Status::Error("cannot write: " + std::system_category().message(code));
  }
  return Status::Error(std::string("cannot copy it: ") + sqlite3_errstr(step));
}

// Copies the file `source` into `copy` a block at a time.
Status CopyBytes(const fs::path& source, const fs::path& copy) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(copy, std::ios::binary | std::ios::trunc);
  if (!in) return Status::Error("cannot read " + Utf8Path(source));
  if (!out) return Status::Error("cannot write " + Utf8Path(copy));
  std::string block(1 << 20, '\0');
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    out.write(block.data(), in.gcount());
  }
  if (in.bad()) return Status::Error("cannot read " + Utf8Path(source));
  out.close();
  if (!out) return Status::Error("cannot write: the disk may be full");
  return Status::Ok();
}

// A new empty file that only its owner may read: the copy is given the
// database's permissions once complete.
Status CreatePrivate(const fs::path& path) {
  if (fs::exists(path)) return Status::Error("a file " + Utf8Path(path) + " is in the way");
  std::ofstream(path, std::ios::binary).close();
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, ec);
  if (!fs::is_regular_file(path) || ec) return Status::Error("cannot create a file in " + Utf8Path(path.parent_path()));
  return Status::Ok();
}

bool IsRegularFile(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

}  // namespace

fs::path BackupPathFor(const fs::path& database) {
  fs::path backup = database;
  backup += ".bak";
  return backup;
}

namespace {

fs::path EarlierPathFor(const fs::path& backup) {
  return backup.parent_path() / ("." + Utf8Path(backup.filename()) + ".earlier");
}

}  // namespace

void DatabaseBackup::TidyAfterKilledRun(const fs::path& database, bool kept) {
  const fs::path backup = BackupPathFor(database), earlier = EarlierPathFor(backup);
  RemoveTemporariesOf(backup);
  if (!IsRegularFile(earlier)) return;
  std::error_code ec;
  if (kept && IsRegularFile(backup)) {
    fs::remove(earlier, ec);
  } else {
    fs::rename(earlier, backup, ec);
  }
}

DatabaseBackup::~DatabaseBackup() {
  if (state_ == State::kInPlace) Undo();
}

Status DatabaseBackup::Stage(const fs::path& database, DatabaseKind kind) {
  backup_ = BackupPathFor(database);
  earlier_ = EarlierPathFor(backup_);
  const fs::path copy = backup_.parent_path() / TemporaryFileName(backup_, std::random_device{}());
  Status s = CreatePrivate(copy);
  if (s.ok()) s = kind == DatabaseKind::kSqlite ? CopySqlite(Utf8Path(database), copy) : CopyBytes(database, copy);
  if (!s.ok()) {
    std::error_code ec;
    fs::remove(copy, ec);
    return s;
  }
  if (s = batch_.Adopt(backup_, copy, "database backup"); !s.ok()) return s;
  if (s = batch_.MatchPermissions(database); !s.ok()) return s;
  state_ = State::kStaged;
  return Status::Ok();
}

Status DatabaseBackup::PutInPlace() {
  if (state_ != State::kStaged) return Status::Error("no copy was made");
  std::error_code ec;
  const bool earlier = IsRegularFile(backup_);
  if (earlier) {
    fs::rename(backup_, earlier_, ec);
    if (ec) return Status::Error("cannot set the earlier backup aside: " + ec.message());
  }
  if (const auto failures = batch_.Commit(); !failures.empty()) {
    if (earlier) fs::rename(earlier_, backup_, ec);
    state_ = State::kDone;
    return Status::Error(failures.front().why);
  }
  had_earlier_ = earlier;
  state_ = State::kInPlace;
  return Status::Ok();
}

void DatabaseBackup::Keep() {
  if (state_ != State::kInPlace) return;
  std::error_code ec;
  if (had_earlier_) fs::remove(earlier_, ec);
  state_ = State::kDone;
}

void DatabaseBackup::Undo() {
  if (state_ != State::kInPlace) return;
  std::error_code ec;
  fs::remove(backup_, ec);
  if (had_earlier_) fs::rename(earlier_, backup_, ec);
  state_ = State::kDone;
}

}  // namespace kvr
