// The Windows console as the program's key source and screen.
//
// Console input records become key events directly (console/console_records),
// with presses, repeats and releases as a terminal with releases reports them;
// no terminal is asked anything. When standard input is a pipe or a file, its
// bytes are a key script as on any other platform, and its end quits.
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
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console_records.hpp"
#include "console/escape_sequences.hpp"
#include "console/key_table.hpp"
#include "console/keys.hpp"
#include "console/terminal.hpp"

namespace quibbet {
namespace {

// The translation of records and the key table are written without
// <windows.h>; their codes must be the system's. Each row's code is checked
// by the key's name: F1 to F24 follow VK_F1, and letters and digits are their
// own (upper-case) ASCII codes.
constexpr bool VirtualKeysAreTheSystems() {
  for (const KeyRow& row : kKeyTable) {
    const std::string_view name = row.name;
    int code = -1;
    if (name == "Escape") {
      code = VK_ESCAPE;
    } else if (name == "Space") {
      code = VK_SPACE;
    } else if (name.size() == 1 &&
               ((name[0] >= '0' && name[0] <= '9') || (name[0] >= 'A' && name[0] <= 'Z'))) {
      code = name[0];
    } else if (name.size() >= 2 && name[0] == 'F') {
      int n = 0;
      for (const char c : name.substr(1)) n = n * 10 + (c - '0');
      code = VK_F1 + n - 1;
    }
    if (row.virtual_key != code) return false;
  }
  return true;
}
static_assert(VirtualKeysAreTheSystems(),
              "a key's virtual-key code in the key table is not the system's");
static_assert(vk::kRightAlt == RIGHT_ALT_PRESSED && vk::kLeftAlt == LEFT_ALT_PRESSED);
static_assert(vk::kRightCtrl == RIGHT_CTRL_PRESSED && vk::kLeftCtrl == LEFT_CTRL_PRESSED);

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

ConsoleKeyTranslator console_keys;
bool console_ended = false;  // reading the console failed: the end of input
bool end_sent = false;

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

ConsoleRecord FromInputRecord(const INPUT_RECORD& record) {
  ConsoleRecord out;
  if (record.EventType == KEY_EVENT) {
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    out.type = ConsoleRecord::Type::Key;
    out.key_down = key.bKeyDown != FALSE;
    out.virtual_key = key.wVirtualKeyCode;
    out.control_keys = key.dwControlKeyState;
  } else if (record.EventType == FOCUS_EVENT) {
    out.type = record.Event.FocusEvent.bSetFocus ? ConsoleRecord::Type::FocusGained
                                                 : ConsoleRecord::Type::FocusLost;
  }
  return out;
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

// Key events from the script's bytes; set up by the Terminal.
std::optional<ByteKeyReader> script_keys;

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

// Waits up to timeout_ms (negative: without limit) for `source` or the wake
// event. WAIT_OBJECT_0 + 1 means the source is ready.
DWORD WaitFor(HANDLE source, long long deadline) {
  DWORD wait = INFINITE;
  if (deadline >= 0) {
    const long long left = deadline - NowMs();
    wait = left > 0 ? static_cast<DWORD>(left) : 0;
  }
  const HANDLE handles[2] = {state.wake, source};
  return WaitForMultipleObjects(2, handles, FALSE, wait);
}

// Waits up to timeout_ms (negative: without limit) for the script's bytes.
ByteRead ReadScript(std::span<std::uint8_t> buffer, int timeout_ms) {
  const long long deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
  for (;;) {
    const DWORD ready = WaitFor(script.data_ready(), deadline);
    // The event stays set: only TakeSignals, which reads what the handler
    // asked for, may reset it, so no caller can swallow a request.
    if (ready == WAIT_OBJECT_0) return {ByteRead::Status::Signal, 0};
    if (ready == WAIT_TIMEOUT) return {ByteRead::Status::Timeout, 0};
    if (ready != WAIT_OBJECT_0 + 1) return {ByteRead::Status::EndOfInput, 0};
    bool ended = false;
    const std::size_t n = script.Take(buffer.data(), buffer.size(), ended);
    if (n > 0) return {ByteRead::Status::Bytes, n};
    if (ended) return {ByteRead::Status::EndOfInput, 0};
  }
}

// Key events from the console's records: waits up to timeout_ms for one
// batch of records that means something to the program.
void ReadConsoleKeys(std::vector<KeyEvent>& events, int timeout_ms) {
  if (console_ended) {
    // The end of input comes as one last press of the key that quits, as
    // from a script.
    if (!end_sent) events.push_back({.kind = KeyEvent::Kind::Key, .key = kQuitKey});
    end_sent = true;
    return;
  }
  const long long deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
  for (;;) {
    const DWORD ready = WaitFor(state.in, deadline);
    // As for a script: only TakeSignals resets the event.
    if (ready == WAIT_OBJECT_0 || ready == WAIT_TIMEOUT) return;
    INPUT_RECORD records[32];
    DWORD got = 0;
    if (ready != WAIT_OBJECT_0 + 1 || !ReadConsoleInputW(state.in, records, 32, &got)) {
      console_ended = true;
      ReadConsoleKeys(events, 0);
      return;
    }
    const std::size_t before = events.size();
    for (DWORD i = 0; i < got; ++i) {
      const std::optional<KeyEvent> event = console_keys.Translate(FromInputRecord(records[i]));
      if (!event) continue;
      events.push_back(*event);
      // What was typed after Ctrl-Z is dropped, as a terminal drops it.
      if (event->kind == KeyEvent::Kind::Suspend) break;
    }
    if (events.size() != before) return;
    // Mouse, resize, focus gained and other keys: wait on.
  }
}

}  // namespace

bool ScreenClears() { return state.output_is_console; }

void WriteScreen(std::string_view text) {
  std::fflush(stdout);  // anything printed before stays before the screen
  std::string out;
  if (ScreenClears()) {
    if (state.vt_output) {
      out += esc::kClearScreen;
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
    state.vt_output = SetConsoleMode(state.out, state.saved_out_mode | ENABLE_PROCESSED_OUTPUT |
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
    script_keys.emplace(TerminfoKeys{}, false);
  }
}

Terminal::~Terminal() { Restore(); }

// Console input always reports releases; there is nothing to ask or turn on.
KeySource Terminal::DetectKeySource() {
  return state.input_is_console ? KeySource::ReleasingTerminal : KeySource::Script;
}

// The console reports releases, so its keys never wait for room in a queue.
void Terminal::ReadKeys(std::vector<KeyEvent>& events, std::size_t room, int timeout_ms) {
  if (state.input_is_console) {
    ReadConsoleKeys(events, timeout_ms);
    return;
  }
  for (std::optional<int> wait = script_keys->Begin(events, room, timeout_ms); wait;) {
    std::uint8_t bytes[1024];
    const ByteRead read = ReadScript(bytes, *wait);
    if (read.status == ByteRead::Status::Signal) return;
    wait = script_keys->Take(read, std::span(bytes, read.bytes), events, room);
  }
}

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
