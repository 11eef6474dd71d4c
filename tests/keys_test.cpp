#include "console/keys.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quibbet {
namespace {

using Kind = Decoded::Kind;

std::span<const std::uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// One decoded event as text, so a failure reads like the input: "P", "F5^"
// (release), "F7+" (repeat), "P." (one-shot), "focus-in", "-" (ignored).
std::string Describe(const Decoded& d) {
  switch (d.kind) {
    case Kind::Ignored:
      return "-";
    case Kind::FocusIn:
      return "focus-in";
    case Kind::FocusOut:
      return "focus-out";
    case Kind::KittyFlags:
      return "kitty-flags";
    case Kind::DeviceAttributes:
      return "device-attributes";
    case Kind::Suspend:
      return "suspend";
    case Kind::KeyEvent:
      break;
  }
  std::string s = RowOf(d.key).name;
  if (d.action == KeyAction::Repeat) s += "+";
  if (d.action == KeyAction::Release) s += "^";
  if (d.one_shot) s += ".";
  return s;
}

// Decodes a whole input that has fully arrived, as a reader does after the
// escape timeout, listing every event that is not ignored.
std::string DecodeAll(std::string_view input, const TerminfoKeys& keys = {}) {
  std::string events;
  while (!input.empty()) {
    const Decoded d = DecodeKey(Span(input), keys, /*input_idle=*/true);
    if (d.consumed == 0 || d.consumed > input.size()) return events + " <no progress>";
    if (d.kind != Kind::Ignored) events += (events.empty() ? "" : " ") + Describe(d);
    input.remove_prefix(d.consumed);
  }
  return events;
}

struct Case {
  std::string input;
  std::string expected;  // Describe() of the one event it decodes to
};

// A terminal description that names these keys' sequences.
TerminfoKeys Described(std::initializer_list<std::pair<const char*, const char*>> sequences) {
  TerminfoKeys keys;
  for (const auto& [name, sequence] : sequences)
    keys.sequence[static_cast<std::size_t>(KeyNamed(name).value())] = sequence;
  return keys;
}

// Every sequence decodes whole, whether or not more input follows it; and
// every proper prefix of it, with more input possibly on the way, asks for
// more rather than giving up or guessing.
void CheckTable(const std::vector<Case>& cases, const TerminfoKeys& keys = {}) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    for (const bool idle : {false, true}) {
      const Decoded d = DecodeKey(Span(c.input), keys, idle);
      EXPECT_EQ(Describe(d), c.expected) << "idle=" << idle;
      EXPECT_EQ(d.consumed, c.input.size()) << "idle=" << idle;
    }
    // A key right behind it is neither swallowed nor changes the result.
    const std::string followed = c.input + "p";
    const Decoded d = DecodeKey(Span(followed), keys, false);
    EXPECT_EQ(Describe(d), c.expected);
    EXPECT_EQ(d.consumed, c.input.size());
    for (std::size_t cut = 1; cut < c.input.size(); ++cut) {
      EXPECT_EQ(DecodeKey(Span(std::string_view(c.input).substr(0, cut)), keys, false).consumed, 0u)
          << "split after byte " << cut;
    }
  }
}

// Every key of the table, from each form its row gives: typed (a letter in
// either case), as the kitty protocol reports it, as CSI <number> ~, as the
// Linux console sends it, and as a terminal's description names it.
TEST(DecodeKey, EveryKeyFromEachOfItsForms) {
  std::vector<Case> cases;
  TerminfoKeys described;
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    const KeyRow& row = kKeyTable[k];
    const std::string name = row.name;
    if (row.text != 0 && row.text != '\x1b') {
      cases.push_back({std::string(1, row.text), name + "."});
      cases.push_back({std::string(1, static_cast<char>(std::toupper(row.text))), name + "."});
    }
    if (row.text != 0) {
      const std::string kitty = "\x1b[" + std::to_string(row.text);
      cases.push_back({kitty + "u", name});
      cases.push_back({kitty + ";1:2u", name + "+"});
      cases.push_back({kitty + ";1:3u", name + "^"});
    }
    if (row.tilde != 0) {
      const std::string tilde = "\x1b[" + std::to_string(row.tilde);
      cases.push_back({tilde + "~", name});
      cases.push_back({tilde + ";1:2~", name + "+"});
      cases.push_back({tilde + ";1:3~", name + "^"});
    }
    if (row.linux_console != 0)
      cases.push_back({std::string("\x1b[[") + row.linux_console, name + "."});
    if (row.terminfo != nullptr) {
      described.sequence[k] = std::string("\x1bO") + static_cast<char>('a' + k);
      cases.push_back({described.sequence[k], name + "."});
    }
  }
  CheckTable(cases, described);
}

TEST(DecodeKey, ControlBytesAndOtherCharacters) {
  CheckTable({
      {"\x03", "Escape."},  // Ctrl-C quits like Escape
      {"\x1a", "suspend"},
      // Other characters and control bytes mean nothing.
      {"b", "-"},
      {"3", "-"},
      {"0", "-"},
      {"\r", "-"},
      {"\t", "-"},
      {"\x7f", "-"},
      {"\x10", "-"},
      {"\xc3", "-"},
      {"\xa9", "-"},
      {"\x9b", "-"},
      {std::string("\0", 1), "-"},
  });
}

TEST(DecodeKey, LegacyFunctionKeys) {
  CheckTable({
      {"\x1b[15;2~", "F5"},                          // Shift leaves the key as it is
      {"\x1b[19;1~", "F8"},    {"\x1b[15;5~", "-"},  // Ctrl-F5, Alt-F7: shortcuts
      {"\x1b[18;3~", "-"},     {"\x1b[[A", "-"},    {"\x1b[17~", "-"},  {"\x1b[20~", "-"},
      {"\x1b[2~", "-"},        {"\x1b[A", "-"},     {"\x1b[1;5A", "-"}, {"\x1b[200~", "-"},
      {"\x1b[15$", "F5."},     {"\x1b[2$", "-"},    {"\x1b[15^", "-"},  // rxvt: Shift, Ctrl
      {"\x1bOT", "-"},  // SS3 forms only count where terminfo names them
      {"\x1bOP", "-"},         {"\x1bO2P", "-"},    {"\x1bp", "-"},  // Alt-P
      {"\x1b\x03", "Escape."},                                       // Alt-Ctrl-C still quits
  });
}

TEST(DecodeKey, TerminfoSequences) {
  const TerminfoKeys vt220_like =
      Described({{"F5", "\x1bOt"}, {"F7", "\x1bOv"}, {"F8", "\x1b[31;7~"}});
  CheckTable({{"\x1bOt", "F5."},
              {"\x1bOv", "F7."},
              {"\x1b[31;7~", "F8."},
              // the common forms still work beside them
              {"\x1b[15~", "F5"},
              {"\x1b[19~", "F8"},
              {"\x1bOw", "-"}},
             vt220_like);
  // A kitty terminal's description names the kitty forms: their presses
  // still expect releases, and their releases are still seen.
  const TerminfoKeys kitty =
      Described({{"F5", "\x1b[15~"}, {"F7", "\x1b[18~"}, {"F8", "\x1b[19~"}});
  CheckTable({{"\x1b[15~", "F5"}, {"\x1b[15;1:3~", "F5^"}, {"\x1b[19;1:2~", "F8+"}}, kitty);
  // A description that makes a plain byte a function key is not believed,
  // nor one that would cut a longer sequence short.
  EXPECT_EQ(DecodeAll("\x1b[15~\x1b[1p", Described({{"F5", "\x1b[1"}})), "F5 F5. P.");
  const TerminfoKeys odd = Described({{"F5", "p"}, {"F8", "\x1b"}});
  EXPECT_EQ(DecodeAll("p\x1b[19~", odd), "P. F8");
}

TEST(DecodeKey, KittyKeys) {
  CheckTable({
      {"\x1b[112u", "P"},
      {"\x1b[112;1u", "P"},
      {"\x1b[112;1:1u", "P"},
      {"\x1b[112;1:2u", "P+"},
      {"\x1b[112;1:3u", "P^"},
      {"\x1b[112:80;2u", "P"},   // shifted alternate
      {"\x1b[80;2u", "P"},       // or an upper-case code
      {"\x1b[112;1;112u", "P"},  // associated text
      {"\x1b[112;65u", "P"},
      {"\x1b[112;129:2u", "P+"},  // Caps Lock, Num Lock
      // Ctrl-C is Escape, with any other modifiers too; Ctrl-Z suspends.
      {"\x1b[99;5u", "Escape"},
      {"\x1b[99;6:1u", "Escape"},
      {"\x1b[99;5:3u", "Escape^"},
      {"\x1b[67;7u", "Escape"},
      {"\x1b[122;5u", "suspend"},
      {"\x1b[122;5:3u", "-"},
      // Shortcuts are ignored when pressed, but their releases count.
      {"\x1b[112;5u", "-"},
      {"\x1b[112;3:2u", "-"},
      {"\x1b[112;9u", "-"},
      {"\x1b[112;5:3u", "P^"},
      {"\x1b[27;5u", "-"},
      // Modifier keys, other keys and the keypad's digits.
      {"\x1b[57441u", "-"},
      {"\x1b[57441;2:3u", "-"},
      {"\x1b[57442;5u", "-"},
      {"\x1b[57452;33:2u", "-"},
      {"\x1b[57400u", "-"},
      {"\x1b[57401;1:3u", "-"},
      {"\x1b[99u", "-"},
      {"\x1b[13u", "-"},
      {"\x1b[9u", "-"},
      {"\x1b[127u", "-"},
      // Malformed fields.
      {"\x1b[u", "-"},
      {"\x1b[;2u", "-"},
      {"\x1b[112;1:4u", "-"},
      {"\x1b[112;1:0u", "-"},
      {"\x1b[11:2u", "-"},
      {"\x1b[=112u", "-"},
      {"\x1b[112 u", "-"},
      {"\x1b[99999999999999999999999u", "-"},
      {"\x1b[4294967408u", "-"},
  });
}

TEST(DecodeKey, TerminalReplies) {
  CheckTable({
      {"\x1b[I", "focus-in"},
      {"\x1b[O", "focus-out"},
      {"\x1b[?11u", "kitty-flags"},
      {"\x1b[?0u", "kitty-flags"},
      {"\x1b[?62;22c", "device-attributes"},
      {"\x1b[?1;2c", "device-attributes"},
      {"\x1b[?65;1;9c", "device-attributes"},
      {"\x1b[c", "-"},
      {"\x1b[>1;10;0c", "-"},
      {"\x1b[1I", "-"},
      {"\x1b[?=u", "-"},
  });
}

TEST(DecodeKey, LoneEscapeOnlyWhenNothingFollows) {
  const TerminfoKeys none;
  EXPECT_EQ(DecodeKey(Span("\x1b"), none, false).consumed, 0u);
  const Decoded d = DecodeKey(Span("\x1b"), none, true);
  EXPECT_EQ(Describe(d), "Escape.");
  EXPECT_EQ(d.consumed, 1u);
  // Escape pressed twice before the timeout: Escape all the same.
  EXPECT_EQ(DecodeAll("\x1b\x1b"), "Escape.");
  EXPECT_EQ(DecodeAll("p\x1b"), "P. Escape.");
}

TEST(DecodeKey, JunkAroundKeysSwallowsNone) {
  const std::string_view eight_bit_text = "\xc3\xa9\xe2\x82\xac";
  EXPECT_EQ(DecodeAll(std::string("#&") + std::string(eight_bit_text) + "p\r\nA\x7f"), "P. A.");
  EXPECT_EQ(DecodeAll("\x1b[A\x1b[1;5Bp\x1b[?1;2c2\x1b[200~a\x1b[201~\x1bOP"),
            "P. device-attributes 2. A.");
  // A sequence cut short by a new ESC ends there.
  EXPECT_EQ(DecodeAll("\x1b[1\x1b[15~\x1b[112;\x1b[18~\x1bO\x1b[112u"), "F5 F7 P");
  // ... and so does one cut short by a control byte or a stray high byte.
  EXPECT_EQ(DecodeAll("\x1b[12\x03q\x1b[3\xc3\xa9\x1b[19~"), "Escape. Q. F8");
  EXPECT_EQ(DecodeAll("\x1b[[\x1b[15~\x1b\x1b[19~"), "F5 F8");
  // Kitty events in a stream, and replies between them.
  EXPECT_EQ(DecodeAll("\x1b[?11u\x1b[?62c\x1b[I\x1b[112;1:1u\x1b[97u\x1b[57441;2u"
                      "\x1b[112;1:3u\x1b[O"),
            "kitty-flags device-attributes focus-in P A P^ focus-out");
}

TEST(DecodeKey, TruncatedSequencesAtTheTimeoutAreDropped) {
  for (const std::string_view cut : {"\x1b[", "\x1b[15", "\x1b[15;", "\x1b[[", "\x1bO", "\x1bO2",
                                     "\x1b[112;1:", "\x1b[?1;2", "\x1b[1 "}) {
    SCOPED_TRACE(testing::PrintToString(std::string(cut)));
    const Decoded d = DecodeKey(Span(cut), {}, true);
    EXPECT_EQ(Describe(d), "-");
    EXPECT_EQ(d.consumed, cut.size());
    EXPECT_EQ(DecodeKey(Span(cut), {}, false).consumed, 0u);
  }
  // Dropping it leaves what arrives next alone.
  EXPECT_EQ(DecodeAll("\x1b[15") + "|" + DecodeAll("p"), "|P.");
}

TEST(DecodeKey, OverlongSequencesAreDroppedNotAwaited) {
  // Zeros are no key, so only the decision to stop waiting is seen.
  const std::string almost = "\x1b[" + std::string(kMaxSequenceBytes - 3, '0');
  EXPECT_EQ(DecodeKey(Span(almost), {}, false).consumed, 0u);
  const std::string full = almost + "0";
  EXPECT_EQ(DecodeKey(Span(full), {}, false).consumed, kMaxSequenceBytes);
  const std::string longer = full + std::string(50, ';');
  EXPECT_EQ(DecodeKey(Span(longer), {}, false).consumed, longer.size());
  // Complete ones of any length are still read whole.
  const std::string long_reply = "\x1b[?" + std::string(300, '1') + "c";
  EXPECT_EQ(DecodeAll(long_reply + "p"), "device-attributes P.");
}

}  // namespace
}  // namespace quibbet
