// Renders a fixed set of patches and writes their PCM, one after another,
// to a file: usage: render_pcm reference|LEVEL OUT, where LEVEL is one of
// the fast render's levels (sse2, avx2, avx512 on x86-64; neon on aarch64;
// portable on every other CPU). Exit status 2 when the level is not one
// this program has, or the CPU lacks it.
//
// `render_pcm files DIR` saves each patch as the program does, as
// DIR/out<i>.wav and DIR/import<i>.txt, and checks that each reopened
// import<i>.txt gives the patch's oscillators back, bit for bit.
//
// Built for Linux, Windows and other CPUs; the tests run builds side by side
// and compare the files byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "engine/fast_renderer.hpp"
#include "engine/patch.hpp"
#include "engine/renderer.hpp"
#include "files/param_dump.hpp"
#include "files/param_load.hpp"
#include "files/wav_writer.hpp"

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

bool SameOscillators(const Osc (&a)[2], const Osc (&b)[2]) {
  return std::memcmp(a, b, sizeof a) == 0;  // Osc has no padding: four 32-bit fields
}

int SaveFiles(const std::string& dir) {
  const auto buffer = std::make_unique<SampleBuffer>();
  for (std::size_t i = 0; i < std::size(kPatches); ++i) {
    const Patch& p = kPatches[i];
    NoiseGenerator noise;
    RenderFast(p, noise, *buffer);
    const std::string wav = dir + "/out" + std::to_string(i) + ".wav";
    const std::string rows = dir + "/import" + std::to_string(i) + ".txt";
    for (const FileResult& r : {WriteWave(wav, *buffer), WriteParams(rows, p)}) {
      if (!r.ok()) {
        std::fprintf(stderr, "render_pcm: %s\n", r.error.c_str());
        return 1;
      }
    }
    // The patches' values have a few decimals, so the rows carry them exactly.
    const LoadedParams reopened = LoadParams(rows);
    if (!reopened.ok() || !SameOscillators(reopened.osc, p.osc)) {
      std::fprintf(stderr, "render_pcm: %s does not reopen as the patch it was saved from%s%s\n",
                   rows.c_str(), reopened.ok() ? "" : ": ", reopened.error.c_str());
      return 1;
    }
  }
  return 0;
}

int Main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: render_pcm reference|LEVEL OUT, or render_pcm files DIR\n");
    return 1;
  }
  if (std::strcmp(argv[1], "files") == 0) return SaveFiles(argv[2]);
  const bool reference = std::strcmp(argv[1], "reference") == 0;
  int level = 0;
  while (!reference && std::strcmp(argv[1], SimdLevelName(SimdLevel{level})) != 0) {
    if (++level == SimdLevelCount()) return 2;
  }
  if (level > static_cast<int>(BestSimdLevel())) return 2;
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
      SineGuardCount counts;
      RenderFast(p, noise, *buffer, SimdLevel{level}, counts);
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
