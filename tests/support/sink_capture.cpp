#include "support/sink_capture.hpp"

#include <cstdio>
#include <cstring>

#include "engine/renderer.hpp"

namespace quibbet::test {

namespace {

constexpr std::size_t kFrame = kBytesPerFrame, kSample = kBytesPerFrame / kChannels;
// Frames that must agree for the render to be found again after a break,
// and how far from where it broke off it is looked for.
constexpr std::size_t kResync = 64, kReach = kFramesPerSecond;

std::string Frames(std::size_t frames) {
  char text[64];
  std::snprintf(text, sizeof text, "%zu frames (%.1f ms)", frames, frames * 1e3 / kFramesPerSecond);
  return text;
}

bool Zero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::string Break::Describe() const {
  char at[64];
  std::snprintf(at, sizeof at, "at %.3f s (frame %zu): ", frame * 1.0 / kFramesPerSecond, frame);
  if (skipped < 0) return at + Frames(static_cast<std::size_t>(-skipped)) + " heard twice";
  // The capture reads what the sink played; when it falls behind, the
  // server drops what it has not read, and inserts nothing.
  if (silent == 0)
    return at + Frames(static_cast<std::size_t>(skipped)) +
           " missing, with no silence: the capture lost them, not the playback";
  // A stream carries whole frames, so silence in one channel is the server's.
  if (channels != 3)
    return at + Frames(silent) + " of silence in the " + (channels == 1 ? "left" : "right") +
           " channel only: the server's doing";
  // Inserted, the stream ran dry and went on where it stopped; in place, the
  // server played silence and dropped what it had or what came late.
  std::string text = at + Frames(silent) + " of silence";
  text += skipped == 0 ? " inserted" : " in place of " + Frames(static_cast<std::size_t>(skipped));
  return text +
         ": the playback fell behind (the program or the server), or the server's monitor did";
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

bool Playbacks::OnlySilencesUpTo(std::size_t frames) const {
  for (const Heard& h : heard)
    for (const Break& b : h.breaks)
      if (b.silent == 0 || b.silent > frames || b.skipped < 0 ||
          static_cast<std::size_t>(b.skipped) > b.silent)
        return false;
  return problem.empty();
}

Playbacks FindPlaybacks(const std::string& capture_bytes, std::span<const std::uint8_t> pcm,
                        std::size_t from) {
  const auto* cap = reinterpret_cast<const std::uint8_t*>(capture_bytes.data());
  const std::size_t cap_frames = capture_bytes.size() / kFrame, pcm_frames = pcm.size() / kFrame;
  const auto silent = [&](std::size_t c, int ch) {
    return Zero(cap + c * kFrame + ch * kSample, kSample);
  };
  // Whether the capture from frame c on is the render from frame r on, for
  // kResync frames or to the end of the render.
  const auto agree = [&](std::size_t c, std::size_t r) {
    const std::size_t n = std::min(kResync, pcm_frames - r);
    return c + n <= cap_frames && std::memcmp(cap + c * kFrame, &pcm[r * kFrame], n * kFrame) == 0;
  };
  // The first frame of the render from `lo` on where the capture's frames
  // from c are found.
  const auto find = [&](std::size_t c, std::size_t lo, std::size_t hi) -> std::size_t {
    const std::uint8_t* end = pcm.data() + std::min(pcm_frames, hi) * kFrame;
    if (c + kResync > cap_frames) return SIZE_MAX;
    for (const std::uint8_t* at = pcm.data() + lo * kFrame;; ++at) {
      at = std::search(at, end, cap + c * kFrame, cap + (c + kResync) * kFrame);
      if (at == end) return SIZE_MAX;
      if ((at - pcm.data()) % kFrame == 0)
        return static_cast<std::size_t>(at - pcm.data()) / kFrame;
    }
  };
  std::size_t lead = 0;  // the render's silent frames before its first sound
  while (lead < pcm_frames && Zero(&pcm[lead * kFrame], kFrame)) ++lead;

  Playbacks found;
  std::size_t c = (from + kFrame - 1) / kFrame;
  while (found.problem.empty()) {
    while (c < cap_frames && Zero(cap + c * kFrame, kFrame)) ++c;
    if (c == cap_frames) break;
    if (c < lead || !agree(c, lead)) {
      found.problem = "sound at capture frame " + std::to_string(c) + " does not start a render";
      break;
    }
    Heard h;
    c -= lead;
    h.begin = c * kFrame;
    std::size_t r = 0;
    for (;;) {
      while (r < pcm_frames && c < cap_frames &&
             std::memcmp(cap + c * kFrame, &pcm[r * kFrame], kFrame) == 0)
        ++r, ++c;
      if (r == pcm_frames || c == cap_frames) break;
      // Silence, then the render again from somewhere near: a gap, or a
      // part missing. Or the playback was stopped, and what follows is the
      // next one or nothing.
      std::size_t z = 0;
      while (c + z < cap_frames && Zero(cap + (c + z) * kFrame, kFrame)) ++z;
      if (c + z == cap_frames || agree(c + z, lead)) break;
      Break b{r, z, 0, 3};
      std::size_t again = find(c + z, r, r + kReach + kResync);
      if (again == SIZE_MAX) {  // silent in one channel only, at least at the edges
        while (c + z < cap_frames && (silent(c + z, 0) || silent(c + z, 1))) ++z;
        b.silent = z;
        b.channels = 0;  // each channel that is silent through most of it
        for (int ch = 0; ch < kChannels; ++ch) {
          std::size_t n = 0;
          for (std::size_t i = c; i < c + z; ++i) n += silent(i, ch);
          b.channels |= 2 * n > z ? 1 << ch : 0;
        }
        again = find(c + z, r, r + kReach + kResync);
      }
      if (again == SIZE_MAX) again = find(c + z, r > kReach ? r - kReach : 0, r);
      if (again == SIZE_MAX) {
        found.problem = "capture frame " + std::to_string(c + z) + " (render frame " +
                        std::to_string(r) + ") is neither the render nor silence";
        break;
      }
      b.skipped = static_cast<std::ptrdiff_t>(again) - static_cast<std::ptrdiff_t>(r);
      h.breaks.push_back(b);
      c += z;
      r = again;
    }
    h.length = r * kFrame;
    h.end = c * kFrame;
    found.heard.push_back(h);
  }
  return found;
}

}  // namespace quibbet::test
