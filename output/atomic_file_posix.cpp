#include "output/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quibbet {

namespace {

FileResult Failure(int err) { return FileResult{std::strerror(err)}; }

// mkstemp creates files 0600; a saved sound should get the permissions any
// newly created file would.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
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

}  // namespace

FileResult WriteFileAtomically(const std::string& path,
                               std::initializer_list<std::span<const std::uint8_t>> parts) {
  // Same directory as the target, so the final rename cannot cross filesystems.
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmpl = dir + "." + base + ".tmp-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');

  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Failure(errno);

  int err = 0;
  for (const auto& part : parts) {
    if (!WriteAll(fd, part)) {
      err = errno;
      break;
    }
  }
  if (err == 0 && ::fchmod(fd, NewFileMode()) != 0) err = errno;
  // Flushed before the rename, so a crash cannot leave a renamed but empty file.
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(name.data(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(name.data());
    return Failure(err);
  }
  return {};
}

}  // namespace quibbet
