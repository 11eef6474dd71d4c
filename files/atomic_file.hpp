// Replacing a file so that a failed save never costs the user the old one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>

namespace quibbet {

// Empty on success, otherwise the system's reason ("Permission denied").
struct FileResult {
  std::string error;
  bool ok() const { return error.empty(); }
};

// Writes the parts, in order, to a temporary file beside `path`, flushes it
// to disk, closes it and renames it over `path`. On any failure the old file
// is untouched and the temporary file is removed.
FileResult WriteFileAtomically(const std::string& path,
                               std::initializer_list<std::span<const std::uint8_t>> parts);

// The one line a failed save puts below the screen: "<path>: <reason>".
inline void ReportSaveFailure(const std::string& path, const FileResult& result) {
  if (result.ok()) return;
  std::printf("%s: %s\n", path.c_str(), result.error.c_str());
  std::fflush(stdout);
}

}  // namespace quibbet
