#include "console/byte_key_reader.hpp"

#include <utility>

namespace quibbet {
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
