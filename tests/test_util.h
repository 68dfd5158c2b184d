// Shared test helpers: a fresh temporary folder per test, file I/O and SQLite queries.
#ifndef KVR_TESTS_TEST_UTIL_H_
#define KVR_TESTS_TEST_UTIL_H_

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kvr::testing {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::filesystem::path File(const std::string& name) const { return dir_ / name; }
  std::filesystem::path dir_;
};

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// Runs `sql` on the database at `path`; rows joined by "\n", columns by "|"
// (Null as ""), as the sqlite3 shell prints them.
std::string Query(const std::filesystem::path& path, const std::string& sql);
// Runs statements that return nothing.
void Exec(const std::filesystem::path& path, const std::string& sql);

}  // namespace kvr::testing

#endif  // KVR_TESTS_TEST_UTIL_H_
