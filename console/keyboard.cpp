// Key state for the main loop. Terminals that report releases give a true
// held state; the others give only key events, which are spent one per pass.
#include "console/keyboard.hpp"

#include <limits>

namespace quibbet {
namespace {

std::size_t Index(Key key) { return static_cast<std::size_t>(key); }

// A replay (F5 and Space alike) or a save costs far more than a pass: it
// renders seven seconds of sound or writes a file. A terminal's auto-repeat,
// 25 to 40 events a second, can then outrun the loop, and a held key would go
// on acting long after it was let go, with Escape waiting behind. Doing such
// an action twice in a row adds nothing
// (the same sound restarts, the same file is written again), so a run of
// them waiting in the queue acts once. Edits, selections and the order of
// different actions are never touched.
bool SameSlowAction(Key a, Key b) {
  const auto replay = [](Key k) { return k == Key::F5 || k == Key::Space; };
  if (replay(a)) return replay(b);
  return (a == Key::F7 || a == Key::F8) && a == b;
}

}  // namespace

Keyboard::Keyboard(KeySource source) : source_(source) {}

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

void Keyboard::BeginPass() {
  if (reports_releases()) {
    down_ = held_ | tapped_;
    tapped_.reset();
    return;
  }
  down_.reset();
  if (queue_size_ == 0) return;
  const Key key = PopQueued();
  down_.set(Index(key));
  // A script's keys are each meant, and nothing auto-repeats in a pipe.
  if (source_ != KeySource::LegacyTerminal) return;
  while (queue_size_ > 0 && SameSlowAction(key, queue_[queue_head_])) PopQueued();
}

bool Keyboard::KeyDown(Key key) const { return Index(key) < kKeyCount && down_.test(Index(key)); }

// Taps already seen still act once: the key did go down. Only the held state,
// whose releases may now never arrive, is forgotten.
void Keyboard::ReleaseAll() { held_.reset(); }

bool Keyboard::Idle() const {
  return down_.none() && held_.none() && tapped_.none() && queue_size_ == 0;
}

}  // namespace quibbet
