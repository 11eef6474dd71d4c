// Reads back the two oscillator rows that SaveParam writes, so a saved patch
// can be opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/patch.hpp"

namespace quibbet {

// Accepted: exactly what EncodeParams writes, and also LF line ends, spaces
// and tabs between the parts of a row, blank lines, a last row without its
// line end and a leading UTF-8 byte order mark. Each number is read with
// std::from_chars, so it becomes the float nearest its decimal, as a C
// compiler makes it from the same row; the type must be 0, 1 or 2.
struct ParsedParams {
  Osc osc[2];
  // Where the first fault is, 1-based (columns count bytes after any byte
  // order mark), and what was expected there. Empty `expected`: no fault.
  std::size_t line = 0;
  std::size_t column = 0;
  std::size_t offset = 0;  // of the fault, in bytes from the start
  std::string expected;
  bool ok() const { return expected.empty(); }
};

// Pure, and reads nothing outside `bytes`, whatever they hold.
ParsedParams ParseParamFile(std::span<const std::uint8_t> bytes);

// Larger files are refused unread; two rows of the largest floats are under
// 200 bytes.
inline constexpr std::size_t kMaxParamFileBytes = std::size_t{1} << 20;

struct LoadedParams {
  Osc osc[2];
  // Empty, or the one line to show: "<path>:<line>:<column>: expected ...".
  std::string error;
  bool ok() const { return error.empty(); }
};

// Reads and parses the file at `path`. A file that cannot be read is
// reported at 1:1 with the system's reason.
LoadedParams LoadParams(const std::string& path);

}  // namespace quibbet
