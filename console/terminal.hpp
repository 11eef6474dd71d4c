// The one place that talks to the terminal: modes, control sequences, key
// input and the signals that concern them. Nothing else touches a tty. Keys
// leave it as events, never as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "console/key_event.hpp"

namespace quibbet {

// Writes the screen text to standard output in one write. On a terminal the
// clear sequence goes in front of it; anywhere else the text goes out as it is.
void WriteScreen(std::string_view text);

// True when WriteScreen blanks the display first, wiping what was printed before.
bool ScreenClears();

// What signals asked of the loop since the last call.
struct SignalRequests {
  int quit_signal = 0;   // SIGINT, SIGTERM, SIGHUP or SIGPIPE: leave, then die by it
  bool suspend = false;  // SIGTSTP sent from outside
  bool resumed = false;  // SIGCONT: the program was stopped and runs again
};

// Standard input as the program's key source. When it is a terminal the
// constructor saves its settings and enters raw mode; every way out of the
// process (destructor, exit, fatal signals) puts the terminal back exactly.
// When it is not a terminal no terminal mode is touched.
class Terminal {
 public:
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Where the keys will come from. A terminal is asked whether it speaks the
  // kitty keyboard protocol (bounded in time) and, if so, the protocol is
  // turned on; from then on every exit path turns it off again. Keys typed
  // while waiting for the answer are kept for ReadKeys. Called once, first.
  KeySource DetectKeySource();

  // Waits up to timeout_ms (negative: without limit) for input and appends
  // the key events it brings to `events`, with at most `room` presses and
  // repeats; input beyond that waits unread. A Suspend is always the last
  // event. A signal for the loop ends the wait early (see TakeSignals).
  void ReadKeys(std::vector<KeyEvent>& events, std::size_t room, int timeout_ms);

  SignalRequests TakeSignals() const;

  // Ends the current or next wait in ReadKeys as a signal does, from any thread
  // (or signal handler); TakeSignals then reports nothing new.
  static void Wake();

  // Who stops on a suspend: the whole process group, as the terminal's own
  // Ctrl-Z would stop it, or only this process, for a SIGTSTP sent to it alone.
  enum class StopScope : std::uint8_t { ProcessGroup, Process };

  // Ctrl-Z: puts the terminal back as it was and stops; when the shell
  // continues the job, raw mode (and the kitty flags) come back.
  void Suspend(StopScope scope);

  // Puts the terminal back now; after this the object only reads keys.
  void Restore();

  // Ends the process by `signal` with its default action, as if the program
  // had not caught it, after the terminal was put back.
  [[noreturn]] static void DieBy(int signal);
};

}  // namespace quibbet
