// The key table: one row per key the program acts on, with every form in
// which the key reaches the program, what it does, how often a held key does
// it, and how --help names it. Everything that knows a key reads it here: the
// terminal decoder (keys.cpp) and the terminal's terminfo look-up, the
// Windows console's records (console_records.cpp), and below, the held-key
// state, the pass and the help. A new key is a row here, plus its action
// where actions are done (Edit in key_table.cpp, or Perform in session.cpp
// for those that reach outside the patch), plus its line in the README.
//
// The status screen's legend is not made from this table: it is the screen's
// own fixed text (screen.cpp), which names some keys and not others.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "console/key_event.hpp"
#include "engine/patch.hpp"

namespace quibbet {

// What a key does.
enum class Action : std::uint8_t {
  Quit,       // leave the loop at once: nothing else of the pass happens
  Replay,     // stop the sound, render the patch afresh and play it
  SaveWave,   // write the last sound to out.wav
  SaveParam,  // write both oscillators to import.txt
  // Edits: they change the patch or the selection and nothing else.
  PitchDown,
  PitchUp,
  SelectOsc0,
  SelectOsc1,
  Saw,  // the waveform of the selected oscillator
  Sine,
  Square,
  DetuneDown,
  DetuneUp,
  FmDown,
  FmUp,
  NoiseDown,
  NoiseUp,
  // Done by the editor (console/editor.hpp), with its history of steps.
  Undo,
  Redo,
  Random,    // a whole new patch
  Mutate,    // every value of the patch nudged a little
  Autoplay,  // switches playing the sound again after every edit on or off
};

// How often a key acts while it is held down.
enum class Repeat : std::uint8_t {
  EveryPass,     // on every pass of the loop, for as long as it is held
  OncePerPress,  // once per press; held past kRepeatDelayMs, again every kRepeatIntervalMs
};

// A once-per-press key held down repeats as a keyboard's own repeat does.
inline constexpr int kRepeatDelayMs = 500;
inline constexpr int kRepeatIntervalMs = 100;

struct KeyRow {
  const char* name;  // as --help and the tests spell it
  // The forms in which terminals send the key; 0 or nullptr where it has none.
  //  text: the character it types, a letter in either case. The kitty
  //    keyboard protocol reports the key by this same code point.
  //  tilde: the number of its `CSI <number> ~`, on which xterm, VTE,
  //    Konsole, tmux, screen and the kitty protocol all agree.
  //  linux_console: the letter of the Linux console's `ESC [ [ <letter>`.
  //  terminfo: the capability that names its sequence in the terminal's
  //    description, for the terminals that send something else.
  char text;
  std::uint8_t tilde;
  char linux_console;
  const char* terminfo;
  std::uint16_t virtual_key;  // the Windows virtual-key code of console input records
  Action action;
  Repeat repeat;
  // Whether the status screen's legend names the key. --help lists these
  // first, and then those that only it and the README name.
  bool legend;
  // The key's line in --help's list of keys, counted from 1: keys with the
  // same number share a line, whose text the first of them in this table holds.
  std::uint8_t help_line;
  const char* help;
};

// The rows in the order in which a pass tests the keys, so that keys held
// together act in this order. Two keys with the same action are one test:
// held together, they act once, where the first of them stands.
// clang-format off
inline constexpr KeyRow kKeyTable[] = {
    // name    text    tilde linux terminfo vk    action              repeat
    //         legend, help line and text
    {"Escape", '\x1b', 0,  0,   nullptr, 0x1B, Action::Quit,       Repeat::EveryPass,
               false, 11, "quit (Ctrl-C too; Ctrl-Z suspends)"},
    {"Space",  ' ',    0,  0,   nullptr, 0x20, Action::Replay,     Repeat::EveryPass,
               true,  1, "render and play the sound again"},
    {"F5",     0,      15, 'E', "kf5",   0x74, Action::Replay,     Repeat::EveryPass,
               false, 10, "render and play the sound again, as Space does"},
    {"F7",     0,      18, 0,   "kf7",   0x76, Action::SaveWave,   Repeat::EveryPass,
               true,  2, "save the last sound to out.wav"},
    {"F8",     0,      19, 0,   "kf8",   0x77, Action::SaveParam,  Repeat::EveryPass,
               true,  3, "save both oscillators to import.txt"},
    {"O",      'o',    0,  0,   nullptr, 'O',  Action::PitchDown,  Repeat::EveryPass,
               true,  9, "pitch down / up by one semitone"},
    {"P",      'p',    0,  0,   nullptr, 'P',  Action::PitchUp,    Repeat::EveryPass,
               true,  9, nullptr},
    {"1",      '1',    0,  0,   nullptr, '1',  Action::SelectOsc0, Repeat::EveryPass,
               true,  4, "select oscillator 0 / 1"},
    {"2",      '2',    0,  0,   nullptr, '2',  Action::SelectOsc1, Repeat::EveryPass,
               true,  4, nullptr},
    {"A",      'a',    0,  0,   nullptr, 'A',  Action::Saw,        Repeat::EveryPass,
               true,  5, "waveform of the selected oscillator: saw / sine / square"},
    {"S",      's',    0,  0,   nullptr, 'S',  Action::Sine,       Repeat::EveryPass,
               true,  5, nullptr},
    {"D",      'd',    0,  0,   nullptr, 'D',  Action::Square,     Repeat::EveryPass,
               true,  5, nullptr},
    {"Q",      'q',    0,  0,   nullptr, 'Q',  Action::DetuneDown, Repeat::EveryPass,
               true,  6, "detune down / up by 0.001"},
    {"W",      'w',    0,  0,   nullptr, 'W',  Action::DetuneUp,   Repeat::EveryPass,
               true,  6, nullptr},
    {"E",      'e',    0,  0,   nullptr, 'E',  Action::FmDown,     Repeat::EveryPass,
               true,  7, "FM (sine waveshaping depth) down / up by 0.1"},
    {"R",      'r',    0,  0,   nullptr, 'R',  Action::FmUp,       Repeat::EveryPass,
               true,  7, nullptr},
    {"T",      't',    0,  0,   nullptr, 'T',  Action::NoiseDown,  Repeat::EveryPass,
               true,  8, "noise down / up by 0.01"},
    {"Y",      'y',    0,  0,   nullptr, 'Y',  Action::NoiseUp,    Repeat::EveryPass,
               true,  8, nullptr},
    {"Z",      'z',    0,  0,   nullptr, 'Z',  Action::Undo,       Repeat::OncePerPress,
               false, 12, "undo / redo one step: a key's edits from press to release"},
    {"X",      'x',    0,  0,   nullptr, 'X',  Action::Redo,       Repeat::OncePerPress,
               false, 12, nullptr},
    {"G",      'g',    0,  0,   nullptr, 'G',  Action::Random,     Repeat::OncePerPress,
               false, 13, "a random sound"},
    {"M",      'm',    0,  0,   nullptr, 'M',  Action::Mutate,     Repeat::OncePerPress,
               false, 14, "mutate: nudge every value a little, the waveform rarely"},
    {"V",      'v',    0,  0,   nullptr, 'V',  Action::Autoplay,   Repeat::OncePerPress,
               false, 15, "autoplay on / off: play the sound again after every edit"},
};
// clang-format on
inline constexpr std::size_t kKeyCount = std::size(kKeyTable);

// One bit per key, by row.
using KeySet = std::bitset<kKeyCount>;

constexpr const KeyRow& RowOf(Key key) { return kKeyTable[static_cast<std::size_t>(key)]; }

// The first key, in table order, whose row passes `test`.
template <typename Test>
constexpr std::optional<Key> FindKey(Test test) {
  for (std::size_t k = 0; k < kKeyCount; ++k)
    if (test(kKeyTable[k])) return static_cast<Key>(k);
  return std::nullopt;
}

constexpr std::optional<Key> KeyNamed(std::string_view name) {
  return FindKey([&](const KeyRow& row) { return name == row.name; });
}

// The key that quits: Ctrl-C and the end of a key script stand for it.
inline constexpr Key kQuitKey =
    *FindKey([](const KeyRow& row) { return row.action == Action::Quit; });

// The lines of --help that list the keys: two spaces, the keys, their text;
// under one heading the keys the screen's legend names, under another the rest.
std::string KeysHelp();

// ---- "Is this key held down now?" for the main loop, from key events.

// From a terminal without releases, one key's events are one hold while
// each comes soon enough after the one before: the first repeat within
// kHoldFirstGapMs (a keyboard's repeat delay: 660 ms at most among the usual
// defaults), every later one within kHoldRepeatGapMs (keyboards repeat 10 to
// 40 times a second). Taps of one key closer than that are one hold too.
inline constexpr int kHoldFirstGapMs = 700;
inline constexpr int kHoldRepeatGapMs = 200;

class Keyboard {
 public:
  // With releases: a true held state per key. Without: each press or
  // auto-repeat counts as the key down for one pass at most. The keys in
  // `once_per_press` (the key table's, in the program) act once per press
  // instead of on every pass they are held, and held, ten times a second.
  Keyboard(KeySource source, const KeySet& once_per_press);

  // Takes key events, and FocusLost as ReleaseAll; a Suspend is the main
  // loop's to act on and means nothing here. With releases, a one_shot key is
  // only a tap. Without, presses and repeats wait in a queue of
  // kQueueCapacity; when it is full the newest is dropped, so a reader that
  // must lose nothing (piped input) reads no more than Room().
  void Feed(const KeyEvent& event);

  static constexpr std::size_t kQueueCapacity = 256;
  bool Full() const;
  // How many more presses and repeats Feed takes without dropping one:
  // without limit where releases are reported.
  std::size_t Room() const;

  // Fixes which keys count as down for the pass about to run, at `now_ms` on
  // a steady clock.
  //  - with releases: keys held now, plus any pressed and released since the
  //    last pass (a tap is never lost). A once-per-press key counts in the
  //    first pass after its press; held, again kRepeatDelayMs after it and then
  //    every kRepeatIntervalMs;
  //  - without: the oldest queued event's key alone, so a burst of typed keys
  //    acts one per pass in arrival order. From a terminal, a replay or save
  //    also takes the run of the same action queued right behind it; and a
  //    once-per-press key's events in one hold act at most every
  //    kRepeatIntervalMs. Its first repeat cannot be told from a second tap,
  //    so held, it acts again after the keyboard's own repeat delay.
  void BeginPass(long long now_ms);

  // The keys down in the pass that BeginPass began.
  const KeySet& Down() const;

  // The keys held down as BeginPass found them: with releases, those pressed
  // and not yet released (not taps); from a terminal without, the key of the
  // hold under way, if any; from a script, none.
  const KeySet& Held() const;

  // The keys whose press (not a repeat) BeginPass took: a new hold, even of
  // a key held just before.
  const KeySet& Pressed() const;

  // Focus lost or resumed from suspension: nothing may stay stuck. Keys held
  // are let go; a press already seen still acts once, and queued events stay.
  void ReleaseAll();

  // No key down in this pass and nothing queued or held for the next.
  bool Idle() const;

  bool reports_releases() const;

 private:
  Key PopQueued();

  KeySource source_;
  KeySet once_per_press_;
  KeySet held_;
  KeySet tapped_;
  KeySet down_;
  KeySet pressed_;
  KeySet pressed_since_pass_;  // with releases
  // When each held once-per-press key acts again.
  std::array<long long, kKeyCount> next_repeat_ms_{};
  // Without releases: the key of the hold under way, whether it has
  // repeated, and when its last event was taken.
  KeySet hold_;
  bool hold_repeats_ = false;
  long long hold_last_ms_ = 0;
  // Oldest first; a fixed ring so that typing never allocates.
  std::array<Key, kQueueCapacity> queue_{};
  std::size_t queue_head_ = 0;
  std::size_t queue_size_ = 0;
};

// ---- One pass of the main loop

// The pause at the end of every pass.
inline constexpr int kPassPauseMs = 16;

// One thing a pass asks the program to do.
struct Command {
  enum class Kind : std::uint8_t { Draw, Act };
  Kind kind = Kind::Draw;
  Action action = Action::Quit;  // for Act
  Key key{};                     // for Act: the first key held with that action
  // For an oscillator's edit: the oscillator, the one selected when the pass began.
  std::uint8_t osc = 0;
  bool operator==(const Command&) const = default;
};

// What one pass asks for, in the order it is to be done: at most a draw and
// an action per key, and one draw more.
class Pass {
 public:
  const Command* begin() const;
  const Command* end() const;
  void Add(const Command& command);

 private:
  std::array<Command, 2 * kKeyCount + 1> commands_{};
  std::size_t size_ = 0;
};

// Whether an action is an edit (Edit below does it) rather than one that
// reaches outside the patch.
bool IsEdit(Action action);

// Whether an action may change the patch or the selection: the edits, and
// undo, redo, random and mutate, which the editor does (console/editor.hpp).
bool ChangesPatch(Action action);

// The commands of one pass with the keys `down`, tested in table order, while
// `selected_osc` is selected. Every action except quitting and the autoplay
// switch is preceded by a draw, so the screen shows the values from before
// its change; a pass that may have changed the patch draws once more at its
// end. The autoplay switch draws nothing: it changes nothing on the screen.
// Quitting is the pass's only command.
Pass RunPass(const KeySet& down, std::int32_t selected_osc);

// Does an edit: an Act command whose action IsEdit.
void Edit(const Command& command, Patch& patch, std::int32_t& selected_osc);

// The parameter steps of one key press, as double constants (the sums are
// done in double).
inline constexpr double kDetuneStep = 0.001;
inline constexpr double kFmStep = 0.1;
inline constexpr double kNoiseStep = 0.01;

// A parameter step done in double precision: the field is widened, the step
// added, and the sum rounded back to single precision.
float Step(float value, double step);

// Any 32-bit tone is valid; stepping past either end wraps rather than
// overflowing, which would be undefined behaviour.
std::int32_t StepTone(std::int32_t tone, std::int32_t by);

}  // namespace quibbet
