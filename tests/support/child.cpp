#include "support/child.hpp"
#include "support/time_limits.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utmp.h>

#include <cerrno>

#include "support/files.hpp"

extern char** environ;

namespace quibbet::test {

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

namespace {

// Forks a child that dies with this process; 0 in the child.
pid_t ForkBound() {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the parent died before the line above
  }
  return pid;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const Env& env,
             const std::function<void()>& in_child) {
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

  pid_ = ForkBound();
  if (pid_ == 0) {
    const int null_fd = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null_fd, fd);
    if (in_child) in_child();
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
}

Child::Child(const std::function<void()>& body) {
  pid_ = ForkBound();
  if (pid_ == 0) {
    body();
    ::_exit(0);
  }
}

int Child::Poll() {
  if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
  return pid_ > 0 ? -1 : status_;
}

int Child::Wait() {
  if (pid_ <= 0) return status_;
  pid_t got;
  while ((got = ::waitpid(pid_, &status_, 0)) < 0 && errno == EINTR) {
  }
  if (got == pid_) pid_ = -1;
  return status_;
}

int Child::Stop() {
  if (pid_ <= 0) return status_;
  ::kill(pid_, SIGTERM);
  if (!WaitUntil([this] { return Poll() >= 0; }, ScaledMs(2000))) ::kill(pid_, SIGKILL);
  return Wait();
}

std::function<void()> OutputTo(int out_fd, int err_fd) {
  return [=] {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
  };
}

void AtNormalPriority() { ::setpriority(PRIO_PROCESS, 0, 0); }

Finished RunToEnd(const std::vector<std::string>& argv, const Env& env,
                  const std::function<void()>& in_child) {
  TempDir dir;
  const int out_fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const int err_fd = ::open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  Finished f;
  const auto redirect = OutputTo(out_fd, err_fd);
  f.status = Child(argv, env, [&] {
               redirect();
               if (in_child) in_child();
             }).Wait();
  ::close(out_fd);
  ::close(err_fd);
  f.out = ReadFile(dir / "out");
  f.err = ReadFile(dir / "err");
  return f;
}

Pty::Pty(unsigned short rows, unsigned short cols) {
  winsize size{};
  size.ws_row = rows;
  size.ws_col = cols;
  if (::openpty(&master_, &tty_, nullptr, nullptr, &size) != 0) {
    master_ = tty_ = -1;
    return;
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(tty_, F_SETFD, FD_CLOEXEC);
}

Pty::~Pty() {
  CloseTty();
  if (master_ >= 0) ::close(master_);
}

void Pty::CloseTty() {
  if (tty_ >= 0) ::close(tty_);
  tty_ = -1;
}

void OnTerminal(int tty) { ::login_tty(tty); }

BusyLoops::BusyLoops(int count, const std::function<void()>& in_child) {
  for (int i = 0; i < count; ++i)
    loops_.push_back(std::make_unique<Child>([&] {
      if (in_child) in_child();
      for (;;) asm volatile("");
    }));
}

}  // namespace quibbet::test
