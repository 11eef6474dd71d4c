// What a sound server's monitor delivered, and the playbacks of a render
// found in it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace quibbet::test {

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

// Splits the capture from byte `from` on into playbacks of the render
// separated by silence. Anything else (a sound that is not the render from
// its first frame, or a render that goes on with wrong bytes) ends the search
// as a problem.
Playbacks FindPlaybacks(const std::string& capture, std::span<const std::uint8_t> pcm,
                        std::size_t from = 0);

// Milliseconds of silence the server inserted into playback h because the
// client fell behind (an underrun): after a silent gap the render goes on,
// shifted by the gap, from where it broke off. 0 when h did not break so.
double UnderrunMs(const std::string& capture, std::span<const std::uint8_t> pcm, const Heard& h);

}  // namespace quibbet::test
