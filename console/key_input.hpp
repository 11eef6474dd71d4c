// Key input: bytes from the terminal, through the decoder, into the keyboard.
#pragma once

#include <cstdint>
#include <vector>

#include "console/keyboard.hpp"
#include "console/keys.hpp"
#include "console/terminal.hpp"

namespace quibbet {

class KeyInput {
 public:
  explicit KeyInput(Terminal& terminal);

  // Asks the terminal whether it speaks the kitty keyboard protocol and, if
  // so, turns it on. Keys typed while waiting for the answer are kept.
  bool DetectKeyReleases();

  enum class Result : std::uint8_t {
    Keys,     // whatever arrived went into the keyboard (maybe nothing)
    Signal,   // a signal needs the loop's attention
    Suspend,  // Ctrl-Z was pressed
  };

  // Waits up to timeout_ms (negative: without limit) for input, decodes it
  // and feeds the events to `keyboard`. While the keyboard's queue is full,
  // bytes wait here undecoded and nothing more is read, so no key of a long
  // piped script is lost. The end of a pipe or file is fed as one last
  // Escape, after every key before it.
  Result Pump(Keyboard& keyboard, int timeout_ms);

 private:
  // Reads once, waiting up to timeout_ms; appends to pending_.
  ReadResult ReadMore(int timeout_ms);
  // Feeds the complete events at the front of pending_ to `keyboard`.
  Result Decode(Keyboard& keyboard, bool input_idle);

  Terminal& terminal_;
  TerminfoKeys function_keys_;
  std::vector<std::uint8_t> pending_;
  std::vector<Decoded> early_;  // keys that came with the protocol query's answers
  bool end_of_input_ = false;
  bool end_fed_ = false;
};

}  // namespace quibbet
