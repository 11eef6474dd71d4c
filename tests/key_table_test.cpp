// One pass of the main loop: key order, the selection rule, redraw before
// every change and after a pass of edits, and the double-precision steps, on
// the global patch.
#include "console/key_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "console/program_state.hpp"
#include "console/screen.hpp"

namespace quibbet {
namespace {

// What the hooks saw, in order; a draw records the pitch it would show.
std::vector<std::string> calls;
// The whole text of the last screen drawn.
std::string last_screen;

const Actions kRecorder = {
    .draw_screen =
        [] {
          calls.push_back("draw tone=" + std::to_string(patch.tone));
          last_screen = FormatScreen(patch, selected_osc);
        },
    .stop_playback = [] { calls.push_back("stop"); },
    .render_sound = [] { calls.push_back("render"); },
    .start_playback = [] { calls.push_back("start"); },
    .save_wave = [] { calls.push_back("save wave"); },
    .save_param = [] { calls.push_back("save param"); },
};

KeysDown Keys(std::initializer_list<Key> keys) {
  KeysDown down;
  for (Key k : keys) down.set(static_cast<std::size_t>(k));
  return down;
}

class Pass : public ::testing::Test {
 protected:
  void SetUp() override {
    patch = Patch{};
    selected_osc = 0;
    calls.clear();
    last_screen.clear();
  }
};

TEST_F(Pass, HeldKeysActInTableOrderEachAfterItsOwnRedraw) {
  KeysDown all;
  all.set();
  all.reset(static_cast<std::size_t>(Key::Escape));
  EXPECT_EQ(RunPass(all, kRecorder), PassResult::Continue);
  const std::vector<std::string> expected = {
      "draw tone=10", "stop",         "render",       "start",  // F5 and Space: one replay
      "draw tone=10", "save wave",                              // F7
      "draw tone=10", "save param",                             // F8
      "draw tone=10",                                           // O
      "draw tone=9",                                            // P
      "draw tone=10", "draw tone=10",                           // 1, 2
      "draw tone=10", "draw tone=10", "draw tone=10",           // A S D
      "draw tone=10", "draw tone=10",                           // Q W
      "draw tone=10", "draw tone=10",                           // E R
      "draw tone=10", "draw tone=10",                           // T Y
      "draw tone=10",                                           // the pass edited: shown once more
  };
  EXPECT_EQ(calls, expected);
  // D came after A and S.
  EXPECT_EQ(patch.osc[0].type, SQR);
  EXPECT_EQ(patch.tone, 10);
  EXPECT_EQ(selected_osc, 1);
  EXPECT_EQ(patch.osc[1].type, SIN) << "edits act on the oscillator selected before the pass";
}

TEST_F(Pass, F5AndSpaceTogetherReplayOnce) {
  for (const KeysDown& down : {Keys({Key::F5}), Keys({Key::Space}), Keys({Key::F5, Key::Space})}) {
    calls.clear();
    RunPass(down, kRecorder);
    EXPECT_EQ(calls, (std::vector<std::string>{"draw tone=10", "stop", "render", "start"}));
  }
}

TEST_F(Pass, EscapeLeavesBeforeAnyOtherKeyActs) {
  KeysDown all;
  all.set();
  EXPECT_EQ(RunPass(all, kRecorder), PassResult::Exit);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(FormatScreen(patch, selected_osc), FormatScreen(Patch{}, 0)) << "nothing was edited";
}

TEST_F(Pass, NoKeyDownDoesNothingAtAll) {
  EXPECT_EQ(RunPass(KeysDown{}, kRecorder), PassResult::Continue);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(FormatScreen(patch, selected_osc), FormatScreen(Patch{}, 0));
}

TEST_F(Pass, SelectionChangedInAPassTakesEffectFromTheNextPass) {
  RunPass(Keys({Key::Two, Key::A}), kRecorder);
  EXPECT_EQ(selected_osc, 1);
  EXPECT_EQ(patch.osc[0].type, SAW);
  EXPECT_EQ(patch.osc[1].type, SIN);

  RunPass(Keys({Key::One, Key::D}), kRecorder);
  EXPECT_EQ(selected_osc, 0);
  EXPECT_EQ(patch.osc[1].type, SQR);
  EXPECT_EQ(patch.osc[0].type, SAW);

  RunPass(Keys({Key::W}), kRecorder);
  EXPECT_EQ(patch.osc[0].detune, 1.011f);
  EXPECT_EQ(patch.osc[1].detune, 0.997f);
}

TEST_F(Pass, EveryEditPassEndsShowingTheValuesTheNextRenderUses) {
  for (Key key : {Key::O, Key::P, Key::One, Key::Two, Key::A, Key::S, Key::D, Key::Q, Key::W,
                  Key::E, Key::R, Key::T, Key::Y}) {
    SCOPED_TRACE(static_cast<int>(key));
    SetUp();
    // A start from which the key changes what the screen shows.
    if (key == Key::One) selected_osc = 1;
    if (key == Key::S) patch.osc[0].type = SAW;
    const std::string before = FormatScreen(patch, selected_osc);
    RunPass(Keys({key}), kRecorder);
    EXPECT_EQ(calls.size(), 2u) << "one draw before the change, one after the pass";
    EXPECT_NE(last_screen, before);
    EXPECT_EQ(last_screen, FormatScreen(patch, selected_osc));
  }
}

TEST_F(Pass, ReplayAndSaveOnlyPassesEndWithTheirOwnOutputBelowTheScreen) {
  const struct {
    Key key;
    const char* last;
  } rows[] = {
      {Key::F5, "start"}, {Key::Space, "start"}, {Key::F7, "save wave"}, {Key::F8, "save param"}};
  for (const auto& row : rows) {
    calls.clear();
    RunPass(Keys({row.key}), kRecorder);
    EXPECT_EQ(calls.front(), "draw tone=10");
    EXPECT_EQ(calls.back(), row.last) << "no draw after the render's or the save's line";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "draw tone=10"), 1);
  }
}

TEST_F(Pass, HoldingPRaisesOncePerPassAndEachPassEndsShowingTheNewPitch) {
  for (int pass = 0; pass < 5; ++pass) RunPass(Keys({Key::P}), kRecorder);
  EXPECT_EQ(patch.tone, 15);
  EXPECT_EQ(calls.back(), "draw tone=15");
  EXPECT_EQ(calls.size(), 10u);
  for (int pass = 0; pass < 60; ++pass) RunPass(Keys({Key::O}), kRecorder);
  EXPECT_EQ(patch.tone, -45) << "no clamp";

  // Past either end of the 32-bit range the tone wraps; the sanitizer build
  // fails here if the step overflows instead.
  patch.tone = std::numeric_limits<std::int32_t>::max();
  RunPass(Keys({Key::P}), kRecorder);
  EXPECT_EQ(patch.tone, std::numeric_limits<std::int32_t>::min());
  RunPass(Keys({Key::O}), kRecorder);
  EXPECT_EQ(patch.tone, std::numeric_limits<std::int32_t>::max());
}

TEST_F(Pass, StepsAreAddedInDoubleAndRoundedOnceToSingle) {
  // From FM 2.5, 25 steps of the double 0.1 leave 1.356e-7 (steps of the
  // float 0.1f would leave 1.341e-7): above zero, so the shaper stays on,
  // yet the screen shows 0.000000.
  for (int pass = 0; pass < 25; ++pass) RunPass(Keys({Key::E}), kRecorder);
  EXPECT_EQ(patch.osc[0].fm, 0x1.233334p-23f);
  EXPECT_NE(FormatScreen(patch, 0).find("FM = 0.000000"), std::string::npos);
  RunPass(Keys({Key::E}), kRecorder);
  EXPECT_EQ(patch.osc[0].fm, -0x1.999976p-4f);  // -0.09999987, not -0.1f
  RunPass(Keys({Key::Q}), kRecorder);
  EXPECT_EQ(patch.osc[0].detune, 1.009f);
  RunPass(Keys({Key::Y, Key::Y}), kRecorder);
  EXPECT_EQ(patch.osc[0].noise, 0.01f);
}

}  // namespace
}  // namespace quibbet
