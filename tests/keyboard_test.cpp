#include "console/keyboard.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quibbet {
namespace {

Decoded KeyEvent(Key key, KeyAction action = KeyAction::Press, bool one_shot = false) {
  Decoded d;
  d.kind = Decoded::Kind::KeyEvent;
  d.key = key;
  d.action = action;
  d.one_shot = one_shot;
  d.consumed = 1;
  return d;
}

Decoded Press(Key key) { return KeyEvent(key, KeyAction::Press); }
Decoded Repeat(Key key) { return KeyEvent(key, KeyAction::Repeat); }
Decoded Release(Key key) { return KeyEvent(key, KeyAction::Release); }
Decoded Typed(Key key) { return KeyEvent(key, KeyAction::Press, true); }

Decoded Of(Decoded::Kind kind) {
  Decoded d;
  d.kind = kind;
  d.consumed = 1;
  return d;
}

// Runs one pass and names the keys down in it, in the main loop's order.
std::string Pass(Keyboard& keyboard) {
  static constexpr const char* kNames[] = {"Esc", "F5", "Space", "F7", "F8", "O", "P",
                                           "1",   "2",  "A",     "S",  "D",  "Q", "W",
                                           "E",   "R",  "T",     "Y"};
  static_assert(std::size(kNames) == kKeyCount);
  keyboard.BeginPass();
  std::string down;
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    if (keyboard.KeyDown(static_cast<Key>(k))) down += (down.empty() ? "" : " ") + std::string(kNames[k]);
  }
  return down;
}

TEST(KeyboardWithReleases, HeldKeyIsDownEveryPassUntilReleased) {
  Keyboard kb(true);
  EXPECT_TRUE(kb.reports_releases());
  EXPECT_TRUE(kb.Idle());
  kb.Feed(Press(Key::P));
  EXPECT_FALSE(kb.Idle());
  EXPECT_EQ(Pass(kb), "P");
  EXPECT_EQ(Pass(kb), "P");
  kb.Feed(Repeat(Key::P));
  EXPECT_EQ(Pass(kb), "P");
  kb.Feed(Release(Key::P));
  EXPECT_EQ(Pass(kb), "");
  EXPECT_TRUE(kb.Idle());
}

TEST(KeyboardWithReleases, TapBetweenPassesActsOnce) {
  Keyboard kb(true);
  kb.Feed(Press(Key::Two));
  kb.Feed(Release(Key::Two));
  EXPECT_EQ(Pass(kb), "2");
  EXPECT_EQ(Pass(kb), "");
  // Tapped twice within one pass still acts in that pass only: state, not events.
  kb.Feed(Press(Key::A));
  kb.Feed(Release(Key::A));
  kb.Feed(Press(Key::A));
  kb.Feed(Release(Key::A));
  EXPECT_EQ(Pass(kb), "A");
  EXPECT_EQ(Pass(kb), "");
  // Released and pressed again between passes: still held.
  kb.Feed(Press(Key::O));
  EXPECT_EQ(Pass(kb), "O");
  kb.Feed(Release(Key::O));
  kb.Feed(Press(Key::O));
  EXPECT_EQ(Pass(kb), "O");
  EXPECT_EQ(Pass(kb), "O");
}

TEST(KeyboardWithReleases, KeysHeldTogetherAreAllDownInOnePass) {
  Keyboard kb(true);
  kb.Feed(Press(Key::A));
  kb.Feed(Press(Key::Two));
  kb.Feed(Press(Key::F5));
  kb.Feed(Press(Key::Space));
  EXPECT_EQ(Pass(kb), "F5 Space 2 A");
  kb.Feed(Release(Key::F5));
  EXPECT_EQ(Pass(kb), "Space 2 A");
}

TEST(KeyboardWithReleases, RepeatWithoutPressCountsAsHeld) {
  // As when a shortcut modifier is let go while the key stays down.
  Keyboard kb(true);
  kb.Feed(Repeat(Key::W));
  EXPECT_EQ(Pass(kb), "W");
  EXPECT_EQ(Pass(kb), "W");
  kb.Feed(Release(Key::Q));  // a release of a key never pressed changes nothing
  EXPECT_EQ(Pass(kb), "W");
}

TEST(KeyboardWithReleases, PlainCharactersAreTapsAndNeverStick) {
  // Pasted text arrives as characters, with no release to follow.
  Keyboard kb(true);
  kb.Feed(Typed(Key::P));
  kb.Feed(Typed(Key::P));
  EXPECT_EQ(Pass(kb), "P");
  EXPECT_EQ(Pass(kb), "");
  EXPECT_TRUE(kb.Idle());
}

TEST(KeyboardWithReleases, FocusLossReleasesEverythingButKeepsTaps) {
  Keyboard kb(true);
  kb.Feed(Press(Key::P));
  kb.Feed(Press(Key::Y));
  EXPECT_EQ(Pass(kb), "P Y");
  kb.Feed(Press(Key::S));
  kb.Feed(Of(Decoded::Kind::FocusOut));  // the releases went to another window
  EXPECT_EQ(Pass(kb), "S");
  EXPECT_EQ(Pass(kb), "");
  EXPECT_TRUE(kb.Idle());

  kb.Feed(Press(Key::D));
  EXPECT_EQ(Pass(kb), "D");
  kb.ReleaseAll();  // resumed from suspension
  EXPECT_EQ(Pass(kb), "");
}

TEST(KeyboardWithReleases, OtherEventsChangeNothing) {
  Keyboard kb(true);
  kb.Feed(Press(Key::R));
  for (const auto kind : {Decoded::Kind::Ignored, Decoded::Kind::FocusIn,
                          Decoded::Kind::KittyFlags, Decoded::Kind::DeviceAttributes,
                          Decoded::Kind::Suspend}) {
    kb.Feed(Of(kind));
  }
  EXPECT_EQ(Pass(kb), "R");
  EXPECT_EQ(Pass(kb), "R");
}

TEST(KeyboardWithoutReleases, EachEventIsDownForOnePassInArrivalOrder) {
  Keyboard kb(false);
  EXPECT_FALSE(kb.reports_releases());
  for (const Key k : {Key::Two, Key::A, Key::P, Key::P, Key::P, Key::Two, Key::Escape})
    kb.Feed(Typed(k));
  EXPECT_FALSE(kb.Idle());
  EXPECT_EQ(Pass(kb), "2");
  EXPECT_EQ(Pass(kb), "A");
  EXPECT_EQ(Pass(kb), "P");
  EXPECT_EQ(Pass(kb), "P");
  EXPECT_EQ(Pass(kb), "P");
  EXPECT_EQ(Pass(kb), "2");
  EXPECT_FALSE(kb.Idle());
  EXPECT_EQ(Pass(kb), "Esc");
  EXPECT_EQ(Pass(kb), "");
  EXPECT_TRUE(kb.Idle());
}

TEST(KeyboardWithoutReleases, EventsArrivingBetweenPassesJoinTheQueue) {
  Keyboard kb(false);
  kb.Feed(Press(Key::F7));
  kb.Feed(Repeat(Key::F7));
  EXPECT_EQ(Pass(kb), "F7");
  kb.Feed(Press(Key::Q));
  kb.Feed(Release(Key::F7));  // cannot come from such a terminal; not an event
  EXPECT_EQ(Pass(kb), "F7");
  EXPECT_EQ(Pass(kb), "Q");
  kb.Feed(Of(Decoded::Kind::FocusOut));
  kb.Feed(Of(Decoded::Kind::Suspend));
  EXPECT_EQ(Pass(kb), "");
}

TEST(KeyboardWithoutReleases, FullQueueDropsTheNewest) {
  Keyboard kb(false);
  // Wrap the ring once before filling it, so indices go round.
  for (int i = 0; i < 100; ++i) kb.Feed(Typed(Key::D));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(Pass(kb), "D");
  for (std::size_t i = 0; i < Keyboard::kQueueCapacity; ++i) {
    EXPECT_FALSE(kb.Full());
    kb.Feed(Typed(i % 2 ? Key::T : Key::Y));
  }
  EXPECT_TRUE(kb.Full());
  kb.Feed(Typed(Key::Escape));
  for (std::size_t i = 0; i < Keyboard::kQueueCapacity; ++i)
    ASSERT_EQ(Pass(kb), i % 2 ? "T" : "Y") << "pass " << i;
  EXPECT_EQ(Pass(kb), "");
  EXPECT_TRUE(kb.Idle());
}

}  // namespace
}  // namespace quibbet
