#include "support/sink_capture.hpp"

#include <cstdio>
#include <cstring>
#include <optional>

#include "engine/renderer.hpp"

namespace quibbet::test {

namespace {

constexpr std::size_t kFrame = kBytesPerFrame;
constexpr std::size_t kSample = kBytesPerFrame / kChannels;
// Frames that must agree for the render to be found again after a break,
// and how far from where it broke off it is looked for.
constexpr std::size_t kResync = 64;
constexpr std::size_t kReach = kFramesPerSecond;

std::string Frames(std::size_t frames) {
  char text[64];
  std::snprintf(text, sizeof text, "%zu frames (%.1f ms)", frames,
                static_cast<double>(frames) * 1e3 / kFramesPerSecond);
  return text;
}

// Frame by frame over the capture, with the render beside it.
class Walk {
 public:
  Walk(const std::string& capture, std::span<const std::uint8_t> pcm)
      : cap_(reinterpret_cast<const std::uint8_t*>(capture.data())),
        cap_frames_(capture.size() / kFrame),
        pcm_(pcm.data()),
        pcm_frames_(pcm.size() / kFrame) {}

  std::size_t cap_frames() const { return cap_frames_; }
  bool Silent(std::size_t c, int ch) const {
    const std::uint8_t* s = cap_ + c * kFrame + ch * kSample;
    return std::all_of(s, s + kSample, [](std::uint8_t b) { return b == 0; });
  }
  bool Silent(std::size_t c) const { return Silent(c, 0) && Silent(c, 1); }
  bool Same(std::size_t c, std::size_t r, int ch) const {
    return std::memcmp(cap_ + c * kFrame + ch * kSample, pcm_ + r * kFrame + ch * kSample,
                       kSample) == 0;
  }
  bool Same(std::size_t c, std::size_t r) const { return Same(c, r, 0) && Same(c, r, 1); }
  // Whether the capture from frame c on is the render from frame r on, for
  // kResync frames or to the end of the render.
  bool Agree(std::size_t c, std::size_t r) const {
    const std::size_t n = std::min(kResync, pcm_frames_ - r);
    return c + n <= cap_frames_ &&
           std::memcmp(cap_ + c * kFrame, pcm_ + r * kFrame, n * kFrame) == 0;
  }
  // Where in the render the capture's frames from c are: the first place
  // from frame r on, else from a second before it.
  std::optional<std::size_t> Find(std::size_t c, std::size_t r) const {
    if (c + kResync > cap_frames_) return std::nullopt;
    const auto in = [&](std::size_t from, std::size_t to) -> std::optional<std::size_t> {
      const std::uint8_t* end = pcm_ + std::min(pcm_frames_, to) * kFrame;
      for (const std::uint8_t* at = pcm_ + from * kFrame;; ++at) {
        at = std::search(at, end, cap_ + c * kFrame, cap_ + (c + kResync) * kFrame);
        if (at == end) return std::nullopt;
        if ((at - pcm_) % kFrame == 0) return static_cast<std::size_t>(at - pcm_) / kFrame;
      }
    };
    if (auto after = in(r, r + kReach + kResync)) return after;
    return in(r > kReach ? r - kReach : 0, r + kResync);
  }
  std::size_t pcm_frames() const { return pcm_frames_; }

 private:
  const std::uint8_t* cap_;
  std::size_t cap_frames_;
  const std::uint8_t* pcm_;
  std::size_t pcm_frames_;
};

}  // namespace

std::string Break::Describe() const {
  char at[64];
  std::snprintf(at, sizeof at,
                "at %.3f s (frame %zu): ", static_cast<double>(frame) / kFramesPerSecond, frame);
  if (skipped < 0) return at + Frames(static_cast<std::size_t>(-skipped)) + " heard twice";
  // The capture reads what the sink played; when it falls behind, the
  // server drops what it has not read, and inserts nothing.
  if (silent == 0)
    return at + Frames(static_cast<std::size_t>(skipped)) +
           " missing, with no silence: the capture lost them, not the playback";
  // A stream carries whole frames, so silence in one channel is the server's.
  if (channels != 3)
    return at + Frames(silent) + " of silence in the " + (channels == 1 ? "left" : "right") +
           " channel only: the server's doing, not the program's stream";
  std::string text = at + Frames(silent) + " of silence";
  if (skipped > 0) text += " in place of " + Frames(static_cast<std::size_t>(skipped));
  return text + ": the playback underran (its stream ran dry), not the capture";
}

std::string Playbacks::Breaks() const {
  std::string text;
  for (std::size_t i = 0; i < heard.size(); ++i)
    for (const Break& b : heard[i].breaks)
      text += "\n  playback " + std::to_string(i + 1) + " " + b.Describe();
  return text;
}

bool Playbacks::OnlyGaps() const {
  for (const Heard& h : heard)
    for (const Break& b : h.breaks)
      if (b.skipped < 0) return false;
  return problem.empty();
}

Playbacks FindPlaybacks(const std::string& capture, std::span<const std::uint8_t> pcm,
                        std::size_t from) {
  const Walk walk(capture, pcm);
  std::size_t lead = 0;  // the render's silent frames before its first sound
  while (lead < walk.pcm_frames() &&
         std::all_of(pcm.begin() + lead * kFrame, pcm.begin() + (lead + 1) * kFrame,
                     [](std::uint8_t b) { return b == 0; }))
    ++lead;
  const auto starts_again = [&](std::size_t c) { return walk.Agree(c, lead); };
  Playbacks found;
  std::size_t c = (from + kFrame - 1) / kFrame;
  while (true) {
    while (c < walk.cap_frames() && walk.Silent(c)) ++c;
    if (c == walk.cap_frames()) break;
    if (c < lead || !starts_again(c)) {
      found.problem = "sound at capture frame " + std::to_string(c) + " does not start a render";
      break;
    }
    Heard h;
    h.begin = (c - lead) * kFrame;
    std::size_t r = 0;
    c -= lead;
    for (;;) {
      while (r < walk.pcm_frames() && c < walk.cap_frames() && walk.Same(c, r)) ++r, ++c;
      if (r == walk.pcm_frames() || c == walk.cap_frames()) break;
      // Silence in place of the sound, in one channel or both, and then
      // the render again where it would have been.
      std::size_t n = 0, silent = 0;
      int channels = 0;
      for (; c + n < walk.cap_frames() && r + n < walk.pcm_frames(); ++n) {
        int wrong = 0;
        for (int ch = 0; ch < kChannels; ++ch)
          if (!walk.Same(c + n, r + n, ch)) wrong |= walk.Silent(c + n, ch) ? 1 << ch : 4;
        if (wrong & 4) break;
        if (wrong != 0) silent = n + 1;
        channels |= wrong;
      }
      if (silent > 0 && walk.Agree(c + silent, r + silent)) {
        h.breaks.push_back({r, silent, static_cast<std::ptrdiff_t>(silent), channels});
        c += silent;
        r += silent;
        continue;
      }
      // Silence, and then the render again from somewhere near: a gap, or
      // a part missing. Or the playback was stopped, and what follows is
      // the next one or nothing.
      std::size_t z = 0;
      while (c + z < walk.cap_frames() && walk.Silent(c + z)) ++z;
      if (c + z == walk.cap_frames() || starts_again(c + z)) break;
      std::optional<std::size_t> again = walk.Find(c + z, r);
      if (!again) {  // with silence in one channel at its edges
        while (c + z < walk.cap_frames() && (walk.Silent(c + z, 0) || walk.Silent(c + z, 1))) ++z;
        again = walk.Find(c + z, r);
      }
      if (!again) {
        found.problem = "capture frame " + std::to_string(c + z) + " (render frame " +
                        std::to_string(r) + ") is neither the render nor silence";
        break;
      }
      h.breaks.push_back(
          {r, z, static_cast<std::ptrdiff_t>(*again) - static_cast<std::ptrdiff_t>(r), 3});
      c += z;
      r = *again;
    }
    h.length = r * kFrame;
    h.end = c * kFrame;
    found.heard.push_back(h);
    if (!found.problem.empty()) break;
  }
  return found;
}

}  // namespace quibbet::test
