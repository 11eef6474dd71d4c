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
// The function key numbers of CSI <number> ~: xterm, VTE, Konsole, tmux,
// screen and the kitty protocol all agree on them.
inline constexpr std::uint32_t kF5Number = 15;
inline constexpr std::uint32_t kF7Number = 18;
inline constexpr std::uint32_t kF8Number = 19;
// The Linux console sends F1 to F5 as ESC [ [ <letter>; F5 is 'E'.
inline constexpr std::uint8_t kLinuxConsoleF5Letter = 'E';

// The whole sequences F5, F7 and F8 send on xterm and on the Linux console,
// as their terminfo entries name them.
inline constexpr char kXtermF5[] = "\x1b[15~";
inline constexpr char kXtermF7[] = "\x1b[18~";
inline constexpr char kXtermF8[] = "\x1b[19~";
inline constexpr char kLinuxConsoleF5[] = "\x1b[[E";

}  // namespace quibbet::esc
