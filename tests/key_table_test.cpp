// One pass of the main loop: key order, one action per action however many
// of its keys are held, the selection rule, a redraw before every change and
// after a pass of edits; and the edits, in double precision.
#include "console/key_table.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

namespace quibbet {
namespace {

// The keys named in `names`, as held in one pass.
KeySet Held(const std::string& names) {
  KeySet down;
  std::istringstream words(names);
  for (std::string name; words >> name;) down.set(static_cast<std::size_t>(KeyNamed(name).value()));
  return down;
}

// A pass's commands as words: "draw", or the action by the name of its first
// key, with "@1" for a pass that began with oscillator 1 selected.
std::string Describe(const Pass& pass) {
  std::string out;
  for (const Command& c : pass) {
    out += out.empty() ? "" : " ";
    if (c.kind == Command::Kind::Draw) {
      out += "draw";
      continue;
    }
    out += RowOf(*FindKey([&](const KeyRow& row) { return row.action == c.action; })).name;
    if (c.osc == 1) out += "@1";
  }
  return out;
}

// The edits of a pass done, as the program does them.
void DoEdits(const Pass& pass, Patch& patch, std::int32_t& selected) {
  for (const Command& c : pass)
    if (c.kind == Command::Kind::Act && IsEdit(c.action)) Edit(c, patch, selected);
}

TEST(RunPass, AsksForEachHeldKeysActionInTableOrderAfterADraw) {
  const struct {
    const char* held;
    std::int32_t selected;
    const char* commands;
  } cases[] = {
      {"", 0, ""},
      {"Escape Space F7 P", 0, "Escape"},  // leaving comes before anything else
      {"F5", 0, "draw Space"},
      {"F5 Space", 0, "draw Space"},  // one replay, not two
      // A replay or a save keeps its "Tone" or error line below the screen.
      {"F8 F7", 0, "draw F7 draw F8"},
      // Edits end with the screen showing what the next render uses.
      {"P", 0, "draw P draw"},
      {"Space O", 0, "draw Space draw O draw"},
      // The oscillator's edits act on the one selected when the pass began.
      {"A 2", 0, "draw 2 draw A draw"},
      {"W 1 D", 1, "draw 1@1 draw D@1 draw W@1 draw"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Describe(RunPass(Held(c.held), c.selected)), c.commands) << c.held;
  }
  EXPECT_EQ(Describe(RunPass(Held("Y T R E W Q D S A 2 1 P O F8 F7 F5 Space"), 0)),
            "draw Space draw F7 draw F8 draw O draw P draw 1 draw 2 draw A draw S draw D draw Q "
            "draw W draw E draw R draw T draw Y draw");
}

TEST(Edit, SelectionMovesFromTheNextPassOn) {
  Patch patch;
  std::int32_t selected = 0;
  DoEdits(RunPass(Held("2 A"), selected), patch, selected);
  EXPECT_EQ(selected, 1);
  EXPECT_EQ(patch.osc[0].type, SAW);
  DoEdits(RunPass(Held("1 S D"), selected), patch, selected);  // D after S
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(patch.osc[1].type, SQR);
  EXPECT_EQ(patch.osc[0].type, SAW);
  DoEdits(RunPass(Held("W"), selected), patch, selected);
  EXPECT_EQ(patch.osc[0].detune, 1.011f);
  EXPECT_EQ(patch.osc[1].detune, 0.997f);
}

TEST(Edit, StepsAreAddedInDoubleAndRoundedOnceToSingleAndPitchNeitherClampsNorOverflows) {
  Patch patch;
  std::int32_t selected = 0;
  const auto hold = [&](const char* keys, int passes) {
    for (int pass = 0; pass < passes; ++pass)
      DoEdits(RunPass(Held(keys), selected), patch, selected);
  };
  // From FM 2.5, 25 steps of the double 0.1 leave 1.356e-7 (steps of the
  // float 0.1f would leave 1.341e-7): above zero, so the shaper stays on,
  // yet the screen shows 0.000000.
  hold("E", 25);
  EXPECT_EQ(patch.osc[0].fm, 0x1.233334p-23f);
  hold("E", 1);
  EXPECT_EQ(patch.osc[0].fm, -0x1.999976p-4f);  // -0.09999987, not -0.1f
  hold("Q", 1);
  EXPECT_EQ(patch.osc[0].detune, 1.009f);
  hold("Y", 1);
  EXPECT_EQ(patch.osc[0].noise, 0.01f);
  hold("P", 5);
  EXPECT_EQ(patch.tone, 15);
  hold("O", 60);
  EXPECT_EQ(patch.tone, -45) << "no clamp";
  // Past either end of the 32-bit range the tone wraps; the sanitizer build
  // fails here if the step overflows instead.
  patch.tone = std::numeric_limits<std::int32_t>::max();
  hold("P", 1);
  EXPECT_EQ(patch.tone, std::numeric_limits<std::int32_t>::min());
  hold("O", 1);
  EXPECT_EQ(patch.tone, std::numeric_limits<std::int32_t>::max());
}

}  // namespace
}  // namespace quibbet
