#include "files/atomic_file.hpp"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
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

TEST(SaveFile, CreatesAndReplacesWithTheConcatenatedParts) {
  TempDir dir;
  const std::string path = dir / "out.wav";
  ASSERT_TRUE(SaveFile(path, {Bytes("head"), Bytes("-body")}).ok());
  EXPECT_EQ(ReadFile(path), "head-body");

  // Replaced, not appended to, and shorter content leaves no old tail.
  ASSERT_TRUE(SaveFile(path, {Bytes("new")}).ok());
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.wav"});
}

TEST(SaveFile, NewFileGetsUmaskPermissionsNotPrivateOnes) {
  TempDir dir;
  const mode_t old = ::umask(022);
  const bool ok = SaveFile(dir / "import.txt", {Bytes("x")}).ok();
  ::umask(old);
  ASSERT_TRUE(ok);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "import.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// What a save does to each kind of thing it finds at out.wav. Each case
// arranges the directory and saves "new" there as the given user. Whatever
// was there keeps its kind, owner, mode, links and attributes; the bytes land
// in `file`, in the same inode where the save must write in place, and no
// temporary file is left.
enum class Saver { Me, OrdinaryUser, Root };

struct SaveCase {
  const char* name;
  void (*arrange)(const TempDir& dir);
  Saver saver;  // all but Me need root to arrange or to switch users
  const char* error;
  const char* file;         // the file the bytes went to, or that was kept
  const char* content;      // what it holds afterwards
  bool same_inode;          // written in place or left alone, not renamed over
  bool attributes = false;  // needs user.* extended attributes
};

// Saves "new" to `path`, as nobody in a child process when asked: the error
// text, or "?" when the child failed.
std::string Save(const std::string& path, Saver saver) {
  if (saver != Saver::OrdinaryUser) return SaveFile(path, {Bytes("new")}).error;
  int fds[2];
  if (::pipe(fds) != 0) return "?";
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0) {
      ::_exit(1);
    }
    const std::string error = SaveFile(path, {Bytes("new")}).error;
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

// What a save must keep of a path: its kind and mode, owner, links, link
// target and extended attributes, the ACL among them.
std::string Kept(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "missing";
  std::string kept = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                     std::to_string(st.st_gid) + " x" + std::to_string(st.st_nlink);
  if (S_ISLNK(st.st_mode)) kept += " -> " + std::filesystem::read_symlink(path).string();
  char names[4096], value[4096];
  const ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    const ssize_t size = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
    kept += std::string(" ") + (names + at) + "=" + std::string(value, std::max<ssize_t>(size, 0));
  }
  return kept;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A reader that takes what the FIFO out.wav gets into "got", in a child
// that gives up after a while, should the save never open it.
void FifoReader(const TempDir& d) {
  ::mkfifo((d / "out.wav").c_str(), 0644);
  const std::string fifo = d / "out.wav", got = d / "got";
  if (::fork() == 0) {
    ::alarm(30);
    const std::string bytes = ReadFile(fifo);
    WriteFile(got, bytes);
    ::_exit(0);
  }
}

// An ACL, as the kernel keeps it (little-endian: version 2, then a 16-bit tag
// and permissions and a 32-bit id per entry): user::rw- user:65534:rw-
// group::r-- mask::rw- other::r--. And a user.* attribute.
void AclAndAttribute(const TempDir& d) {
  Old(d, "out.wav", 0664);
  const std::string acl(
      "\2\0\0\0"
      "\1\0\6\0\377\377\377\377\2\0\6\0\376\377\0\0\4\0\4\0\377\377\377\377"
      "\20\0\6\0\377\377\377\377\40\0\4\0\377\377\377\377",
      44);
  ::setxattr((d / "out.wav").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0);
  ::setxattr((d / "out.wav").c_str(), "user.note", "kick", 4, 0);
}

TEST(SaveFile, KeepsWhatEachKindOfTargetIs) {
  const std::vector<SaveCase> cases = {
      {"a new file", [](const TempDir&) {}, Saver::Me, "", "out.wav", "new", false},
      {"a private file stays private", [](const TempDir& d) { Old(d, "out.wav", 0600); }, Saver::Me,
       "", "out.wav", "new", false},
      {"a shared file stays shared", [](const TempDir& d) { Old(d, "out.wav", 0664); }, Saver::Me,
       "", "out.wav", "new", false},
      {"a write-protected file is refused, as cp refuses it",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 0777);  // the directory alone would allow the rename
         Old(d, "out.wav", 0444);
       },
       Saver::OrdinaryUser, "Permission denied", "out.wav", "old", true},
      {"root replaces a write-protected file, which stays so",
       [](const TempDir& d) { Old(d, "out.wav", 0444); }, Saver::Root, "", "out.wav", "new", false},
      {"a link is followed and stays a link",
       [](const TempDir& d) {
         std::filesystem::create_directory(d / "sounds");
         Old(d, "sounds/take.wav", 0640);
         std::filesystem::create_symlink("sounds/take.wav", d / "out.wav");
       },
       Saver::Me, "", "sounds/take.wav", "new", false},
      {"a chain of links is followed to its end",
       [](const TempDir& d) {
         Old(d, "take.wav", 0600);
         std::filesystem::create_symlink("take.wav", d / "middle.wav");
         std::filesystem::create_symlink("middle.wav", d / "out.wav");
       },
       Saver::Me, "", "take.wav", "new", false},
      {"a dangling link is created through",
       [](const TempDir& d) { std::filesystem::create_symlink("made.wav", d / "out.wav"); },
       Saver::Me, "", "made.wav", "new", false},
      {"a write-protected file behind a link is refused",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 0777);
         Old(d, "take.wav", 0444);
         std::filesystem::create_symlink("take.wav", d / "out.wav");
       },
       Saver::OrdinaryUser, "Permission denied", "take.wav", "old", true},
      {"another user's link in a sticky folder is not followed",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 01777);
         Old(d, "take.wav", 0644);
         std::filesystem::create_symlink("take.wav", d / "out.wav");
         ::lchown((d / "out.wav").c_str(), 65534, 65534);
       },
       Saver::Root, "not following a link owned by another user", "take.wav", "old", true},
      {"the sticky folder's owner's link is followed",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 01777);
         Old(d, "take.wav", 0666);
         std::filesystem::create_symlink("take.wav", d / "out.wav");
       },
       Saver::OrdinaryUser, "", "take.wav", "new", true},
      {"a FIFO's reader gets every byte", FifoReader, Saver::Me, "", "got", "new", false},
      {"a device stays a device",
       [](const TempDir& d) { ::mknod((d / "out.wav").c_str(), S_IFCHR | 0666, makedev(1, 3)); },
       Saver::Root, "", "out.wav", "", true},
      {"a hard link stays one",
       [](const TempDir& d) {
         Old(d, "out.wav", 0644);
         ::link((d / "out.wav").c_str(), (d / "other.wav").c_str());
       },
       Saver::Me, "", "other.wav", "new", true},
      {"another user's group-writable file keeps its owner",
       [](const TempDir& d) {
         ::chmod(d.path().c_str(), 0777);
         Old(d, "out.wav", 0664);
         ::chown((d / "out.wav").c_str(), 1235, 65534);
       },
       Saver::OrdinaryUser, "", "out.wav", "new", true},
      {"an ACL and a user attribute are kept", AclAndAttribute, Saver::Me, "", "out.wav", "new",
       false, true},
  };
  TempDir probe;
  WriteFile(probe / "f", "");
  const bool attributes =
      ::setxattr((probe / "f").c_str(), "user.probe", "", 0, 0) == 0 || errno != ENOTSUP;
  std::string skipped;
  const mode_t umask_before = ::umask(022);
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.name);
    if ((c.saver != Saver::Me && ::geteuid() != 0) || (c.attributes && !attributes)) {
      skipped += std::string(" '") + c.name + "'";
      continue;
    }
    TempDir dir;
    c.arrange(dir);
    const std::string out = Kept(dir / "out.wav"), file = Kept(dir / c.file);
    const ino_t inode = Inode(dir / c.file);
    std::vector<std::string> entries = dir.Entries();
    if (file == "missing") entries.push_back(c.file);
    std::sort(entries.begin(), entries.end());

    EXPECT_EQ(Save(dir / "out.wav", c.saver), c.error);
    while (::wait(nullptr) > 0) {  // the FIFO's reader
    }
    EXPECT_EQ(ReadFile(dir / c.file), c.content);
    EXPECT_EQ(Kept(dir / "out.wav"), out == "missing" ? Kept(dir / c.file) : out);
    if (file != "missing") {
      EXPECT_EQ(Kept(dir / c.file), file);
      EXPECT_EQ(Inode(dir / c.file) == inode, c.same_inode);
    } else {
      EXPECT_TRUE(Kept(dir / c.file).starts_with(std::to_string(S_IFREG | 0644) + " "))
          << "a new file's mode is the umask's";
    }
    EXPECT_EQ(dir.Entries(), entries);
  }
  ::umask(umask_before);
  if (!skipped.empty()) GTEST_SKIP() << "needs root or user attributes:" << skipped;
}

// Failures that root cannot bypass, each leaving the old state and no temp file.
TEST(SaveFile, DirectoryInTheWayIsReportedAndLeftAlone) {
  TempDir dir;
  std::filesystem::create_directory(dir / "out.wav");
  WriteFile(dir / "out.wav/keep", "data");
  const FileResult r = SaveFile(dir / "out.wav", {Bytes("x")});
  EXPECT_EQ(r.error, "Is a directory");
  EXPECT_EQ(ReadFile(dir / "out.wav/keep"), "data");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.wav"});
}

TEST(SaveFile, MissingParentDirectoryIsReported) {
  TempDir dir;
  const FileResult r = SaveFile(dir / "no/such/out.wav", {Bytes("x")});
  EXPECT_EQ(r.error, "No such file or directory");
  EXPECT_TRUE(dir.Entries().empty());
}

// A file-size limit makes the kernel refuse writes past a few bytes, the way
// a full disk does, without needing a full disk.
TEST(SaveFile, FailedWriteKeepsThePreviousFile) {
  TempDir dir;
  const std::string path = dir / "out.wav";
  WriteFile(path, "previous");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const FileResult r = SaveFile(path, {Bytes("0123456789"), Bytes("0123456789")});
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
