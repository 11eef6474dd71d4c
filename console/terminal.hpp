// The one place that talks to the terminal: modes, control sequences, input
// bytes and the signals that concern them. Nothing else touches a tty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "console/keys.hpp"

namespace quibbet {

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, as some
// launchers leave them. Otherwise the next file or pipe the program opens
// takes that number, and the program reads its own pipe as its keys or writes
// its screen into it. Called first in main, before anything opens a file; on
// failure says why in one line and returns false.
bool OpenStandardStreams();

// Writes the screen text to standard output in one write. On a terminal the
// clear sequence goes in front of it; anywhere else the text goes out as it is.
void WriteScreen(std::string_view text);

// True when WriteScreen blanks the display first, wiping what was printed before.
bool ScreenClears();

// A bare Escape key is an ESC byte with nothing after it for this long.
// Terminals send a whole escape sequence in one write, and even over ssh its
// bytes arrive well within this; a person cannot type ESC and a second key
// this fast. Long enough for a loaded link, short enough not to be felt.
inline constexpr int kEscapeTimeoutMs = 40;

// How long the terminal gets to answer the keyboard protocol query. tmux,
// screen and the Linux console answer only the device-attributes query, and a
// terminal that answers neither must not hold up the start for long.
inline constexpr int kQueryTimeoutMs = 500;

struct ReadResult {
  enum class Status : std::uint8_t {
    Bytes,       // `bytes` bytes were read
    Timeout,     // nothing arrived in time
    EndOfInput,  // the pipe or file ended, or the terminal hung up
    Signal,      // a signal needs the loop's attention (see TakeSignals)
  };
  Status status = Status::Timeout;
  std::size_t bytes = 0;
};

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

  // Standard input is a terminal, now in raw mode.
  bool raw() const;
  // Control sequences may be sent: both input and output are the terminal.
  bool can_query() const;

  // Writes control bytes to the terminal; does nothing unless can_query().
  void Send(std::string_view bytes) const;

  // Waits up to timeout_ms (negative: without limit) for input, then reads
  // what is there. A signal for the loop ends the wait early.
  ReadResult Read(std::span<std::uint8_t> buffer, int timeout_ms) const;

  // F5, F7 and F8 as the terminal's terminfo entry spells them.
  TerminfoKeys FunctionKeys() const;

  // Pushes the kitty keyboard flags and turns on focus reports; from here on
  // every exit path pops them again. Only after the terminal said it speaks
  // the protocol.
  void EnterKeyReleaseMode();

  SignalRequests TakeSignals() const;

  // Ends the current or next wait in Read as a signal does, from any thread
  // (or signal handler); TakeSignals then reports nothing new.
  static void Wake();

  // Who stops on a suspend: the whole process group, as the terminal's own
  // Ctrl-Z would stop it, or only this process, for a SIGTSTP sent to it alone.
  enum class StopScope : std::uint8_t { ProcessGroup, Process };

  // Ctrl-Z: puts the terminal back as it was and stops; when the shell
  // continues the job, raw mode (and the kitty flags) come back.
  void Suspend(StopScope scope);

  // Puts the terminal back now; after this the object only reads input.
  void Restore();

  // Ends the process by `signal` with its default action, as if the program
  // had not caught it, after the terminal was put back.
  [[noreturn]] static void DieBy(int signal);
};

}  // namespace quibbet
