// Renders a fixed set of patches and writes their PCM, one after another,
// to a file: usage: render_pcm reference|sse2|avx2|avx512 OUT
//
// Built for Linux and for Windows; the Windows tests run both and compare
// the two files byte for byte. Exit status 2 when the CPU lacks the level.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "engine/fast_renderer.hpp"
#include "engine/patch.hpp"
#include "engine/renderer.hpp"

namespace quibbet {
namespace {

Patch Make(std::int32_t tone, Osc a, Osc b) {
  Patch p;
  p.tone = tone;
  p.osc[0] = a;
  p.osc[1] = b;
  return p;
}

// Every waveform, the shaper on and off, noise, and pitches from the 6 Hz
// floor up to where the phase reaches sine arguments in the millions
// (tone 365 and above), where C libraries' sines have been seen to disagree.
const Patch kPatches[] = {
    Patch{},
    Make(-40, {SAW, 1.0f, 0.0f, 0.0f}, {SQR, 0.5f, 0.0f, 0.0f}),
    Make(0, {SQR, 1.003f, 1.3f, 0.2f}, {SAW, 2.0f, 0.7f, -0.1f}),
    Make(24, {SIN, 0.25f, 7.5f, 0.0f}, {SIN, 3.0f, -0.1f, 0.05f}),
    Make(100, {SAW, 1.5f, 2.5f, 0.01f}, {SIN, 0.999f, 0.0f, 0.0f}),
    Make(365, Osc{SIN, 1.01f, 2.5f, 0.0f}, Osc{SIN, 0.997f, 2.8f, 0.0f}),
    Make(366, {SIN, 1.0f, 0.0f, 0.0f}, {SAW, 1.0f, 0.0f, 0.0f}),
    Make(400, {SIN, 1.7f, 0.3f, 0.0f}, {SQR, 0.3f, 4.0f, 0.0f}),
    Make(512, {SIN, 2.5f, 1.0f, 0.3f}, {SIN, 0.1f, 0.0f, 0.0f}),
    Make(1000, {SIN, 1.01f, 2.5f, 0.0f}, {SIN, 0.997f, 2.8f, 0.0f}),
    Make(5000, {SAW, 1.0f, 0.5f, 0.0f}, {SIN, 1.0f, 0.0f, 0.0f}),
    Make(std::numeric_limits<std::int32_t>::max(), {SIN, 1.0f, 0.0f, 0.0f},
         {SIN, 1.0f, 1.0f, 0.0f}),
};

int Main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: render_pcm reference|sse2|avx2|avx512 OUT\n");
    return 1;
  }
  const bool reference = std::strcmp(argv[1], "reference") == 0;
  if (!reference) {
    bool known = false;
    for (const SimdLevel level : {SimdLevel::kSse2, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
      if (std::strcmp(argv[1], SimdLevelName(level)) != 0) continue;
      known = true;
      if (!ForceSimdLevel(level)) return 2;
    }
    if (!known) {
      std::fprintf(stderr, "render_pcm: unknown level '%s'\n", argv[1]);
      return 1;
    }
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "render_pcm: cannot create %s\n", argv[2]);
    return 1;
  }
  const auto buffer = std::make_unique<SampleBuffer>();
  for (const Patch& p : kPatches) {
    NoiseGenerator noise;
    if (reference) {
      RenderReference(p, noise, *buffer);
    } else {
      RenderFast(p, noise, *buffer);
    }
    const auto pcm = buffer->Pcm();
    if (std::fwrite(pcm.data(), 1, pcm.size(), out) != pcm.size()) {
      std::fprintf(stderr, "render_pcm: cannot write %s\n", argv[2]);
      return 1;
    }
  }
  return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace
}  // namespace quibbet

int main(int argc, char** argv) { return quibbet::Main(argc, argv); }
