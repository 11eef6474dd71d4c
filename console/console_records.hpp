// Windows console input records as key events. The records carry what the
// kitty keyboard protocol carries on a terminal: a key-down, repeats while it
// is held, a key-up, and focus changes. Pure and free of <windows.h>, so its
// table tests run on every platform; terminal_windows.cpp checks that the
// codes below, and the key table's virtual-key codes, are the system's.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>

#include "console/key_event.hpp"

namespace quibbet {

// The parts of an INPUT_RECORD that matter here.
struct ConsoleRecord {
  enum class Type : std::uint8_t { Key, FocusGained, FocusLost, Other };
  Type type = Type::Other;
  bool key_down = false;           // KEY_EVENT_RECORD::bKeyDown
  std::uint16_t virtual_key = 0;   // wVirtualKeyCode
  std::uint32_t control_keys = 0;  // dwControlKeyState
};

// Control-key state bits, as wincon.h defines them. The keys' own
// virtual-key codes are in the key table; those of '0'..'9' and 'A'..'Z'
// are their ASCII codes.
namespace vk {
inline constexpr std::uint32_t kRightAlt = 0x0001;
inline constexpr std::uint32_t kLeftAlt = 0x0002;
inline constexpr std::uint32_t kRightCtrl = 0x0004;
inline constexpr std::uint32_t kLeftCtrl = 0x0008;
}  // namespace vk

// Turns records into events, as a terminal with releases reports them.
// Modifiers as there: Shift leaves a key as it is; a press or repeat with Alt
// or Ctrl is some other shortcut and is ignored, but releases always count.
// Ctrl-C is the key that quits, in every action; Ctrl-Z pressed is Suspend.
class ConsoleKeyTranslator {
 public:
  std::optional<KeyEvent> Translate(const ConsoleRecord& record);

 private:
  // Which keys this side has seen go down, to tell a first key-down from the
  // repeats that follow while the key stays down.
  std::bitset<256> down_;
};

}  // namespace quibbet
