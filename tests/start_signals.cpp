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
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

void SleepUntil(std::int64_t ns) {
  const timespec at{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

pid_t Spawn(const char* program, const char* alsa_conf, int tty) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  login_tty(tty);
  setenv("TERM", "xterm-256color", 1);
  setenv("PULSE_SERVER", "unix:/dev/null/no-server", 1);
  setenv("ALSA_CONFIG_PATH", alsa_conf, 1);
  if (chdir("/tmp") != 0) _exit(126);
  execl(program, program, static_cast<char*>(nullptr));
  _exit(127);
}

struct Run {
  bool died_by_signal = false;
  bool terminal_back = false;
  double ms = -1;  // signal to exit; -1 when it did not exit within the limit
};

Run RunOnce(const char* program, const char* alsa_conf, int signal, std::int64_t delay_ns,
            int limit_ms) {
  int master = -1, tty = -1;
  winsize size{40, 100, 0, 0};
  if (openpty(&master, &tty, nullptr, nullptr, &size) != 0) {
    std::perror("openpty");
    std::exit(2);
  }
  termios before{};
  tcgetattr(tty, &before);
  const std::int64_t start = NowNs();
  const pid_t pid = Spawn(program, alsa_conf, tty);
  close(tty);
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
    if (waitpid(pid, &status, WNOHANG) == pid) {
      run.ms = static_cast<double>(NowNs() - sent) / 1e6;
      break;
    }
    if (NowNs() - sent > std::int64_t{limit_ms} * 1'000'000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
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
  run.terminal_back = (after.c_lflag & kModes) == (before.c_lflag & kModes) &&
                      (hidden == std::string::npos || output.find("\x1b[?25h", hidden) != std::string::npos);
  close(master);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <program> <alsa.conf> [step_us] [steps] [busy_loops] [limit_ms]\n",
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

  std::vector<pid_t> loops;
  for (int i = 0; i < busy; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) asm volatile("");
    }
    loops.push_back(pid);
  }

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
    std::printf("%-10s runs %d  hung %d  over 100 ms %d  not by the signal %d  terminal left raw %d"
                "  signal to exit median %.1f ms, max %.1f ms\n",
                strsignal(signal), steps, hung, late, wrong_end, raw_left, median, max);
    failed = failed || hung + wrong_end + raw_left > 0;
  }
  for (pid_t pid : loops) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return failed ? 1 : 0;
}
