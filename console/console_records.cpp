#include "console/console_records.hpp"

namespace quibbet {
namespace {

// The keys the program acts on, by virtual-key code.
std::optional<Key> KeyFor(std::uint16_t code) {
  switch (code) {
    case vk::kEscape:
      return Key::Escape;
    case vk::kSpace:
      return Key::Space;
    case vk::kF5:
      return Key::F5;
    case vk::kF7:
      return Key::F7;
    case vk::kF8:
      return Key::F8;
    case 'O':
      return Key::O;
    case 'P':
      return Key::P;
    case '1':
      return Key::One;
    case '2':
      return Key::Two;
    case 'A':
      return Key::A;
    case 'S':
      return Key::S;
    case 'D':
      return Key::D;
    case 'Q':
      return Key::Q;
    case 'W':
      return Key::W;
    case 'E':
      return Key::E;
    case 'R':
      return Key::R;
    case 'T':
      return Key::T;
    case 'Y':
      return Key::Y;
    default:
      return std::nullopt;
  }
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
  if (ctrl && record.virtual_key == 'C') return KeyEvent{.key = Key::Escape, .action = action};
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
