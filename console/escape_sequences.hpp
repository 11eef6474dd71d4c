// Every control sequence the program sends to a terminal, and the bytes that
// mark the sequences it reads back. Besides the clear string of its terminfo
// entry, a terminal is told and asked only what is listed here.
#pragma once

#include <cstdint>

namespace quibbet::esc {

inline constexpr std::uint8_t kEsc = 0x1B;
// The byte after ESC that opens a control sequence (CSI) and a
// single-shift-three sequence (SS3).
inline constexpr std::uint8_t kCsi = '[';
inline constexpr std::uint8_t kSs3 = 'O';

// ---- Sent ----

// Cursor home, then erase the display: where terminfo names no "clear".
inline constexpr char kClearScreen[] = "\x1b[H\x1b[2J";
inline constexpr char kCursorHide[] = "\x1b[?25l";
inline constexpr char kCursorShow[] = "\x1b[?25h";
// Push the kitty keyboard flags 1 + 2 + 8: disambiguate escape codes, report
// event types (repeats and releases), report all keys as escape codes.
inline constexpr char kKittyPush[] = "\x1b[>11u";
inline constexpr char kKittyPop[] = "\x1b[<u";
// Focus reports: the terminal sends CSI I and CSI O when focus comes and goes.
inline constexpr char kFocusReportsOn[] = "\x1b[?1004h";
inline constexpr char kFocusReportsOff[] = "\x1b[?1004l";
// "Which kitty keyboard flags are on?": answered CSI ? <flags> u, only by a
// terminal that speaks the protocol.
inline constexpr char kKeyboardProtocolQuery[] = "\x1b[?u";
// Primary device attributes: every terminal answers CSI ? ... c, in order
// with the input before it.
inline constexpr char kDeviceAttributesQuery[] = "\x1b[c";

// ---- Read: final bytes and markers of what terminals send ----

// A parameter string starting with this is a reply to one of the queries above.
inline constexpr std::uint8_t kReplyMarker = '?';
inline constexpr std::uint8_t kFocusInFinal = 'I';
inline constexpr std::uint8_t kFocusOutFinal = 'O';
inline constexpr std::uint8_t kDeviceAttributesFinal = 'c';
// kitty keys: CSI <code>[:<alternates>][;<modifiers>[:<event>][;<text>]] u
inline constexpr std::uint8_t kKittyKeyFinal = 'u';
// Function keys: CSI <number>[;<modifiers>[:<event>]] ~
inline constexpr std::uint8_t kFunctionKeyFinal = '~';
// rxvt ends its shifted function keys with '$' instead of '~'.
inline constexpr std::uint8_t kRxvtShiftedFinal = '$';
// Each key's own forms (its CSI <number> ~, the Linux console's letter) are
// in the key table, console/key_table.hpp.

}  // namespace quibbet::esc
