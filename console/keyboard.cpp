// Key state for the main loop. Terminals that report releases give a true
// held state; the others give only key events, which are spent one per pass.
#include "console/keyboard.hpp"

#include <limits>

namespace quibbet {
namespace {

std::size_t Index(Key key) { return static_cast<std::size_t>(key); }

// A replay (by any of its keys) or a save costs far more than a pass: it
// renders seven seconds of sound or writes a file. A terminal's auto-repeat,
// 25 to 40 events a second, can then outrun the loop, and a held key would go
// on acting long after it was let go, with Escape waiting behind. Doing such
// an action twice in a row adds nothing
// (the same sound restarts, the same file is written again), so a run of
// them waiting in the queue acts once. Edits, selections and the order of
// different actions are never touched.
bool SameSlowAction(Key a, Key b) {
  const Action action = RowOf(a).action;
  const bool slow =
      action == Action::Replay || action == Action::SaveWave || action == Action::SaveParam;
  return slow && RowOf(b).action == action;
}

}  // namespace

Keyboard::Keyboard(KeySource source, const KeySet& once_per_press)
    : source_(source), once_per_press_(once_per_press) {}

bool Keyboard::reports_releases() const { return source_ == KeySource::ReleasingTerminal; }

bool Keyboard::Full() const { return queue_size_ == kQueueCapacity; }

std::size_t Keyboard::Room() const {
  if (reports_releases()) return std::numeric_limits<std::size_t>::max();
  return kQueueCapacity - queue_size_;
}

void Keyboard::Feed(const KeyEvent& event) {
  if (event.kind == KeyEvent::Kind::FocusLost) {
    ReleaseAll();
    return;
  }
  if (event.kind != KeyEvent::Kind::Key || Index(event.key) >= kKeyCount) return;

  if (reports_releases()) {
    const std::size_t k = Index(event.key);
    if (event.action == KeyAction::Release) {
      held_.reset(k);
      return;
    }
    // A pressed key counts in the next pass even if it is released before
    // then. A plain character has no release to come, so it is only a tap.
    // A once-per-press key repeats on its own clock, not the terminal's: only
    // a repeat of a key not known to be down (pressed with a shortcut's
    // modifier, which is then let go) is its press.
    if (event.action == KeyAction::Repeat && once_per_press_.test(k) && held_.test(k)) return;
    if (event.action == KeyAction::Press || !held_.test(k)) pressed_since_pass_.set(k);
    tapped_.set(k);
    if (!event.one_shot) held_.set(k);
    return;
  }

  // Such terminals send no releases; should one appear, it is no key event.
  if (event.action == KeyAction::Release || Full()) return;
  queue_[(queue_head_ + queue_size_) % kQueueCapacity] = event.key;
  ++queue_size_;
}

Key Keyboard::PopQueued() {
  const Key key = queue_[queue_head_];
  queue_head_ = (queue_head_ + 1) % kQueueCapacity;
  --queue_size_;
  return key;
}

void Keyboard::BeginPass(long long now_ms) {
  if (reports_releases()) {
    down_ = (held_ | tapped_) & ~once_per_press_;
    for (std::size_t k = 0; k < kKeyCount; ++k) {
      if (!once_per_press_.test(k)) continue;
      if (tapped_.test(k)) {
        next_repeat_ms_[k] = now_ms + kRepeatDelayMs;
      } else if (!held_.test(k) || now_ms < next_repeat_ms_[k]) {
        continue;
      } else {
        next_repeat_ms_[k] = now_ms + kRepeatIntervalMs;
      }
      down_.set(k);
    }
    tapped_.reset();
    pressed_ = pressed_since_pass_;
    pressed_since_pass_.reset();
    return;
  }
  down_.reset();
  pressed_.reset();
  // Without releases, a hold ends when its key stops coming.
  if (hold_.any() && now_ms - hold_last_ms_ > (hold_repeats_ ? kHoldRepeatGapMs : kHoldFirstGapMs))
    hold_.reset();
  if (queue_size_ == 0) return;
  const Key key = PopQueued();
  const std::size_t k = Index(key);
  // A script's keys are each meant, and nothing auto-repeats in a pipe.
  if (source_ != KeySource::LegacyTerminal) {
    down_.set(k);
    pressed_.set(k);
    return;
  }
  const bool repeat = hold_.test(k);
  pressed_.set(k, !repeat);
  hold_.reset();
  hold_.set(k);
  hold_repeats_ = repeat;
  hold_last_ms_ = now_ms;
  if (!once_per_press_.test(k)) {
    down_.set(k);
  } else if (!repeat || now_ms >= next_repeat_ms_[k]) {
    down_.set(k);
    // Held, the terminal's repeats come faster than ours, a few to each of
    // ours: counted from when it was due, the key keeps ten a second.
    const long long due = next_repeat_ms_[k];
    next_repeat_ms_[k] =
        (repeat && now_ms - due < kRepeatIntervalMs ? due : now_ms) + kRepeatIntervalMs;
  }
  while (queue_size_ > 0 && SameSlowAction(key, queue_[queue_head_])) PopQueued();
}

// Taps already seen still act once: the key did go down. Only the held state,
// whose releases may now never arrive, is forgotten.
void Keyboard::ReleaseAll() {
  held_.reset();
  hold_.reset();
}

bool Keyboard::Idle() const {
  return down_.none() && held_.none() && tapped_.none() && queue_size_ == 0;
}

}  // namespace quibbet
