#include "console/key_table.hpp"

#include <algorithm>
#include <limits>

namespace quibbet {
namespace {

// A new row that breaks what the readers of the table rely on fails the build
// here rather than misbehaving at a key press.
constexpr bool SameText(char a, char b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a != 0 && lower(a) == lower(b);
}

constexpr bool WellFormed() {
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    const KeyRow& row = kKeyTable[k];
    // A letter's text is lower case: the decoder folds what terminals send to it.
    if (row.text >= 'A' && row.text <= 'Z') return false;
    bool first_of_line = true;
    for (std::size_t j = 0; j < k; ++j) {
      const KeyRow& before = kKeyTable[j];
      // Each form names one key.
      if (std::string_view(before.name) == row.name || SameText(before.text, row.text) ||
          (row.tilde != 0 && before.tilde == row.tilde) ||
          (row.linux_console != 0 && before.linux_console == row.linux_console) ||
          before.virtual_key == row.virtual_key) {
        return false;
      }
      if (before.help_line == row.help_line) first_of_line = false;
    }
    // Every key is in the help, and each of its lines has one text.
    if (row.help_line == 0 || first_of_line != (row.help != nullptr)) return false;
  }
  // The keys the legend names come first in the help, in lines of their own.
  for (const KeyRow& row : kKeyTable) {
    for (const KeyRow& other : kKeyTable) {
      if (row.legend && !other.legend && row.help_line >= other.help_line) return false;
    }
  }
  return true;
}
static_assert(WellFormed(), "the key table has a row that clashes with another or lacks its help");

// Whether a key held before `k` in the table has the same action, which it
// then did for both.
bool ActionTaken(const KeySet& down, std::size_t k) {
  for (std::size_t j = 0; j < k; ++j)
    if (down.test(j) && kKeyTable[j].action == kKeyTable[k].action) return true;
  return false;
}

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

std::string KeysHelp() {
  std::uint8_t last_line = 0;
  for (const KeyRow& row : kKeyTable) last_line = std::max(last_line, row.help_line);
  std::string out = "Keys shown on the screen:\n";
  bool legend = true;
  for (std::uint8_t line = 1; line <= last_line; ++line) {
    std::string keys;
    const KeyRow* first = nullptr;
    for (const KeyRow& row : kKeyTable) {
      if (row.help_line != line) continue;
      if (first == nullptr) {
        first = &row;
      } else {
        // Keys that do the same are alternatives; others name one value each
        // of the text's "down / up".
        keys += row.action == first->action ? ", " : " / ";
      }
      keys += row.name;
    }
    if (first == nullptr) continue;
    if (legend && !first->legend) {
      out += "\nKeys not shown on the screen:\n";
      legend = false;
    }
    out += "  " + keys + std::string(keys.size() < 10 ? 12 - keys.size() : 2, ' ') + first->help +
           "\n";
  }
  return out;
}

bool IsEdit(Action action) {
  switch (action) {
    case Action::Quit:
    case Action::Replay:
    case Action::SaveWave:
    case Action::SaveParam:
      return false;
    case Action::PitchDown:
    case Action::PitchUp:
    case Action::SelectOsc0:
    case Action::SelectOsc1:
    case Action::Saw:
    case Action::Sine:
    case Action::Square:
    case Action::DetuneDown:
    case Action::DetuneUp:
    case Action::FmDown:
    case Action::FmUp:
    case Action::NoiseDown:
    case Action::NoiseUp:
      return true;
    case Action::Undo:
    case Action::Redo:
    case Action::Random:
    case Action::Mutate:
    case Action::Autoplay:
      return false;
  }
  return false;
}

bool ChangesPatch(Action action) {
  switch (action) {
    case Action::Undo:
    case Action::Redo:
    case Action::Random:
    case Action::Mutate:
      return true;
    default:
      return IsEdit(action);
  }
}

// ---- The keys down in a pass. Terminals that report releases give a true
// held state; the others give only key events, which are spent one per pass.

Keyboard::Keyboard(KeySource source, const KeySet& once_per_press)
    : source_(source), once_per_press_(once_per_press) {}

const KeySet& Keyboard::Down() const { return down_; }

const KeySet& Keyboard::Held() const { return reports_releases() ? held_ : hold_; }

const KeySet& Keyboard::Pressed() const { return pressed_; }

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

// ---- One pass of the main loop

const Command* Pass::begin() const { return commands_.data(); }
const Command* Pass::end() const { return commands_.data() + size_; }
void Pass::Add(const Command& command) { commands_[size_++] = command; }

Pass RunPass(const KeySet& down, std::int32_t selected_osc) {
  // The oscillator edits act on the oscillator selected when the pass began,
  // even if 1 or 2 changes the selection in this same pass.
  const auto osc = static_cast<std::uint8_t>(selected_osc == 1 ? 1 : 0);
  Pass pass;
  bool edited = false;
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    if (!down.test(k) || ActionTaken(down, k)) continue;
    const Action action = kKeyTable[k].action;
    if (action == Action::Quit) {
      Pass quit;
      quit.Add({.kind = Command::Kind::Act, .action = action});
      return quit;
    }
    if (action != Action::Autoplay) pass.Add({.kind = Command::Kind::Draw});
    pass.Add(
        {.kind = Command::Kind::Act, .action = action, .key = static_cast<Key>(k), .osc = osc});
    edited = edited || ChangesPatch(action);
  }
  // The screen is the only display: after an edit it must show the values the
  // next render will use, not those from before the last change. A pass that
  // only replays or saves keeps its "Tone" or error line below the screen.
  if (edited) pass.Add({.kind = Command::Kind::Draw});
  return pass;
}

std::int32_t StepTone(std::int32_t tone, std::int32_t by) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(tone) +
                                   static_cast<std::uint32_t>(by));
}

float Step(float value, double step) {
  // The one rounding of an edit: the double sum back to the float field.
  return static_cast<float>(static_cast<double>(value) + step);
}

void Edit(const Command& command, Patch& patch, std::int32_t& selected_osc) {
  Osc& osc = patch.osc[command.osc];
  switch (command.action) {
    case Action::PitchDown:
      patch.tone = StepTone(patch.tone, -1);
      return;
    case Action::PitchUp:
      patch.tone = StepTone(patch.tone, +1);
      return;
    case Action::SelectOsc0:
      selected_osc = 0;
      return;
    case Action::SelectOsc1:
      selected_osc = 1;
      return;
    case Action::Saw:
      osc.type = SAW;
      return;
    case Action::Sine:
      osc.type = SIN;
      return;
    case Action::Square:
      osc.type = SQR;
      return;
    case Action::DetuneDown:
      osc.detune = Step(osc.detune, -kDetuneStep);
      return;
    case Action::DetuneUp:
      osc.detune = Step(osc.detune, kDetuneStep);
      return;
    case Action::FmDown:
      osc.fm = Step(osc.fm, -kFmStep);
      return;
    case Action::FmUp:
      osc.fm = Step(osc.fm, kFmStep);
      return;
    case Action::NoiseDown:
      osc.noise = Step(osc.noise, -kNoiseStep);
      return;
    case Action::NoiseUp:
      osc.noise = Step(osc.noise, kNoiseStep);
      return;
    case Action::Quit:  // not edits: the program and the editor do these
    case Action::Replay:
    case Action::SaveWave:
    case Action::SaveParam:
    case Action::Undo:
    case Action::Redo:
    case Action::Random:
    case Action::Mutate:
    case Action::Autoplay:
      return;
  }
}

}  // namespace quibbet
