// The instruction-set seam of the fast render: what it hands to the kernels
// of one architecture, and how it finds them.
//
// Each architecture keeps its kernels in its own folder, engine/simd/<arch>/,
// which CMake picks from the target processor; engine/simd/portable/ serves
// every other CPU. A folder holds one engine/simd/<arch>/fast_kernel_<set>.cpp
// per instruction set and a kernel_sets.cpp that lists them and says which of
// them this CPU runs; a folder with one set uses engine/simd/one_kernel_set.cpp
// instead, and its kernel file defines kOnlyKernelSet.
//
// A kernel file may be compiled with its set's flags (x86-64's AVX2 and
// AVX-512). Such a translation unit must not define or use any inline
// function with external linkage (class member functions, most of <cmath>'s
// C++ overloads): the linker keeps one copy of each, and the copy it keeps
// might be the AVX-512 one, which would then run on every CPU. So this
// header holds plain data and declarations only.
#pragma once

#include <cstdint>

namespace quibbet::fast {

// Frames per block: the serial pass and the vector passes take turns on
// blocks small enough to stay in the first-level cache.
inline constexpr int kBlockFrames = 1024;

// Most distinct voices a patch can need: each oscillator's detuned voice
// and the base voice, which both oscillators may share.
inline constexpr int kMaxVoices = 4;

enum class VoiceKind : std::int32_t { kSaw, kSin };

// The patch, resolved once per render into what the vector passes need.
struct KernelPlan {
  // Phase increment per frame: a float widened to double.
  double increment = 0.0;

  // Distinct waveform evaluations per frame; SQR uses the sawtooth's values.
  int voice_count = 0;
  VoiceKind voice_kind[kMaxVoices] = {};
  float voice_ratio[kMaxVoices] = {};

  // Per oscillator: which voices it sums, and how it shapes and adds noise.
  int detuned_voice[2] = {};
  int base_voice[2] = {};
  bool square[2] = {};
  bool shaper[2] = {};  // fm > 0
  float fm[2] = {};
  // Two square voices sum to -2, 0 or +2, so a shaped square oscillator has
  // only three values: the shaper's output for h = -2, 0, +2.
  float shaped_square[2][3] = {};
  bool noisy[2] = {};  // noise != 0; a zero amount adds exactly nothing
  float noise[2] = {};
};

// One block of the serial pass's results, and where its PCM goes.
struct KernelBlock {
  int frames = 0;                 // 1..kBlockFrames
  int first_frame = 0;            // frame number of the block's first frame
  const float* env = nullptr;     // envelope, per frame
  const float* noise0 = nullptr;  // noise values of oscillator 0, if noisy
  const float* noise1 = nullptr;  // noise values of oscillator 1, if noisy
  unsigned char* pcm = nullptr;   // 4 bytes per frame: left, then right sample
};

// The exactness of the vector sines.
//
// The sound needs Sine(x) (engine/voice.hpp): the double nearest the true
// sine, rounded to float. Lane by lane, the vector sines (engine/simd/vector_sines.inc)
// compute the scalar Sine's fast evaluation (engine/sine_fast.inc), the same
// operations in the same order, and apply its guard: a lane whose argument
// is beyond sine::kFastLimit, infinite or NaN, or whose result lies too near
// a float rounding boundary, is recomputed by Sine itself. So every lane has
// Sine's bits; `make verify-sine` checks this for all 2^32 floats on every
// level the CPU can run.

// Sines computed, and how many of them the guard sent to the scalar sine.
struct SineCounts {
  std::uint64_t total = 0;
  std::uint64_t scalar = 0;
};

// One instruction set's kernel renders one block; its sine routine computes
// out[i] = float(Sine(x[i])) for n values, exactly.
struct KernelSet {
  const char* name;  // as render_pcm and the benchmarks take it
  void (*kernel)(const KernelPlan& plan, const KernelBlock& block, SineCounts& counts);
  void (*sines)(const float* x, float* out, int n, SineCounts& counts);
};

// This architecture's kernel sets, narrowest first
// (engine/simd/<arch>/kernel_sets.cpp, or engine/simd/one_kernel_set.cpp). The first
// RunnableKernelSets() of the KernelSetCount() built run on this CPU: always at least one.
int KernelSetCount();
int RunnableKernelSets();
const KernelSet& KernelSetAt(int index);

}  // namespace quibbet::fast
