// "Is this key held down now?" for the main loop, from decoded key events.
#pragma once

#include <bitset>
#include <cstddef>
#include <deque>

#include "console/keys.hpp"

namespace quibbet {

class Keyboard {
 public:
  // With releases (kitty protocol): a true held state per key. Without: each
  // press or auto-repeat counts as the key down for exactly one pass.
  explicit Keyboard(bool reports_releases);

  void Feed(const Decoded& event);

  // Fixes which keys count as down for the pass about to run.
  //  - with releases: keys held now, plus any pressed and released since the
  //    last pass (a tap is never lost);
  //  - without: the oldest queued event's key alone, so a burst of typed keys
  //    acts one per pass in arrival order.
  void BeginPass();

  bool KeyDown(Key key) const;

  // Focus lost or resumed from suspension: nothing may stay stuck.
  void ReleaseAll();

  // No key down in this pass and nothing queued or held for the next.
  bool Idle() const;

  bool reports_releases() const;

 private:
  bool reports_releases_;
  std::bitset<kKeyCount> held_;
  std::bitset<kKeyCount> tapped_;
  std::bitset<kKeyCount> down_;
  std::deque<Key> queue_;
};

}  // namespace quibbet
