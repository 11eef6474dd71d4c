#include "console/command_line.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "console/key_table.hpp"
#include "console/program_state.hpp"
#include "engine/fast_renderer.hpp"
#include "files/param_load.hpp"
#include "files/wav_writer.hpp"

#ifndef QUIBBET_VERSION
#error "the build passes the project's version as QUIBBET_VERSION"
#endif

namespace quibbet {

namespace {

constexpr std::string_view kTryHelp = "; try 'quibbet --help'";

CommandLine Refuse(std::string error) {
  CommandLine refused;
  refused.action = CommandLine::Action::Refuse;
  refused.error = "quibbet: " + std::move(error);
  return refused;
}

// A whole number in decimal, all of `text`, in T's range.
template <typename T>
std::optional<T> ReadNumber(std::string_view text) {
  T number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, number);
  if (ec != std::errc{} || stop != end || text.empty()) return std::nullopt;
  return number;
}

// An option with a value, as `--name VALUE` or `--name=VALUE`.
struct OptionValue {
  bool matched = false;                   // args[i] is the option
  std::optional<std::string_view> value;  // nothing when VALUE is missing
};

OptionValue ValueOf(std::string_view name, std::span<const std::string_view> args, std::size_t& i) {
  const std::string_view arg = args[i];
  OptionValue option;
  if (arg == name) {
    option.matched = true;
    if (i + 1 < args.size()) option.value = args[++i];
  } else if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') {
    option.matched = true;
    option.value = arg.substr(name.size() + 1);
  }
  return option;
}

// A whole-number option's value into `into`; what is wrong with it, if anything.
template <typename T>
std::optional<std::string> ReadNumberOption(std::string_view name, const OptionValue& option,
                                            std::optional<T>& into) {
  if (!option.value) return std::string(name) + " needs a number" + std::string(kTryHelp);
  into = ReadNumber<T>(*option.value);
  if (into) return std::nullopt;
  return std::string(name) + " expects a whole number from " +
         std::to_string(std::numeric_limits<T>::min()) + " to " +
         std::to_string(std::numeric_limits<T>::max()) + ", not '" + std::string(*option.value) +
         "'";
}

// Without --seed: the calendar clock in its finest ticks, which splitmix64 spreads
// over the whole state, so that two runs a moment apart differ.
std::uint64_t SeedFromClock() {
  return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

// Writes all of `text` to `stream`; false, with errno set, if it could not.
bool WriteAll(std::FILE* stream, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
         std::fflush(stream) == 0;
}

// The WAV that F7 writes right after the program starts with this patch: the
// first render from the start noise state. No screen, no sound, no Tone line.
int RenderToFile(const Patch& start, const std::string& out, bool output_closed) {
  const bool to_output = out == kStandardOutput;
  const std::string name = to_output ? "standard output" : out;
  // The launcher closed it, and what stands in its place goes nowhere: a
  // render that "succeeded" into it would be lost without a word.
  if (to_output && output_closed) {
    std::fprintf(stderr, "quibbet: %s: it is closed\n", name.c_str());
    return 2;
  }
  const auto buffer = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  RenderFast(start, noise, *buffer);
  const FileResult written = WriteWave(out, *buffer);
  if (written.ok()) return 0;
  std::fprintf(stderr, "quibbet: %s: %s\n", name.c_str(), written.error.c_str());
  return 2;
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine line;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool option = !options_ended && arg.size() > 1 && arg[0] == '-';
    if (!option) {
      if (line.file) {
        return Refuse("one FILE at most, but got '" + *line.file + "' and '" + std::string(arg) +
                      "'" + std::string(kTryHelp));
      }
      line.file = std::string(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help") {
      line.action = CommandLine::Action::Help;
      return line;
    } else if (arg == "--version") {
      line.action = CommandLine::Action::Version;
      return line;
    } else if (arg == "--autoplay") {
      line.autoplay = true;
    } else if (const OptionValue render = ValueOf("--render", args, i); render.matched) {
      if (!render.value) {
        return Refuse("--render needs a file name, or - for standard output" +
                      std::string(kTryHelp));
      }
      if (render.value->empty()) return Refuse("--render needs a file name, not ''");
      line.render = std::string(*render.value);
    } else if (const OptionValue tone = ValueOf("--tone", args, i); tone.matched) {
      if (auto wrong = ReadNumberOption("--tone", tone, line.tone)) return Refuse(*wrong);
    } else if (const OptionValue seed = ValueOf("--seed", args, i); seed.matched) {
      if (auto wrong = ReadNumberOption("--seed", seed, line.seed)) return Refuse(*wrong);
    } else {
      return Refuse("unknown option '" + std::string(arg) + "'" + std::string(kTryHelp));
    }
  }
  return line;
}

std::string VersionText() { return "quibbet " QUIBBET_VERSION "\n"; }

std::string HelpText() {
  static constexpr char kBefore[] = R"(Usage: quibbet [--tone N] [--seed N] [--autoplay] [FILE]
   or: quibbet --render OUT.wav [--tone N] [FILE]

Shapes one short, decaying tone from two oscillators and a pitch, plays it
at once, and keeps it as a WAV file or as two rows for an intro's
oscillator table. Driven by keys; a pipe or file of keys works too.

Arguments:
  FILE        start with the oscillators saved in FILE by F8 (an import.txt)
  --tone N    start at pitch N, in semitones (default 10)
  --seed N    make the random (G) and mutated (M) sounds from seed N
              (0 to 2^64-1): the same seed and keys give the same sounds on
              every machine; without it, the seed comes from the clock
  --autoplay  start with autoplay (V) on: every edit plays the sound again
  --render OUT.wav
                    write the sound F7 would save right after start to OUT.wav
                    (- for standard output) and exit: no screen, no sound
  -h, --help  show this help and exit
  --version   show the version and exit

)";
  static constexpr char kAfter[] = R"(
Files written, to the current directory, each replacing the last:
  out.wav     7.0 s of 44.1 kHz 16-bit stereo PCM
  import.txt  one row {type, detune, fm, noise }, per oscillator

Exit status: 0, or 2 for a bad command line or FILE, or a failed --render.
)";
  // The keys' lines come from the key table.
  return kBefore + KeysHelp() + kAfter;
}

std::optional<int> StartFromCommandLine(int argc, const char* const* argv, bool output_closed) {
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + std::max(argc, 0));
  const CommandLine line = ParseCommandLine(args);
  switch (line.action) {
    case CommandLine::Action::Run:
      break;
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
      if (!WriteAll(stdout,
                    line.action == CommandLine::Action::Help ? HelpText() : VersionText())) {
        std::fprintf(stderr, "quibbet: standard output: %s\n", std::strerror(errno));
        return 1;
      }
      return 0;
    case CommandLine::Action::Refuse:
      std::fprintf(stderr, "%s\n", line.error.c_str());
      return 2;
  }

  if (line.file) {
    const LoadedParams loaded = LoadParams(*line.file);
    if (!loaded.ok()) {
      std::fprintf(stderr, "%s\n", loaded.error.c_str());
      return 2;
    }
    std::copy(std::begin(loaded.osc), std::end(loaded.osc), patch.osc);
  }
  if (line.tone) patch.tone = *line.tone;
  editor.Seed(line.seed ? *line.seed : SeedFromClock());
  editor.SetAutoplay(line.autoplay);
  if (line.render) return RenderToFile(patch, *line.render, output_closed);
  return std::nullopt;
}

}  // namespace quibbet
