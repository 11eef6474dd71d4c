// Saving on Windows: the new bytes go to a fresh file beside the target, are
// flushed to disk, and only then take the target's name in one move. A save
// that fails at any step leaves the old file as it was and no temporary file.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/atomic_file.hpp"

namespace quibbet {

namespace {

// The common failures get fixed English texts: FormatMessage answers in the
// user's language, and wine's texts differ from Windows' own.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "Access is denied";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return "The system cannot find the path specified";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "There is not enough space on the disk";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "The file is in use by another program";
    case ERROR_WRITE_PROTECT:
      return "The disk is write-protected";
    default:
      break;
  }
  char text[256] = {};
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
  std::string reason(text, n);
  // One line: without the message's line end and full stop.
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  if (reason.empty()) reason = "Windows error " + std::to_string(error);
  return reason;
}

FileResult Failure(DWORD error) { return FileResult{Reason(error)}; }

// File names are UTF-8 inside the program; Windows takes UTF-16.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

bool WriteAll(HANDLE file, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    // WriteFile takes at most a DWORD of bytes per call.
    const DWORD chunk = data.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data = data.subspan(written);
  }
  return true;
}

// A new file beside `path`, named so that it cannot be taken for the saved
// file. CREATE_NEW never opens someone else's file; a name in use is skipped.
HANDLE CreateTemporary(const std::wstring& path, std::wstring& name) {
  const std::size_t slash = path.find_last_of(L"/\\");
  const std::wstring dir = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
  const std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const std::wstring stem = dir + L"." + base + L".tmp-" + std::to_wstring(GetCurrentProcessId());
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = stem + L"-" + std::to_wstring(serial++);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// Standard output in binary, so that no CR goes in before an LF byte. The C
// runtime's own reason names a failure, as the program's other lines about
// standard output do.
FileResult WriteStandardOutput(std::initializer_list<std::span<const std::uint8_t>> parts) {
  _setmode(_fileno(stdout), _O_BINARY);
  for (const auto& part : parts) {
    if (std::fwrite(part.data(), 1, part.size(), stdout) != part.size()) {
      return FileResult{std::strerror(errno)};
    }
  }
  if (std::fflush(stdout) != 0) return FileResult{std::strerror(errno)};
  return {};
}

}  // namespace

FileResult SaveFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> parts) {
  if (path == kStandardOutput) return WriteStandardOutput(parts);
  const std::wstring target = Wide(path);
  // A read-only file is not replaced, as Windows' own copy refuses it; the
  // move alone would replace it (wine does). Hidden and system files stay so.
  const DWORD old = GetFileAttributesW(target.c_str());
  DWORD kept = FILE_ATTRIBUTE_NORMAL;
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (old & FILE_ATTRIBUTE_READONLY) return Failure(ERROR_ACCESS_DENIED);
    kept = old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept == 0) kept = FILE_ATTRIBUTE_NORMAL;
  }
  std::wstring temporary;
  const HANDLE file = CreateTemporary(target, temporary);
  if (file == INVALID_HANDLE_VALUE) return Failure(GetLastError());

  DWORD error = ERROR_SUCCESS;
  for (const auto& part : parts) {
    if (!WriteAll(file, part)) {
      error = GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;  // a write that took nothing
      break;
    }
  }
  // On disk before the move, so a crash cannot leave a moved but empty file.
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error == ERROR_SUCCESS && kept != FILE_ATTRIBUTE_NORMAL &&
      !SetFileAttributesW(temporary.c_str(), kept)) {
    error = GetLastError();
  }
  if (error == ERROR_SUCCESS && !MoveFileExW(temporary.c_str(), target.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    DeleteFileW(temporary.c_str());
    return Failure(error);
  }
  return {};
}

StandardStreams OpenStandardStreams() {
  // A program started without standard handles (a GUI launcher, a service)
  // gets null ones. NUL takes their place, so that the C runtime's streams
  // work: reading keys ends at once, and output goes nowhere.
  struct Stream {
    DWORD id;
    std::FILE* file;
    const char* mode;
    const char* name;
  };
  const Stream streams[] = {{STD_INPUT_HANDLE, stdin, "rb", "standard input"},
                            {STD_OUTPUT_HANDLE, stdout, "wb", "standard output"},
                            {STD_ERROR_HANDLE, stderr, "wb", "standard error"}};
  StandardStreams found;
  for (const Stream& s : streams) {
    const HANDLE handle = GetStdHandle(s.id);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    if (s.id == STD_OUTPUT_HANDLE) found.output_closed = true;
    if (std::freopen("NUL", s.mode, s.file) == nullptr) {
      std::fprintf(stderr, "quibbet: %s is closed and NUL cannot be opened in its place\n", s.name);
      found.usable = false;
      return found;
    }
    SetStdHandle(s.id, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(s.file))));
  }
  return found;
}

}  // namespace quibbet
