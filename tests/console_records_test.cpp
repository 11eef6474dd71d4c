// Windows console records as key events, checked on every platform: the
// events a kitty terminal would send for the same keys.
#include "console/console_records.hpp"

#include "console/key_table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quibbet {
namespace {

constexpr std::uint32_t kShift = 0x0010;  // SHIFT_PRESSED
constexpr std::uint32_t kCtrl = vk::kLeftCtrl;
constexpr std::uint32_t kAlt = vk::kRightAlt;

ConsoleRecord Down(std::uint16_t code, std::uint32_t mods = 0) {
  return {.type = ConsoleRecord::Type::Key,
          .key_down = true,
          .virtual_key = code,
          .control_keys = mods};
}
ConsoleRecord Up(std::uint16_t code, std::uint32_t mods = 0) {
  return {.type = ConsoleRecord::Type::Key,
          .key_down = false,
          .virtual_key = code,
          .control_keys = mods};
}
// The virtual-key code of a key of the table.
std::uint16_t Vk(const char* name) { return RowOf(KeyNamed(name).value()).virtual_key; }

const ConsoleRecord kFocusLost{.type = ConsoleRecord::Type::FocusLost};
const ConsoleRecord kFocusGained{.type = ConsoleRecord::Type::FocusGained};
const ConsoleRecord kMouse{.type = ConsoleRecord::Type::Other};

// The events as words: "P" pressed, "P+" repeated, "P^" released, and the others.
std::string Describe(const std::optional<KeyEvent>& event) {
  if (!event) return "-";
  if (event->kind == KeyEvent::Kind::FocusLost) return "focus-out";
  if (event->kind == KeyEvent::Kind::Suspend) return "suspend";
  std::string out = RowOf(event->key).name;
  if (event->action == KeyAction::Repeat) out += "+";
  if (event->action == KeyAction::Release) out += "^";
  if (event->one_shot) out += ".";
  return out;
}

TEST(ConsoleKeyTranslator, RecordsGiveTheEventsAKittyTerminalSends) {
  struct Case {
    const char* what;
    std::vector<ConsoleRecord> records;
    std::vector<std::string> expected;
  };
  std::vector<Case> cases = {
      {"every key of the table", {}, {}},
      {"held: press, repeats, release; then a new press",
       {Down('P'), Down('P'), Down('P'), Up('P'), Down('P')},
       {"P", "P+", "P+", "P^", "P"}},
      {"other keys and records mean nothing",
       {Down('B'), Down('3'), Down('0'), Down(0x10), Down(0x70), kMouse, kFocusGained, Up('B')},
       {"-", "-", "-", "-", "-", "-", "-", "-"}},
      {"Shift leaves a key as it is",
       {Down('P', kShift), Down(Vk("F5"), kShift), Up('P', kShift)},
       {"P", "F5", "P^"}},
      {"Alt or Ctrl make a shortcut, but releases count",
       {Down('P', kAlt), Down('P', kAlt), Up('P', kAlt), Down(Vk("F7"), kCtrl),
        Up(Vk("F7"), vk::kRightCtrl), Down('S', vk::kLeftAlt)},
       {"-", "-", "P^", "-", "F7^", "-"}},
      {"Ctrl-C is Escape in every action, with Alt too",
       {Down('C', kCtrl), Down('C', kCtrl), Up('C', kCtrl), Down('C', kCtrl | kAlt),
        Down('C', vk::kRightCtrl)},
       {"Escape", "Escape+", "Escape^", "Escape", "Escape+"}},
      {"Ctrl-Z pressed suspends; its repeats and release do not",
       {Down('Z', kCtrl), Down('Z', kCtrl), Up('Z', kCtrl)},
       {"suspend", "-", "-"}},
      {"focus lost: keys held come down again as presses",
       {Down('P'), Down('Q'), kFocusLost, Down('P'), Down('P')},
       {"P", "Q", "focus-out", "P", "P+"}},
  };
  for (const KeyRow& row : kKeyTable) {
    cases[0].records.push_back(Down(row.virtual_key));
    cases[0].expected.push_back(row.name);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConsoleKeyTranslator translator;
    std::vector<std::string> got;
    for (const ConsoleRecord& record : c.records)
      got.push_back(Describe(translator.Translate(record)));
    EXPECT_EQ(got, c.expected);
  }
}

}  // namespace
}  // namespace quibbet
