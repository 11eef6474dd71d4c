// "Is this key held down now?" for the main loop, from key events.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console/key_event.hpp"
#include "console/key_table.hpp"

namespace quibbet {

class Keyboard {
 public:
  // With releases: a true held state per key. Without: each press or
  // auto-repeat counts as the key down for exactly one pass. The keys in
  // `once_per_press` (the key table's, in the program) act once per press
  // instead of on every pass they are held.
  Keyboard(KeySource source, const KeySet& once_per_press);

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

  // Fixes which keys count as down for the pass about to run, at `now_ms` on
  // a steady clock.
  //  - with releases: keys held now, plus any pressed and released since the
  //    last pass (a tap is never lost). A once-per-press key counts in the
  //    first pass after its press; held, again kRepeatDelayMs after it and then
  //    every kRepeatIntervalMs;
  //  - without: the oldest queued event's key alone, so a burst of typed keys
  //    acts one per pass in arrival order. From a terminal, a replay or save
  //    also takes the run of the same action queued right behind it.
  void BeginPass(long long now_ms);

  // The keys down in the pass that BeginPass began.
  const KeySet& Down() const { return down_; }

  // Focus lost or resumed from suspension: nothing may stay stuck. Keys held
  // are let go; a press already seen still acts once, and queued events stay.
  void ReleaseAll();

  // No key down in this pass and nothing queued or held for the next.
  bool Idle() const;

  bool reports_releases() const;

 private:
  Key PopQueued();

  KeySource source_;
  KeySet once_per_press_;
  KeySet held_;
  KeySet tapped_;
  KeySet down_;
  // When each held once-per-press key acts again.
  std::array<long long, kKeyCount> next_repeat_ms_{};
  // Oldest first; a fixed ring so that typing never allocates.
  std::array<Key, kQueueCapacity> queue_{};
  std::size_t queue_head_ = 0;
  std::size_t queue_size_ = 0;
};

}  // namespace quibbet
