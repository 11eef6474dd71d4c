// The command line: an optional patch file to open, a starting pitch, the
// seed of random sounds, autoplay, a render straight to a WAV file, help and
// version. Read before anything else
// starts, so a bad one is refused before the terminal changes or a sound plays.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quibbet {

struct CommandLine {
  enum class Action : std::uint8_t { Run, Help, Version, Refuse };
  Action action = Action::Run;
  std::optional<std::string> file;  // rows saved by F8, to start from
  std::optional<std::int32_t> tone;
  std::optional<std::uint64_t> seed;  // of random and mutated sounds; else from the clock
  bool autoplay = false;
  std::optional<std::string> render;  // --render OUT: "-" is standard output
  std::string error;                  // for Refuse: the one line to show, without its line end
};

// `args` without the program's own name. The first of help, version or a
// fault decides; options and FILE may come in any order, and "--" ends the
// options so that FILE may begin with '-'.
CommandLine ParseCommandLine(std::span<const std::string_view> args);

std::string HelpText();
std::string VersionText();

// Reads the command line and sets the global patch and editor from it. When the program
// must end at once (help, version, --render, a bad command line or FILE) it
// has printed or written what it had to and this returns the exit status.
// `output_closed`: standard output was closed at start (OpenStandardStreams),
// so --render - has nowhere to go.
std::optional<int> StartFromCommandLine(int argc, const char* const* argv, bool output_closed);

}  // namespace quibbet
