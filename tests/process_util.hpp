// Child processes for the tests that run programs: a changed environment,
// waits with a deadline, and no process left behind whatever the test does.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_util.hpp"

extern char** environ;

namespace quibbet::test {

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
inline std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Changes to the inherited environment; an empty value unsets the variable.
using Env = std::map<std::string, std::string>;

// A child process, stopped and reaped when this goes out of scope, and killed
// by the kernel if the test itself dies, so none outlives the test. Its
// standard streams are /dev/null unless `in_child` (run between fork and
// exec, so async-signal-safe calls only) points them elsewhere.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const Env& env,
        const std::function<void()>& in_child = {}) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string s = *e;
      if (!env.contains(s.substr(0, s.find('=')))) env_strings.push_back(s);
    }
    for (const auto& [key, value] : env)
      if (!value.empty()) env_strings.push_back(key + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env_strings) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      const int null_fd = ::open("/dev/null", O_RDWR);
      for (int fd = 0; fd <= 2; ++fd) ::dup2(null_fd, fd);
      if (in_child) in_child();
      ::execvpe(args[0], args.data(), envp.data());
      ::_exit(127);
    }
  }
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The wait status (0 for a clean exit with status 0), or -1 while it runs.
  int Poll() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0 ? -1 : status_;
  }

  int Wait() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, 0) == pid_) pid_ = -1;
    return status_;
  }

  // SIGTERM, then SIGKILL if it has not gone within two seconds.
  int Stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    if (!WaitUntil([this] { return Poll() >= 0; }, 2000)) ::kill(pid_, SIGKILL);
    return Wait();
  }

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// For `in_child`: standard output and error to these descriptors.
inline std::function<void()> OutputTo(int out_fd, int err_fd) {
  return [=] {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
  };
}

struct Finished {
  int status = 0;  // as from waitpid
  std::string out, err;
};

// Runs a program to its end and returns what it wrote on each stream.
inline Finished RunToEnd(const std::vector<std::string>& argv, const Env& env) {
  TempDir dir;
  const int out_fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const int err_fd = ::open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  Finished f;
  f.status = Child(argv, env, OutputTo(out_fd, err_fd)).Wait();
  ::close(out_fd);
  ::close(err_fd);
  f.out = ReadFile(dir / "out");
  f.err = ReadFile(dir / "err");
  return f;
}

}  // namespace quibbet::test
