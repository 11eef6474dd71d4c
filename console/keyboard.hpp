// "Is this key held down now?" for the main loop, from decoded key events.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>

#include "console/keys.hpp"

namespace quibbet {

class Keyboard {
 public:
  // With releases (kitty protocol): a true held state per key. Without: each
  // press or auto-repeat counts as the key down for exactly one pass.
  explicit Keyboard(bool reports_releases);

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
  //    acts one per pass in arrival order.
  void BeginPass();

  bool KeyDown(Key key) const;

  // Focus lost or resumed from suspension: nothing may stay stuck. Keys held
  // are let go; a press already seen still acts once, and queued events stay.
  void ReleaseAll();

  // No key down in this pass and nothing queued or held for the next.
  bool Idle() const;

  bool reports_releases() const;

 private:
  bool reports_releases_;
  std::bitset<kKeyCount> held_;
  std::bitset<kKeyCount> tapped_;
  std::bitset<kKeyCount> down_;
  // Oldest first; a fixed ring so that typing never allocates.
  std::array<Key, kQueueCapacity> queue_{};
  std::size_t queue_head_ = 0;
  std::size_t queue_size_ = 0;
};

}  // namespace quibbet
