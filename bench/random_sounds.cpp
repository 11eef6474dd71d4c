// What G's random sounds are like: draws patches as G does, from one seed,
// renders each as `quibbet --render` does (the first render, from the noise
// source's start state) and prints how many
//  - are heard: peak above -30 dBFS in the first second;
//  - are square-like at full scale for more than half the sound: more than
//    half of the frames up to the last one above -60 dBFS are at -1 dBFS or
//    louder.
// usage: random_sounds [COUNT [SEED]]   (1,000 sounds from seed 1)
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "console/patch_random.hpp"
#include "engine/fast_renderer.hpp"
#include "engine/renderer.hpp"

namespace {

template <typename T>
bool Read(const char* text, T& value) {
  const std::string_view s(text);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc{} && end == s.data() + s.size();
}

// Sample magnitudes at 0, -1, -30 and -60 dBFS of 32767, rounded up.
constexpr int kFullScale = 32767;
constexpr int kMinus1Db = 29204;
constexpr int kMinus30Db = 1037;
constexpr int kMinus60Db = 33;

}  // namespace

int main(int argc, char** argv) {
  using namespace quibbet;
  int count = 1000;
  std::uint64_t seed = 1;
  if ((argc > 1 && !Read(argv[1], count)) || (argc > 2 && !Read(argv[2], seed)) || argc > 3 ||
      count <= 0) {
    std::fprintf(stderr, "usage: random_sounds [COUNT [SEED]]\n");
    return 2;
  }
  RandomSource random(seed);
  const auto buffer = std::make_unique<SampleBuffer>();
  int heard = 0, square_like = 0;
  double loud_share_sum = 0.0, loud_share_max = 0.0;
  for (int i = 0; i < count; ++i) {
    const Patch patch = RandomPatch(random);
    NoiseGenerator noise;
    RenderFast(patch, noise, *buffer);
    // Left and right are equal: the left channel is the sound.
    const auto sample = [&](int frame) {
      std::int16_t s;
      std::memcpy(&s, buffer->Pcm().data() + std::size_t{kBytesPerFrame} * frame, sizeof s);
      return std::abs(static_cast<int>(s));
    };
    int peak = 0;
    for (int f = 0; f < kFramesPerSecond; ++f) peak = std::max(peak, sample(f));
    int end = 0, loud = 0;
    for (int f = 0; f < kRenderFrames; ++f) {
      if (sample(f) >= kMinus60Db) end = f + 1;
      if (sample(f) >= kMinus1Db) ++loud;
    }
    const double loud_share = end > 0 ? static_cast<double>(loud) / end : 0.0;
    loud_share_sum += loud_share;
    loud_share_max = std::max(loud_share_max, loud_share);
    if (peak >= kMinus30Db) ++heard;
    if (loud_share > 0.5) ++square_like;
    if (peak < kMinus30Db || loud_share > 0.5 || std::getenv("RANDOM_SOUNDS_ALL")) {
      std::printf("%4d tone %d {%d %g %g %g} {%d %g %g %g}: peak %d, %d%% of %d frames loud\n", i,
                  patch.tone, patch.osc[0].type, patch.osc[0].detune, patch.osc[0].fm,
                  patch.osc[0].noise, patch.osc[1].type, patch.osc[1].detune, patch.osc[1].fm,
                  patch.osc[1].noise, peak, static_cast<int>(100 * loud_share), end);
    }
  }
  std::printf("%d random sounds from seed %llu (full scale %d)\n", count,
              static_cast<unsigned long long>(seed), kFullScale);
  std::printf("peak above -30 dBFS in the first second: %d (%.1f %%)\n", heard,
              100.0 * heard / count);
  std::printf("at -1 dBFS or louder for more than half the sound: %d (%.1f %%)\n", square_like,
              100.0 * square_like / count);
  std::printf("share of the sound at -1 dBFS or louder: %.3f %% on average, %.3f %% at most\n",
              100.0 * loud_share_sum / count, 100.0 * loud_share_max);
  return 0;
}
