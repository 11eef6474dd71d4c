// The render used by the program: the same bytes as RenderReference, several
// times faster, on every x86-64 CPU.
//
// A first pass per block runs the serial recurrences (phase, envelope,
// noise); vector passes then evaluate the waveforms, the waveshaper and the
// limiter for the whole block, with a vector sine that hands any result lying
// near a float rounding boundary to the scalar Sine.
#pragma once

#include <cstdint>

#include "engine/patch.hpp"
#include "engine/renderer.hpp"
#include "engine/voice.hpp"

namespace quibbet {

// Instruction sets the vector passes are built for, narrowest first.
enum class SimdLevel { kSse2, kAvx2, kAvx512 };

// The widest level this CPU (and its operating system) can run.
SimdLevel BestSimdLevel();

// The level RenderFast uses: BestSimdLevel() unless forced. Forcing a level
// the CPU cannot run is refused (returns false); tests and benchmarks use it.
SimdLevel ActiveSimdLevel();
bool ForceSimdLevel(SimdLevel level);

const char* SimdLevelName(SimdLevel level);

// Byte for byte the PCM of RenderReference, and the same noise state after.
// Only the first kPcmBytes bytes of the buffer are written; the rest keep
// whatever they held. No allocation, no I/O.
void RenderFast(const Patch& p, NoiseGenerator& noise, SampleBuffer& buffer);

// Sines evaluated by RenderFast since the program started, and how many of
// them the exactness guard sent to the scalar sine.
struct SineGuardCount {
  std::uint64_t total = 0;
  std::uint64_t scalar = 0;
};
SineGuardCount SineGuardCounts();

// out[i] = float(Sine(x[i])) through the given level's vector sine and guard;
// counted in SineGuardCounts(). For tests of the guard. The level must be
// one the CPU can run.
void SinesRoundedToFloat(SimdLevel level, const float* x, float* out, int n);

// Advances the noise generator by `steps` steps at once.
void SkipNoise(NoiseGenerator& noise, std::uint64_t steps);

}  // namespace quibbet
