#include "files/atomic_file.hpp"

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

#include "files/param_dump.hpp"
#include "files/wav_writer.hpp"
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

// What a save does to the file it finds. Each case arranges the directory,
// saves "new" to out.wav as the given user, and checks the reason, the file
// that holds the bytes and its mode, that out.wav is still the link it was,
// and that no temporary file is left.
enum class Saver { Me, OrdinaryUser, Root };

struct SaveCase {
  const char* name;
  void (*arrange)(const TempDir& dir);
  Saver saver;
  const char* error;    // "" for success
  const char* file;     // the file the bytes went to, or that was kept
  const char* content;  // what it holds afterwards
  mode_t mode;          // its permission bits afterwards
  const char* link;     // out.wav's link target afterwards, or null
  std::vector<std::string> entries;
};

// Saves "new" to `path`, as an ordinary user in a child process when asked
// and running as root: the error text, or "?" when the child failed.
std::string Save(const std::string& path, Saver saver) {
  if (saver != Saver::OrdinaryUser || ::geteuid() != 0) {
    return WriteFileAtomically(path, {Bytes("new")}).error;
  }
  int fds[2];
  if (::pipe(fds) != 0) return "?";
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(1);
    const std::string error = WriteFileAtomically(path, {Bytes("new")}).error;
    ::_exit(::write(fds[1], error.data(), error.size()) == static_cast<ssize_t>(error.size()) ? 0
                                                                                              : 1);
  }
  ::close(fds[1]);
  std::string error;
  char chunk[256];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) {
    error.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? error : "?";
}

void Old(const TempDir& dir, const std::string& name, mode_t mode) {
  WriteFile(dir / name, "old");
  ::chmod((dir / name).c_str(), mode);
}

TEST(WriteFileAtomically, RespectsTheFileItReplaces) {
  const std::vector<SaveCase> cases = {
      {"a private file stays private",
       [](const TempDir& d) { Old(d, "out.wav", 0600); },
       Saver::Me,
       "",
       "out.wav",
       "new",
       0600,
       nullptr,
       {"out.wav"}},
      {"a shared file stays shared",
       [](const TempDir& d) { Old(d, "out.wav", 0664); },
       Saver::Me,
       "",
       "out.wav",
       "new",
       0664,
       nullptr,
       {"out.wav"}},
      {"a write-protected file is refused, as cp refuses it",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 0777);  // the directory alone would allow the rename
         Old(d, "out.wav", 0444);
       },
       Saver::OrdinaryUser,
       "Permission denied",
       "out.wav",
       "old",
       0444,
       nullptr,
       {"out.wav"}},
      {"root replaces a write-protected file, which stays so",
       [](const TempDir& d) { Old(d, "out.wav", 0444); },
       Saver::Root,
       "",
       "out.wav",
       "new",
       0444,
       nullptr,
       {"out.wav"}},
      {"a link is followed and stays a link",
       [](const TempDir& d) {
         std::filesystem::create_directory(d / "sounds");
         Old(d, "sounds/take.wav", 0640);
         std::filesystem::create_symlink("sounds/take.wav", d / "out.wav");
       },
       Saver::Me,
       "",
       "sounds/take.wav",
       "new",
       0640,
       "sounds/take.wav",
       {"out.wav", "sounds"}},
      {"a chain of links is followed to its end",
       [](const TempDir& d) {
         Old(d, "take.wav", 0600);
         std::filesystem::create_symlink("take.wav", d / "middle.wav");
         std::filesystem::create_symlink("middle.wav", d / "out.wav");
       },
       Saver::Me,
       "",
       "take.wav",
       "new",
       0600,
       "middle.wav",
       {"middle.wav", "out.wav", "take.wav"}},
      {"a dangling link is created through",
       [](const TempDir& d) { std::filesystem::create_symlink("made.wav", d / "out.wav"); },
       Saver::Me,
       "",
       "made.wav",
       "new",
       0644,
       "made.wav",
       {"made.wav", "out.wav"}},
      {"a write-protected file behind a link is refused",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 0777);
         Old(d, "take.wav", 0444);
         std::filesystem::create_symlink("take.wav", d / "out.wav");
       },
       Saver::OrdinaryUser,
       "Permission denied",
       "take.wav",
       "old",
       0444,
       "take.wav",
       {"out.wav", "take.wav"}},
  };
  const mode_t umask_before = ::umask(022);
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.saver == Saver::Root && ::geteuid() != 0) continue;  // only root has the power
    TempDir dir;
    c.arrange(dir);
    EXPECT_EQ(Save(dir / "out.wav", c.saver), c.error);
    EXPECT_EQ(ReadFile(dir / c.file), c.content);
    struct stat st {};
    ASSERT_EQ(::lstat((dir / c.file).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    if (c.link != nullptr) {
      EXPECT_EQ(std::filesystem::read_symlink(dir / "out.wav"), c.link);
    }
    EXPECT_EQ(dir.Entries(), c.entries);
    if (std::filesystem::is_directory(dir / "sounds")) {
      EXPECT_EQ(std::filesystem::directory_iterator(dir / "sounds")->path().filename(), "take.wav");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sounds"),
                              std::filesystem::directory_iterator()),
                1);
    }
  }
  ::umask(umask_before);
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

// Both saves go through the same all-or-nothing write: each replaces its file
// and prints nothing, or prints one line naming the file and why, and leaves
// what was there.
TEST(Saves, ReplaceTheFileOrPrintOneLineNamingIt) {
  TempDir dir;
  static const SampleBuffer sound{};
  const struct {
    const char* name;
    void (*save)(const std::string& path);
    std::size_t bytes;
  } saves[] = {
      {"out.wav", [](const std::string& path) { SaveWave(path, sound); }, kWavFileBytes},
      {"import.txt", [](const std::string& path) { SaveParam(path, Patch{}); },
       EncodeParams(Patch{}).size()},
  };
  for (const auto& s : saves) {
    const std::string path = dir / s.name;
    WriteFile(path, "an older, different file");
    testing::internal::CaptureStdout();
    s.save(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << s.name;
    EXPECT_EQ(ReadFile(path).size(), s.bytes) << s.name;
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    testing::internal::CaptureStdout();
    s.save(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), path + ": Is a directory\n");
    EXPECT_TRUE(std::filesystem::is_directory(path));
  }
}

}  // namespace
}  // namespace quibbet
