// "Is this key held down now?" for the main loop, from key events.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console/key_event.hpp"
#include "console/key_table.hpp"

namespace quibbet {

// From a terminal without releases, one key's events are one hold while
// each comes soon enough after the one before: the first repeat within
// kHoldFirstGapMs (a keyboard's repeat delay: 660 ms at most among the usual
// defaults), every later one within kHoldRepeatGapMs (keyboards repeat 10 to
// 40 times a second). Taps of one key closer than that are one hold too.
inline constexpr int kHoldFirstGapMs = 700;
inline constexpr int kHoldRepeatGapMs = 200;

class Keyboard {
 public:
  // With releases: a true held state per key. Without: each press or
  // auto-repeat counts as the key down for one pass at most. The keys in
  // `once_per_press` (the key table's, in the program) act once per press
  // instead of on every pass they are held, and held, ten times a second.
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
  //    also takes the run of the same action queued right behind it; and a
  //    once-per-press key's events in one hold act at most every
  //    kRepeatIntervalMs. Its first repeat cannot be told from a second tap,
  //    so held, it acts again after the keyboard's own repeat delay.
  void BeginPass(long long now_ms);

  // The keys down in the pass that BeginPass began.
  const KeySet& Down() const { return down_; }

  // The keys held down as BeginPass found them: with releases, those pressed
  // and not yet released (not taps); from a terminal without, the key of the
  // hold under way, if any; from a script, none.
  const KeySet& Held() const { return reports_releases() ? held_ : hold_; }

  // The keys whose press (not a repeat) BeginPass took: a new hold, even of
  // a key held just before.
  const KeySet& Pressed() const { return pressed_; }

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
  KeySet pressed_;
  KeySet pressed_since_pass_;  // with releases
  // When each held once-per-press key acts again.
  std::array<long long, kKeyCount> next_repeat_ms_{};
  // Without releases: the key of the hold under way, whether it has
  // repeated, and when its last event was taken.
  KeySet hold_;
  bool hold_repeats_ = false;
  long long hold_last_ms_ = 0;
  // Oldest first; a fixed ring so that typing never allocates.
  std::array<Key, kQueueCapacity> queue_{};
  std::size_t queue_head_ = 0;
  std::size_t queue_size_ = 0;
};

}  // namespace quibbet
