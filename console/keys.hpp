// Turning terminal input bytes into key events: the decoder of one sequence,
// a pure function, and the reader that feeds it a stream. Neither does I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console/key_event.hpp"
#include "console/key_table.hpp"

namespace quibbet {

// The sequences the terminal's description gives for the keys with a
// terminfo capability, by key; empty where it names none.
struct TerminfoKeys {
  std::array<std::string, kKeyCount> sequence;
};

struct Decoded {
  enum class Kind : std::uint8_t {
    Ignored,           // bytes that mean nothing to the program, consumed
    KeyEvent,          // key and action are set
    FocusIn,           // CSI I
    FocusOut,          // CSI O
    KittyFlags,        // CSI ? <flags> u: the terminal speaks the kitty protocol
    DeviceAttributes,  // CSI ? ... c: the answer to the primary DA query
    Suspend,           // Ctrl-Z, which arrives as a key once signals are off
  };
  Kind kind = Kind::Ignored;
  Key key{};
  KeyAction action = KeyAction::Press;
  // Bytes used from the front of the input. 0 means the input is the start of
  // a sequence that needs more bytes (only when input_idle is false).
  std::size_t consumed = 0;
  // As KeyEvent::one_shot: a form that no release follows.
  bool one_shot = false;
};

// Given at least this many bytes, DecodeKey always consumes some: a sequence
// still unfinished at this length is junk, not something to wait for. A
// reader's buffer must hold at least this much.
inline constexpr std::size_t kMaxSequenceBytes = 128;

// Decodes the first event at the front of `bytes` (non-empty). input_idle
// says no further byte arrived within the escape timeout, so a lone ESC is
// the Escape key and a truncated sequence is dropped rather than awaited.
// Ctrl-C (the byte 0x03, or its kitty form) decodes as the key that quits. A sequence is
// decided only once it is complete or broken, so input split across reads
// anywhere gives the same events; one cut short by a byte that cannot belong
// to it (a new ESC, a control byte) ends there and that byte is decoded next.
// An unfinished CSI followed by a letter cannot be told from a complete one:
// the letter is taken as its final byte.
//
// Modifiers: Shift, Caps Lock and Num Lock leave a key as it is. A press or
// repeat with Alt, Ctrl, Super, Hyper or Meta is some other shortcut and is
// ignored (Ctrl-C and Ctrl-Z excepted); releases are reported whatever the
// modifiers, so no key stays held. Legacy terminals agree: Ctrl-P is a
// control byte and Alt-P is ESC p, both ignored.
Decoded DecodeKey(std::span<const std::uint8_t> bytes, const TerminfoKeys& keys, bool input_idle);

// ---- Key events from a stream of bytes: a terminal's input, or a key script
// piped or redirected into the program. The terminal reads the bytes and
// hands them over; they go through the decoder above and only events come
// out. Nothing here reads, waits or looks at a clock: the reader says how
// long the terminal should wait for more, and the terminal does.

// A bare Escape key is an ESC byte with nothing after it for this long.
// Terminals send a whole escape sequence in one write, and even over ssh its
// bytes arrive well within this; a person cannot type ESC and a second key
// this fast. Long enough for a loaded link, short enough not to be felt.
inline constexpr int kEscapeTimeoutMs = 40;

// What one wait for input gave, as the terminals' reads report it.
struct ByteRead {
  enum class Status : std::uint8_t {
    Bytes,       // `bytes` bytes were read
    Timeout,     // nothing arrived in time
    EndOfInput,  // the pipe or file ended, or the terminal hung up
    Signal,      // a signal needs the loop's attention
  };
  Status status = Status::Timeout;
  std::size_t bytes = 0;
};

// One read of keys goes:
//
//   for (auto wait = reader.Begin(events, room, timeout_ms); wait;) {
//     wait for input up to *wait ms (negative: without limit) and read it;
//     stop at a signal for the loop;
//     wait = reader.Take(what was read, events, room);
//   }
//
// appending to `events` at most `room` presses and repeats. Bytes beyond that
// wait here undecoded and no more is asked for, so no key of a long piped
// script is lost. A Suspend ends the read, and what was typed after it is
// dropped, as a terminal drops it. The end of the input comes as one last
// press of the key that quits, after every key before it.
class ByteKeyReader {
 public:
  // from_terminal: Ctrl-Z stops the program; in a script it means nothing.
  ByteKeyReader(TerminfoKeys function_keys, bool from_terminal);

  // Starts a read that would wait up to timeout_ms: the wait to make, or
  // nothing when no input is wanted.
  std::optional<int> Begin(std::vector<KeyEvent>& events, std::size_t& room, int timeout_ms);

  // What the wait gave: `bytes` (empty when it timed out) and whether the
  // input has ended. The next wait, or nothing when the read is done.
  std::optional<int> Take(const ByteRead& read, std::span<const std::uint8_t> bytes,
                          std::vector<KeyEvent>& events, std::size_t& room);

  // At start-up the keyboard protocol query and the device attributes query
  // were sent. Feed what comes back, then ask: whether the terminal reported
  // kitty keyboard flags, once the device attributes (which every terminal
  // sends, last) are in. Keys typed meanwhile are kept for the next read.
  void Feed(const ByteRead& read, std::span<const std::uint8_t> bytes);
  std::optional<bool> QueryAnswer();

 private:
  // Turns the complete sequences at the front of pending_ into events; true
  // when it reached a Suspend.
  bool DecodePending(std::vector<KeyEvent>& events, std::size_t& room, bool input_idle);
  // Decodes what there is: the wait for the rest of a sequence, or nothing.
  std::optional<int> Decode(std::vector<KeyEvent>& events, std::size_t& room, bool input_idle);

  TerminfoKeys function_keys_;
  bool from_terminal_;
  std::vector<std::uint8_t> pending_;
  std::vector<KeyEvent> early_;  // keys that came with the queries' answers
  bool kitty_flags_seen_ = false;
  bool waiting_for_rest_ = false;  // the last wait was for the rest of a sequence
  bool end_of_input_ = false;
  bool end_sent_ = false;
};

}  // namespace quibbet
