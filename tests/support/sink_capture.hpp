// What a sound server's monitor delivered, and the playbacks of a render
// found in it.
#pragma once

#include <algorithm>
#include <cstddef>
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

// A place where a playback heard departs from the render and then goes on
// with it: `silent` frames of silence were heard (in `channels`: 1 left, 2
// right, 3 both) where `skipped` frames of the render were not (negative:
// heard twice). Gaps a busy machine makes are whole periods of silence.
struct Break {
  std::size_t frame = 0;  // of the render, where it departs
  std::size_t silent = 0;
  std::ptrdiff_t skipped = 0;
  int channels = 3;
  // One line: where, what, and whose doing, as far as the capture tells.
  std::string Describe() const;
};

// A playback found in the capture: the render's first `length` bytes heard
// from capture offset `begin` on, up to `end`, through `breaks`.
struct Heard {
  std::size_t begin = 0, end = 0, length = 0;
  std::vector<Break> breaks;
};

struct Playbacks {
  std::vector<Heard> heard;
  std::string problem;  // empty when the capture is nothing but these
  // Every break, described, or "" when there are none.
  std::string Breaks() const;
  // Whether every break is of a kind a busy machine makes: silence, or a
  // part the capture lost.
  bool OnlyGaps() const;
  // Whether every break is silence of at most `frames` that took the place
  // of no more than it lasted: a server that missed a period or two.
  bool OnlySilencesUpTo(std::size_t frames) const;
};

// Splits the capture from byte `from` on into playbacks of the render,
// separated by silence, and finds where each departs from the render. A
// sound that is not the render from its first frame, or samples that are
// neither the render nor silence, end the search as a problem.
Playbacks FindPlaybacks(const std::string& capture, std::span<const std::uint8_t> pcm,
                        std::size_t from = 0);

}  // namespace quibbet::test
