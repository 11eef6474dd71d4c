#include "files/atomic_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace quibbet {

namespace {

FileResult Failure(int err) { return FileResult{std::strerror(err)}; }

// As many links as Linux follows in one path before it gives ELOOP.
constexpr int kMaxLinks = 40;

// The process's umask. Read from the kernel where it says it, because
// setting the mask to read it back would leave it at 0 for a moment, and a
// file another thread (the sound library's) creates meanwhile would be
// world-writable.
mode_t Umask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Umask:"))
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool WriteAll(int fd, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data = data.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file a save to `path` writes: `path` itself, or what its symbolic
// links lead to, followed as open() would follow them. The end of a dangling
// link is a file to create, as a shell redirect creates it. Sets `err` when
// the chain cannot be followed.
std::string FollowLinks(const std::string& path, int& err) {
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    if (hops == kMaxLinks) {
      err = ELOOP;
      return at;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(at.c_str(), link, sizeof link);
    if (n < 0 || n == static_cast<ssize_t>(sizeof link)) {
      err = n < 0 ? errno : ENAMETOOLONG;
      return at;
    }
    const std::string to(link, static_cast<std::size_t>(n));
    at = to.starts_with('/') ? to : DirectoryOf(at) + to;
  }
}

}  // namespace

FileResult WriteFileAtomically(const std::string& path,
                               std::initializer_list<std::span<const std::uint8_t>> parts) {
  // A link stays a link: the file it leads to is the one replaced.
  int err = 0;
  const std::string target = FollowLinks(path, err);
  if (err != 0) return Failure(err);

  // A file its user may not write is not replaced, even in a directory where
  // the rename would be allowed: what cp and a shell redirect refuse. The
  // effective ids decide, so root may, as root may write any file.
  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;
  if (replacing && !S_ISDIR(old.st_mode) &&
      ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return Failure(errno);
  }

  // Same directory as the target, so the final rename cannot cross filesystems.
  const std::string dir = DirectoryOf(target);
  const std::string base = target.substr(dir.size());
  std::string tmpl = dir + "." + base + ".tmp-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');

  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Failure(errno);

  for (const auto& part : parts) {
    if (!WriteAll(fd, part)) {
      err = errno;
      break;
    }
  }
  // mkostemp creates files 0600. A replaced file keeps its owner, where we
  // may give it (root may), and its permission bits; a new one gets what any
  // new file would. The owner goes first: a change of owner clears set-id bits.
  if (err == 0 && replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
  }
  const mode_t mode = replacing ? old.st_mode & 07777 : 0666 & ~Umask();
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  // Flushed before the rename, so a crash cannot leave a renamed but empty file.
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(name.data(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(name.data());
    return Failure(err);
  }
  return {};
}

}  // namespace quibbet
