#include "console/key_table.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

namespace quibbet {
namespace {

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
  const std::optional<Key> key = KeyNamed(word.substr(0, word.find_first_of("+^.")));
  ASSERT_TRUE(key) << word;
  d.kind = Kind::Key;
  d.key = *key;
  d.action = word.ends_with("+")   ? KeyAction::Repeat
             : word.ends_with("^") ? KeyAction::Release
                                   : KeyAction::Press;
  d.one_shot = word.ends_with(".");
  kb.Feed(d);
}

// Events fed between two passes, then the keys down in the second, named in
// the main loop's order; the second pass comes `ms` after the first.
struct Step {
  const char* events;
  const char* down;
  int ms = kPassPauseMs;
};

long long now_ms = 0;

// Plays the steps and returns whether the keyboard is idle afterwards.
bool Play(Keyboard& kb, std::initializer_list<Step> steps) {
  int pass = 0;
  for (const Step& s : steps) {
    std::istringstream words(s.events);
    for (std::string w; words >> w;) Feed(kb, w);
    kb.BeginPass(now_ms += s.ms);
    std::string down;
    for (std::size_t k = 0; k < kKeyCount; ++k)
      if (kb.Down().test(k)) down += (down.empty() ? "" : " ") + std::string(kKeyTable[k].name);
    EXPECT_EQ(down, s.down) << "pass " << pass << " after \"" << s.events << "\"";
    ++pass;
  }
  return kb.Idle();
}

TEST(KeyboardWithReleases, HeldKeyIsDownEveryPassUntilReleasedRepeatOrNot) {
  Keyboard kb(KeySource::ReleasingTerminal, {});
  EXPECT_TRUE(kb.reports_releases());
  EXPECT_TRUE(kb.Idle());
  EXPECT_FALSE(Play(kb, {{"P", "P"}, {"", "P"}, {"P+", "P"}}));
  EXPECT_TRUE(Play(kb, {{"P^", ""}}));
  // A repeat without a press, as when a shortcut's modifier is let go while
  // the key stays down, is held too; a release of a key never pressed is nothing.
  EXPECT_FALSE(Play(kb, {{"W+", "W"}, {"", "W"}, {"Q^", "W"}}));
}

TEST(KeyboardWithReleases, TapsBetweenPassesActInOnePassAndKeysHeldTogetherInTheSame) {
  Keyboard kb(KeySource::ReleasingTerminal, {});
  EXPECT_TRUE(Play(kb, {{"2 2^", "2"},
                        {"", ""},
                        {"A A^ A A^", "A"},  // state, not events: once
                        {"", ""},
                        {"O", "O"},
                        {"O^ O", "O"},  // released and pressed again: still held
                        {"", "O"},
                        {"O^", ""},
                        {"A 2 F5 Space", "Space F5 2 A"},
                        {"F5^", "Space 2 A"},
                        {"Space^ 2^ A^", ""}}));
}

TEST(KeyboardWithReleases, OncePerPressKeyActsOnceAndHeldRepeatsAfterAHalfSecondTenTimesASecond) {
  KeySet once_per_press;
  once_per_press.set(static_cast<std::size_t>(KeyNamed("P").value()));
  Keyboard kb(KeySource::ReleasingTerminal, once_per_press);
  EXPECT_TRUE(Play(kb, {{"P W", "P W"},
                        {"P+ W+", "W"},  // the terminal's repeats are not ours
                        {"", "W", kRepeatDelayMs - kPassPauseMs - 1},
                        {"W^", "P", 1},
                        {"", "", kRepeatIntervalMs - 1},
                        {"", "P", 1},
                        {"P^ P P^ P P^", "P"},  // taps between two passes act once
                        {"", ""}}));
}

TEST(KeyboardWithReleases, PlainCharactersAreTapsAndNeverStick) {
  // Pasted text arrives as characters, with no release to follow.
  Keyboard kb(KeySource::ReleasingTerminal, {});
  EXPECT_TRUE(Play(kb, {{"P. P.", "P"}, {"", ""}}));
}

TEST(KeyboardWithReleases, FocusLossOrResumeReleasesEverythingButKeepsTapsAndNothingElseCounts) {
  Keyboard kb(KeySource::ReleasingTerminal, {});
  EXPECT_TRUE(Play(kb, {{"P Y", "P Y"}, {"S focus-out", "S"}, {"", ""}}));
  EXPECT_FALSE(Play(kb, {{"D", "D"}}));
  kb.ReleaseAll();  // resumed from suspension
  EXPECT_TRUE(Play(kb, {{"", ""}}));
  EXPECT_FALSE(Play(kb, {{"R suspend", "R"}, {"", "R"}}));
}

TEST(KeyboardWithoutReleases, EachEventIsDownForOnePassInArrivalOrder) {
  Keyboard kb(KeySource::Script, {});
  EXPECT_FALSE(kb.reports_releases());
  EXPECT_FALSE(Play(
      kb,
      {{"2. A. P. P. P. 2. Escape.", "2"}, {"", "A"}, {"", "P"}, {"", "P"}, {"", "P"}, {"", "2"}}));
  EXPECT_TRUE(Play(kb, {{"", "Escape"}, {"", ""}}));
  // A release cannot come from such a terminal and is no event; nor are the others.
  EXPECT_TRUE(Play(kb, {{"F7 F7+", "F7"}, {"Q F7^", "F7"}, {"", "Q"}, {"focus-out suspend", ""}}));
}

TEST(KeyboardWithoutReleases, FromATerminalARunOfOneReplayOrSaveWaitingInLineActsOnce) {
  // Space held while a replay keeps the loop busy: its auto-repeats pile up.
  Keyboard kb(KeySource::LegacyTerminal, {});
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
  EXPECT_TRUE(Play(kb, {{"Space Space Escape", "Space"}, {"", "Escape"}, {"", ""}}));
  // A script means every key it holds.
  Keyboard script(KeySource::Script, {});
  EXPECT_TRUE(
      Play(script, {{"Space F5 F7 F7", "Space"}, {"", "F5"}, {"", "F7"}, {"", "F7"}, {"", ""}}));
}

TEST(KeyboardWithoutReleases, OncePerPressKeyActsTenTimesASecondAtMostInARunOfItsEvents) {
  KeySet once_per_press;
  once_per_press.set(static_cast<std::size_t>(KeyNamed("P").value()));
  Keyboard kb(KeySource::LegacyTerminal, once_per_press);
  // The terminal repeats every 33 ms; another key between ends the run.
  EXPECT_TRUE(Play(kb, {{"P.", "P"},
                        {"P.", "", 33},
                        {"P.", "", 33},
                        {"P.", "P", 34},
                        {"P.", "", 33},
                        {"P.", "", 33},
                        {"P.", "P", 34},
                        {"O.", "O"},
                        {"P.", "P"},
                        {"", ""}}));
}

TEST(KeyboardWithoutReleases, FullQueueDropsTheNewest) {
  Keyboard kb(KeySource::Script, {});
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
  Feed(kb, "Escape.");
  for (std::size_t i = 0; i < Keyboard::kQueueCapacity; ++i) Play(kb, {{"", i % 2 ? "T" : "Y"}});
  EXPECT_TRUE(Play(kb, {{"", ""}}));
}

}  // namespace
}  // namespace quibbet
