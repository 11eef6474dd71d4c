// The player against the program over random patches from a fixed seed:
// usage: player_proof FIRST COUNT, patches FIRST to FIRST + COUNT - 1 of one
// sequence. Tones across the whole 32-bit range, every waveform pair,
// negative and huge FM and noise. Prints the first patch whose bytes or noise
// state differ and exits 1; `make player-proof` runs 10,000.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

#include "player_compare.hpp"

namespace quibbet {
namespace {

float Pick(std::mt19937& gen, float lo, float hi) {
  return static_cast<float>(lo + (hi - lo) * (gen() * 0x1p-32));
}

// A mix of the editable range and of values no key reaches: signed zeros,
// subnormals, huge magnitudes, infinities and NaN.
float Amount(std::mt19937& gen, float lo, float hi) {
  static const float kOdd[] = {0.0f,
                               -0.0f,
                               1e-40f,
                               -1e-7f,
                               1e30f,
                               -1e30f,
                               3.4e38f,
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN()};
  switch (gen() % 4) {
    case 0:
      return kOdd[gen() % (sizeof kOdd / sizeof kOdd[0])];
    case 1:
      return 0.0f;
    default:
      return Pick(gen, lo, hi);
  }
}

Patch RandomPatch(std::mt19937& gen, unsigned index) {
  Patch p;
  // Half the tones where the sound is audible, half anywhere in 32 bits.
  p.tone = gen() % 2 == 0 ? static_cast<std::int32_t>(gen() % 500) - 60
                          : static_cast<std::int32_t>(gen());
  p.osc[0].type = static_cast<std::int32_t>(index % 3);
  p.osc[1].type = static_cast<std::int32_t>(index / 3 % 3);
  for (Osc& o : p.osc) {
    o.detune = gen() % 8 == 0 ? Amount(gen, -1e6f, 1e6f) : Pick(gen, 0.0f, 4.0f);
    o.fm = Amount(gen, -20.0f, 120.0f);
    o.noise = Amount(gen, -12.0f, 12.0f);
  }
  return p;
}

int Main(int argc, char** argv) {
  const long first = argc == 3 ? std::strtol(argv[1], nullptr, 10) : -1;
  const long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (first < 0 || count <= 0) {
    std::fprintf(stderr, "usage: player_proof FIRST COUNT\n");
    return 2;
  }
  std::mt19937 gen(20260417);
  // The noise state runs on from patch to patch, as in one session.
  NoiseGenerator program_noise;
  quibbet_noise player_noise = QUIBBET_NOISE_START;
  for (long i = 0; i < first + count; ++i) {
    const Patch p = RandomPatch(gen, static_cast<unsigned>(i));
    if (i < first) {
      SkipNoise(program_noise, 2 * std::uint64_t{kRenderFrames});
      continue;
    }
    player_noise = {program_noise.s0, program_noise.s1, program_noise.s2};
    const long at =
        test::FirstDifference(test::PlayerPcm(p, player_noise), test::ProgramPcm(p, program_noise));
    const bool same_noise = player_noise.s0 == program_noise.s0 &&
                            player_noise.s1 == program_noise.s1 &&
                            player_noise.s2 == program_noise.s2;
    if (at != -1 || !same_noise) {
      std::printf("patch %ld (%s): %s %ld\n", i, test::Describe(p).c_str(),
                  at != -1 ? "first differing PCM byte" : "noise state differs", at);
      return 1;
    }
  }
  std::printf("player_proof: random patches %ld to %ld give the program's bytes\n", first,
              first + count - 1);
  return 0;
}

}  // namespace
}  // namespace quibbet

int main(int argc, char** argv) { return quibbet::Main(argc, argv); }
