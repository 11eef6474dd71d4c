// What a sound server's monitor delivered, and the playbacks of a render
// found in it. Shared by the playback test and the latency tool.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/renderer.hpp"

namespace quibbet::test {

inline std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// What parec delivered, with the time each read arrived.
struct Capture {
  std::string bytes;
  std::vector<std::pair<std::size_t, std::int64_t>> reads;  // end offset, arrival ns

  // Arrival of the read that brought byte i: an upper bound on when it was heard.
  std::int64_t ArrivalOf(std::size_t i) const {
    const auto it = std::upper_bound(reads.begin(), reads.end(), std::make_pair(i, INT64_MAX));
    return it == reads.end() ? INT64_MAX : it->second;
  }
};

// A playback found in the capture: the render's bytes [0, length) heard
// from capture offset begin on.
struct Heard {
  std::size_t begin = 0, length = 0;
};

struct Playbacks {
  std::vector<Heard> heard;
  std::string problem;  // empty when the capture is nothing but these
};

// Splits the capture into playbacks of the render separated by silence.
// Anything else (a sound that is not the render from its first frame, or a
// render that goes on with wrong bytes) ends the search as a problem.
inline Playbacks FindPlaybacks(const std::string& capture, std::span<const std::uint8_t> pcm,
                                std::size_t from = 0) {
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

// Milliseconds of silence the server inserted into playback h because the
// client fell behind (an underrun): after a silent gap the render goes on,
// shifted by the gap, from where it broke off. 0 when h did not break so.
inline double UnderrunMs(const std::string& capture, std::span<const std::uint8_t> pcm, const Heard& h) {
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
