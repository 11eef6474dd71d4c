// Quit signals sent to the program while it starts: each run starts it on a
// fresh pseudo-terminal, sends the signal a fixed time after the fork, and
// times how long the program takes to die by it. Busy loops on every core
// stretch the start, as a loaded machine does, so a signal lands in every
// part of it. A run fails when the program does not die by that signal within
// the limit, or leaves the terminal raw or the cursor hidden. The limit is
// generous, since a lost signal waits forever: how many runs took more than
// 100 ms is reported, not failed, as a loaded machine may not run the
// program at all for that long.
//
//   start_signals <program> <alsa.conf> [step_us] [steps] [busy_loops] [limit_ms]
//
// Sends SIGTERM and SIGHUP at 0, step, 2 step, ... (steps of each). Prints one
// line per signal and exits 1 if any run failed. ctest runs a short sweep;
// `make start-signals` the full one.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/child.hpp"

namespace {

using quibbet::test::NowNs;

void SleepUntil(std::int64_t ns) {
  const timespec at{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

// The program on `tty`, with no sound device.
std::unique_ptr<quibbet::test::Child> Spawn(const char* program, const char* alsa_conf, int tty) {
  return std::make_unique<quibbet::test::Child>(
      std::vector<std::string>{program},
      quibbet::test::Env{{"TERM", "xterm-256color"},
                         {"PULSE_SERVER", "unix:/dev/null/no-server"},
                         {"ALSA_CONFIG_PATH", alsa_conf}},
      [tty] {
        quibbet::test::OnTerminal(tty);
        if (chdir("/tmp") != 0) _exit(126);
      });
}

struct Run {
  bool died_by_signal = false;
  bool terminal_back = false;
  double ms = -1;  // signal to exit; -1 when it did not exit within the limit
};

Run RunOnce(const char* program, const char* alsa_conf, int signal, std::int64_t delay_ns,
            int limit_ms) {
  quibbet::test::Pty pty(40, 100);
  if (!pty.ok()) {
    std::perror("openpty");
    std::exit(2);
  }
  const int master = pty.master();
  termios before{};
  tcgetattr(pty.tty(), &before);
  const std::int64_t start = NowNs();
  const auto child = Spawn(program, alsa_conf, pty.tty());
  const pid_t pid = child->pid();
  pty.CloseTty();
  SleepUntil(start + delay_ns);
  kill(pid, signal);
  const std::int64_t sent = NowNs();

  Run run;
  std::string output;
  int status = 0;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 1) > 0) {
      char bytes[4096];
      const ssize_t n = read(master, bytes, sizeof bytes);
      if (n > 0) output.append(bytes, static_cast<std::size_t>(n));
    }
    if ((status = child->Poll()) >= 0) {
      run.ms = static_cast<double>(NowNs() - sent) / 1e6;
      break;
    }
    if (NowNs() - sent > std::int64_t{limit_ms} * 1'000'000) {
      kill(pid, SIGKILL);
      status = child->Wait();
      break;
    }
  }
  // What the program wrote last may still wait in the pty.
  for (pollfd p{master, POLLIN, 0}; poll(&p, 1, 0) > 0;) {
    char bytes[4096];
    const ssize_t n = read(master, bytes, sizeof bytes);
    if (n <= 0) break;
    output.append(bytes, static_cast<std::size_t>(n));
  }
  run.died_by_signal = run.ms >= 0 && WIFSIGNALED(status) && WTERMSIG(status) == signal;
  termios after{};
  tcgetattr(master, &after);
  const tcflag_t kModes = ECHO | ICANON | ISIG;
  const std::size_t hidden = output.rfind("\x1b[?25l");
  run.terminal_back =
      (after.c_lflag & kModes) == (before.c_lflag & kModes) &&
      (hidden == std::string::npos || output.find("\x1b[?25h", hidden) != std::string::npos);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s <program> <alsa.conf> [step_us] [steps] [busy_loops] [limit_ms]\n",
                 argv[0]);
    return 2;
  }
  // Absolute: each run starts in another directory.
  char program[PATH_MAX], alsa_conf[PATH_MAX];
  if (realpath(argv[1], program) == nullptr || realpath(argv[2], alsa_conf) == nullptr) {
    std::perror("start_signals");
    return 2;
  }
  const long step_us = argc > 3 ? std::atol(argv[3]) : 250;
  const int steps = argc > 4 ? std::atoi(argv[4]) : 160;
  const int busy = argc > 5 ? std::atoi(argv[5]) : 3;
  const int limit_ms = argc > 6 ? std::atoi(argv[6]) : 3000;

  const quibbet::test::BusyLoops loops(busy);

  bool failed = false;
  std::printf("%d runs per signal, %ld us apart from 0, %d busy loops; limit %d ms\n", steps,
              step_us, busy, limit_ms);
  for (int signal : {SIGTERM, SIGHUP}) {
    int hung = 0, wrong_end = 0, raw_left = 0, late = 0;
    std::vector<double> times;
    for (int i = 0; i < steps; ++i) {
      const std::int64_t delay_ns = std::int64_t{i} * step_us * 1000;
      const Run run = RunOnce(program, alsa_conf, signal, delay_ns, limit_ms);
      if (run.ms < 0) {
        ++hung;
        std::printf("  %s at %.2f ms: still running after %d ms\n", strsignal(signal),
                    static_cast<double>(delay_ns) / 1e6, limit_ms);
      } else {
        times.push_back(run.ms);
        if (run.ms > 100) ++late;
        if (!run.died_by_signal) ++wrong_end;
      }
      if (!run.terminal_back) ++raw_left;
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double max = times.empty() ? 0 : times.back();
    std::printf(
        "%-10s runs %d  hung %d  over 100 ms %d  not by the signal %d  terminal left raw %d"
        "  signal to exit median %.1f ms, max %.1f ms\n",
        strsignal(signal), steps, hung, late, wrong_end, raw_left, median, max);
    failed = failed || hung + wrong_end + raw_left > 0;
  }
  return failed ? 1 : 0;
}
