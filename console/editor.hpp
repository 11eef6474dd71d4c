// The patch and the selection as the keys change them: the edits, undo and
// redo over a history of steps, random and mutated sounds, and when autoplay
// is due to play the sound again. Pure: the caller says which keys are held
// and what time it is, and plays the sound itself.
//
// A step is one key's run of edits, from its press to its release: a held Q
// is one step, and so is a tap. Keys held together make one step until all
// of them are let go. Each random or mutated sound is a step of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "console/key_table.hpp"
#include "console/patch_random.hpp"
#include "engine/patch.hpp"

namespace quibbet {

// What undo brings back: the patch and the selected oscillator.
struct Snapshot {
  Patch patch;
  std::int32_t selected_osc = 0;
};

// The same bits: a value that prints and plays differently (0.0 and -0.0)
// is a change.
bool SamePatch(const Patch& a, const Patch& b);
bool SameSnapshot(const Snapshot& a, const Snapshot& b);

// The last kMaxSteps steps, in fixed storage: recording one never allocates.
class History {
 public:
  static constexpr std::size_t kMaxSteps = 1000;

  // A step from `before` to `after`. It ends the steps that redo could bring
  // back, and past kMaxSteps the oldest step is forgotten. A step that
  // changed nothing is no step.
  void Add(const Snapshot& before, const Snapshot& after);
  // The state before the last step, or after the next undone one; nothing
  // when there is none.
  std::optional<Snapshot> Undo();
  std::optional<Snapshot> Redo();

 private:
  Snapshot& State(std::size_t i) { return states_[(oldest_ + i) % states_.size()]; }

  // A timeline of states, each step leading from one to the next, in a ring.
  std::array<Snapshot, kMaxSteps + 1> states_{};
  std::size_t oldest_ = 0;  // where the timeline starts in the ring
  std::size_t count_ = 0;   // states in it: none yet, or the steps kept plus one
  std::size_t at_ = 0;      // the current state, counted from the oldest
};

// While a key is held, autoplay plays the sound again at most this often.
inline constexpr int kAutoplayIntervalMs = 150;

class Editor {
 public:
  Editor(Patch& patch, std::int32_t& selected_osc) : patch_(patch), selected_osc_(selected_osc) {}

  // Random and mutated sounds follow from this seed.
  void Seed(std::uint64_t seed) { random_ = RandomSource(seed); }

  // Does an Act command whose action ChangesPatch.
  void Do(const Command& command);

  // The keys held down now, before each pass with the keys pressed anew for
  // it, and after it: the step ends whose keys are all let go, or one of
  // whose keys is pressed again.
  void Held(const KeySet& held, const KeySet& pressed = {});

  bool autoplay() const { return autoplay_; }
  // Switching autoplay on plays nothing by itself: only the next edit does.
  void SetAutoplay(bool on);

  // Whether autoplay should play the sound now: an edit changed the patch
  // from the one last played, and either the keys that changed it are all
  // let go, or they are held and the last sound began kAutoplayIntervalMs ago.
  bool ReplayDue(long long now_ms) const;
  // The patch as it is now began to play (any render: the first, a replay,
  // autoplay's), at now_ms.
  void Played(long long now_ms);

 private:
  Snapshot Now() const { return {patch_, selected_osc_}; }
  void EndStep();

  Patch& patch_;
  std::int32_t& selected_osc_;
  History history_;
  RandomSource random_;
  // The step of held keys under way: where it began, and its keys.
  bool step_open_ = false;
  Snapshot step_before_;
  KeySet step_keys_;
  // For autoplay: keys held that changed the patch, and what was last played.
  bool autoplay_ = false;
  bool edited_since_played_ = false;
  KeySet editing_keys_;
  Patch played_;
  long long played_ms_ = 0;
};

}  // namespace quibbet
