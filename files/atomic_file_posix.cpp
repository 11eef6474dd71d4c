// Saving on POSIX, as cp and vim's "backupcopy=auto" save: a plain file is
// replaced through a rename where that keeps all it carries, written in place
// where it would not, and anything else at the path (a device, a FIFO, a
// socket) is written into, never replaced by a plain file.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "files/atomic_file.hpp"

namespace quibbet {

namespace {

using Parts = std::initializer_list<std::span<const std::uint8_t>>;

FileResult Failure(int err) { return FileResult{std::strerror(err)}; }

FileResult Outcome(int err) { return err == 0 ? FileResult{} : Failure(err); }

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

// Writes every part into `fd` from where it stands: 0, or the errno.
int WriteParts(int fd, Parts parts, off_t& written) {
  written = 0;
  for (std::span<const std::uint8_t> data : parts) {
    while (!data.empty()) {
      const ssize_t n = ::write(fd, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      data = data.subspan(static_cast<std::size_t>(n));
      written += n;
    }
  }
  return 0;
}

int WriteParts(int fd, Parts parts) {
  off_t written = 0;
  return WriteParts(fd, parts, written);
}

// Closes `fd`, keeping the first failure: a full disk may show only here.
int Close(int fd, int err) { return ::close(fd) != 0 && err == 0 ? errno : err; }

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

constexpr const char* kForeignLink = "not following a link owned by another user";
constexpr const char* kMoved = "it changed while it was being saved";

struct Resolved {
  std::string path;           // `path` with no link left in it; its last name may not exist
  std::string error;          // why it cannot be followed
  bool through_proc = false;  // a link in /proc on the way: it names an open file
};

// Follows `path` one name at a time, as the kernel's lookup does, and gives
// it back with every symbolic link replaced by what it names. The end of a
// dangling link is a file to create, as a shell redirect creates it.
//
// In a sticky folder that anyone may write to (/tmp), a link is followed only
// when it belongs to the user or to the folder's owner: the kernel's rule
// where fs.protected_symlinks is set, kept here for every link on the way so
// that it holds where that setting is off. Otherwise a link planted there by
// another user would steer the save onto any file the user may write.
Resolved Resolve(const std::string& path) {
  std::string done = path.starts_with('/') ? "/" : "";  // followed so far: "", "/" or "x/"
  std::vector<std::string> names;                       // still to follow, the next one last
  const auto push = [&names](const std::string& text) {
    std::size_t end = text.size();
    for (std::size_t slash; end > 0; end = slash) {
      slash = text.rfind('/', end - 1);
      slash = slash == std::string::npos ? 0 : slash;
      const std::size_t from = text[slash] == '/' ? slash + 1 : slash;
      if (from < end) names.push_back(text.substr(from, end - from));
    }
  };
  push(path);
  bool through_proc = false;
  for (int links = 0; !names.empty();) {
    const std::string name = std::move(names.back());
    names.pop_back();
    if (name == ".") continue;
    const std::string at = done + name;
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      // A name that is missing on the way is left to the kernel to report.
      done = names.empty() ? at : at + "/";
      continue;
    }
    if (++links > kMaxLinks) return {{}, std::strerror(ELOOP)};
    struct stat folder {};
    const bool shared = ::stat(done.empty() ? "." : done.c_str(), &folder) == 0 &&
                        (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    if (shared && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid) {
      return {{}, kForeignLink};
    }
    struct statfs filesystem {};
    through_proc |= ::statfs(done.empty() ? "." : done.c_str(), &filesystem) == 0 &&
                    filesystem.f_type == PROC_SUPER_MAGIC;
    char text[PATH_MAX];
    const ssize_t n = ::readlink(at.c_str(), text, sizeof text);
    if (n < 0 || n == static_cast<ssize_t>(sizeof text)) {
      return {{}, std::strerror(n < 0 ? errno : ENAMETOOLONG)};
    }
    const std::string to(text, static_cast<std::size_t>(n));
    if (to.empty()) return {{}, std::strerror(ENOENT)};
    if (to.starts_with('/')) done = "/";
    push(to);
  }
  return {done, {}, through_proc};
}

// What one of the xattr calls gives, which takes a buffer and its size and
// answers the size needed when given none. Nothing when the call fails.
template <typename Call>
std::optional<std::string> AttributeText(Call call) {
  for (;;) {
    const ssize_t size = call(nullptr, 0);
    if (size <= 0) return size == 0 ? std::optional<std::string>("") : std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    const ssize_t n = call(text.data(), text.size());
    if (n >= 0) return text.substr(0, static_cast<std::size_t>(n));
    if (errno != ERANGE) return std::nullopt;  // else it grew meanwhile: again
  }
}

// A file's extended attributes by name, its ACL ("system.posix_acl_access")
// among them; none where the filesystem keeps none. Nothing when one could
// not be read (a user.* value needs read permission), since then it could
// not be kept either.
using Attributes = std::map<std::string, std::string>;

std::optional<Attributes> AttributesOf(int fd) {
  const std::optional<std::string> list =
      AttributeText([fd](char* to, std::size_t size) { return ::flistxattr(fd, to, size); });
  if (!list) return errno == ENOTSUP ? std::optional<Attributes>(Attributes{}) : std::nullopt;
  Attributes attributes;
  for (std::size_t at = 0; at < list->size(); at = list->find('\0', at) + 1) {
    const char* const name = list->c_str() + at;
    const std::optional<std::string> value = AttributeText(
        [fd, name](char* to, std::size_t size) { return ::fgetxattr(fd, name, to, size); });
    if (!value) return std::nullopt;
    attributes[name] = *value;
  }
  return attributes;
}

// Gives `to` the attributes `want` lists and takes away the others (a default
// ACL its folder passed on), as far as the user may; what could not be done
// shows when the attributes are compared afterwards.
void CopyAttributes(const Attributes& want, int to) {
  const Attributes had = AttributesOf(to).value_or(Attributes{});
  for (const auto& [name, value] : want) {
    const auto it = had.find(name);
    if (it == had.end() || it->second != value) {
      ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0);
    }
  }
  for (const auto& [name, value] : had) {
    if (!want.contains(name)) ::fremovexattr(to, name.c_str());
  }
}

// The file `path` names when it is not there yet, or the old one: its open
// descriptor, what it was, and what it carries.
struct OldFile {
  int fd = -1;
  struct stat st {};
  Attributes attributes;
};

// Writes a new file beside `target` and renames it over it. Nothing, with no
// file left behind, when the new file could not carry what the old one does
// (`old`'s owner, group, mode and attributes) or could not be made at all in
// a folder that forbids it: the caller writes in place then.
std::optional<FileResult> Replace(const std::string& target, const OldFile* old, Parts parts) {
  const std::string dir = DirectoryOf(target);
  std::string name = dir + "." + target.substr(dir.size()) + ".tmp-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (old != nullptr && (errno == EACCES || errno == EPERM || errno == ENAMETOOLONG)) {
      return std::nullopt;
    }
    return Failure(errno);
  }
  // mkostemp makes files 0600. The owner goes first, where we may give it
  // (root may; a group member may give the group): a change of owner clears
  // the set-id bits. The mode goes last, since a write clears them too.
  if (old != nullptr) {
    if (old->st.st_uid != ::geteuid() || old->st.st_gid != ::getegid()) {
      [[maybe_unused]] const int ignored = ::fchown(fd, old->st.st_uid, old->st.st_gid);
    }
    CopyAttributes(old->attributes, fd);
  }
  int err = WriteParts(fd, parts);
  const mode_t mode = old != nullptr ? old->st.st_mode & 07777 : 0666 & ~Umask();
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  bool kept = true;
  if (err == 0 && old != nullptr) {
    struct stat now {};
    kept = ::fstat(fd, &now) == 0 && now.st_uid == old->st.st_uid && now.st_gid == old->st.st_gid &&
           (now.st_mode & 07777) == mode && AttributesOf(fd) == old->attributes;
  }
  // Flushed before the rename, so a crash cannot leave a renamed but empty file.
  if (err == 0 && kept && ::fsync(fd) != 0) err = errno;
  err = Close(fd, err);
  if (err == 0 && kept && ::rename(name.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0 || !kept) ::unlink(name.c_str());
  if (!kept) return std::nullopt;
  return Outcome(err);
}

// Writes the file through its open descriptor, keeping everything it is and
// carries. Overwritten first and cut to length after, not emptied first: a
// save as long as the last one (every out.wav is) then needs no new block,
// so a full disk cannot leave it empty.
FileResult WriteInPlace(int fd, Parts parts) {
  off_t length = 0;
  int err = WriteParts(fd, parts, length);
  if (err == 0 && ::ftruncate(fd, length) != 0) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  return Outcome(Close(fd, err));
}

// A socket cannot be opened by its name. One that a path such as /dev/stdout
// or /proc/self/fd/N leads to is one of the program's own descriptors, so
// that descriptor is written into, as a shell's redirect to /dev/fd/N is.
int OwnDescriptor(const std::string& path) {
  struct stat socket {};
  DIR* const fds = ::stat(path.c_str(), &socket) == 0 && S_ISSOCK(socket.st_mode)
                       ? ::opendir("/proc/self/fd")
                       : nullptr;
  int found = -1;
  while (fds != nullptr && found < 0) {
    const dirent* const entry = ::readdir(fds);
    if (entry == nullptr) break;
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    struct stat st {};
    if (*end == '\0' && end != entry->d_name && ::fstat(static_cast<int>(fd), &st) == 0 &&
        S_ISSOCK(st.st_mode) && st.st_dev == socket.st_dev && st.st_ino == socket.st_ino) {
      found = ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
    }
  }
  if (fds != nullptr) ::closedir(fds);
  if (found < 0) errno = ENXIO;
  return found;
}

}  // namespace

FileResult SaveFile(const std::string& path, Parts parts) {
  // What the user's shell opened stays theirs: written into, not closed.
  if (path == kStandardOutput) return Outcome(WriteParts(STDOUT_FILENO, parts));

  const Resolved resolved = Resolve(path);
  if (!resolved.error.empty()) return {resolved.error};

  // Opened for writing through the path, as cp opens it: the kernel follows
  // the links again, with its own protection of them. A file the user may
  // not write is refused here (root may write any), and a FIFO waits for its
  // reader, as a shell redirect waits. Nothing is changed yet. Nothing there
  // (a dangling link too): a new file, under the name the links end at.
  OldFile old;
  old.fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (old.fd < 0 && errno == ENOENT) return *Replace(resolved.path, nullptr, parts);
  if (old.fd < 0 && errno == ENXIO) old.fd = OwnDescriptor(path);
  if (old.fd < 0) return Failure(errno);
  if (::fstat(old.fd, &old.st) != 0) return Outcome(Close(old.fd, errno));

  // The file opened must be the one the checked links lead to: a link
  // planted after the check and gone again must not steer the writes. Only a
  // link in /proc names what no path does (a pipe, a deleted file).
  struct stat named {};
  const bool same = ::lstat(resolved.path.c_str(), &named) == 0 && named.st_dev == old.st.st_dev &&
                    named.st_ino == old.st.st_ino;
  if (!same && !resolved.through_proc) {
    ::close(old.fd);
    return {kMoved};
  }
  if (!S_ISREG(old.st.st_mode)) return Outcome(Close(old.fd, WriteParts(old.fd, parts)));

  // A rename puts a new file under one name: right only when that is the
  // file's only name, and not an open file's link in /proc.
  if (same && !resolved.through_proc && old.st.st_nlink == 1) {
    if (std::optional<Attributes> attributes = AttributesOf(old.fd)) {
      old.attributes = std::move(*attributes);
      if (const std::optional<FileResult> replaced = Replace(resolved.path, &old, parts)) {
        ::close(old.fd);  // never written: nothing to flush
        return *replaced;
      }
    }
  }
  return WriteInPlace(old.fd, parts);
}

StandardStreams OpenStandardStreams() {
  constexpr const char* kNames[] = {"standard input", "standard output", "standard error"};
  StandardStreams streams;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) streams.output_closed = true;
    // open() takes the lowest free number, which is this one: those below are open.
    if (::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) < 0) {
      const std::string line =
          std::string("quibbet: ") + kNames[fd] +
          " is closed and /dev/null cannot be opened in its place: " + std::strerror(errno) + "\n";
      [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
      streams.usable = false;
      return streams;
    }
  }
  return streams;
}

}  // namespace quibbet
