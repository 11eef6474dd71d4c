// The editor as the main loop drives it: key events into the keyboard, each
// pass's commands from the key table, the edits, undo and redo, random and
// mutated sounds, and autoplay's replays.
#include "console/editor.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "console/key_table.hpp"

namespace quibbet {
namespace {

// A session, as words: a key name pressed ("P"), repeated ("P+"), released
// ("P^") or typed ("P.", no release follows); "|" runs a pass 16 ms after the
// last one, "|300" one 300 ms after it. "@a" names the state now, "=a" checks
// that the state is the one named so; "#3" that autoplay has played 3 times
// since the start.
void Play(KeySource source, const std::string& session, bool autoplay = false) {
  SCOPED_TRACE(session);
  KeySet once_per_press;
  for (std::size_t k = 0; k < kKeyCount; ++k)
    once_per_press.set(k, kKeyTable[k].repeat == Repeat::OncePerPress);
  Keyboard keyboard(source, once_per_press);
  Patch patch;
  std::int32_t selected = 0;
  Editor editor(patch, selected);
  editor.SetAutoplay(autoplay);
  std::map<std::string, Snapshot> named;
  long long now_ms = 1000;
  int replays = 0;
  std::istringstream words(session);
  for (std::string w; words >> w;) {
    if (w[0] == '|') {
      now_ms += w.size() > 1 ? std::stoi(w.substr(1)) : kPassPauseMs;
      keyboard.BeginPass(now_ms);
      editor.Held(keyboard.Held(), keyboard.Pressed());
      for (const Command& c : RunPass(keyboard.Down(), selected))
        if (c.kind == Command::Kind::Act && ChangesPatch(c.action)) editor.Do(c);
      editor.Held(keyboard.Held());
      if (editor.ReplayDue(now_ms)) {
        ++replays;
        editor.Played(now_ms);
      }
    } else if (w[0] == '@') {
      named[w.substr(1)] = {patch, selected};
    } else if (w[0] == '=') {
      EXPECT_TRUE(SameSnapshot({patch, selected}, named.at(w.substr(1)))) << "at " << w;
    } else if (w[0] == '#') {
      EXPECT_EQ(replays, std::stoi(w.substr(1))) << "replays at " << w;
    } else {
      const std::optional<Key> key = KeyNamed(w.substr(0, w.find_first_of("+^.")));
      ASSERT_TRUE(key) << w;
      keyboard.Feed({.key = *key,
                     .action = w.ends_with("+")   ? KeyAction::Repeat
                               : w.ends_with("^") ? KeyAction::Release
                                                  : KeyAction::Press,
                     .one_shot = w.ends_with(".")});
    }
  }
}

TEST(Editor, UndoAndRedoWalkStepsOfEveryKindHeldOrTapped) {
  const struct {
    KeySource source;
    const char* session;
  } cases[] = {
      // Taps of every edit, each a step, and the selection with them.
      {KeySource::ReleasingTerminal,
       "@a P P^ | @b 2 2^ | @c A A^ | @d W W^ | @e R R^ | @f Y Y^ | Z Z^ | =f Z Z^ | =e "
       "Z Z^ | =d Z Z^ | =c Z Z^ | =b Z Z^ | =a Z Z^ | =a X X^ | =b X X^ | =c"},
      // A held key is one step however long, keys held together are one
      // until all are let go, and each random or mutated sound is its own.
      {KeySource::ReleasingTerminal,
       "@a Q | | | Q^ | @b T | E | | T^ | E^ | @c G G^ | @d M M^ | @e Z Z^ | =d Z Z^ | =c "
       "Z Z^ | =b Z Z^ | =a X X^ | =b"},
      // Undo while a key is held ends its step; a new edit ends redo, and
      // with nothing to undo or redo nothing changes.
      {KeySource::ReleasingTerminal,
       "@a X X^ | =a Z Z^ | =a O | | Z | =a Z^ O^ | A A^ | @b X X^ | =b Z Z^ | =a"},
      // Without releases: one key's repeats are one hold, a gap or another
      // key ends it, and two taps closer than a repeat delay are one step.
      {KeySource::LegacyTerminal,
       "@a P. | P. |500 P. |33 P. |33 |300 @b P. |800 @c O. | Z. |300 =c Z. |300 =b Z. |300 =a "
       "@a P. |300 P. |300 Z. | =a"},
      // A script's keys are each a step.
      {KeySource::Script, "@a P. | @b P. | @c 2. | Z. | =c Z. | =b X. | =c"},
  };
  for (const auto& c : cases) Play(c.source, c.session);
}

TEST(Editor, AutoplayPlaysWhenEditKeysAreLetGoAndEvery150MsWhileTheyAreHeld) {
  // Held W: at once, then no sooner than 150 ms after the last, then at the
  // release; taps at once; a key that changed nothing or no key, never.
  Play(KeySource::ReleasingTerminal,
       "W | #1 | | | | | | | | #1 |100 #2 | | #2 W^ | #3 P P^ | #4 2 2^ | #4 Z Z^ | #4 Z Z^ | "
       "#5 Z Z^ | #6 Z Z^ | #6",
       true);
  // Without releases, a hold ends by time, and then it plays.
  Play(KeySource::LegacyTerminal, "P. | #1 P. | #1 |100 #1 |300 #2", true);
}

TEST(History, KeepsTheLast1000Steps) {
  History history;
  for (std::int32_t tone = 10; tone <= 1010; ++tone)
    history.Add({Patch{.tone = tone}}, {Patch{.tone = tone + 1}});
  std::optional<Snapshot> state, back;
  int undone = 0;
  for (; (back = history.Undo()); ++undone) state = back;
  EXPECT_EQ(undone, 1000);
  EXPECT_EQ(state->patch.tone, 11) << "the first step is forgotten";
  while ((back = history.Redo())) state = back;
  EXPECT_EQ(state->patch.tone, 1011);
}

}  // namespace
}  // namespace quibbet
