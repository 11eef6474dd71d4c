// libFuzzer target for DecodeKey. Beyond "no crash, no sanitizer report" it
// checks what the reader relies on:
//  - consumed never exceeds the input, and is never 0 once the input is idle
//    or holds kMaxSequenceBytes;
//  - a decision is final: whatever is decoded from the front of some bytes is
//    decoded the same when more bytes follow, and when the input then goes
//    idle; so input split across reads anywhere gives the same events.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "console/key_table.hpp"
#include "console/keys.hpp"

namespace {

using quibbet::Decoded;
using quibbet::DecodeKey;
using quibbet::kMaxSequenceBytes;
using quibbet::TerminfoKeys;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same(const Decoded& a, const Decoded& b) {
  return a.kind == b.kind && a.consumed == b.consumed && a.one_shot == b.one_shot &&
         (a.kind != Decoded::Kind::KeyEvent || (a.key == b.key && a.action == b.action));
}

// Terminal descriptions: the keys' common forms as xterm's and the Linux
// console's name them, odd ones and nonsense.
TerminfoKeys Described(std::initializer_list<std::pair<const char*, std::string>> sequences) {
  TerminfoKeys keys;
  for (const auto& [name, sequence] : sequences)
    keys.sequence[static_cast<std::size_t>(quibbet::KeyNamed(name).value())] = sequence;
  return keys;
}

TerminfoKeys Xterm(bool linux_console) {
  TerminfoKeys keys;
  for (std::size_t k = 0; k < quibbet::kKeyCount; ++k) {
    const quibbet::KeyRow& row = quibbet::kKeyTable[k];
    if (row.terminfo == nullptr) continue;
    keys.sequence[k] = linux_console && row.linux_console != 0
                           ? std::string("\x1b[[") + row.linux_console
                           : "\x1b[" + std::to_string(row.tilde) + "~";
  }
  return keys;
}

const TerminfoKeys& Terminfo(std::uint8_t choice) {
  static const TerminfoKeys kChoices[] = {
      {},
      Xterm(false),
      Xterm(true),
      Described({{"F5", "\x1bOt"}, {"F7", "\x1bOv"}, {"F8", "\x1b[31;7~"}}),  // SS3 and odd ones
      Described({{"F5", "\x1b"}, {"F7", "p"}, {"F8", "\x1b[15"}}),            // nonsense
  };
  return kChoices[choice % std::size(kChoices)];
}

// Events of a whole input decoded as a reader would: while more may come
// only what is certain, then the rest once the input is idle.
std::vector<Decoded> DecodeStream(std::span<const std::uint8_t> data, std::size_t split,
                                  const TerminfoKeys& keys) {
  std::vector<Decoded> events;
  std::size_t pos = 0;
  auto drain = [&](std::size_t end, bool idle) {
    while (pos < end) {
      const Decoded d = DecodeKey(data.subspan(pos, end - pos), keys, idle);
      Check(d.consumed <= end - pos);
      if (d.consumed == 0) {
        Check(!idle && end - pos < kMaxSequenceBytes);
        return;
      }
      events.push_back(d);
      pos += d.consumed;
    }
  };
  drain(split, false);
  drain(data.size(), false);
  drain(data.size(), true);
  Check(pos == data.size());
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  if (size < 2) return 0;
  const TerminfoKeys& keys = Terminfo(raw[0]);
  const std::span<const std::uint8_t> data(raw + 2, size - 2);
  if (data.empty()) return 0;

  const Decoded busy = DecodeKey(data, keys, false);
  const Decoded idle = DecodeKey(data, keys, true);
  Check(busy.consumed <= data.size() && idle.consumed <= data.size());
  Check(idle.consumed > 0);
  if (data.size() >= kMaxSequenceBytes) Check(busy.consumed > 0);
  if (busy.consumed > 0) Check(Same(busy, idle));
  // What is decided from the front of fewer bytes stands when more arrive, up
  // to the point where an unfinished sequence is given up as overlong.
  if (data.size() < kMaxSequenceBytes) {
    for (std::size_t cut = 1; cut < data.size(); ++cut) {
      const Decoded early = DecodeKey(data.first(cut), keys, false);
      if (early.consumed > 0) Check(Same(early, busy));
    }
  }

  if (data.size() < kMaxSequenceBytes) {
    const std::size_t split = raw[1] % (data.size() + 1);
    const std::vector<Decoded> whole = DecodeStream(data, data.size(), keys);
    const std::vector<Decoded> parts = DecodeStream(data, split, keys);
    Check(whole.size() == parts.size());
    for (std::size_t i = 0; i < whole.size(); ++i) Check(Same(whole[i], parts[i]));
  } else {
    DecodeStream(data, data.size(), keys);
  }
  return 0;
}
