// Key events from a stream of bytes: a terminal's input, or a key script
// piped or redirected into the program. The bytes go through the decoder
// (console/keys.hpp); only events come out.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The platform's read: waits up to timeout_ms (negative: without limit) for
// input, then reads what is there into `buffer`.
using ReadBytesFn = ByteRead (*)(std::span<std::uint8_t> buffer, int timeout_ms);

class ByteKeyReader {
 public:
  // from_terminal: Ctrl-Z stops the program; in a script it means nothing.
  ByteKeyReader(ReadBytesFn read, TerminfoKeys function_keys, bool from_terminal);

  // Reads the answers to the keyboard protocol query and the device
  // attributes query, sent just before, for up to timeout_ms. True when the
  // terminal reported kitty keyboard flags. Keys typed meanwhile are kept for
  // the next Read.
  bool ReadQueryReplies(int timeout_ms);

  // Waits up to timeout_ms (negative: without limit) for input and appends
  // its events, until a signal for the loop ends the wait, to `events`, with at most `room` presses
  // and repeats. Bytes beyond that wait here undecoded and nothing more is read, so no key of a
  // long piped script is lost. A Suspend ends the read, and what was typed
  // after it is dropped, as a terminal drops it. The end of the input comes
  // as one last press of the key that quits, after every key before it.
  void Read(std::vector<KeyEvent>& events, std::size_t room, int timeout_ms);

 private:
  // Reads once, waiting up to timeout_ms; appends to pending_.
  ByteRead ReadMore(int timeout_ms);
  // Turns the complete sequences at the front of pending_ into events; true
  // when it reached a Suspend.
  bool Decode(std::vector<KeyEvent>& events, std::size_t& room, bool input_idle);

  ReadBytesFn read_;
  TerminfoKeys function_keys_;
  bool from_terminal_;
  std::vector<std::uint8_t> pending_;
  std::vector<KeyEvent> early_;  // keys that came with the queries' answers
  bool end_of_input_ = false;
  bool end_sent_ = false;
};

}  // namespace quibbet
