#include "engine/renderer.hpp"

#include <cstring>

namespace quibbet {

void RenderReference(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer) {
  std::memset(buffer.values, 0, sizeof buffer.values);
  quibbet_osc osc[2];
  for (int o = 0; o < 2; ++o)
    osc[o] = {p.osc[o].type, p.osc[o].detune, p.osc[o].fm, p.osc[o].noise};
  quibbet_noise state{noise.s0, noise.s1, noise.s2};
  quibbet_voice voice;
  quibbet_start(&voice, osc, p.tone, &state);
  noise.s0 = state.s0;
  noise.s1 = state.s1;
  noise.s2 = state.s2;

  // In pieces through a small block, so that the bytes go out in the WAV's
  // little-endian order on any host.
  constexpr std::size_t kBlockFrames = 1024;
  std::int16_t block[2 * kBlockFrames];
  auto* bytes = reinterpret_cast<unsigned char*>(buffer.values);
  std::size_t got;
  while ((got = quibbet_play(&voice, block, kBlockFrames)) != 0) {
    for (std::size_t j = 0; j < 2 * got; ++j) {
      const auto bits = static_cast<std::uint16_t>(block[j]);
      *bytes++ = static_cast<unsigned char>(bits & 0xFF);
      *bytes++ = static_cast<unsigned char>(bits >> 8);
    }
  }
}

}  // namespace quibbet
