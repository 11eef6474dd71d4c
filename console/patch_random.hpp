// Random sounds and mutations of a sound, the same on every platform and CPU
// for the same seed: the generator is integer arithmetic, and every value is
// made from integers by IEEE double operations (exactly rounded everywhere)
// and one explicit rounding to single precision, as the keys make theirs. No
// library distribution is used: their results are the library's own choice.
//
// This lives beside the keys rather than in engine/: a random sound and a
// mutation are edits, made of the keys' own steps (key_table.hpp), and the
// engine knows only how a patch sounds.
#pragma once

#include <cstdint>

#include "engine/patch.hpp"

namespace quibbet {

// splitmix64 (Steele, Lea and Flood, "Fast splittable pseudorandom number
// generators", 2014): 64 bits of state, every seed as good as any other.
class RandomSource {
 public:
  explicit RandomSource(std::uint64_t seed = 0) : state_(seed) {}

  std::uint64_t Next();
  // A whole number from lo to hi (lo <= hi), each as likely as the others
  // to within 2^-32.
  std::int32_t Between(std::int32_t lo, std::int32_t hi);
  // True once in `n` draws, on average.
  bool OneIn(std::int32_t n) { return Between(1, n) == 1; }

 private:
  std::uint64_t state_;
};

// The ranges of a random sound, each in the keys' steps: pitch in semitones,
// detune in thousandths, FM in tenths, noise in hundredths. Chosen so that
// the sounds are worth hearing (bench/random_sounds measures them): a pitch
// where the sound's fundamental lies between 48 and 768 Hz, voices near
// unison, a shaper that is off or deep enough to be heard, and no noise or
// noise that colours the tone rather than burying it.
struct RandomRanges {
  static constexpr std::int32_t kToneLow = 0, kToneHigh = 48;
  static constexpr std::int32_t kDetuneLow = 950, kDetuneHigh = 1050;  // thousandths
  static constexpr std::int32_t kFmOffOneIn = 4;                       // else:
  static constexpr std::int32_t kFmLow = 5, kFmHigh = 50;              // tenths, no x.0 or x.5
  static constexpr std::int32_t kNoiseOffOneIn = 2;                    // else:
  static constexpr std::int32_t kNoiseLow = 1, kNoiseHigh = 80;        // hundredths
};

// How far a mutation moves each value at most, in the keys' steps; a
// waveform changes once in kWaveformOneIn mutations of an oscillator.
struct MutationSteps {
  static constexpr std::int32_t kTone = 2;
  static constexpr std::int32_t kDetune = 5;
  static constexpr std::int32_t kFm = 3;
  static constexpr std::int32_t kNoise = 3;
  static constexpr std::int32_t kWaveformOneIn = 10;
};

// A whole new patch, pitch included.
Patch RandomPatch(RandomSource& random);

// `patch` with every value moved by a few of its keys' steps, or not at all,
// and rarely a waveform changed.
Patch MutatedPatch(const Patch& patch, RandomSource& random);

}  // namespace quibbet
