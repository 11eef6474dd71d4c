// Key events from a stream of bytes: a terminal's input, or a key script
// piped or redirected into the program. The terminal reads the bytes and
// hands them over; they go through the decoder (console/keys.hpp) and only
// events come out. Nothing here reads, waits or looks at a clock: the reader
// says how long the terminal should wait for more, and the terminal does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "console/key_event.hpp"
#include "console/keys.hpp"

namespace quibbet {

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
