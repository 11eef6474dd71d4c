#include "console/terminal.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "console/escape_sequences.hpp"
#include "console/key_table.hpp"
#include "console/keys.hpp"

// terminfo through ncurses' low-level layer only: nothing here initialises
// curses or draws with it. term.h defines a macro for every capability name,
// so it comes last.
#include <term.h>

namespace quibbet {
namespace {

// How long the terminal gets to answer the keyboard protocol query. tmux,
// screen and the Linux console answer only the device-attributes query, and a
// terminal that answers neither must not hold up the start for long.
constexpr int kQueryTimeoutMs = 500;

// Everything the restore path needs lives in plain static storage, so a signal
// handler can put the terminal back using only async-signal-safe calls.
struct TerminalState {
  int in_fd = STDIN_FILENO;
  int out_fd = STDOUT_FILENO;
  bool input_is_tty = false;
  bool output_is_tty = false;
  termios saved{};  // the user's settings, restored on every way out
  termios raw{};
  bool key_release_mode = false;  // the kitty flags belong on the terminal while we run
  char clear[64] = {};
  std::size_t clear_bytes = 0;
  int wake_read = -1;  // signal handlers write a byte here to end a wait
  int wake_write = -1;
  volatile std::sig_atomic_t raw_active = 0;
  volatile std::sig_atomic_t kitty_active = 0;
  volatile std::sig_atomic_t cursor_hidden = 0;
};
TerminalState state;

volatile std::sig_atomic_t quit_signal = 0;

// The quit signals as they were before the program caught them, put back
// when the terminal is given back for good.
constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
struct sigaction quit_before[std::size(kQuitSignals)];
bool quit_caught[std::size(kQuitSignals)] = {};
volatile std::sig_atomic_t suspend_requested = 0;
volatile std::sig_atomic_t resumed = 0;

TerminfoKeys terminfo_keys;

// Input bytes on their way to becoming key events; set up by the Terminal.
std::optional<ByteKeyReader> key_bytes;

// write(2) until done or failed: a hung-up terminal just loses the bytes.
void WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

void WriteAll(int fd, const char* text) { WriteAll(fd, text, std::strlen(text)); }

long NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// After the kitty flags are popped, key events the terminal sent before it saw
// the pop may still be on their way. The terminal answers a device-attributes
// query in order, so once its reply (CSI ? ... c) is read nothing older is
// left to leak into the shell. Async-signal-safe; bounded in time.
void DrainUntilDeviceAttributes() {
  WriteAll(state.out_fd, esc::kDeviceAttributesQuery);
  const long deadline = NowMs() + kQueryTimeoutMs;
  int match = 0;  // 0 nothing, 1 ESC, 2 ESC [, 3 ESC [ ? and parameters
  for (;;) {
    const long left = deadline - NowMs();
    if (left <= 0) return;
    pollfd p{state.in_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    char bytes[256];
    const ssize_t n = ::read(state.in_fd, bytes, sizeof bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // hung up
    for (ssize_t i = 0; i < n; ++i) {
      const auto c = static_cast<std::uint8_t>(bytes[i]);
      if (c == esc::kEsc) {
        match = 1;
      } else if (match == 1) {
        match = c == esc::kCsi ? 2 : 0;
      } else if (match == 2) {
        match = c == esc::kReplyMarker ? 3 : 0;
      } else if (match == 3) {
        if (c == esc::kDeviceAttributesFinal) return;
        if (!((c >= '0' && c <= '9') || c == ';')) match = 0;
      }
    }
  }
}

// Async-signal-safe and idempotent: each piece is undone once, by whichever
// way out gets there first.
void RestoreNow() {
  const int saved_errno = errno;
  if (state.kitty_active) {
    state.kitty_active = 0;
    WriteAll(state.out_fd, esc::kKittyPop);
    WriteAll(state.out_fd, esc::kFocusReportsOff);
    DrainUntilDeviceAttributes();
  }
  if (state.cursor_hidden) {
    state.cursor_hidden = 0;
    WriteAll(state.out_fd, esc::kCursorShow);
  }
  if (state.raw_active) {
    state.raw_active = 0;
    // TCSAFLUSH also drops input nobody read, such as the rest of a key
    // sequence, so it does not reach the shell.
    ::tcsetattr(state.in_fd, TCSAFLUSH, &state.saved);
  }
  errno = saved_errno;
}

void Wake() {
  const int saved_errno = errno;
  if (state.wake_write >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(state.wake_write, &byte, 1);
  }
  errno = saved_errno;
}

void OnQuitSignal(int signal) {
  quit_signal = signal;
  Wake();
}

void OnSuspendSignal(int) {
  suspend_requested = 1;
  Wake();
}

void OnContinueSignal(int) {
  resumed = 1;
  Wake();
}

// SA_RESETHAND has already put the default action back: once the terminal is
// restored the raised signal ends the process as it would have (core dump).
void OnCrashSignal(int signal) {
  RestoreNow();
  ::raise(signal);
}

void OnExit() { RestoreNow(); }

void Handle(int signal, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;  // no SA_RESTART: a wait must end for the loop to look
  ::sigaction(signal, &action, nullptr);
}

void CatchQuit(int signal) {
  for (std::size_t i = 0; i < std::size(kQuitSignals); ++i) {
    if (kQuitSignals[i] != signal) continue;
    ::sigaction(signal, nullptr, &quit_before[i]);
    quit_caught[i] = true;
  }
  Handle(signal, OnQuitSignal, 0);
}

// `keep_typed`: keys typed before raw mode are the user's first keys and
// stay to be read. Coming back from a suspension they were typed at the
// shell, and are dropped.
void EnterRaw(bool keep_typed) {
  ::tcsetattr(state.in_fd, keep_typed ? TCSANOW : TCSAFLUSH, &state.raw);
  state.raw_active = 1;
  if (state.output_is_tty) {
    WriteAll(state.out_fd, esc::kCursorHide);
    state.cursor_hidden = 1;
  }
  if (state.key_release_mode) {
    WriteAll(state.out_fd, esc::kKittyPush);
    WriteAll(state.out_fd, esc::kFocusReportsOn);
    state.kitty_active = 1;
  }
}

// Control sequences may be sent and their answers read: both input and
// output are the terminal.
bool CanQuery() { return state.input_is_tty && state.output_is_tty; }

// Pushes the kitty keyboard flags and turns on focus reports; from here on
// every exit path pops them again.
void EnterKeyReleaseMode() {
  if (!CanQuery() || state.kitty_active) return;
  state.key_release_mode = true;
  WriteAll(state.out_fd, esc::kKittyPush);
  WriteAll(state.out_fd, esc::kFocusReportsOn);
  state.kitty_active = 1;
}

// Waits up to timeout_ms (negative: without limit) for input, then reads
// what is there. A signal for the loop ends the wait early.
ByteRead ReadInput(std::span<std::uint8_t> buffer, int timeout_ms) {
  pollfd fds[2] = {{state.in_fd, POLLIN, 0}, {state.wake_read, POLLIN, 0}};
  const int ready = ::poll(fds, state.wake_read >= 0 ? 2 : 1, timeout_ms);
  if (ready < 0) {
    return {errno == EINTR ? ByteRead::Status::Signal : ByteRead::Status::EndOfInput, 0};
  }
  if (ready == 0) return {ByteRead::Status::Timeout, 0};
  // Keys come first: the wake pipe may be readable on every pass (a device
  // that fails to open at each replay wakes the loop each time), and a key
  // left unread behind it would never be seen, its release and Escape
  // included. The wake byte stays in the pipe, so the loop still looks at
  // what woke it right after these keys. Only TakeSignals, which reads what
  // the handlers asked for, may take it out: emptied here, a signal caught
  // by a caller that does not ask (the keyboard query at start-up) would
  // leave the next wait blind to it.
  if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
    return {ByteRead::Status::Signal, 0};
  }
  const ssize_t n = ::read(state.in_fd, buffer.data(), buffer.size());
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return {ByteRead::Status::Signal, 0};
  if (n <= 0) return {ByteRead::Status::EndOfInput, 0};
  return {ByteRead::Status::Bytes, static_cast<std::size_t>(n)};
}

termios RawSettings(termios t) {
  // Input: no break signal, no CR-to-NL, no parity check, no eighth-bit strip,
  // no XON/XOFF, so every key byte reaches the program unchanged.
  t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
  // Output processing stays on: "\n" still moves to the start of the next line
  // for the screen and the "Tone" line.
  // Characters are 8 bits.
  t.c_cflag |= CS8;
  // No echo, no line editing, no Ctrl-V; Ctrl-C and Ctrl-Z arrive as keys so
  // the program can leave or stop with the terminal put back.
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
  // read() returns as soon as one byte is there; waiting is done with poll().
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return t;
}

// The terminfo string without its "$<...>" padding delays, or "" if absent.
std::string Capability(const char* name) {
  const char* value = tigetstr(const_cast<char*>(name));
  if (value == nullptr || value == reinterpret_cast<const char*>(-1)) return {};
  std::string out;
  for (const char* c = value; *c != '\0'; ++c) {
    if (c[0] == '$' && c[1] == '<') {
      const char* end = std::strchr(c, '>');
      if (end != nullptr) {
        c = end;
        continue;
      }
    }
    out += *c;
  }
  return out;
}

void LoadTerminfo(int fd) {
  int error = 0;
  if (setupterm(nullptr, fd, &error) != 0) return;  // 0 is curses' OK
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    if (kKeyTable[k].terminfo != nullptr)
      terminfo_keys.sequence[k] = Capability(kKeyTable[k].terminfo);
  }
  const std::string clear = Capability("clear");
  if (!clear.empty() && clear.size() < sizeof state.clear) {
    std::memcpy(state.clear, clear.data(), clear.size());
    state.clear_bytes = clear.size();
  }
}

}  // namespace

bool ScreenClears() {
  static const bool to_terminal = ::isatty(STDOUT_FILENO) == 1;
  return to_terminal;
}

void WriteScreen(std::string_view text) {
  std::fflush(stdout);  // anything printed before stays before the screen
  std::string out;
  if (ScreenClears()) {
    if (state.clear_bytes > 0) {
      out.append(state.clear, state.clear_bytes);
    } else {
      out += esc::kClearScreen;
    }
  }
  out += text;
  WriteAll(STDOUT_FILENO, out.data(), out.size());
}

Terminal::Terminal() {
  state.input_is_tty = ::isatty(state.in_fd) == 1;
  state.output_is_tty = ::isatty(state.out_fd) == 1;

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
    state.wake_read = wake[0];
    state.wake_write = wake[1];
  }
  // Installed in every mode, and before the audio library starts, which takes
  // SIGINT and SIGTERM for itself when they still have their default action.
  CatchQuit(SIGINT);
  CatchQuit(SIGTERM);
  CatchQuit(SIGHUP);

  if (state.output_is_tty || state.input_is_tty) {
    LoadTerminfo(state.output_is_tty ? state.out_fd : state.in_fd);
  }
  if (state.input_is_tty && ::tcgetattr(state.in_fd, &state.saved) != 0) {
    state.input_is_tty = false;
  }
  key_bytes.emplace(terminfo_keys, state.input_is_tty);
  if (!state.input_is_tty) return;
  state.raw = RawSettings(state.saved);
  std::atexit(OnExit);
  Handle(SIGTSTP, OnSuspendSignal, 0);
  Handle(SIGCONT, OnContinueSignal, 0);
  // A reader of our output that went away (quibbet | head) ends the program
  // as it would have, but only after the terminal we read keys from is back.
  CatchQuit(SIGPIPE);
  for (int crash : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGQUIT}) {
    Handle(crash, OnCrashSignal, SA_RESETHAND);
  }
  EnterRaw(/*keep_typed=*/true);
}

Terminal::~Terminal() {
  Restore();
  // Past the loop nothing would look at a caught quit signal, so they get
  // their own action back. Blocked meanwhile: one that came before is in
  // quit_signal and ends the process here, one that comes after acts itself.
  sigset_t quit, before;
  sigemptyset(&quit);
  for (int signal : kQuitSignals) sigaddset(&quit, signal);
  ::pthread_sigmask(SIG_BLOCK, &quit, &before);
  for (std::size_t i = 0; i < std::size(kQuitSignals); ++i) {
    if (quit_caught[i]) ::sigaction(kQuitSignals[i], &quit_before[i], nullptr);
  }
  if (quit_signal != 0) DieBy(quit_signal);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

KeySource Terminal::DetectKeySource() {
  if (CanQuery()) {
    WriteAll(state.out_fd, esc::kKeyboardProtocolQuery);
    WriteAll(state.out_fd, esc::kDeviceAttributesQuery);
    // Keys typed meanwhile are kept for ReadKeys.
    const long deadline = NowMs() + kQueryTimeoutMs;
    std::optional<bool> kitty;
    while (!(kitty = key_bytes->QueryAnswer())) {
      const long left = deadline - NowMs();
      if (left <= 0) break;
      std::uint8_t bytes[1024];
      const ByteRead read = ReadInput(bytes, static_cast<int>(left));
      key_bytes->Feed(read, std::span(bytes, read.bytes));
      if (read.status == ByteRead::Status::EndOfInput || read.status == ByteRead::Status::Signal) {
        break;
      }
    }
    if (kitty.value_or(false)) {
      EnterKeyReleaseMode();
      return KeySource::ReleasingTerminal;
    }
  }
  return state.input_is_tty ? KeySource::LegacyTerminal : KeySource::Script;
}

void Terminal::ReadKeys(std::vector<KeyEvent>& events, std::size_t room, int timeout_ms) {
  for (std::optional<int> wait = key_bytes->Begin(events, room, timeout_ms); wait;) {
    std::uint8_t bytes[1024];
    static_assert(sizeof bytes >= kMaxSequenceBytes);
    const ByteRead read = ReadInput(bytes, *wait);
    if (read.status == ByteRead::Status::Signal) return;
    wait = key_bytes->Take(read, std::span(bytes, read.bytes), events, room);
  }
}

SignalRequests Terminal::TakeSignals() const {
  // Empty the pipe before reading the flags: a signal that comes after this
  // leaves a byte behind, so the next wait ends at once and reads its flag.
  char drop[64];
  while (state.wake_read >= 0 && ::read(state.wake_read, drop, sizeof drop) > 0) {
  }
  SignalRequests requests;
  requests.quit_signal = quit_signal;
  requests.suspend = suspend_requested != 0;
  requests.resumed = resumed != 0;
  suspend_requested = 0;
  resumed = 0;
  // A SIGSTOP cannot be caught, so the shell may have changed the settings
  // while the program was stopped without our knowing: set raw mode again.
  if (requests.resumed && state.raw_active) ::tcsetattr(state.in_fd, TCSANOW, &state.raw);
  return requests;
}

void Terminal::Suspend(StopScope scope) {
  if (!state.input_is_tty) return;
  RestoreNow();
  Handle(SIGTSTP, SIG_DFL, 0);
  // Raw mode turned the terminal's own Ctrl-Z off, so it is done here as the
  // terminal does it: to the whole process group. Stopping only this process
  // would leave a parent that waits for it (make run, a script) in the
  // foreground, and the shell would never get the terminal back.
  if (scope == StopScope::ProcessGroup) {
    ::kill(0, SIGTSTP);
  } else {
    ::raise(SIGTSTP);
  }
  // Stopped until the shell continues the job.
  Handle(SIGTSTP, OnSuspendSignal, 0);
  EnterRaw(/*keep_typed=*/false);
  resumed = 0;  // the caller redraws; the SIGCONT that woke us needs no more
}

void Terminal::Restore() { RestoreNow(); }

void Terminal::Wake() { quibbet::Wake(); }

void Terminal::DieBy(int signal) {
  RestoreNow();
  Handle(signal, SIG_DFL, 0);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
  ::raise(signal);
  std::_Exit(128 + signal);  // only if the signal was ignored from outside
}

}  // namespace quibbet
