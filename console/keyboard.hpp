// "Is this key held down now?" for the main loop, from key events.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>

#include "console/key_event.hpp"

namespace quibbet {

class Keyboard {
 public:
  // With releases: a true held state per key. Without: each press or
  // auto-repeat counts as the key down for exactly one pass.
  explicit Keyboard(KeySource source);

  // Takes key events, and FocusLost as ReleaseAll; a Suspend is the main
  // loop's to act on and means nothing here. With releases, a one_shot key is
  // only a tap. Without, presses and repeats wait in a queue of
  // kQueueCapacity; when it is full the newest is dropped, so a reader that
  // must lose nothing (piped input) reads no more than Room().
  void Feed(const KeyEvent& event);

  static constexpr std::size_t kQueueCapacity = 256;
  bool Full() const;
  // How many more presses and repeats Feed takes without dropping one:
  // without limit where releases are reported.
  std::size_t Room() const;

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
