#include "tables/switcher_database.h"

#include <sqlite3.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>

#include <gtest/gtest.h>

#include "base/problems.h"
#include "tables/label_table_writer.h"
#include "tables/new_database.h"
#include "tests/test_util.h"

namespace kvr {
namespace {

using testing::Exec;
using testing::Query;

class DatabaseTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    db_path_ = File("sw.db");
    Exec(db_path_,
         "CREATE TABLE T (\"Chan Num\" SMALLINT, Label VARCHAR(8), Small SMALLINT, Tiny TINYINT, Whole INTEGER,"
         " Notes TEXT, Extra TEXT DEFAULT 'keep');"
         "INSERT INTO T (\"Chan Num\", Label) VALUES (3,'c'),(1,'a'),(2,'b'),(4,'d'),(5,'e'),(6,'f'),(7,'g'),"
         "(8,'h'),(9,'i'),(10,'j');");
  }
  // Runs the merge with entries keyed `keys` writing "Label" = "new<key>".
  void Merge(std::vector<std::int16_t> keys, std::optional<int> count) {
    auto db = OpenSqliteDatabase(db_path_, {});
    LabelTableWriter(
        *db, {"T", "Chan Num", count, static_cast<int>(keys.size())},
        [&](int i) { return keys[static_cast<std::size_t>(i)]; },
        [&](int i, RecordEditor& rec) { rec.SetText("Label", "new" + std::to_string(keys[static_cast<std::size_t>(i)])); },
        problems_);
    db->Commit();
  }
  std::string Labels() { return Query(db_path_, "SELECT group_concat(Label, ',') FROM (SELECT Label FROM T ORDER BY \"Chan Num\")"); }

  std::filesystem::path db_path_;
  Problems problems_;
};

TEST_F(DatabaseTest, MergeUpdatesInKeyOrderUpToCountPlusOne) {
  Merge({1, 2, 3, 4}, 3);
  EXPECT_EQ(Labels(), "new1,new2,new3,new4,e,f,g,h,i,j");
  EXPECT_TRUE(problems_.empty());
}

TEST_F(DatabaseTest, GapInTheDatabaseStopsLaterEntriesAndIsReported) {
  Exec(db_path_, "DELETE FROM T WHERE \"Chan Num\" = 3");
  Merge({1, 2, 3, 4}, 3);
  EXPECT_EQ(Labels(), "new1,new2,d,e,f,g,h,i,j");
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_EQ(problems_.list()[0].ToString(),
            "T: 2 entries from the workbook met no record, from Chan Num 3 on (the database's numbering has a gap "
            "there, or the table is shorter than the sheet)");
}

TEST_F(DatabaseTest, CountZeroUpdatesOnlyTheFirstRecord) {
  Merge({1, 2}, 0);
  EXPECT_EQ(Labels(), "new1,b,c,d,e,f,g,h,i,j");
}

TEST_F(DatabaseTest, WithoutCountTheWalkStopsAtTheFirstUnfilledEntry) {
  Merge({1, 2, 0, 4}, std::nullopt);
  EXPECT_EQ(Labels(), "new1,new2,c,d,e,f,g,h,i,j");
  EXPECT_TRUE(problems_.empty());
}

TEST_F(DatabaseTest, EmptyTableReportsTheEntriesThatFoundNoRecord) {
  Exec(db_path_, "DELETE FROM T");
  Merge({1, 2}, 1);
  EXPECT_EQ(Query(db_path_, "SELECT count(*) FROM T"), "0");
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_NE(problems_.list()[0].message.find("from Chan Num 1 on"), std::string::npos);
}

// A failure of the database itself is never taken for one field's problem:
// it leaves the editor and ends the phase, whether an assignment or a read
// meets it.
TEST(RecordEditorTest, AFailingDatabaseIsNotOneFieldsProblem) {
  struct Failing : Recordset {
    bool AtEnd() const override { return false; }
    void MoveFirst() override {}
    void MoveNext() override {}
    FieldValue Key() const override { return std::int64_t{1}; }
    FieldValue Field(std::string_view) override { throw DatabaseFailure("disk I/O error"); }
    void Edit() override {}
    void Assign(std::string_view, FieldValue) override { throw DatabaseFailure("disk I/O error"); }
    void Update() override {}
    Where Place() const override { return "T, Chan Num 1"; }
  } failing;
  Problems problems;
  RecordEditor editor(failing, problems);
  EXPECT_THROW(editor.SetNumber("Type", 3), DatabaseFailure);
  EXPECT_THROW(editor.SetText("Label", "x"), DatabaseFailure);
  EXPECT_THROW(editor.Number("Type"), DatabaseFailure);
  EXPECT_TRUE(problems.empty());
}

TEST_F(DatabaseTest, DeclaredTypesAreEnforcedPerAssignment) {
  auto db = OpenSqliteDatabase(db_path_, {});
  LabelTableWriter(
      *db, {"T", "Chan Num", 0, 1}, [](int) { return std::int16_t{1}; },
      [](int, RecordEditor& rec) {
        rec.SetText("Label", "123456789");    // 9 characters into VARCHAR(8)
        rec.SetNumber("Small", 40000);
        rec.SetNumber("Tiny", 256);
        rec.SetNumber("Whole", 3000000000);
        rec.SetText("label", "ÄÖÜäöüßé");     // 8 characters, 16 bytes: fits; field names ignore case
        rec.SetNumber("Tiny", 255);
        rec.SetText("Missing", "x");
        rec.SetText("Notes", std::string(1000, 'n'));  // TEXT without a length holds anything
        EXPECT_EQ(rec.Text("Label"), "ÄÖÜäöüßé");      // reading inside the edit sees the assignment
      },
      problems_);
  db->Commit();
  EXPECT_EQ(Query(db_path_, "SELECT Label, Small, Tiny, Whole, length(Notes), Extra FROM T WHERE \"Chan Num\"=1"),
            "ÄÖÜäöüßé||255||1000|keep");
  ASSERT_EQ(problems_.size(), 5u);
  EXPECT_EQ(problems_.list()[0].ToString(),
            "T, Chan Num 1: \"Label\" not written: \"123456789\" is longer than the 8 characters the field holds");
  EXPECT_NE(problems_.list()[1].message.find("40000 lies outside the field's range -32768 to 32767"), std::string::npos);
  EXPECT_NE(problems_.list()[4].message.find("has no field \"Missing\""), std::string::npos);
}

TEST_F(DatabaseTest, MissingTableOrKeyFieldLeavesEverythingAndIsReported) {
  auto db = OpenSqliteDatabase(db_path_, {});
  LabelTableWriter(*db, {"Nope", "Chan Num", 0, 1}, [](int) { return std::int16_t{1}; }, [](int, RecordEditor&) {},
                   problems_);
  LabelTableWriter(*db, {"T", "SetNum", 0, 1}, [](int) { return std::int16_t{1}; }, [](int, RecordEditor&) {},
                   problems_);
  ASSERT_EQ(problems_.size(), 2u);
  EXPECT_EQ(problems_.list()[0].ToString(), "Nope: the database has no table Nope; the table was left unchanged");
  EXPECT_EQ(problems_.list()[1].ToString(), "T: table T has no field \"SetNum\"; the table was left unchanged");
}

// Where the values before are read anyway (changes counted), a record that
// already holds what is assigned is not written again; one field that
// differs writes the record, and a field read before the write is read as
// written after it.
TEST_F(DatabaseTest, ARecordHoldingTheValuesAlreadyIsNotWrittenAgain) {
  Exec(db_path_, "CREATE TABLE Writes (n INTEGER);"
                 "CREATE TRIGGER counted AFTER UPDATE ON T BEGIN INSERT INTO Writes VALUES (new.\"Chan Num\"); END;");
  auto db = OpenSqliteDatabase(db_path_, {true, 5000});
  LabelTableWriter(
      *db, {"T", "Chan Num", 2, 3}, [](int i) { return static_cast<std::int16_t>(i + 1); },
      [](int i, RecordEditor& rec) { rec.SetText("Label", i == 1 ? "B" : std::string(1, static_cast<char>('a' + i))); },
      problems_);
  auto records = db->OpenRecordset("T", "Chan Num");
  records->MoveFirst();
  EXPECT_EQ(records->Field("Label"), FieldValue{std::string("a")});
  records->Edit();
  records->Assign("Label", std::string("a2"));
  records->Update();
  EXPECT_EQ(records->Field("Label"), FieldValue{std::string("a2")});
  records.reset();
  db->Commit();
  EXPECT_TRUE(problems_.empty());
  EXPECT_EQ(Labels(), "a2,B,c,d,e,f,g,h,i,j");
  EXPECT_EQ(Query(db_path_, "SELECT group_concat(n, ',') FROM Writes"), "2,1");
}

// A record gone before it is written (here deleted by a trigger of the
// record before it) is said, changes counted or not.
TEST_F(DatabaseTest, ARecordGoneBeforeItIsWrittenIsSaid) {
  Exec(db_path_, "CREATE TRIGGER gone AFTER UPDATE ON T WHEN new.\"Chan Num\" = 1 BEGIN "
                 "DELETE FROM T WHERE \"Chan Num\" = 2; END;");
  for (const bool counted : {true, false}) {
    Problems problems;
    auto db = OpenSqliteDatabase(db_path_, {counted, 5000});
    LabelTableWriter(
        *db, {"T", "Chan Num", 2, 3}, [](int i) { return static_cast<std::int16_t>(i + 1); },
        [](int, RecordEditor& rec) { rec.SetText("Label", "x"); }, problems);
    db->Rollback();
    ASSERT_EQ(problems.size(), 1u) << counted;
    EXPECT_NE(problems.list()[0].ToString().find("Chan Num 2"), std::string::npos) << problems.list()[0].ToString();
  }
}

TEST_F(DatabaseTest, RollbackAndDestructionLeaveTheFileUnchanged) {
  {
    auto db = OpenSqliteDatabase(db_path_, {true, 5000});
    LabelTableWriter(
        *db, {"T", "Chan Num", 1, 2}, [](int i) { return static_cast<std::int16_t>(i + 1); },
        [](int, RecordEditor& rec) { rec.SetText("Label", "x"); }, problems_);
    ASSERT_EQ(db->Changes().list().size(), 2u);
    EXPECT_EQ(db->Changes().list()[0].key, "Chan Num 1");
    EXPECT_EQ(FieldValueText(db->Changes().list()[0].before), "\"a\"");
    // no commit
  }
  EXPECT_EQ(Labels(), "a,b,c,d,e,f,g,h,i,j");
}

TEST_F(DatabaseTest, LockedDatabaseIsWaitedForThenRefused) {
  sqlite3* other = nullptr;
  sqlite3_open(db_path_.string().c_str(), &other);
  sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  try {
    OpenSqliteDatabase(db_path_, {false, 200});
    FAIL() << "opened a locked database";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("locked by another program; nothing was changed"), std::string::npos);
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_NO_THROW(OpenSqliteDatabase(db_path_, {false, 200}));
}

#ifndef _WIN32  // a POSIX process: fork, and a user the folder's permissions bind
// A writable database in a folder that takes no new file: SQLite cannot
// make its journal, and the failure says that, not that the database is
// read-only.
TEST_F(DatabaseTest, AFolderThatTakesNoJournalIsNamed) {
  const auto folder = File("locked");
  std::filesystem::create_directory(folder);
  const auto path = folder / "sw.db";
  ASSERT_TRUE(CreateSwitcherDatabase(path, DatabaseSizes{2, 1, 1, 1, 1}).ok());
  std::filesystem::permissions(path, std::filesystem::perms::all & ~std::filesystem::perms::others_exec &
                                         ~std::filesystem::perms::group_exec & ~std::filesystem::perms::owner_exec);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                           std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                                           std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
  std::filesystem::permissions(dir_, std::filesystem::perms::others_exec | std::filesystem::perms::group_exec,
                               std::filesystem::perm_options::add);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) _exit(3);  // root writes anyway: as nobody
    try {
      auto db = OpenSqliteDatabase(path, {});
      auto records = db->OpenRecordset("InptAlphas", "Chan Num");
      records->MoveFirst();
      records->Edit();
      records->Assign("Label", std::string("x"));
      records->Update();
      db->Commit();
    } catch (const DatabaseFailure& e) {
      _exit(std::string(e.what()).find("the folder the database lies in cannot be written") == 0 ? 0 : 4);
    } catch (const std::exception&) {
      _exit(5);
    }
    _exit(6);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

#ifndef _WIN32  // a POSIX process: fork, signals, resource limits, FIFOs
// A process killed in the middle of the database phase leaves the database
// exactly as it was: the updates belong to one uncommitted transaction.
TEST_F(DatabaseTest, KilledMidPhaseChangesNothing) {
  const std::string before = Query(db_path_, "SELECT * FROM T ORDER BY rowid");
  for (int kill_after : {1, 5, 9}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto db = OpenSqliteDatabase(db_path_, {});
      Problems p;
      int done = 0;
      LabelTableWriter(
          *db, {"T", "Chan Num", 9, 10}, [](int i) { return static_cast<std::int16_t>(i + 1); },
          [&](int, RecordEditor& rec) {
            rec.SetText("Label", "killed");
            if (++done == kill_after) ::kill(::getpid(), SIGKILL);
          },
          p);
      _exit(3);  // not reached
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(Query(db_path_, "SELECT * FROM T ORDER BY rowid"), before) << "killed after " << kill_after;
    EXPECT_EQ(Query(db_path_, "PRAGMA integrity_check"), "ok");
  }
}
#endif

// A disk that fills: a VFS over the platform's whose files may grow by
// `room` bytes in all, a deleted or shortened file giving its bytes back.
// A write past that fails as on a full disk; `broken` fails every write.
class FullDisk {
 public:
  FullDisk(long long room) {
    base_ = sqlite3_vfs_find(nullptr);
    vfs_ = *base_;
    vfs_.zName = "kvr-full-disk";
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + base_->szOsFile;
    vfs_.xOpen = &Open;
    vfs_.xDelete = &Delete;
    room_ = room;
    broken_ = false;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~FullDisk() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(base_, 1);
  }
  void Break() { broken_ = true; }

 private:
  struct File {
    sqlite3_file file;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
  };
  static File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
  static int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
    File* file = Of(f);
    file->file.pMethods = nullptr;
    const int rc = base_->xOpen(base_, name, file->real(), flags, out_flags);
    if (rc == SQLITE_OK) file->file.pMethods = &kMethods;
    return rc;
  }
  static int Delete(sqlite3_vfs*, const char* name, int sync) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    const int rc = base_->xDelete(base_, name, sync);
    if (rc == SQLITE_OK && !ec) room_ += static_cast<long long>(size);
    return rc;
  }
  static sqlite3_int64 Size(sqlite3_file* f) {
    sqlite3_int64 size = 0;
    Of(f)->real()->pMethods->xFileSize(Of(f)->real(), &size);
    return size;
  }
  static int Write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    if (broken_) return SQLITE_IOERR_WRITE;
    const sqlite3_int64 growth = offset + amount - Size(f);
    if (growth > 0) {
      if (growth > room_) return SQLITE_FULL;
      room_ -= growth;
    }
    return Of(f)->real()->pMethods->xWrite(Of(f)->real(), data, amount, offset);
  }
  static int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    if (broken_) return SQLITE_IOERR_TRUNCATE;
    const sqlite3_int64 before = Size(f);
    const int rc = Of(f)->real()->pMethods->xTruncate(Of(f)->real(), size);
    if (rc == SQLITE_OK && before > size) room_ += before - size;
    return rc;
  }
  static int Close(sqlite3_file* f) { return Of(f)->real()->pMethods->xClose(Of(f)->real()); }
  static int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 o) {
    return Of(f)->real()->pMethods->xRead(Of(f)->real(), p, n, o);
  }
  static int Sync(sqlite3_file* f, int flags) { return Of(f)->real()->pMethods->xSync(Of(f)->real(), flags); }
  static int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Of(f)->real()->pMethods->xFileSize(Of(f)->real(), size);
  }
  static int Lock(sqlite3_file* f, int l) { return Of(f)->real()->pMethods->xLock(Of(f)->real(), l); }
  static int Unlock(sqlite3_file* f, int l) { return Of(f)->real()->pMethods->xUnlock(Of(f)->real(), l); }
  static int CheckLock(sqlite3_file* f, int* out) {
    return Of(f)->real()->pMethods->xCheckReservedLock(Of(f)->real(), out);
  }
  static int Control(sqlite3_file* f, int op, void* arg) {
    return Of(f)->real()->pMethods->xFileControl(Of(f)->real(), op, arg);
  }
  static int SectorSize(sqlite3_file* f) { return Of(f)->real()->pMethods->xSectorSize(Of(f)->real()); }
  static int Characteristics(sqlite3_file* f) {
    return Of(f)->real()->pMethods->xDeviceCharacteristics(Of(f)->real());
  }
  static constexpr sqlite3_io_methods kMethods = {1,    &Close,      &Read,        &Write,          &Truncate,
                                                  &Sync, &FileSize, &Lock,        &Unlock,         &CheckLock,
                                                  &Control, &SectorSize, &Characteristics, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr};
  static inline sqlite3_vfs* base_ = nullptr;
  static inline sqlite3_vfs vfs_{};
  static inline long long room_ = 0;
  static inline bool broken_ = false;
};

// Updates that fill the disk, at many sizes of free room: when the run says
// nothing was changed, the file alone (its journal aside) holds exactly what
// it held before, and the next run works. A disk that fails even the
// rollback leaves a run that says so and names the journal that restores it.
TEST_F(DatabaseTest, AFullDiskLeavesTheFileAsItWas) {
  const auto path = File("full.db");
  ASSERT_TRUE(CreateSwitcherDatabase(path, DatabaseSizes{3000, 1, 1, 1, 1}).ok());
  // A page cache smaller than the changes spills them into the file in the
  // middle of the transaction, as a large plant's update does.
  Exec(path, "PRAGMA default_cache_size=20;");
  const std::string before = testing::ReadBytes(path);
  auto fill = [&](SwitcherDatabase& db) {
    auto records = db.OpenRecordset("InptAlphas", "Chan Num");
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      records->Edit();
      records->Assign("Label", std::string("Full 123"));
      records->Assign("LocalLabel", std::string("Disk 456"));
      records->Update();
    }
  };
  int failed = 0, kept = 0;
  for (long long room = 4096; room <= 400 * 1024; room = room * 5 / 4) {
    SCOPED_TRACE("room " + std::to_string(room));
    testing::WriteBytes(path, before);
    std::string said;
    {
      FullDisk disk(room);
      auto db = OpenSqliteDatabase(path, {});
      try {
        fill(*db);
        db->Commit();
        ++kept;
        continue;
      } catch (const DatabaseFailure&) {
        db->Rollback();
        said = db->LeftOver();
      } catch (const DatabaseError& e) {
        said = e.what();
      }
    }
    ++failed;
    EXPECT_EQ(said.find("partly written"), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(JournalOf(path)));
    EXPECT_TRUE(testing::ReadBytes(path) == before);
    auto db = OpenSqliteDatabase(path, {});
    EXPECT_NO_THROW(fill(*db));
    EXPECT_NO_THROW(db->Commit());
  }
  EXPECT_GT(failed, 10);
  EXPECT_GT(kept, 0);

  // The rollback itself cannot write: the file is left with its journal,
  // the run says so, and the next open restores it.
  testing::WriteBytes(path, before);
  {
    FullDisk disk(90 * 1024);  // the changes spill into the file before the disk fills
    auto db = OpenSqliteDatabase(path, {});
    EXPECT_THROW(fill(*db), DatabaseFailure);
    disk.Break();
    db->Rollback();
    EXPECT_NE(db->LeftOver().find("full.db-journal"), std::string::npos) << db->LeftOver();
  }
  EXPECT_TRUE(std::filesystem::exists(JournalOf(path)));
  OpenSqliteDatabase(path, {})->Rollback();  // the next run's open
  EXPECT_FALSE(std::filesystem::exists(JournalOf(path)));
  EXPECT_EQ(Query(path, "PRAGMA integrity_check"), "ok");
  EXPECT_TRUE(testing::ReadBytes(path) == before);
}

TEST_F(DatabaseTest, KindIsToldByTheFirstBytes) {
  EXPECT_EQ(*DetectDatabaseKind(db_path_), DatabaseKind::kSqlite);
  testing::WriteBytes(File("jet.mdb"), std::string("\x00\x01\x00\x00Standard Jet DB\x00", 20));
  EXPECT_EQ(*DetectDatabaseKind(File("jet.mdb")), DatabaseKind::kJet);
  testing::WriteBytes(File("ace.accdb"), std::string("\x00\x01\x00\x00Standard ACE DB\x00", 20));
  EXPECT_EQ(*DetectDatabaseKind(File("ace.accdb")), DatabaseKind::kJet);
  testing::WriteBytes(File("text.mdb"), "Chan Num,Label\n");
  EXPECT_EQ(*DetectDatabaseKind(File("text.mdb")), DatabaseKind::kOther);
  testing::WriteBytes(File("empty.mdb"), "");
  EXPECT_EQ(*DetectDatabaseKind(File("empty.mdb")), DatabaseKind::kOther);
}

TEST_F(DatabaseTest, NewDatabaseHasEveryTableAndRefusesAnExistingFile) {
  const auto path = File("new.db");
  ASSERT_TRUE(CreateSwitcherDatabase(path, DatabaseSizes{3, 2, 1, 4, 5}).ok());
  EXPECT_EQ(Query(path, "SELECT (SELECT count(*) FROM InptAlphas), (SELECT count(*) FROM OutptAlphas),"
                        "(SELECT count(*) FROM OptoAlphas), (SELECT count(*) FROM RelayAlphas),"
                        "(SELECT count(*) FROM ConsoleAlphas), (SELECT count(*) FROM LocationAlphas),"
                        "(SELECT count(*) FROM OptoRelaySets)"),
            "3|2|3|2|1|4|5");
  EXPECT_EQ(Query(path, "SELECT type FROM pragma_table_info('OutptAlphas') WHERE name IN ('Label','RelayType') ORDER BY name"),
            "VARCHAR(8)\nTINYINT");
  EXPECT_EQ(Query(path, "SELECT \"Chan Num\", Label FROM InptAlphas"), "1|\n2|\n3|");
  EXPECT_FALSE(CreateSwitcherDatabase(path, {}).ok());
  EXPECT_FALSE(CreateSwitcherDatabase(File("neg.db"), DatabaseSizes{-1, 1, 1, 1, 1}).ok());
}

}  // namespace
}  // namespace kvr
