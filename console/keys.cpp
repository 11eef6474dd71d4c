// Key decoding: plain bytes, legacy CSI/SS3 function keys, the kitty keyboard
// protocol, and the terminal's replies to our queries. Everything here works
// on the bytes it is given and nothing else, so every case is a table test.
#include "console/keys.hpp"

#include "console/escape_sequences.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace quibbet {
namespace {

using Bytes = std::span<const std::uint8_t>;

using esc::kEsc;
constexpr std::uint8_t kCtrlC = 0x03;
constexpr std::uint8_t kCtrlZ = 0x1A;

// Kitty modifier bits, sent as 1 + the sum of the held modifiers.
constexpr std::uint32_t kModShift = 1, kModAlt = 2, kModCtrl = 4, kModSuper = 8, kModHyper = 16,
                        kModMeta = 32;
// Modifiers that turn a key into a shortcut; Shift and the locks do not.
constexpr std::uint32_t kShortcutMods = kModAlt | kModCtrl | kModSuper | kModHyper | kModMeta;
static_assert((kShortcutMods & kModShift) == 0);

// The keys by each one-byte form, indexed when compiled: a byte finds its key
// in one look-up, and the table's rows without that form (0) find none.
struct KeysByByte {
  static constexpr std::uint8_t kNone = 0xFF;
  static_assert(kKeyCount < kNone);
  std::array<std::uint8_t, 256> row{};
  constexpr std::optional<Key> operator[](std::uint32_t byte) const {
    if (byte == 0 || byte >= row.size() || row[byte] == kNone) return std::nullopt;
    return static_cast<Key>(row[byte]);
  }
};

template <typename Form>
constexpr KeysByByte IndexKeys(Form form) {
  KeysByByte index;
  index.row.fill(KeysByByte::kNone);
  // In table order, the first row with a form keeps it (the table's own
  // check refuses two).
  for (std::size_t k = kKeyCount; k-- > 0;)
    index.row[static_cast<std::uint8_t>(form(kKeyTable[k]))] = static_cast<std::uint8_t>(k);
  return index;
}

constexpr KeysByByte kKeyByText = IndexKeys([](const KeyRow& row) { return row.text; });
constexpr KeysByByte kKeyByTilde = IndexKeys([](const KeyRow& row) { return row.tilde; });
constexpr KeysByByte kKeyByLinuxConsole =
    IndexKeys([](const KeyRow& row) { return row.linux_console; });

// Keys typed as one character, by their character in either case. The kitty
// protocol names the same keys by the same code points.
std::optional<Key> CharToKey(std::uint32_t ch) {
  if (ch >= 'A' && ch <= 'Z') ch += 'a' - 'A';
  return kKeyByText[ch];
}

Decoded Ignore(std::size_t consumed) {
  Decoded d;
  d.consumed = consumed;
  return d;
}

Decoded NeedMore() { return Ignore(0); }

Decoded Event(Key key, KeyAction action, std::size_t consumed, bool one_shot) {
  Decoded d;
  d.kind = Decoded::Kind::KeyEvent;
  d.key = key;
  d.action = action;
  d.consumed = consumed;
  d.one_shot = one_shot;
  return d;
}

Decoded Other(Decoded::Kind kind, std::size_t consumed) {
  Decoded d;
  d.kind = kind;
  d.consumed = consumed;
  return d;
}

// A byte on its own: a typed character or a control byte.
Decoded DecodeByte(std::uint8_t byte, std::size_t consumed) {
  if (byte == kCtrlC) return Event(kQuitKey, KeyAction::Press, consumed, true);
  if (byte == kCtrlZ) return Other(Decoded::Kind::Suspend, consumed);
  if (byte == kEsc) return Ignore(consumed);  // only a lone ESC is the key
  if (const auto key = CharToKey(byte)) return Event(*key, KeyAction::Press, consumed, true);
  return Ignore(consumed);
}

// ECMA-48 byte classes inside a control sequence.
bool IsParam(std::uint8_t b) { return b >= 0x30 && b <= 0x3F; }
bool IsIntermediate(std::uint8_t b) { return b >= 0x20 && b <= 0x2F; }
bool IsFinal(std::uint8_t b) { return b >= 0x40 && b <= 0x7E; }

// Where a control sequence's body, starting at `from`, ends.
struct Scan {
  enum class End : std::uint8_t { Final, Truncated, Broken } end;
  std::size_t params_end;  // parameters are [from, params_end)
  std::size_t length;      // through the final byte; up to the stray byte if Broken
};

Scan ScanBody(Bytes bytes, std::size_t from) {
  std::size_t i = from;
  while (i < bytes.size() && IsParam(bytes[i])) ++i;
  const std::size_t params_end = i;
  // rxvt ends its shifted function keys with '$', otherwise an intermediate
  // byte; waiting for a final byte would swallow the next key.
  if (i < bytes.size() && bytes[i] == esc::kRxvtShiftedFinal) {
    return {Scan::End::Final, params_end, i + 1};
  }
  while (i < bytes.size() && IsIntermediate(bytes[i])) ++i;
  if (i == bytes.size()) return {Scan::End::Truncated, params_end, i};
  // Anything else, above all a new ESC, means the sequence was cut short; it
  // ends there so that whatever comes next is decoded on its own.
  if (!IsFinal(bytes[i])) return {Scan::End::Broken, params_end, i};
  return {Scan::End::Final, params_end, i + 1};
}

// Parameters as `a[:b...][;c[:d...]]...`: only the first two subfields of the
// first two fields matter to us. Any other character makes them malformed.
struct Params {
  static constexpr std::uint32_t kAbsent = 0xFFFFFFFF;
  std::uint32_t v[2][2] = {{kAbsent, kAbsent}, {kAbsent, kAbsent}};
};

std::optional<Params> ParseCsiParameters(std::string_view text) {
  // Larger numbers are saturated: no key code or modifier set comes near.
  constexpr std::uint32_t kCap = 10'000'000;
  Params p;
  std::size_t field = 0, sub = 0;
  for (const char c : text) {
    if (c == ';') {
      ++field;
      sub = 0;
    } else if (c == ':') {
      ++sub;
    } else if (c >= '0' && c <= '9') {
      if (field < 2 && sub < 2) {
        std::uint32_t& n = p.v[field][sub];
        if (n == Params::kAbsent) n = 0;
        n = n >= kCap ? kCap : n * 10 + static_cast<std::uint32_t>(c - '0');
      }
    } else {
      return std::nullopt;
    }
  }
  return p;
}

// The modifier and event fields shared by kitty keys and xterm's
// `<number>;<mods>~` function keys (which have no event field).
struct Modifiers {
  std::uint32_t mods = 0;  // the kitty bits; none when the field is absent
  KeyAction action = KeyAction::Press;
};

std::optional<Modifiers> ReadModifiers(const Params& p) {
  Modifiers m;
  const std::uint32_t field = p.v[1][0];
  m.mods = field == Params::kAbsent || field == 0 ? 0 : field - 1;
  switch (p.v[1][1]) {
    case Params::kAbsent:
    case 1:
      m.action = KeyAction::Press;
      return m;
    case 2:
      m.action = KeyAction::Repeat;
      return m;
    case 3:
      m.action = KeyAction::Release;
      return m;
    default:
      return std::nullopt;
  }
}

Decoded KeyWithModifiers(std::optional<Key> key, const Modifiers& m, std::size_t consumed,
                         bool one_shot = false) {
  if (!key) return Ignore(consumed);
  if (m.action != KeyAction::Release && (m.mods & kShortcutMods)) return Ignore(consumed);
  return Event(*key, m.action, consumed, one_shot);
}

std::optional<Key> KittyCodeToKey(std::uint32_t code) {
  if (code == Params::kAbsent) return std::nullopt;
  return CharToKey(code);
}

// Function keys as `CSI <number> ~`.
std::optional<Key> TildeNumberToKey(std::uint32_t number) { return kKeyByTilde[number]; }

// A complete `ESC [ <params> <intermediates> <final>`.
Decoded InterpretCsi(Bytes bytes, const Scan& scan) {
  const std::string_view params(reinterpret_cast<const char*>(bytes.data()) + 2,
                                scan.params_end - 2);
  const bool has_intermediates = scan.params_end + 1 != scan.length;
  const std::uint8_t final_byte = bytes[scan.length - 1];
  const std::size_t n = scan.length;
  if (has_intermediates) return Ignore(n);
  const bool query_reply = !params.empty() && params.front() == esc::kReplyMarker;

  switch (final_byte) {
    case esc::kFocusInFinal:
      return params.empty() ? Other(Decoded::Kind::FocusIn, n) : Ignore(n);
    case esc::kFocusOutFinal:
      return params.empty() ? Other(Decoded::Kind::FocusOut, n) : Ignore(n);
    case esc::kDeviceAttributesFinal:
      return query_reply ? Other(Decoded::Kind::DeviceAttributes, n) : Ignore(n);
    case esc::kKittyKeyFinal: {
      if (query_reply) {
        const auto flags = ParseCsiParameters(params.substr(1));
        return flags ? Other(Decoded::Kind::KittyFlags, n) : Ignore(n);
      }
      const auto p = ParseCsiParameters(params);
      const auto m = p ? ReadModifiers(*p) : std::nullopt;
      if (!m) return Ignore(n);
      const std::uint32_t code = p->v[0][0];
      if (m->mods & kModCtrl) {
        if (code == 'c' || code == 'C') return Event(kQuitKey, m->action, n, false);
        if (code == 'z' || code == 'Z') {
          return m->action == KeyAction::Press ? Other(Decoded::Kind::Suspend, n) : Ignore(n);
        }
      }
      return KeyWithModifiers(KittyCodeToKey(code), *m, n);
    }
    case esc::kFunctionKeyFinal:
    case esc::kRxvtShiftedFinal: {
      const auto p = ParseCsiParameters(params);
      const auto m = p ? ReadModifiers(*p) : std::nullopt;
      if (!m) return Ignore(n);
      const bool one_shot = final_byte == esc::kRxvtShiftedFinal;
      return KeyWithModifiers(TildeNumberToKey(p->v[0][0]), *m, n, one_shot);
    }
    default:
      return Ignore(n);
  }
}

// What the terminal's description says its keys send. Only sequences that
// start with ESC are trusted: anything else would steal plain bytes.
// Terminals that report releases use the kitty forms instead, so a key
// found here has no release to follow.
struct TerminfoMatch {
  std::optional<Decoded> match;
  bool partial = false;  // the input so far is the start of one of them
};

TerminfoMatch MatchTerminfo(Bytes bytes, const TerminfoKeys& keys) {
  TerminfoMatch result;
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    const std::string& seq = keys.sequence[k];
    if (seq.size() < 2 || seq.size() > kMaxSequenceBytes ||
        static_cast<std::uint8_t>(seq[0]) != kEsc)
      continue;
    const std::size_t common = std::min(seq.size(), bytes.size());
    bool same = true;
    for (std::size_t i = 0; i < common && same; ++i)
      same = static_cast<std::uint8_t>(seq[i]) == bytes[i];
    if (!same) continue;
    if (bytes.size() >= seq.size()) {
      result.match = Event(static_cast<Key>(k), KeyAction::Press, seq.size(), true);
      return result;
    }
    result.partial = true;
  }
  return result;
}

// A sequence that ran out of bytes: wait for the rest unless none is coming
// or it is already longer than any we understand.
Decoded Truncated(Bytes bytes, bool input_idle) {
  if (input_idle || bytes.size() >= kMaxSequenceBytes) return Ignore(bytes.size());
  return NeedMore();
}

// `ESC [ ...`, the Linux console's `ESC [ [ <letter>` among them.
Decoded DecodeCsi(Bytes bytes, bool input_idle) {
  if (bytes.size() >= 3 && bytes[2] == esc::kCsi) {
    if (bytes.size() == 3) return Truncated(bytes, input_idle);
    if (!IsFinal(bytes[3])) return Ignore(3);
    const std::optional<Key> key = kKeyByLinuxConsole[bytes[3]];
    return key ? Event(*key, KeyAction::Press, 4, true) : Ignore(4);
  }
  const Scan scan = ScanBody(bytes, 2);
  switch (scan.end) {
    case Scan::End::Truncated:
      return Truncated(bytes, input_idle);
    case Scan::End::Broken:
      return Ignore(scan.length);
    case Scan::End::Final:
      break;
  }
  return InterpretCsi(bytes, scan);
}

// SS3: keypad and function keys of VT100-style terminals. Those we want are
// named by terminfo; the rest are skipped whole.
Decoded DecodeSs3(Bytes bytes, bool input_idle) {
  const Scan scan = ScanBody(bytes, 2);
  if (scan.end == Scan::End::Truncated) return Truncated(bytes, input_idle);
  return Ignore(scan.length);
}

Decoded DecodeEscape(Bytes bytes, const TerminfoKeys& keys, bool input_idle) {
  if (bytes.size() == 1) {
    // The Escape key itself, or the first byte of a sequence still on its way.
    if (!input_idle) return NeedMore();
    const std::optional<Key> key = CharToKey(kEsc);
    return key ? Event(*key, KeyAction::Press, 1, true) : Ignore(1);
  }
  const std::uint8_t second = bytes[1];
  const TerminfoMatch terminfo = MatchTerminfo(bytes, keys);
  if (second == esc::kCsi) {
    // Our own reading comes first: it knows the kitty forms, whose presses
    // are followed by releases, and waits for a sequence to end before a
    // shorter terminfo string may claim its start.
    const Decoded csi = DecodeCsi(bytes, input_idle);
    if (csi.consumed == 0 || csi.kind == Decoded::Kind::KeyEvent) return csi;
    if (terminfo.match) return *terminfo.match;
    if (terminfo.partial && !input_idle) return NeedMore();
    return csi;
  }
  if (terminfo.match) return *terminfo.match;
  if (terminfo.partial && !input_idle) return NeedMore();
  if (second == esc::kSs3) return DecodeSs3(bytes, input_idle);
  if (second == kEsc) {
    // An Alt prefix on whatever the second ESC starts, which is decoded next.
    return Ignore(1);
  }
  // ESC before a character is Alt+character, a shortcut: ignored, except that
  // Ctrl-C still quits.
  const Decoded alt = DecodeByte(second, 2);
  if (alt.kind == Decoded::Kind::KeyEvent && alt.key == kQuitKey) return alt;
  return Ignore(2);
}

}  // namespace

Decoded DecodeKey(Bytes bytes, const TerminfoKeys& keys, bool input_idle) {
  if (bytes.empty()) return NeedMore();
  if (bytes[0] == kEsc) return DecodeEscape(bytes, keys, input_idle);
  return DecodeByte(bytes[0], 1);
}

// ---- The reader of a stream of bytes

namespace {

// What a decoded key or focus change means to the key state; nothing for the
// rest (replies, focus gained, bytes that are no key).
std::optional<KeyEvent> ToEvent(const Decoded& decoded) {
  if (decoded.kind == Decoded::Kind::FocusOut) return KeyEvent{.kind = KeyEvent::Kind::FocusLost};
  if (decoded.kind != Decoded::Kind::KeyEvent) return std::nullopt;
  return KeyEvent{.kind = KeyEvent::Kind::Key,
                  .key = decoded.key,
                  .action = decoded.action,
                  .one_shot = decoded.one_shot};
}

// Presses and repeats take a place in the key queue; releases and focus
// changes do not.
bool TakesRoom(const KeyEvent& event) {
  return event.kind == KeyEvent::Kind::Key && event.action != KeyAction::Release;
}

}  // namespace

ByteKeyReader::ByteKeyReader(TerminfoKeys function_keys, bool from_terminal)
    : function_keys_(std::move(function_keys)), from_terminal_(from_terminal) {
  pending_.reserve(4 * kMaxSequenceBytes);
}

void ByteKeyReader::Feed(const ByteRead& read, std::span<const std::uint8_t> bytes) {
  if (read.status == ByteRead::Status::Bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  } else if (read.status == ByteRead::Status::EndOfInput) {
    end_of_input_ = true;
  }
}

bool ByteKeyReader::DecodePending(std::vector<KeyEvent>& events, std::size_t& room,
                                  bool input_idle) {
  std::size_t at = 0;
  bool suspended = false;
  while (at < pending_.size() && room > 0) {
    const Decoded decoded = DecodeKey(std::span(pending_).subspan(at), function_keys_, input_idle);
    if (decoded.consumed == 0) {             // the start of a sequence still arriving
      if (input_idle) at = pending_.size();  // none will come: the decoder's contract
      break;
    }
    at += decoded.consumed;
    if (decoded.kind == Decoded::Kind::Suspend) {
      // Only a terminal stops; in a piped script the byte means nothing.
      if (!from_terminal_) continue;
      at = pending_.size();
      events.push_back({.kind = KeyEvent::Kind::Suspend});
      suspended = true;
      break;
    }
    const std::optional<KeyEvent> event = ToEvent(decoded);
    if (!event) continue;
    events.push_back(*event);
    if (TakesRoom(*event)) --room;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  return suspended;
}

std::optional<bool> ByteKeyReader::QueryAnswer() {
  // The answers come in order: a keyboard-flags reply, if any, before the
  // device attributes.
  std::size_t at = 0;
  std::optional<bool> answer;
  while (at < pending_.size() && !answer) {
    const Decoded decoded = DecodeKey(std::span(pending_).subspan(at), function_keys_, false);
    if (decoded.consumed == 0) break;
    at += decoded.consumed;
    if (decoded.kind == Decoded::Kind::KittyFlags) {
      kitty_flags_seen_ = true;
    } else if (decoded.kind == Decoded::Kind::DeviceAttributes) {
      answer = kitty_flags_seen_;
    } else if (decoded.kind == Decoded::Kind::KeyEvent) {
      early_.push_back(*ToEvent(decoded));
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  return answer;
}

std::optional<int> ByteKeyReader::Begin(std::vector<KeyEvent>& events, std::size_t& room,
                                        int timeout_ms) {
  for (const KeyEvent& event : early_) {
    events.push_back(event);
    if (TakesRoom(event) && room > 0) --room;
  }
  early_.clear();
  waiting_for_rest_ = false;
  // Bytes left from a full queue are decoded first, without waiting.
  if (!end_of_input_ && room > 0) return pending_.empty() ? timeout_ms : 0;
  return Decode(events, room, end_of_input_);
}

std::optional<int> ByteKeyReader::Take(const ByteRead& read, std::span<const std::uint8_t> bytes,
                                       std::vector<KeyEvent>& events, std::size_t& room) {
  Feed(read, bytes);
  // Nothing more came within the escape timeout: a lone ESC is the Escape
  // key, and a sequence cut short is junk to drop.
  const bool idle = end_of_input_ || (waiting_for_rest_ && read.status != ByteRead::Status::Bytes);
  return Decode(events, room, idle);
}

std::optional<int> ByteKeyReader::Decode(std::vector<KeyEvent>& events, std::size_t& room,
                                         bool input_idle) {
  const bool suspended = DecodePending(events, room, input_idle);
  // An ESC or a sequence cut short: wait a moment for the rest of it.
  if (!suspended && !pending_.empty() && room > 0 && !end_of_input_) {
    waiting_for_rest_ = true;
    return kEscapeTimeoutMs;
  }
  if (!suspended && end_of_input_ && !end_sent_ && pending_.empty() && room > 0) {
    events.push_back({.kind = KeyEvent::Kind::Key, .key = kQuitKey});
    end_sent_ = true;
  }
  return std::nullopt;
}

}  // namespace quibbet
