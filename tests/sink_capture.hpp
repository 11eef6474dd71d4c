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

}  // namespace quibbet::test
