#include "tests/test_util.h"

#include <sqlite3.h>

#include <fstream>
#include <random>
#include <stdexcept>

#include "base/utf8.h"

namespace kvr::testing {

void TempDirTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // A random tag keeps parallel test processes apart.
  static const unsigned long long tag = std::random_device{}();
  std::string name = std::string("kvr_") + std::to_string(tag) + "_" + info->test_suite_name() + "_" + info->name();
  for (auto& c : name) {
    if (c == '/') c = '_';  // parameterised names
  }
  dir_ = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

void TempDirTest::TearDown() {
  std::error_code ec;
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(dir_, ec);
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Query(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(Utf8Path(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open test database");
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    const std::string why = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("bad test query: " + why);
  }
  std::string out;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    if (!out.empty()) out += '\n';
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (i) out += '|';
      const auto* text = sqlite3_column_text(stmt, i);
      if (text != nullptr) out += reinterpret_cast<const char*>(text);
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

void Exec(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(Utf8Path(path).c_str(), &db);
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  const std::string why = err != nullptr ? err : "";
  sqlite3_free(err);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("test statement failed: " + why);
}

}  // namespace kvr::testing
