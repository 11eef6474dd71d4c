#include "console/console_records.hpp"

#include "console/key_table.hpp"

namespace quibbet {
namespace {

// The keys the program acts on, by virtual-key code.
std::optional<Key> KeyFor(std::uint16_t code) {
  return FindKey([&](const KeyRow& row) { return row.virtual_key == code; });
}

// Keys whose presses and repeats are told apart: the program's own, and the
// letters and digits among which Ctrl-C and Ctrl-Z are found.
bool Tracked(std::uint16_t code) {
  return KeyFor(code) || (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z');
}

}  // namespace

std::optional<KeyEvent> ConsoleKeyTranslator::Translate(const ConsoleRecord& record) {
  if (record.type == ConsoleRecord::Type::FocusLost) {
    // Keys let go in another window send their key-up there.
    down_.reset();
    return KeyEvent{.kind = KeyEvent::Kind::FocusLost};
  }
  if (record.type != ConsoleRecord::Type::Key || !Tracked(record.virtual_key)) return std::nullopt;

  const std::size_t index = record.virtual_key & 0xFF;
  KeyAction action = KeyAction::Release;
  if (record.key_down) {
    action = down_.test(index) ? KeyAction::Repeat : KeyAction::Press;
    down_.set(index);
  } else {
    down_.reset(index);
  }

  const bool ctrl = (record.control_keys & (vk::kLeftCtrl | vk::kRightCtrl)) != 0;
  const bool alt = (record.control_keys & (vk::kLeftAlt | vk::kRightAlt)) != 0;
  if (ctrl && record.virtual_key == 'C') return KeyEvent{.key = kQuitKey, .action = action};
  if (ctrl && record.virtual_key == 'Z') {
    if (action != KeyAction::Press) return std::nullopt;
    return KeyEvent{.kind = KeyEvent::Kind::Suspend};
  }
  const std::optional<Key> key = KeyFor(record.virtual_key);
  if (!key) return std::nullopt;
  if (action != KeyAction::Release && (ctrl || alt)) return std::nullopt;
  return KeyEvent{.key = *key, .action = action};
}

}  // namespace quibbet
