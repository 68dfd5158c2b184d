#include "tables/database_backup.h"

#include <gtest/gtest.h>

#include "tables/new_database.h"
#include "tests/test_util.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

class DatabaseBackupTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    db_ = File("Switcher.db");
    ASSERT_TRUE(CreateSwitcherDatabase(db_, DatabaseSizes{}).ok());
    testing::Exec(db_, "UPDATE InptAlphas SET Label='before' WHERE \"Chan Num\"=1");
  }
  // The names in the folder besides the database.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path() != db_) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path db_;
};

TEST_F(DatabaseBackupTest, AnEarlierBackupStaysUntilTheChangesAreKept) {
  const fs::path bak = File("Switcher.db.bak");
  testing::WriteBytes(bak, "earlier backup");
  {
    DatabaseBackup backup;
    ASSERT_TRUE(backup.Stage(db_, DatabaseKind::kSqlite).ok());
    EXPECT_EQ(testing::ReadBytes(bak), "earlier backup");  // staging alone replaces nothing
    ASSERT_TRUE(backup.PutInPlace().ok());
    EXPECT_EQ(testing::Query(bak, "SELECT Label FROM InptAlphas WHERE \"Chan Num\"=1"), "before");
    backup.Undo();  // the commit failed
  }
  EXPECT_EQ(testing::ReadBytes(bak), "earlier backup");
  EXPECT_EQ(Others(), std::vector<std::string>{"Switcher.db.bak"});

  {
    DatabaseBackup backup;
    ASSERT_TRUE(backup.Stage(db_, DatabaseKind::kSqlite).ok());
    ASSERT_TRUE(backup.PutInPlace().ok());
  }  // neither kept nor undone: undone
  EXPECT_EQ(testing::ReadBytes(bak), "earlier backup");

  DatabaseBackup backup;
  ASSERT_TRUE(backup.Stage(db_, DatabaseKind::kSqlite).ok());
  ASSERT_TRUE(backup.PutInPlace().ok());
  backup.Keep();
  EXPECT_EQ(backup.path(), bak);
  EXPECT_EQ(testing::Query(bak, "SELECT Label FROM InptAlphas WHERE \"Chan Num\"=1"), "before");
  EXPECT_EQ(Others(), std::vector<std::string>{"Switcher.db.bak"});
}

TEST_F(DatabaseBackupTest, AFolderAtTheBackupsNameLeavesEverythingAsItWas) {
  fs::create_directory(File("Switcher.db.bak"));
  DatabaseBackup backup;
  ASSERT_TRUE(backup.Stage(db_, DatabaseKind::kSqlite).ok());
  EXPECT_FALSE(backup.PutInPlace().ok());
  EXPECT_TRUE(fs::is_directory(File("Switcher.db.bak")));
  EXPECT_EQ(Others(), std::vector<std::string>{"Switcher.db.bak"});
}

TEST_F(DatabaseBackupTest, AJetFileIsCopiedByteForByte) {
  const fs::path jet = File("Plant.mdb");
  std::string bytes(3 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  testing::WriteBytes(jet, bytes);
  DatabaseBackup backup;
  ASSERT_TRUE(backup.Stage(jet, DatabaseKind::kJet).ok());
  ASSERT_TRUE(backup.PutInPlace().ok());
  backup.Keep();
  EXPECT_EQ(testing::ReadBytes(File("Plant.mdb.bak")), bytes);
}

#ifndef _WIN32
TEST_F(DatabaseBackupTest, TheBackupTakesTheDatabasesPermissions) {
  for (const fs::perms mode : {fs::perms::owner_read | fs::perms::owner_write,
                               fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read}) {
    fs::permissions(db_, mode);
    DatabaseBackup backup;
    ASSERT_TRUE(backup.Stage(db_, DatabaseKind::kSqlite).ok());
    ASSERT_TRUE(backup.PutInPlace().ok());
    backup.Keep();
    EXPECT_EQ(fs::status(File("Switcher.db.bak")).permissions(), mode);
  }
}
#endif

}  // namespace
}  // namespace kvr
