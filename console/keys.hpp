// Turning terminal input bytes into key events: a pure function, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "console/key_event.hpp"
#include "console/key_table.hpp"

namespace quibbet {

// The sequences the terminal's description gives for the keys with a
// terminfo capability, by key; empty where it names none.
struct TerminfoKeys {
  std::array<std::string, kKeyCount> sequence;
};

struct Decoded {
  enum class Kind : std::uint8_t {
    Ignored,           // bytes that mean nothing to the program, consumed
    KeyEvent,          // key and action are set
    FocusIn,           // CSI I
    FocusOut,          // CSI O
    KittyFlags,        // CSI ? <flags> u: the terminal speaks the kitty protocol
    DeviceAttributes,  // CSI ? ... c: the answer to the primary DA query
    Suspend,           // Ctrl-Z, which arrives as a key once signals are off
  };
  Kind kind = Kind::Ignored;
  Key key{};
  KeyAction action = KeyAction::Press;
  // Bytes used from the front of the input. 0 means the input is the start of
  // a sequence that needs more bytes (only when input_idle is false).
  std::size_t consumed = 0;
  // As KeyEvent::one_shot: a form that no release follows.
  bool one_shot = false;
};

// Given at least this many bytes, DecodeKey always consumes some: a sequence
// still unfinished at this length is junk, not something to wait for. A
// reader's buffer must hold at least this much.
inline constexpr std::size_t kMaxSequenceBytes = 128;

// Decodes the first event at the front of `bytes` (non-empty). input_idle
// says no further byte arrived within the escape timeout, so a lone ESC is
// the Escape key and a truncated sequence is dropped rather than awaited.
// Ctrl-C (the byte 0x03, or its kitty form) decodes as the key that quits. A sequence is
// decided only once it is complete or broken, so input split across reads
// anywhere gives the same events; one cut short by a byte that cannot belong
// to it (a new ESC, a control byte) ends there and that byte is decoded next.
// An unfinished CSI followed by a letter cannot be told from a complete one:
// the letter is taken as its final byte.
//
// Modifiers: Shift, Caps Lock and Num Lock leave a key as it is. A press or
// repeat with Alt, Ctrl, Super, Hyper or Meta is some other shortcut and is
// ignored (Ctrl-C and Ctrl-Z excepted); releases are reported whatever the
// modifiers, so no key stays held. Legacy terminals agree: Ctrl-P is a
// control byte and Alt-P is ESC p, both ignored.
Decoded DecodeKey(std::span<const std::uint8_t> bytes, const TerminfoKeys& keys, bool input_idle);

}  // namespace quibbet
