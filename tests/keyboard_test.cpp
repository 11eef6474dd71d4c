#include "console/keyboard.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace quibbet {
namespace {

constexpr const char* kNames[] = {"Esc", "F5", "Space", "F7", "F8", "O", "P", "1", "2",
                                  "A",   "S",  "D",     "Q",  "W",  "E", "R", "T", "Y"};
static_assert(std::size(kNames) == kKeyCount);

// One word of a script: a key name pressed, with "+" repeated, "^" released
// or "." typed (a character, which no release follows); or another event.
void Feed(Keyboard& kb, const std::string& word) {
  using Kind = KeyEvent::Kind;
  static constexpr struct {
    const char* name;
    Kind kind;
  } kOthers[] = {{"focus-out", Kind::FocusLost}, {"suspend", Kind::Suspend}};
  KeyEvent d;
  for (const auto& other : kOthers) {
    if (word == other.name) {
      d.kind = other.kind;
      return kb.Feed(d);
    }
  }
  const std::string name = word.substr(0, word.find_first_of("+^."));
  const auto at = std::find(std::begin(kNames), std::end(kNames), name);
  ASSERT_NE(at, std::end(kNames)) << word;
  d.kind = Kind::Key;
  d.key = static_cast<Key>(at - std::begin(kNames));
  d.action = word.ends_with("+")   ? KeyAction::Repeat
             : word.ends_with("^") ? KeyAction::Release
                                   : KeyAction::Press;
  d.one_shot = word.ends_with(".");
  kb.Feed(d);
}

// Events fed between two passes, then the keys down in the second, named in
// the main loop's order.
struct Step {
  const char* events;
  const char* down;
};

// Plays the steps and returns whether the keyboard is idle afterwards.
bool Play(Keyboard& kb, std::initializer_list<Step> steps) {
  int pass = 0;
  for (const Step& s : steps) {
    std::istringstream words(s.events);
    for (std::string w; words >> w;) Feed(kb, w);
    kb.BeginPass();
    std::string down;
    for (std::size_t k = 0; k < kKeyCount; ++k)
      if (kb.KeyDown(static_cast<Key>(k)))
        down += (down.empty() ? "" : " ") + std::string(kNames[k]);
    EXPECT_EQ(down, s.down) << "pass " << pass << " after \"" << s.events << "\"";
    ++pass;
  }
  return kb.Idle();
}

TEST(KeyboardWithReleases, HeldKeyIsDownEveryPassUntilReleasedRepeatOrNot) {
  Keyboard kb(KeySource::ReleasingTerminal);
  EXPECT_TRUE(kb.reports_releases());
  EXPECT_TRUE(kb.Idle());
  EXPECT_FALSE(Play(kb, {{"P", "P"}, {"", "P"}, {"P+", "P"}}));
  EXPECT_TRUE(Play(kb, {{"P^", ""}}));
  // A repeat without a press, as when a shortcut's modifier is let go while
  // the key stays down, is held too; a release of a key never pressed is nothing.
  EXPECT_FALSE(Play(kb, {{"W+", "W"}, {"", "W"}, {"Q^", "W"}}));
}

TEST(KeyboardWithReleases, TapsBetweenPassesActInOnePassAndKeysHeldTogetherInTheSame) {
  Keyboard kb(KeySource::ReleasingTerminal);
  EXPECT_TRUE(Play(kb, {{"2 2^", "2"},
                        {"", ""},
                        {"A A^ A A^", "A"},  // state, not events: once
                        {"", ""},
                        {"O", "O"},
                        {"O^ O", "O"},  // released and pressed again: still held
                        {"", "O"},
                        {"O^", ""},
                        {"A 2 F5 Space", "F5 Space 2 A"},
                        {"F5^", "Space 2 A"},
                        {"Space^ 2^ A^", ""}}));
}

TEST(KeyboardWithReleases, PlainCharactersAreTapsAndNeverStick) {
  // Pasted text arrives as characters, with no release to follow.
  Keyboard kb(KeySource::ReleasingTerminal);
  EXPECT_TRUE(Play(kb, {{"P. P.", "P"}, {"", ""}}));
}

TEST(KeyboardWithReleases, FocusLossOrResumeReleasesEverythingButKeepsTapsAndNothingElseCounts) {
  Keyboard kb(KeySource::ReleasingTerminal);
  EXPECT_TRUE(Play(kb, {{"P Y", "P Y"}, {"S focus-out", "S"}, {"", ""}}));
  EXPECT_FALSE(Play(kb, {{"D", "D"}}));
  kb.ReleaseAll();  // resumed from suspension
  EXPECT_TRUE(Play(kb, {{"", ""}}));
  EXPECT_FALSE(Play(kb, {{"R suspend", "R"}, {"", "R"}}));
}

TEST(KeyboardWithoutReleases, EachEventIsDownForOnePassInArrivalOrder) {
  Keyboard kb(KeySource::Script);
  EXPECT_FALSE(kb.reports_releases());
  EXPECT_FALSE(Play(
      kb,
      {{"2. A. P. P. P. 2. Esc.", "2"}, {"", "A"}, {"", "P"}, {"", "P"}, {"", "P"}, {"", "2"}}));
  EXPECT_TRUE(Play(kb, {{"", "Esc"}, {"", ""}}));
  // A release cannot come from such a terminal and is no event; nor are the others.
  EXPECT_TRUE(Play(kb, {{"F7 F7+", "F7"}, {"Q F7^", "F7"}, {"", "Q"}, {"focus-out suspend", ""}}));
}

TEST(KeyboardWithoutReleases, FromATerminalARunOfOneReplayOrSaveWaitingInLineActsOnce) {
  // Space held while a replay keeps the loop busy: its auto-repeats pile up.
  Keyboard kb(KeySource::LegacyTerminal);
  EXPECT_TRUE(
      Play(kb, {{"Space Space+ Space+ F5 Space+", "Space"}, {"Space+ Space+", "Space"}, {"", ""}}));
  // Only a run right behind the key taken goes; edits between replays, other
  // actions, the order and repeated edits all stay.
  EXPECT_TRUE(Play(kb, {{"F7 F7 F8 F8 F7 P P Space Space O Space", "F7"},
                        {"", "F8"},
                        {"", "F7"},
                        {"", "P"},
                        {"", "P"},
                        {"", "Space"},
                        {"", "O"},
                        {"", "Space"},
                        {"", ""}}));
  EXPECT_TRUE(Play(kb, {{"Space Space Esc", "Space"}, {"", "Esc"}, {"", ""}}));
  // A script means every key it holds.
  Keyboard script(KeySource::Script);
  EXPECT_TRUE(
      Play(script, {{"Space F5 F7 F7", "Space"}, {"", "F5"}, {"", "F7"}, {"", "F7"}, {"", ""}}));
}

TEST(KeyboardWithoutReleases, FullQueueDropsTheNewest) {
  Keyboard kb(KeySource::Script);
  // Wrap the ring once before filling it, so indices go round.
  for (int i = 0; i < 100; ++i) Feed(kb, "D.");
  for (int i = 0; i < 100; ++i) Play(kb, {{"", "D"}});
  for (std::size_t i = 0; i < Keyboard::kQueueCapacity; ++i) {
    EXPECT_FALSE(kb.Full());
    EXPECT_EQ(kb.Room(), Keyboard::kQueueCapacity - i);
    Feed(kb, i % 2 ? "T." : "Y.");
  }
  EXPECT_TRUE(kb.Full());
  EXPECT_EQ(kb.Room(), 0u);
  Feed(kb, "Esc.");
  for (std::size_t i = 0; i < Keyboard::kQueueCapacity; ++i) Play(kb, {{"", i % 2 ? "T" : "Y"}});
  EXPECT_TRUE(Play(kb, {{"", ""}}));
}

}  // namespace
}  // namespace quibbet
