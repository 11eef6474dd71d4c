#include "console/key_input.hpp"

#include <chrono>

namespace quibbet {
namespace {

constexpr char kKeyboardProtocolQuery[] = "\x1b[?u";
constexpr char kDeviceAttributesQuery[] = "\x1b[c";

long NowMs() {
  using namespace std::chrono;
  return static_cast<long>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

KeyInput::KeyInput(Terminal& terminal)
    : terminal_(terminal), function_keys_(terminal.FunctionKeys()) {
  pending_.reserve(4 * kMaxSequenceBytes);
}

ReadResult KeyInput::ReadMore(int timeout_ms) {
  std::uint8_t bytes[1024];
  const ReadResult result = terminal_.Read(bytes, timeout_ms);
  if (result.status == ReadResult::Status::Bytes) {
    pending_.insert(pending_.end(), bytes, bytes + result.bytes);
  } else if (result.status == ReadResult::Status::EndOfInput) {
    end_of_input_ = true;
  }
  return result;
}

KeyInput::Result KeyInput::Decode(Keyboard& keyboard, bool input_idle) {
  std::size_t at = 0;
  Result result = Result::Keys;
  while (at < pending_.size() && !keyboard.Full()) {
    const Decoded event = DecodeKey(std::span(pending_).subspan(at), function_keys_, input_idle);
    if (event.consumed == 0) {  // the start of a sequence still arriving
      if (input_idle) at = pending_.size();  // none will come: the decoder's contract
      break;
    }
    at += event.consumed;
    if (event.kind == Decoded::Kind::Suspend) {
      // Only a terminal stops; in a piped script the byte means nothing.
      if (!terminal_.raw()) continue;
      // What was typed after Ctrl-Z is dropped, as a terminal drops it.
      at = pending_.size();
      result = Result::Suspend;
      break;
    }
    keyboard.Feed(event);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  return result;
}

bool KeyInput::DetectKeyReleases() {
  if (!terminal_.can_query()) return false;
  terminal_.Send(kKeyboardProtocolQuery);
  terminal_.Send(kDeviceAttributesQuery);
  const long deadline = NowMs() + kQueryTimeoutMs;
  bool supported = false;
  for (;;) {
    // The answers come in order: a keyboard-flags reply, if any, before the
    // device attributes, which every terminal sends.
    std::size_t at = 0;
    while (at < pending_.size()) {
      const Decoded event = DecodeKey(std::span(pending_).subspan(at), function_keys_, false);
      if (event.consumed == 0) break;
      at += event.consumed;
      if (event.kind == Decoded::Kind::KittyFlags) {
        supported = true;
      } else if (event.kind == Decoded::Kind::DeviceAttributes) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
        if (supported) terminal_.EnterKeyReleaseMode();
        return supported;
      } else if (event.kind == Decoded::Kind::KeyEvent) {
        early_.push_back(event);
      }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    const long left = deadline - NowMs();
    if (left <= 0) return false;
    const ReadResult result = ReadMore(static_cast<int>(left));
    if (result.status == ReadResult::Status::EndOfInput ||
        result.status == ReadResult::Status::Signal) {
      return false;
    }
  }
}

KeyInput::Result KeyInput::Pump(Keyboard& keyboard, int timeout_ms) {
  for (const Decoded& event : early_) keyboard.Feed(event);
  early_.clear();

  if (!end_of_input_ && !keyboard.Full()) {
    // Bytes left from a full queue are decoded first, without waiting.
    const ReadResult read = ReadMore(pending_.empty() ? timeout_ms : 0);
    if (read.status == ReadResult::Status::Signal) return Result::Signal;
  }
  Result result = Decode(keyboard, end_of_input_);
  // An ESC or a sequence cut short: wait a moment for the rest of it. If
  // nothing comes, it is a lone Escape, or junk to drop.
  while (result == Result::Keys && !pending_.empty() && !keyboard.Full() && !end_of_input_) {
    const ReadResult more = ReadMore(kEscapeTimeoutMs);
    if (more.status == ReadResult::Status::Signal) return Result::Signal;
    const bool idle = more.status != ReadResult::Status::Bytes;
    result = Decode(keyboard, idle);
  }
  if (result == Result::Keys && end_of_input_ && !end_fed_ && pending_.empty() &&
      !keyboard.Full()) {
    Decoded escape;
    escape.kind = Decoded::Kind::KeyEvent;
    escape.key = Key::Escape;
    escape.consumed = 1;
    keyboard.Feed(escape);
    end_fed_ = true;
  }
  return result;
}

}  // namespace quibbet
