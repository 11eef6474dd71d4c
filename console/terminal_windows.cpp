// The Windows console as the program's key source and screen.
//
// Console input records carry what the kitty keyboard protocol carries on a
// terminal: a key-down, repeats while it is held, and a key-up, plus focus
// changes. They are handed on in that protocol's byte form, so the one key
// decoder serves both platforms, and the protocol query is answered as such
// a terminal answers it. When standard input is a pipe or a file, its bytes
// are a key script as on any other platform, and its end quits.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "console/terminal.hpp"

namespace quibbet {
namespace {

// The answers a terminal with key releases gives to the two queries sent at
// start-up: its keyboard flags, then its device attributes.
constexpr char kKeyboardProtocolQuery[] = "\x1b[?u";
constexpr char kDeviceAttributesQuery[] = "\x1b[c";
constexpr char kKeyboardFlagsReply[] = "\x1b[?11u";
constexpr char kDeviceAttributesReply[] = "\x1b[?62c";

constexpr char kClearScreen[] = "\x1b[H\x1b[2J";
constexpr char kFocusIn[] = "\x1b[I";
constexpr char kFocusOut[] = "\x1b[O";

// Kitty's modifier bits (the field is sent as 1 + their sum) and event types.
constexpr unsigned kModShift = 1, kModAlt = 2, kModCtrl = 4;
constexpr int kEventPress = 1, kEventRepeat = 2, kEventRelease = 3;

// Exit status of a console program ended by Ctrl-C or Ctrl-Break.
constexpr UINT kControlCExit = 0xC000013A;

struct ConsoleState {
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
  bool input_is_console = false;
  bool output_is_console = false;
  bool vt_output = false;  // the console accepted ENABLE_VIRTUAL_TERMINAL_PROCESSING
  DWORD saved_in_mode = 0;
  DWORD saved_out_mode = 0;
  CONSOLE_CURSOR_INFO saved_cursor{};
  bool cursor_saved = false;
  HANDLE wake = nullptr;  // set when a console control event needs the loop
  std::atomic<bool> modes_changed{false};
};
ConsoleState state;

std::atomic<int> quit_signal{0};

// The keys' held state as this layer has seen it, to tell a first key-down
// from the repeats that follow while the key stays down.
bool key_down[256] = {};

// Replies to queries, waiting to be read as if the console had sent them.
std::string replies;

// Puts the console modes and the cursor back. Runs on the main thread or on
// the control handler's thread; the exchange makes it happen once.
void RestoreNow() {
  if (!state.modes_changed.exchange(false)) return;
  if (state.input_is_console) SetConsoleMode(state.in, state.saved_in_mode);
  if (state.output_is_console) {
    SetConsoleMode(state.out, state.saved_out_mode);
    if (state.cursor_saved) SetConsoleCursorInfo(state.out, &state.saved_cursor);
  }
}

void OnExit() { RestoreNow(); }

// Runs on a thread of its own. Ctrl-C (with a script on standard input),
// Ctrl-Break and closing the window all end the program the way a signal
// does on other platforms: the loop stops the sound and leaves with the
// console put back. Windows ends the process once this returns from a close
// event, so it waits for the loop, which ends the process itself first.
BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      quit_signal = SIGINT;
      SetEvent(state.wake);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      quit_signal = SIGTERM;
      SetEvent(state.wake);
      RestoreNow();
      Sleep(4000);  // Windows allows about five seconds
      return TRUE;
    default:
      return FALSE;
  }
}

// ---- Key records as kitty protocol bytes ----

// The program's keys by virtual-key code, with the code the kitty protocol
// gives them; F5, F7 and F8 use the legacy numbers with a '~'.
struct KeyCode {
  unsigned number;
  char final_byte;
};

bool CodeFor(WORD vk, KeyCode& code) {
  if (vk == VK_ESCAPE) code = {27, 'u'};
  else if (vk == VK_SPACE) code = {' ', 'u'};
  else if (vk >= '0' && vk <= '9') code = {vk, 'u'};
  else if (vk >= 'A' && vk <= 'Z') code = {static_cast<unsigned>(vk - 'A' + 'a'), 'u'};
  else if (vk == VK_F5) code = {15, '~'};
  else if (vk == VK_F7) code = {18, '~'};
  else if (vk == VK_F8) code = {19, '~'};
  else return false;
  return true;
}

unsigned Modifiers(DWORD control) {
  unsigned mods = 0;
  if (control & SHIFT_PRESSED) mods |= kModShift;
  if (control & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) mods |= kModAlt;
  if (control & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) mods |= kModCtrl;
  return mods;
}

void AppendKey(std::string& out, const KEY_EVENT_RECORD& key) {
  KeyCode code{};
  if (!CodeFor(key.wVirtualKeyCode, code)) return;
  bool& down = key_down[key.wVirtualKeyCode & 0xFF];
  int event = kEventRelease;
  if (key.bKeyDown) {
    event = down ? kEventRepeat : kEventPress;
    down = true;
  } else {
    down = false;
  }
  char bytes[48];
  const int n = std::snprintf(bytes, sizeof bytes, "\x1b[%u;%u:%d%c", code.number,
                              1 + Modifiers(key.dwControlKeyState), event, code.final_byte);
  out.append(bytes, static_cast<std::size_t>(n));
}

void AppendRecord(std::string& out, const INPUT_RECORD& record) {
  if (record.EventType == KEY_EVENT) {
    AppendKey(out, record.Event.KeyEvent);
  } else if (record.EventType == FOCUS_EVENT) {
    if (record.Event.FocusEvent.bSetFocus) {
      out += kFocusIn;
    } else {
      // Keys let go in another window send their key-up there.
      std::memset(key_down, 0, sizeof key_down);
      out += kFocusOut;
    }
  }
}

// ---- A script on standard input ----

// A pipe cannot be waited on together with an event, so a thread reads it
// and hands the bytes over. Bounded, so a long file is read as it is used.
class ScriptReader {
 public:
  static constexpr std::size_t kMaxBuffered = 64 * 1024;

  void Start(HANDLE in) {
    data_ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread([this, in] { Run(in); }).detach();
  }

  HANDLE data_ready() const { return data_ready_; }

  // Moves up to `max` buffered bytes out; `ended` once nothing more will come.
  std::size_t Take(std::uint8_t* to, std::size_t max, bool& ended) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    while (n < max && !bytes_.empty()) {
      to[n++] = bytes_.front();
      bytes_.pop_front();
    }
    ended = bytes_.empty() && ended_;
    if (bytes_.empty() && !ended_) ResetEvent(data_ready_);
    room_.notify_one();
    return n;
  }

 private:
  void Run(HANDLE in) {
    for (;;) {
      char chunk[4096];
      DWORD got = 0;
      // The end of input looks different by source: a pipe from another
      // Windows program fails with ERROR_BROKEN_PIPE, while a file (and a
      // pipe from a program outside wine) reads 0 bytes with success.
      const BOOL ok = ReadFile(in, chunk, sizeof chunk, &got, nullptr);
      std::unique_lock<std::mutex> lock(mutex_);
      if (!ok || got == 0) {
        ended_ = true;
        SetEvent(data_ready_);
        return;
      }
      bytes_.insert(bytes_.end(), chunk, chunk + got);
      SetEvent(data_ready_);
      room_.wait(lock, [this] { return bytes_.size() < kMaxBuffered; });
    }
  }

  HANDLE data_ready_ = nullptr;
  std::mutex mutex_;
  std::condition_variable room_;
  std::deque<std::uint8_t> bytes_;
  bool ended_ = false;
};
ScriptReader script;

void WriteAll(HANDLE out, const char* bytes, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(out, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
    bytes += written;
    size -= written;
  }
}

// Blank the whole buffer with the console API, for consoles without VT output.
void ClearWithConsoleApi() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(state.out, &info)) return;
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  DWORD done = 0;
  const COORD origin{0, 0};
  FillConsoleOutputCharacterW(state.out, L' ', cells, origin, &done);
  FillConsoleOutputAttribute(state.out, info.wAttributes, cells, origin, &done);
  SetConsoleCursorPosition(state.out, origin);
}

long long NowMs() { return static_cast<long long>(GetTickCount64()); }

}  // namespace

bool OpenStandardStreams() {
  // A program started without standard handles (a GUI launcher, a service)
  // gets null ones. NUL takes their place, so that the C runtime's streams
  // work: reading keys ends at once, and output goes nowhere.
  struct Stream {
    DWORD id;
    std::FILE* file;
    const char* mode;
    const char* name;
  };
  const Stream streams[] = {{STD_INPUT_HANDLE, stdin, "rb", "standard input"},
                            {STD_OUTPUT_HANDLE, stdout, "wb", "standard output"},
                            {STD_ERROR_HANDLE, stderr, "wb", "standard error"}};
  for (const Stream& s : streams) {
    const HANDLE handle = GetStdHandle(s.id);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    if (std::freopen("NUL", s.mode, s.file) == nullptr) {
      std::fprintf(stderr, "quibbet: %s is closed and NUL cannot be opened in its place\n",
                   s.name);
      return false;
    }
    SetStdHandle(s.id, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(s.file))));
  }
  return true;
}

bool ScreenClears() { return state.output_is_console; }

void WriteScreen(std::string_view text) {
  std::fflush(stdout);  // anything printed before stays before the screen
  std::string out;
  if (ScreenClears()) {
    if (state.vt_output) {
      out += kClearScreen;
    } else {
      ClearWithConsoleApi();
    }
  }
  out += text;
  WriteAll(state.out, out.data(), out.size());
}

Terminal::Terminal() {
  // The C runtime would turn "\n" into "\r\n" in pipes and files; the
  // program's text is the same bytes on every platform.
  _setmode(_fileno(stdout), _O_BINARY);

  state.in = GetStdHandle(STD_INPUT_HANDLE);
  state.out = GetStdHandle(STD_OUTPUT_HANDLE);
  state.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state.input_is_console = GetConsoleMode(state.in, &state.saved_in_mode) != 0;
  state.output_is_console = GetConsoleMode(state.out, &state.saved_out_mode) != 0;
  SetConsoleCtrlHandler(OnControl, TRUE);
  std::atexit(OnExit);

  if (state.output_is_console) {
    // Processed output: "\n" starts a new line. VT processing, where the
    // console has it, lets the clear travel in the screen's one write.
    state.vt_output =
        SetConsoleMode(state.out, state.saved_out_mode | ENABLE_PROCESSED_OUTPUT |
                                      ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    if (GetConsoleCursorInfo(state.out, &state.saved_cursor)) {
      state.cursor_saved = true;
      CONSOLE_CURSOR_INFO hidden = state.saved_cursor;
      hidden.bVisible = FALSE;
      SetConsoleCursorInfo(state.out, &hidden);
    }
    state.modes_changed = true;
  }
  if (state.input_is_console) {
    // Records, not lines: no line editing, no echo, and Ctrl-C arrives as a
    // key (which quits like Escape) instead of as a control event. Extended
    // flags without quick-edit: a mouse click must not pause the program.
    SetConsoleMode(state.in, ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS);
    state.modes_changed = true;
  } else {
    script.Start(state.in);
  }
}

Terminal::~Terminal() { Restore(); }

bool Terminal::raw() const { return state.input_is_console; }

bool Terminal::can_query() const { return state.input_is_console; }

void Terminal::Send(std::string_view bytes) const {
  if (!can_query()) return;
  if (bytes == kKeyboardProtocolQuery) replies += kKeyboardFlagsReply;
  if (bytes == kDeviceAttributesQuery) replies += kDeviceAttributesReply;
}

ReadResult Terminal::Read(std::span<std::uint8_t> buffer, int timeout_ms) const {
  if (!replies.empty()) {
    const std::size_t n = std::min(buffer.size(), replies.size());
    std::memcpy(buffer.data(), replies.data(), n);
    replies.erase(0, n);
    return {ReadResult::Status::Bytes, n};
  }
  const long long deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
  const HANDLE source = state.input_is_console ? state.in : script.data_ready();
  for (;;) {
    DWORD wait = INFINITE;
    if (deadline >= 0) {
      const long long left = deadline - NowMs();
      wait = left > 0 ? static_cast<DWORD>(left) : 0;
    }
    const HANDLE handles[2] = {state.wake, source};
    const DWORD ready = WaitForMultipleObjects(2, handles, FALSE, wait);
    // The event stays set: only TakeSignals, which reads what the handler
    // asked for, may reset it, so no caller can swallow a request.
    if (ready == WAIT_OBJECT_0) return {ReadResult::Status::Signal, 0};
    if (ready == WAIT_TIMEOUT) return {ReadResult::Status::Timeout, 0};
    if (ready != WAIT_OBJECT_0 + 1) return {ReadResult::Status::EndOfInput, 0};

    if (!state.input_is_console) {
      bool ended = false;
      const std::size_t n = script.Take(buffer.data(), buffer.size(), ended);
      if (n > 0) return {ReadResult::Status::Bytes, n};
      if (ended) return {ReadResult::Status::EndOfInput, 0};
      continue;
    }

    // The longest translation of one record is well under 32 bytes.
    INPUT_RECORD records[32];
    const DWORD room = static_cast<DWORD>(std::min<std::size_t>(buffer.size() / 32, 32));
    DWORD got = 0;
    if (room == 0 || !ReadConsoleInputW(state.in, records, room, &got)) {
      return {ReadResult::Status::EndOfInput, 0};
    }
    std::string bytes;
    for (DWORD i = 0; i < got; ++i) AppendRecord(bytes, records[i]);
    if (bytes.empty()) continue;  // mouse, resize and other keys: wait on
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    return {ReadResult::Status::Bytes, bytes.size()};
  }
}

// Function keys come as kitty sequences, whatever the console.
TerminfoKeys Terminal::FunctionKeys() const { return {}; }

// Console input always reports releases; there is nothing to switch on.
void Terminal::EnterKeyReleaseMode() {}

SignalRequests Terminal::TakeSignals() const {
  // Reset before reading the flag: a request that comes after this sets the
  // event again, and the next wait ends at once.
  ResetEvent(state.wake);
  SignalRequests requests;
  requests.quit_signal = quit_signal;
  return requests;
}

// A Windows console has no job control.
void Terminal::Suspend(StopScope) {}

void Terminal::Restore() { RestoreNow(); }

void Terminal::Wake() { SetEvent(state.wake); }

void Terminal::DieBy(int) {
  RestoreNow();
  std::fflush(stdout);
  ExitProcess(kControlCExit);
}

}  // namespace quibbet
