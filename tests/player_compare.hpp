// The player's PCM beside the program's, as little-endian bytes: what the
// player tests and the random-patch proof compare.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/fast_renderer.hpp"
#include "engine/patch.hpp"
#include "engine/renderer.hpp"
#include "player/quibbet_player.h"

namespace quibbet::test {

inline Patch MakePatch(std::int32_t tone, Osc a, Osc b) {
  Patch p;
  p.tone = tone;
  p.osc[0] = a;
  p.osc[1] = b;
  return p;
}

inline std::string Describe(const Patch& p) {
  std::ostringstream s;
  s << std::hexfloat << "tone " << p.tone;
  for (const Osc& o : p.osc)
    s << " {" << o.type << ", " << o.detune << ", " << o.fm << ", " << o.noise << "}";
  return s.str();
}

// What the program writes after the WAV header: RenderFast's PCM.
inline std::vector<std::uint8_t> ProgramPcm(const Patch& p, NoiseGenerator& noise) {
  static const auto buffer = std::make_unique<SampleBuffer>();
  RenderFast(p, noise, *buffer);
  return {buffer->Pcm().begin(), buffer->Pcm().end()};
}

inline std::vector<std::uint8_t> PlayerPcm(const Patch& p, quibbet_noise& noise) {
  quibbet_osc osc[2];
  for (int o = 0; o < 2; ++o)
    osc[o] = {p.osc[o].type, p.osc[o].detune, p.osc[o].fm, p.osc[o].noise};
  std::vector<std::int16_t> samples(2 * QUIBBET_FRAMES);
  quibbet_render(osc, p.tone, &noise, samples.data());
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * samples.size());
  for (const std::int16_t s : samples) {
    const auto u = static_cast<std::uint16_t>(s);
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

// The first differing byte, or -1; a length difference counts at the shorter end.
inline long FirstDifference(const std::vector<std::uint8_t>& a,
                            const std::vector<std::uint8_t>& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return a.size() == b.size() ? -1 : static_cast<long>(n);
}

}  // namespace quibbet::test
