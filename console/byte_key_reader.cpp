#include "console/byte_key_reader.hpp"

#include <chrono>
#include <optional>
#include <utility>

namespace quibbet {
namespace {

long NowMs() {
  using namespace std::chrono;
  return static_cast<long>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

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

ByteKeyReader::ByteKeyReader(ReadBytesFn read, TerminfoKeys function_keys, bool from_terminal)
    : read_(read), function_keys_(std::move(function_keys)), from_terminal_(from_terminal) {
  pending_.reserve(4 * kMaxSequenceBytes);
}

ByteRead ByteKeyReader::ReadMore(int timeout_ms) {
  std::uint8_t bytes[1024];
  static_assert(sizeof bytes >= kMaxSequenceBytes);
  const ByteRead result = read_(std::span(bytes), timeout_ms);
  if (result.status == ByteRead::Status::Bytes) {
    pending_.insert(pending_.end(), bytes, bytes + result.bytes);
  } else if (result.status == ByteRead::Status::EndOfInput) {
    end_of_input_ = true;
  }
  return result;
}

bool ByteKeyReader::Decode(std::vector<KeyEvent>& events, std::size_t& room, bool input_idle) {
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

bool ByteKeyReader::ReadQueryReplies(int timeout_ms) {
  const long deadline = NowMs() + timeout_ms;
  bool supported = false;
  for (;;) {
    // The answers come in order: a keyboard-flags reply, if any, before the
    // device attributes, which every terminal sends.
    std::size_t at = 0;
    while (at < pending_.size()) {
      const Decoded decoded = DecodeKey(std::span(pending_).subspan(at), function_keys_, false);
      if (decoded.consumed == 0) break;
      at += decoded.consumed;
      if (decoded.kind == Decoded::Kind::KittyFlags) {
        supported = true;
      } else if (decoded.kind == Decoded::Kind::DeviceAttributes) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
        return supported;
      } else if (decoded.kind == Decoded::Kind::KeyEvent) {
        early_.push_back(*ToEvent(decoded));
      }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    const long left = deadline - NowMs();
    if (left <= 0) return false;
    const ByteRead result = ReadMore(static_cast<int>(left));
    if (result.status == ByteRead::Status::EndOfInput ||
        result.status == ByteRead::Status::Signal) {
      return false;
    }
  }
}

void ByteKeyReader::Read(std::vector<KeyEvent>& events, std::size_t room, int timeout_ms) {
  for (const KeyEvent& event : early_) {
    events.push_back(event);
    if (TakesRoom(event) && room > 0) --room;
  }
  early_.clear();

  if (!end_of_input_ && room > 0) {
    // Bytes left from a full queue are decoded first, without waiting.
    const ByteRead read = ReadMore(pending_.empty() ? timeout_ms : 0);
    if (read.status == ByteRead::Status::Signal) return;
  }
  bool suspended = Decode(events, room, end_of_input_);
  // An ESC or a sequence cut short: wait a moment for the rest of it. If
  // nothing comes, it is a lone Escape, or junk to drop.
  while (!suspended && !pending_.empty() && room > 0 && !end_of_input_) {
    const ByteRead more = ReadMore(kEscapeTimeoutMs);
    if (more.status == ByteRead::Status::Signal) return;
    suspended = Decode(events, room, more.status != ByteRead::Status::Bytes);
  }
  if (!suspended && end_of_input_ && !end_sent_ && pending_.empty() && room > 0) {
    events.push_back({.kind = KeyEvent::Kind::Key, .key = kQuitKey});
    end_sent_ = true;
  }
}

}  // namespace quibbet
