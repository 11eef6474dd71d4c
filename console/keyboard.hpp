// "Is this key held down now?" for the main loop, from decoded key events.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>

#include "console/keys.hpp"

namespace quibbet {

// Where the keys come from, which decides what an event means.
enum class KeySource : std::uint8_t {
  ReleasingTerminal,  // presses, repeats and releases (kitty protocol)
  Terminal,           // presses and the terminal's own auto-repeat only
  Script,             // a pipe or a file: every key is one deliberate step
};

class Keyboard {
 public:
  // With releases: a true held state per key. Without: each press or
  // auto-repeat counts as the key down for exactly one pass.
  explicit Keyboard(KeySource source);

  // Takes key events, and FocusOut as ReleaseAll; ignores everything else.
  // With releases, a one_shot key is only a tap. Without, events wait in a
  // queue of kQueueCapacity; when it is full the newest is dropped, so a
  // reader that must lose nothing (piped input) stops decoding while Full().
  void Feed(const Decoded& event);

  static constexpr std::size_t kQueueCapacity = 256;
  bool Full() const;

  // Fixes which keys count as down for the pass about to run.
  //  - with releases: keys held now, plus any pressed and released since the
  //    last pass (a tap is never lost);
  //  - without: the oldest queued event's key alone, so a burst of typed keys
  //    acts one per pass in arrival order. From a terminal, a replay or save
  //    also takes the run of the same action queued right behind it.
  void BeginPass();

  bool KeyDown(Key key) const;

  // Focus lost or resumed from suspension: nothing may stay stuck. Keys held
  // are let go; a press already seen still acts once, and queued events stay.
  void ReleaseAll();

  // No key down in this pass and nothing queued or held for the next.
  bool Idle() const;

  bool reports_releases() const;

 private:
  Key PopQueued();

  KeySource source_;
  std::bitset<kKeyCount> held_;
  std::bitset<kKeyCount> tapped_;
  std::bitset<kKeyCount> down_;
  // Oldest first; a fixed ring so that typing never allocates.
  std::array<Key, kQueueCapacity> queue_{};
  std::size_t queue_head_ = 0;
  std::size_t queue_size_ = 0;
};

}  // namespace quibbet
