#include "base/output_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/test_util.h"

namespace kvr {
namespace {

using OutputFileTest = testing::TempDirTest;

TEST_F(OutputFileTest, ReplacesWholeAndLeavesNoTemporaryFile) {
  testing::WriteBytes(File("a.bin"), "old contents");
  EXPECT_EQ(WriteFileAtomically(File("a.bin"), "new"), std::nullopt);
  EXPECT_EQ(testing::ReadBytes(File("a.bin")), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(OutputFileTest, MissingFolderIsReported) {
  const auto error = WriteFileAtomically(File("no/such/folder/a.bin"), "x");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("cannot create a file"), std::string::npos);
}

// The disk filling up while a file is written, as a file-size limit: the
// write fails, the earlier file stays as it was, no partial file is left.
TEST_F(OutputFileTest, WriteFailingHalfwayKeepsTheEarlierFile) {
  testing::WriteBytes(File("big.bin"), "earlier");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto error = WriteFileAtomically(File("big.bin"), std::string(100000, 'x'));
    _exit(error && error->find("cannot write") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(testing::ReadBytes(File("big.bin")), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST(UnsafeFileNameTest, RefusesWhatCouldLeaveTheFolder) {
  for (const char* ok : {"Studio A", "Desk 1", "", "Ünïcödé", "a.b", "Plant-A_2"}) {
    EXPECT_EQ(UnsafeFileNameReason(ok), std::nullopt) << ok;
  }
  for (const char* bad : {"..", "../x", "..\\x", "a/b", "a\\b", "c:", "a<b", "a>b", "a\"b", "a|b", "a?", "a*",
                          "a\x01", "a\x7F", "a\nb"}) {
    EXPECT_NE(UnsafeFileNameReason(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace kvr
