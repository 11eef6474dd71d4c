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

// Byte for byte the PCM of RenderReference, and the same noise state after.
// Only the first kPcmBytes bytes of the buffer are written; the rest keep
// whatever they held. No allocation, no I/O. Uses BestSimdLevel().
void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer);

// The same with the given level, which must be one this CPU can run (up to
// BestSimdLevel()); the sines it evaluates are added to `counts`.
void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer, SimdLevel level,
                SineGuardCount& counts);

// out[i] = float(Sine(x[i])) through the given level's vector sine and
// guard, counted in `counts`. For tests of the guard. The level must be one
// the CPU can run.
void SinesRoundedToFloat(SimdLevel level, const float* x, float* out, int n,
                         SineGuardCount& counts);

// Advances the noise generator by `steps` steps at once.
void SkipNoise(NoiseGenerator& noise, std::uint64_t steps);

}  // namespace quibbet
