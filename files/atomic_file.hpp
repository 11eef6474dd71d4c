// Writing a file the way a careful editor does: all or nothing where a
// rename keeps everything the file carries, and never where the user would
// not have written it themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace quibbet {

// Empty on success, otherwise the system's reason ("Permission denied").
struct FileResult {
  std::string error;
  bool ok() const { return error.empty(); }
};

// The name that stands for standard output, as command-line tools take it.
// A file of that name is "./-".
inline constexpr std::string_view kStandardOutput = "-";

// Writes the parts, in order, to `path`, or to standard output for
// kStandardOutput (in binary on every platform).
//
// A new or plain file is replaced atomically: the bytes go to a temporary
// file beside it, reach the disk, and only then take its name, so a failed
// save leaves the old file as it was and no temporary file. On POSIX the
// replacement keeps the old file's owner, group, mode, ACL and extended
// attributes; where a rename would lose any of them (another owner, more than
// one hard link, attributes that could not be copied, a folder where no
// temporary file may be made) the file is written in place instead, as cp
// writes it. A device, FIFO or socket is written into, never replaced. A file
// its user may not write is refused, and a link is followed only as the kernel
// would follow it where links are protected.
FileResult SaveFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> parts);

// What OpenStandardStreams found.
struct StandardStreams {
  bool usable = true;          // false: a closed one could not be stood in for; the line is out
  bool output_closed = false;  // standard output was closed: what stands in goes nowhere
};

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, as some
// launchers leave them. Otherwise the next file or pipe the program opens
// takes that number, and the program reads its own pipe as its keys or writes
// its screen into it. Called first in main, before anything opens a file; on
// failure says why in one line.
StandardStreams OpenStandardStreams();

// The one line a failed save puts below the screen: "<path>: <reason>".
inline void ReportSaveFailure(const std::string& path, const FileResult& result) {
  if (result.ok()) return;
  std::printf("%s: %s\n", path.c_str(), result.error.c_str());
  std::fflush(stdout);
}

}  // namespace quibbet
