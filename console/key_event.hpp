// What a key is to the program, whatever it came from: the terminal seam hands
// these to the main loop, which keeps the held-key state from them.
#pragma once

#include <cstdint>

namespace quibbet {

// A key the program acts on: the number of its row in the key table
// (console/key_table.hpp), which says everything else about it.
enum class Key : std::uint8_t {};

// Only sources that report releases (kitty terminals, the Windows console)
// send repeats and releases.
enum class KeyAction : std::uint8_t { Press, Repeat, Release };

struct KeyEvent {
  enum class Kind : std::uint8_t {
    Key,        // key and action are set
    FocusLost,  // keys let go in another window send no release here
    Suspend,    // Ctrl-Z on a terminal; always the last event of a read
  };
  Kind kind = Kind::Key;
  Key key{};
  KeyAction action = KeyAction::Press;
  // The key came in a form that has no release to follow it: a plain
  // character (typed on a terminal without releases, or text pasted into one
  // with them) or a legacy-only function key form. It counts as a tap even
  // where releases are reported.
  bool one_shot = false;
};

// Where the keys come from, which decides what an event means.
enum class KeySource : std::uint8_t {
  ReleasingTerminal,  // presses, repeats and releases (kitty protocol, Windows console)
  LegacyTerminal,     // presses and the terminal's own auto-repeat only
  Script,             // a pipe or a file: every key is one deliberate step
};

}  // namespace quibbet
