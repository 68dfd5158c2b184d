#include "base/output_file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/test_util.h"

namespace kvr {
namespace {

using OutputFileTest = testing::TempDirTest;

TEST_F(OutputFileTest, ReplacesWholeAndLeavesNoTemporaryFile) {
  testing::WriteBytes(File("a.bin"), "old contents");
  EXPECT_TRUE(WriteFileAtomically(File("a.bin"), "new").ok());
  EXPECT_EQ(testing::ReadBytes(File("a.bin")), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(OutputFileTest, MissingFolderIsReported) {
  const auto error = WriteFileAtomically(File("no/such/folder/a.bin"), "x");
  ASSERT_FALSE(error.ok());
  EXPECT_NE(error.why().find("cannot create a file"), std::string::npos);
}

#ifndef _WIN32  // a POSIX process: fork, signals, resource limits, FIFOs
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
    _exit(!error.ok() && error.why().find("cannot write") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(testing::ReadBytes(File("big.bin")), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}
#endif

// Names up to the file system's 255 bytes can be written: the temporary name
// never grows past it, and cuts the name only between characters.
TEST_F(OutputFileTest, LongestNamesAreWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "a whole path holds at most 260 characters on Windows";
#endif
  const std::string name = std::string(240, 'a') + ".con";
  EXPECT_TRUE(WriteFileAtomically(File(name), "x").ok());
  EXPECT_EQ(testing::ReadBytes(File(name)), "x");
  const std::string umlauts = std::string(231, 'a') + "\xC3\x9C\xC3\x9C" + ".cns";  // 239 bytes
  const std::string temp = TemporaryFileName(umlauts, 0x0123456789abcdefULL);
  EXPECT_LE(temp.size(), 255u);
  EXPECT_EQ(temp, "." + std::string(231, 'a') + "\xC3\x9C.0123456789abcdef.tmp");
  EXPECT_TRUE(WriteFileAtomically(File(umlauts), "y").ok());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

// At the boundary: a name of 233 bytes is kept whole in a 255-byte temporary
// name, a longer one is cut to it, and a cut never splits a character.
TEST(TemporaryFileNameTest, FillsButNeverPassesTheFileSystemsLimit) {
  const std::string tag = ".0000000000000001.tmp";
  for (const std::size_t length : {232u, 233u, 234u, 255u}) {
    const std::string temp = TemporaryFileName(std::string(length, 'a'), 1);
    EXPECT_EQ(temp.size(), std::min<std::size_t>(length, 233) + 1 + tag.size()) << length;
    EXPECT_EQ(temp, "." + std::string(std::min<std::size_t>(length, 233), 'a') + tag) << length;
  }
  // The 233rd byte begins a two-byte character: the cut comes before it.
  const std::string split = std::string(232, 'a') + "\xC3\x9C" + "b";
  EXPECT_EQ(TemporaryFileName(split, 1), "." + std::string(232, 'a') + tag);
}

#ifndef _WIN32  // a POSIX process: fork, signals, resource limits, FIFOs
// Outputs are created as any program's files are: 0666 less the umask.
TEST_F(OutputFileTest, NewFilesFollowTheUmask) {
  for (const mode_t mask : {022, 002, 077}) {
    const mode_t old = ::umask(mask);
    const auto path = File("mode" + std::to_string(mask));
    const Status s = WriteFileAtomically(path, "x");
    ::umask(old);
    ASSERT_TRUE(s.ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << mask;
  }
}

// A run killed while writing leaves no file behind; the hidden temporary
// files of the exact pattern an older run could leave are removed when the
// same output is next written, and nothing else is.
TEST_F(OutputFileTest, KilledWritesLeaveNothingAndOldLeftoversAreCleared) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OutputBatch batch;
    const bool staged = batch.Stage(File("a.bin"), std::string(1 << 20, 'x')).ok();
    if (staged) kill(getpid(), SIGKILL);
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 0);

  for (const char* name : {".a.bin.0123456789abcdef.tmp", ".a.bin.0123456789ABCDEF.tmp", ".a.bin.12.tmp",
                           ".b.bin.0123456789abcdef.tmp", "a.bin.0123456789abcdef.tmp"}) {
    testing::WriteBytes(File(name), "left");
  }
  std::filesystem::create_directory(File(".a.bin.fedcba9876543210.tmp"));
  EXPECT_TRUE(WriteFileAtomically(File("a.bin"), "new").ok());
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".a.bin.0123456789ABCDEF.tmp", ".a.bin.12.tmp",
                                            ".a.bin.fedcba9876543210.tmp", ".b.bin.0123456789abcdef.tmp", "a.bin",
                                            "a.bin.0123456789abcdef.tmp"}));
}
#endif

// A batch puts every file in place at Commit and none before.
TEST_F(OutputFileTest, BatchPutsFilesInPlaceOnlyAtCommit) {
  testing::WriteBytes(File("b.bin"), "old");
  {
    OutputBatch batch;
    EXPECT_TRUE(batch.Stage(File("a.bin"), "A").ok());
    EXPECT_TRUE(batch.Stage(File("b.bin"), "B").ok());
    EXPECT_FALSE(std::filesystem::exists(File("a.bin")));
    EXPECT_EQ(testing::ReadBytes(File("b.bin")), "old");
    EXPECT_TRUE(batch.Commit().empty());
  }
  EXPECT_EQ(testing::ReadBytes(File("a.bin")), "A");
  EXPECT_EQ(testing::ReadBytes(File("b.bin")), "B");
  {
    OutputBatch dropped;  // never committed: nothing changes
    EXPECT_TRUE(dropped.Stage(File("b.bin"), "C").ok());
  }
  EXPECT_EQ(testing::ReadBytes(File("b.bin")), "B");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

TEST(UnsafeFileNameTest, RefusesWhatCouldLeaveTheFolder) {
  for (const char* ok : {"Studio A", "Desk 1", "", "Ünïcödé", "a.b", "Plant-A_2", "CONSOLE", "COM10", "LPT0", "Nulls"}) {
    EXPECT_TRUE(CheckFileNameComponent(ok).ok()) << ok;
  }
  for (const char* bad : {"..", "../x", "..\\x", "a/b", "a\\b", "c:", "a<b", "a>b", "a\"b", "a|b", "a?", "a*",
                          "a\x01", "a\x7F", "a\nb", "CON", "con.con", "Nul", "aux.cns", "COM1", "lpt9.xpt", "PRN "}) {
    EXPECT_FALSE(CheckFileNameComponent(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace kvr
