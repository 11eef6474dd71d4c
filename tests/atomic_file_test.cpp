#include "output/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.hpp"

namespace quibbet {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(WriteFileAtomically, CreatesAndReplacesWithTheConcatenatedParts) {
  TempDir dir;
  const std::string path = dir / "out.wav";
  ASSERT_TRUE(WriteFileAtomically(path, {Bytes("head"), Bytes("-body")}).ok());
  EXPECT_EQ(ReadFile(path), "head-body");

  // Replaced, not appended to, and shorter content leaves no old tail.
  ASSERT_TRUE(WriteFileAtomically(path, {Bytes("new")}).ok());
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.wav"});
}

TEST(WriteFileAtomically, NewFileGetsUmaskPermissionsNotPrivateOnes) {
  TempDir dir;
  const mode_t old = ::umask(022);
  const bool ok = WriteFileAtomically(dir / "import.txt", {Bytes("x")}).ok();
  ::umask(old);
  ASSERT_TRUE(ok);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "import.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// Failures that root cannot bypass, each leaving the old state and no temp file.
TEST(WriteFileAtomically, DirectoryInTheWayIsReportedAndLeftAlone) {
  TempDir dir;
  std::filesystem::create_directory(dir / "out.wav");
  WriteFile(dir / "out.wav/keep", "data");
  const FileResult r = WriteFileAtomically(dir / "out.wav", {Bytes("x")});
  EXPECT_EQ(r.error, "Is a directory");
  EXPECT_EQ(ReadFile(dir / "out.wav/keep"), "data");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.wav"});
}

TEST(WriteFileAtomically, MissingParentDirectoryIsReported) {
  TempDir dir;
  const FileResult r = WriteFileAtomically(dir / "no/such/out.wav", {Bytes("x")});
  EXPECT_EQ(r.error, "No such file or directory");
  EXPECT_TRUE(dir.Entries().empty());
}

// A file-size limit makes the kernel refuse writes past a few bytes, the way
// a full disk does, without needing a full disk.
TEST(WriteFileAtomically, FailedWriteKeepsThePreviousFile) {
  TempDir dir;
  const std::string path = dir / "out.wav";
  WriteFile(path, "previous");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const FileResult r = WriteFileAtomically(path, {Bytes("0123456789"), Bytes("0123456789")});
    ::_exit(r.error == std::strerror(EFBIG) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "expected 'File too large'";
  EXPECT_EQ(ReadFile(path), "previous");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.wav"});
}

}  // namespace
}  // namespace quibbet
