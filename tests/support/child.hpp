// Child processes for the tests and the latency tool: a changed environment,
// standard streams where the caller wants them (a pty among them), waits with
// a deadline, and no process left behind whatever the caller does.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quibbet::test {

// CLOCK_MONOTONIC in nanoseconds: the clock key writes and capture reads are
// stamped on.
std::int64_t NowNs();

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Checks `done` every `step_ms` until it holds or `timeout_ms` have passed;
// whether it held.
template <class Predicate>
bool WaitUntil(Predicate done, int timeout_ms, int step_ms = 10) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepMs(step_ms);
  }
  return true;
}

// `s` as one word for sh.
std::string Quoted(const std::string& s);

// Changes to the inherited environment; an empty value unsets the variable.
using Env = std::map<std::string, std::string>;

// A child process, stopped and reaped when this goes out of scope, and killed
// by the kernel if its parent dies, so none outlives the caller. Its standard
// streams are /dev/null unless `in_child` (run between fork and exec, so
// async-signal-safe calls only) points them elsewhere.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const Env& env,
        const std::function<void()>& in_child = {});
  // A fork that runs `body` in place of a program and never returns from it.
  explicit Child(const std::function<void()>& body);
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The wait status (0 for a clean exit with status 0), or -1 while it runs.
  int Poll();
  int Wait();
  // SIGTERM, then SIGKILL if it has not gone within two seconds.
  int Stop();

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// For `in_child`: standard output and error to these descriptors.
std::function<void()> OutputTo(int out_fd, int err_fd);

// For `in_child`: the normal scheduling priority, for a child of a caller
// that raised its own.
void AtNormalPriority();

struct Finished {
  int status = 0;  // as from waitpid
  std::string out, err;
};

// Runs a program to its end and returns what it wrote on each stream.
Finished RunToEnd(const std::vector<std::string>& argv, const Env& env,
                  const std::function<void()>& in_child = {});

// A pseudo-terminal of `rows` x `cols`: `master` is the caller's end, `tty`
// the one a child gets (with OnTerminal). Both are closed on exec and with
// this; -1 where openpty failed.
class Pty {
 public:
  Pty(unsigned short rows, unsigned short cols);
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  int tty() const { return tty_; }
  // The caller's copy of the child's end, once the child has its own.
  void CloseTty();

 private:
  int master_ = -1, tty_ = -1;
};

// For `in_child`: `tty` becomes standard input, output and error and the
// controlling terminal, in a session of its own, as a shell does it.
void OnTerminal(int tty);

// Busy loops, one process each, until this goes out of scope; each runs
// `in_child` first.
class BusyLoops {
 public:
  explicit BusyLoops(int count, const std::function<void()>& in_child = {});

 private:
  std::vector<std::unique_ptr<Child>> loops_;
};

}  // namespace quibbet::test
