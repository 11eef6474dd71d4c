// How quickly playback answers the keys, as a user hears it: the real program
// runs with keys written to its standard input at known times, and a private
// sound server's null sink is captured from its monitor. Key writes and
// capture reads are stamped on the same monotonic clock. Each run is one
// process: its start, four replays a few hundred milliseconds apart, one full
// play, and Escape. Prints min / median / max over the runs, and how many
// runs were heard bit-exactly, with the machine idle and with busy loops on
// every core (one each unless --loops says how many in all). Asserts nothing.
//
//   quibbet_latency [--runs N] [--idle | --loaded] [--loops N] [--pty]
//                   [--server pulseaudio|pipewire|pulseaudio,pipewire] PROGRAM [ARGS...]
//
// The server is PulseAudio unless --server names another; given both, each
// condition is measured on one and then on the other, side by side.
//
// With --pty the keys are typed on a terminal (a pty whose other end is the
// program's standard input and output), as a user types them; otherwise they
// arrive on a pipe. PROGRAM may be a wrapper that runs the program, such as
// the one that runs the Windows build under wine.
//
// Times are taken at the arrival of the capture read that brought the sound,
// so they include the capture's own latency (5 ms at most, 10 on PipeWire)
// and are upper bounds. Where it is allowed, the tool and the capture run at a raised
// priority, so that a busy machine delays the program and not the
// measurement; the program, the server and the busy loops run at the normal
// one.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/renderer.hpp"
#include "support/child.hpp"
#include "support/files.hpp"
#include "support/sound_server.hpp"

namespace quibbet {
namespace {

using test::Capture;
using test::Child;
using test::Heard;
using test::NowNs;
using test::SleepMs;

constexpr int kReplays = 4;

// The tool's own priority, raised where allowed.
constexpr int kRaisedNice = -15;

// What one run measured, in ms; empty where it could not be told.
struct Run {
  std::optional<double> start_to_sound, escape_to_gone;
  std::vector<double> replay_to_sound, replay_to_silence;
  bool bit_exact = false;
  std::string problem, stderr_text;
};

double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

// How the keys reach the program: keys[1] is written, keys[0] is the
// program's standard input (and, on a terminal, its output too).
struct KeyLine {
  int keys[2] = {-1, -1};
  std::optional<test::Pty> pty;
  std::thread drain;

  bool Open(bool on_pty) {
    if (!on_pty) return ::pipe2(keys, O_CLOEXEC) == 0;
    pty.emplace(24, 80);
    if (!pty->ok()) return false;
    keys[0] = pty->tty();
    keys[1] = pty->master();
    // The screen must be read, or the program blocks once the pty's buffer
    // is full. And a terminal answers queries, as a plain VT220 without the
    // kitty keyboard protocol would: the program asks for the device's
    // attributes, wine's console for the cursor position.
    drain = std::thread([fd = keys[1]] {
      constexpr std::pair<std::string_view, std::string_view> kAnswers[] = {
          {"\x1b[c", "\x1b[?62;c"}, {"\x1b[6n", "\x1b[1;1R"}};
      char chunk[4096];
      ssize_t n;
      while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
        const std::string_view screen(chunk, static_cast<std::size_t>(n));
        for (const auto& [query, answer] : kAnswers) {
          if (screen.find(query) == std::string_view::npos) continue;
          [[maybe_unused]] const ssize_t w = ::write(fd, answer.data(), answer.size());
        }
      }
    });
    return true;
  }
  // After the program has ended.
  void Close() {
    if (pty) {
      pty->CloseTty();
      if (drain.joinable()) drain.join();  // the pty reads EOF (EIO) once its other end is gone
      pty.reset();
      return;
    }
    if (keys[0] >= 0) ::close(keys[0]);
    ::close(keys[1]);
  }
  void Type(const char* key) {
    [[maybe_unused]] const ssize_t n = ::write(keys[1], key, std::strlen(key));
  }
};

Run RunOnce(test::PrivateSoundServer& server, const std::vector<std::string>& program, bool pty,
            std::span<const std::uint8_t> pcm) {
  Run run;
  KeyLine keyboard;
  if (!keyboard.Open(pty)) {
    run.problem = pty ? "no pty" : "no pipe";
    return run;
  }
  char err_path[] = "/tmp/quibbet-latency-err-XXXXXX";
  const int err_fd = ::mkstemp(err_path);
  const std::size_t from = server.Captured();
  const std::int64_t spawned = NowNs();
  const int in = keyboard.keys[0];
  Child child(program, server.client_env(), [=] {
    test::AtNormalPriority();
    if (pty) {
      test::OnTerminal(in);
    } else {
      ::dup2(in, 0);
    }
    ::dup2(err_fd, 2);
  });
  if (!pty) {
    ::close(keyboard.keys[0]);
    keyboard.keys[0] = -1;
  }

  std::int64_t key_at[kReplays];
  SleepMs(700);
  for (int i = 0; i < kReplays; ++i) {
    key_at[i] = NowNs();
    keyboard.Type(" ");
    SleepMs(450 + 37 * i);  // not a multiple of anything the program or server runs at
  }
  SleepMs(7300);  // the last replay plays to its end
  const std::int64_t escape_at = NowNs();
  keyboard.Type("\x1b");
  const int status = child.Wait();
  run.escape_to_gone = Ms(NowNs() - escape_at);
  keyboard.Close();
  SleepMs(150);  // the tail of the capture

  run.stderr_text = test::ReadFile(err_path);
  ::close(err_fd);
  ::unlink(err_path);
  if (status != 0) run.problem = "exit status " + std::to_string(status);

  const Capture capture = server.Snapshot();
  const test::Playbacks found = test::FindPlaybacks(capture.bytes, pcm, from);
  const std::vector<Heard>& heard = found.heard;
  const std::size_t lead = static_cast<std::size_t>(
      std::find_if(pcm.begin(), pcm.end(), [](std::uint8_t b) { return b != 0; }) - pcm.begin());
  if (run.problem.empty()) run.problem = found.problem;
  // The commonest ways to go wrong on a busy machine: the program's stream
  // ran dry, or the capture lost data.
  for (std::size_t i = 0; i < heard.size() && run.problem.empty(); ++i)
    if (!heard[i].breaks.empty())
      run.problem = "playback " + std::to_string(i + 1) + " " + heard[i].breaks[0].Describe();
  if (run.problem.empty() && heard.size() != kReplays + 1)
    run.problem =
        std::to_string(heard.size()) + " playbacks heard, not " + std::to_string(kReplays + 1);
  if (run.problem.empty()) {
    for (int i = 0; i < kReplays; ++i)
      if (heard[i].length >= kPcmBytes) run.problem = "a replay did not cut the sound";
    if (heard[kReplays].length != kPcmBytes && run.problem.empty())
      run.problem =
          "the full play stopped after " + std::to_string(heard[kReplays].length) + " bytes";
  }
  // The times are told even when a playback broke up: each playback begins
  // where the render's first sounding bytes are found again, and the old
  // sound has ended at the last sounding byte before that.
  const std::string_view bytes = capture.bytes;
  const std::string_view opening(reinterpret_cast<const char*>(pcm.data()) + lead, 8192);
  std::vector<std::size_t> begins;  // capture offsets of each playback's first sounding byte
  for (std::size_t at = bytes.find(opening, from); at != std::string_view::npos;
       at = bytes.find(opening, at + opening.size()))
    begins.push_back(at);
  if (begins.size() == kReplays + 1) {
    run.start_to_sound = Ms(capture.ArrivalOf(begins[0]) - spawned);
    for (int i = 0; i < kReplays; ++i) {
      const std::size_t ended = bytes.find_last_not_of('\0', begins[i + 1] - 1) + 1;
      run.replay_to_silence.push_back(Ms(capture.ArrivalOf(ended) - key_at[i]));
      run.replay_to_sound.push_back(Ms(capture.ArrivalOf(begins[i + 1]) - key_at[i]));
    }
  } else {
    if (run.problem.empty())
      run.problem =
          std::to_string(begins.size()) + " playbacks found, not " + std::to_string(kReplays + 1);
  }
  run.bit_exact = run.problem.empty();
  return run;
}

struct Spread {
  double min = 0, median = 0, max = 0;
  std::size_t count = 0;
};

Spread SpreadOf(std::vector<double> v) {
  Spread s;
  s.count = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.min = v.front();
  s.max = v.back();
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  return s;
}

struct Condition {
  std::string name;
  Spread start, replay_sound, replay_silence, escape;
  int runs = 0, bit_exact = 0;
};

std::optional<Condition> Measure(const std::string& name, test::ServerKind kind, int loops,
                                 int runs, const std::vector<std::string>& program, bool pty,
                                 std::span<const std::uint8_t> pcm) {
  test::PrivateSoundServer server(kind, test::AtNormalPriority);
  // PipeWire runs its whole graph at the shortest period any stream asks
  // for: a capture that asked for less than the program's stream (10 ms)
  // would make the program play at a period it never has on its own.
  const int capture_ms = kind == test::ServerKind::PipeWire ? 10 : 5;
  if (!server.Start().empty() || !server.StartCapture(capture_ms).empty()) {
    std::fprintf(stderr, "quibbet_latency: the private %s server did not start\n",
                 test::NameOf(kind));
    return std::nullopt;
  }
  const test::BusyLoops load(loops, test::AtNormalPriority);
  std::vector<double> start, sound, silence, escape;
  Condition c;
  c.name = name;
  for (int r = 0; r < runs; ++r) {
    const Run run = RunOnce(server, program, pty, pcm);
    ++c.runs;
    c.bit_exact += run.bit_exact;
    if (run.start_to_sound) start.push_back(*run.start_to_sound);
    if (run.escape_to_gone) escape.push_back(*run.escape_to_gone);
    sound.insert(sound.end(), run.replay_to_sound.begin(), run.replay_to_sound.end());
    silence.insert(silence.end(), run.replay_to_silence.begin(), run.replay_to_silence.end());
    std::printf("%s run %d:", name.c_str(), r + 1);
    if (run.start_to_sound) std::printf(" start %.1f,", *run.start_to_sound);
    std::printf(" replays");
    for (std::size_t i = 0; i < run.replay_to_sound.size(); ++i)
      std::printf(" %.1f/%.1f", run.replay_to_sound[i], run.replay_to_silence[i]);
    std::printf(", Escape %.1f ms; %s\n", run.escape_to_gone.value_or(-1),
                run.bit_exact ? "bit-exact" : run.problem.c_str());
    if (!run.stderr_text.empty())
      std::printf("  stderr: %.*s\n", static_cast<int>(run.stderr_text.find('\n')),
                  run.stderr_text.c_str());
    std::fflush(stdout);
  }
  c.start = SpreadOf(start);
  c.replay_sound = SpreadOf(sound);
  c.replay_silence = SpreadOf(silence);
  c.escape = SpreadOf(escape);
  return c;
}

void PrintTable(const std::vector<Condition>& conditions) {
  int width = 22;
  for (const Condition& c : conditions) width = std::max(width, static_cast<int>(c.name.size()));
  std::printf("\n%-32s", "ms, min / median / max");
  for (const Condition& c : conditions) std::printf("  %-*s", width, c.name.c_str());
  std::printf("  target\n");
  const auto row = [&](const char* what, Spread Condition::*field, const char* target) {
    std::printf("%-32s", what);
    for (const Condition& c : conditions) {
      const Spread& s = c.*field;
      char cell[64];
      if (s.count == 0)
        std::snprintf(cell, sizeof cell, "-");
      else
        std::snprintf(cell, sizeof cell, "%.1f / %.1f / %.1f", s.min, s.median, s.max);
      std::printf("  %-*s", width, cell);
    }
    std::printf("  %s\n", target);
  };
  row("program start -> first sound", &Condition::start, "median <= 30 idle");
  row("replay key -> new sound", &Condition::replay_sound, "median <= 20, max <= 40");
  row("replay key -> old sound ends", &Condition::replay_silence, "median <= 10");
  row("Escape -> process gone", &Condition::escape, "median <= 60");
  std::printf("%-32s", "runs heard bit-exactly");
  for (const Condition& c : conditions) {
    char cell[32];
    std::snprintf(cell, sizeof cell, "%d of %d", c.bit_exact, c.runs);
    std::printf("  %-*s", width, cell);
  }
  std::printf("  all\n");
}

int Main(int argc, char** argv) {
  int runs = 10;
  bool idle = true, loaded = true, pty = false;
  int loops = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::string> program;
  std::vector<test::ServerKind> servers;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!program.empty()) {
      program.push_back(arg);  // the program's own arguments
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--loops" && i + 1 < argc) {
      loops = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--idle") {
      loaded = false;
    } else if (arg == "--loaded") {
      idle = false;
    } else if (arg == "--pty") {
      pty = true;
    } else if (arg == "--server" && i + 1 < argc) {
      const std::string names = argv[++i];
      servers.clear();
      if (names == "pulseaudio" || names == "pulseaudio,pipewire")
        servers.push_back(test::ServerKind::PulseAudio);
      if (names == "pipewire" || names == "pulseaudio,pipewire")
        servers.push_back(test::ServerKind::PipeWire);
      if (servers.empty()) {
        std::fprintf(stderr, "quibbet_latency: --server %s: not pulseaudio, pipewire or both\n",
                     names.c_str());
        return 2;
      }
    } else if (!arg.starts_with("-")) {
      program.push_back(arg);
    } else {
      std::fprintf(stderr,
                   "usage: quibbet_latency [--runs N] [--idle | --loaded] [--loops N] [--pty] "
                   "[--server pulseaudio|pipewire|pulseaudio,pipewire] PROGRAM [ARGS...]\n");
      return 2;
    }
  }
  if (program.empty() || ::access(program[0].c_str(), X_OK) != 0) {
    std::fprintf(stderr, "quibbet_latency: %s: not an executable program\n",
                 program.empty() ? "(none given)" : program[0].c_str());
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const bool raised = ::setpriority(PRIO_PROCESS, 0, kRaisedNice) == 0;

  // What every playback must be: the default patch, which has no noise, so
  // every render of a run is the same.
  static SampleBuffer buffer;
  NoiseGenerator noise;
  RenderReference(Patch{}, noise, buffer);
  const auto pcm = buffer.Pcm();

  std::string command;
  for (const std::string& a : program) command += (command.empty() ? "" : " ") + a;
  if (servers.empty()) servers.push_back(test::ServerKind::PulseAudio);
  std::string through;
  for (const test::ServerKind kind : servers)
    through += (through.empty() ? "" : " and ") + std::string(test::NameOf(kind));
  std::printf(
      "%s through a private %s null sink, keys on a %s, %d runs each; per run: "
      "start, replays as new sound/old sound ends, Escape\n",
      command.c_str(), through.c_str(), pty ? "terminal" : "pipe", runs);
  if (!raised)
    std::printf("(the capture runs at the normal priority: a busy machine delays it too)\n");
  std::vector<Condition> conditions;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const auto measure = [&](const std::string& name, int busy_loops) {
    for (const test::ServerKind kind : servers) {
      const std::string label =
          servers.size() > 1 ? std::string(test::NameOf(kind)) + ", " + name : name;
      if (auto c = Measure(label, kind, busy_loops, runs, program, pty, pcm))
        conditions.push_back(*c);
    }
  };
  if (idle) measure("idle", 0);
  if (loaded)
    measure(std::to_string(loops) + " busy loops, " + std::to_string(cores) + " cores", loops);
  if (conditions.empty()) return 1;
  PrintTable(conditions);
  return 0;
}

}  // namespace
}  // namespace quibbet

int main(int argc, char** argv) { return quibbet::Main(argc, argv); }
