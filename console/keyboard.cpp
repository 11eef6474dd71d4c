// Key state for the main loop. Terminals that report releases give a true
// held state; the others give only key events, which are spent one per pass.
#include "console/keyboard.hpp"

namespace quibbet {
namespace {

std::size_t Index(Key key) { return static_cast<std::size_t>(key); }

}  // namespace

Keyboard::Keyboard(bool reports_releases) : reports_releases_(reports_releases) {}

bool Keyboard::reports_releases() const { return reports_releases_; }

bool Keyboard::Full() const { return queue_size_ == kQueueCapacity; }

void Keyboard::Feed(const Decoded& event) {
  if (event.kind == Decoded::Kind::FocusOut) {
    ReleaseAll();
    return;
  }
  if (event.kind != Decoded::Kind::KeyEvent || Index(event.key) >= kKeyCount) return;

  if (reports_releases_) {
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

void Keyboard::BeginPass() {
  if (reports_releases_) {
    down_ = held_ | tapped_;
    tapped_.reset();
    return;
  }
  down_.reset();
  if (queue_size_ == 0) return;
  down_.set(Index(queue_[queue_head_]));
  queue_head_ = (queue_head_ + 1) % kQueueCapacity;
  --queue_size_;
}

bool Keyboard::KeyDown(Key key) const {
  return Index(key) < kKeyCount && down_.test(Index(key));
}

// Taps already seen still act once: the key did go down. Only the held state,
// whose releases may now never arrive, is forgotten.
void Keyboard::ReleaseAll() { held_.reset(); }

bool Keyboard::Idle() const {
  return down_.none() && held_.none() && tapped_.none() && queue_size_ == 0;
}

}  // namespace quibbet
