#include "console/editor.hpp"

#include <bit>

namespace quibbet {

bool SamePatch(const Patch& a, const Patch& b) {
  if (a.tone != b.tone) return false;
  for (int i = 0; i < 2; ++i) {
    const Osc& x = a.osc[i];
    const Osc& y = b.osc[i];
    const auto bits = [](float f) { return std::bit_cast<std::uint32_t>(f); };
    if (x.type != y.type || bits(x.detune) != bits(y.detune) || bits(x.fm) != bits(y.fm) ||
        bits(x.noise) != bits(y.noise)) {
      return false;
    }
  }
  return true;
}

bool SameSnapshot(const Snapshot& a, const Snapshot& b) {
  return a.selected_osc == b.selected_osc && SamePatch(a.patch, b.patch);
}

void History::Add(const Snapshot& before, const Snapshot& after) {
  if (SameSnapshot(before, after)) return;
  State(at_) = before;
  count_ = at_ + 1;  // the undone steps are gone
  if (count_ == states_.size()) {
    oldest_ = (oldest_ + 1) % states_.size();
    --count_;
    --at_;
  }
  State(count_) = after;
  ++count_;
  ++at_;
}

std::optional<Snapshot> History::Undo() {
  if (at_ == 0) return std::nullopt;
  return State(--at_);
}

std::optional<Snapshot> History::Redo() {
  if (at_ + 1 >= count_) return std::nullopt;
  return State(++at_);
}

void Editor::EndStep() {
  if (!step_open_) return;
  step_open_ = false;
  history_.Add(step_before_, Now());
}

void Editor::Do(const Command& command) {
  const Snapshot before = Now();
  std::optional<Snapshot> restored;
  switch (command.action) {
    case Action::Undo:
      EndStep();
      restored = history_.Undo();
      break;
    case Action::Redo:
      EndStep();
      restored = history_.Redo();
      break;
    case Action::Random:
    case Action::Mutate:
      EndStep();
      patch_ =
          command.action == Action::Random ? RandomPatch(random_) : MutatedPatch(patch_, random_);
      history_.Add(before, Now());
      break;
    default:
      if (!IsEdit(command.action)) return;
      if (!step_open_) {
        step_open_ = true;
        step_before_ = before;
        step_keys_.reset();
      }
      step_keys_.set(static_cast<std::size_t>(command.key));
      Edit(command, patch_, selected_osc_);
      break;
  }
  if (restored) {
    patch_ = restored->patch;
    selected_osc_ = restored->selected_osc;
  }
  if (!SamePatch(patch_, before.patch)) {
    edited_since_played_ = true;
    editing_keys_.set(static_cast<std::size_t>(command.key));
  }
}

void Editor::Held(const KeySet& held, const KeySet& pressed) {
  if (step_open_ && ((step_keys_ & held).none() || (step_keys_ & pressed).any())) EndStep();
  editing_keys_ &= held;
}

void Editor::SetAutoplay(bool on) {
  autoplay_ = on;
  edited_since_played_ = false;
}

bool Editor::ReplayDue(long long now_ms) const {
  if (!autoplay_ || !edited_since_played_ || SamePatch(patch_, played_)) return false;
  return editing_keys_.none() || now_ms - played_ms_ >= kAutoplayIntervalMs;
}

void Editor::Played(long long now_ms) {
  played_ = patch_;
  played_ms_ = now_ms;
  edited_since_played_ = false;
}

}  // namespace quibbet
