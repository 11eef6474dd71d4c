// The render used by the program: the same bytes as RenderReference, several
// times faster, on every CPU.
//
// A first pass per block runs the serial recurrences (phase, envelope,
// noise); vector passes then evaluate the waveforms, the waveshaper and the
// limiter for the whole block, with a vector sine that hands any result lying
// near a float rounding boundary to the scalar Sine. The vector passes are
// written once per instruction set (engine/simd/); every set gives the same
// bytes. Pure: no I/O, no allocation, no state of its own.
#pragma once

#include <cstdint>

#include "engine/patch.hpp"
#include "engine/renderer.hpp"
#include "engine/simd/kernel.hpp"
#include "engine/voice.hpp"

namespace quibbet {

// An instruction set of the fast render's vector passes, as this build's
// architecture numbers them, narrowest first: 0 .. SimdLevelCount() - 1.
// x86-64 has sse2, avx2 and avx512; aarch64 neon; any other CPU, or a build
// with -DQUIBBET_SIMD=OFF, portable. Level 0 runs on every CPU of its
// architecture.
enum class SimdLevel : int {};

// Levels built into this program.
int SimdLevelCount();

// The widest level this CPU (and its operating system) can run; every level
// up to it runs too.
SimdLevel BestSimdLevel();

// "sse2", "avx2", "avx512", "neon" or "portable".
const char* SimdLevelName(SimdLevel level);

// Sines evaluated, and how many of them the exactness guard sent to the
// scalar sine. Renders add to it.
using SineGuardCount = fast::SineCounts;

// A fast render done a piece at a time, so that the start of a sound can be
// heard while the rest is computed: begun with the patch, then continued by
// RenderFastFrames. However the sound is split, the bytes and the noise state
// are those of RenderFast. Plain data; it owns nothing.
struct FastRender {
  fast::KernelPlan plan;
  SimdLevel level{};
  int frames_done = 0;  // frames of the sound rendered so far

  bool Done() const { return frames_done == kRenderFrames; }
};

// Byte for byte the PCM of RenderReference, and the same noise state after.
// Only the first kPcmBytes bytes of the buffer are written; the rest keep
// whatever they held. No allocation, no I/O. Uses BestSimdLevel().
void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer);

// The same with the given level, which must be one this CPU can run (up to
// BestSimdLevel()); the sines it evaluates are added to `counts`.
void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer, SimdLevel level,
                SineGuardCount& counts);

// Begins a render of p at the given level (one this CPU can run), or at
// BestSimdLevel(). Renders nothing yet.
FastRender BeginRenderFast(const Patch& p);
FastRender BeginRenderFast(const Patch& p, SimdLevel level);

// Renders the next `frames` frames of the sound (fewer where it ends) into
// the buffer's PCM, taking their steps of the noise generator, which must be
// the one the sound began with and not be used by anything else until the
// sound is done. Writes only those frames' bytes, so the frames before them
// may be read meanwhile. Returns how many frames it rendered; 0 once done.
int RenderFastFrames(FastRender& render, NoiseGenerator& noise, SampleBuffer& buffer, int frames);
int RenderFastFrames(FastRender& render, NoiseGenerator& noise, SampleBuffer& buffer, int frames,
                     SineGuardCount& counts);

// out[i] = float(Sine(x[i])) through the given level's vector sine and
// guard, counted in `counts`. For tests of the guard. The level must be one
// the CPU can run.
void SinesRoundedToFloat(SimdLevel level, const float* x, float* out, int n,
                         SineGuardCount& counts);

// Advances the noise generator by `steps` steps at once.
void SkipNoise(NoiseGenerator& noise, std::uint64_t steps);

}  // namespace quibbet
