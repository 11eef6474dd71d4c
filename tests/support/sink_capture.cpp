#include "support/sink_capture.hpp"

#include <algorithm>

#include "engine/renderer.hpp"

namespace quibbet::test {

Playbacks FindPlaybacks(const std::string& capture, std::span<const std::uint8_t> pcm,
                        std::size_t from) {
  const auto first_sound =
      std::find_if(pcm.begin(), pcm.end(), [](std::uint8_t b) { return b != 0; });
  const std::size_t lead = static_cast<std::size_t>(first_sound - pcm.begin());
  Playbacks found;
  std::size_t pos = from;
  while (true) {
    const std::size_t nz = capture.find_first_not_of('\0', pos);
    if (nz == std::string::npos) break;
    if (nz < pos + lead || (nz - lead) % kBytesPerFrame != 0) {
      found.problem = "sound at capture byte " + std::to_string(nz) + " does not start a render";
      break;
    }
    Heard h{nz - lead, 0};
    while (h.length < pcm.size() && h.begin + h.length < capture.size() &&
           static_cast<std::uint8_t>(capture[h.begin + h.length]) == pcm[h.length])
      ++h.length;
    if (h.length <= lead) {
      found.problem = "sound at capture byte " + std::to_string(nz) + " is not the render";
      break;
    }
    found.heard.push_back(h);
    pos = h.begin + h.length;
  }
  return found;
}

double UnderrunMs(const std::string& capture, std::span<const std::uint8_t> pcm, const Heard& h) {
  constexpr std::size_t kCheck = 4410 * kBytesPerFrame;  // 0.1 s
  constexpr std::size_t kSkip = 64 * kBytesPerFrame;     // past the break, whatever its bytes
  const std::size_t from = h.length - h.length % kBytesPerFrame + kSkip;
  if (from + kCheck > pcm.size()) return 0;
  const std::size_t expected_at = h.begin + from;  // where it would be without a gap
  const std::size_t window_end =
      std::min(capture.size(), expected_at + kCheck + kFramesPerSecond * kBytesPerFrame);
  if (expected_at >= window_end) return 0;
  const auto q =
      std::search(capture.begin() + static_cast<std::ptrdiff_t>(expected_at),
                  capture.begin() + static_cast<std::ptrdiff_t>(window_end),
                  pcm.begin() + static_cast<std::ptrdiff_t>(from),
                  pcm.begin() + static_cast<std::ptrdiff_t>(from + kCheck),
                  [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
  if (q == capture.begin() + static_cast<std::ptrdiff_t>(window_end)) return 0;
  const std::size_t gap = static_cast<std::size_t>(q - capture.begin()) - expected_at;
  if (gap == 0 || gap % kBytesPerFrame != 0) return 0;
  // Between the break and the shifted render there is only silence.
  const std::size_t resume = capture.find_first_not_of('\0', h.begin + h.length);
  // It goes on from the break, not from the start as a replay would.
  if (resume < h.begin + gap || resume - gap - h.begin + kSkip < h.length) return 0;
  for (std::size_t i = resume; i < expected_at + gap; ++i)
    if (static_cast<std::uint8_t>(capture[i]) != pcm[i - gap - h.begin]) return 0;
  constexpr double kBytesPerMs = kFramesPerSecond * kBytesPerFrame / 1e3;
  return static_cast<double>(gap) / kBytesPerMs;
}

}  // namespace quibbet::test
