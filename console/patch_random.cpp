#include "console/patch_random.hpp"

#include "console/key_table.hpp"

namespace quibbet {
namespace {

// n units, n / units_per_one in double (exact operands, one IEEE rounding),
// then rounded once to single precision: the same float on every platform.
float Units(std::int32_t n, double units_per_one) {
  return static_cast<float>(static_cast<double>(n) / units_per_one);
}

// Each draw is a statement of its own: the order of draws is the order of
// the statements, never left to the compiler's order of evaluating arguments.
Osc RandomOsc(RandomSource& random) {
  using R = RandomRanges;
  Osc osc;
  osc.type = random.Between(0, kWaveformCount - 1);
  const std::int32_t detune = random.Between(R::kDetuneLow, R::kDetuneHigh);
  osc.detune = Units(detune, 1000.0);
  const bool fm_off = random.OneIn(R::kFmOffOneIn);
  std::int32_t fm = random.Between(R::kFmLow, R::kFmHigh);
  // A square's two voices sum to -2, 0 or 2, which a depth that is a
  // multiple of 0.5 shapes to silence: such a depth moves a tenth up.
  if (fm % 5 == 0) ++fm;
  osc.fm = fm_off ? 0.0f : Units(fm, 10.0);
  const bool noise_off = random.OneIn(R::kNoiseOffOneIn);
  const std::int32_t noise = random.Between(R::kNoiseLow, R::kNoiseHigh);
  osc.noise = noise_off ? 0.0f : Units(noise, 100.0);
  return osc;
}

void Mutate(Osc& osc, RandomSource& random) {
  using M = MutationSteps;
  if (random.OneIn(M::kWaveformOneIn)) {
    // One of the other two waveforms.
    osc.type = (osc.type + random.Between(1, kWaveformCount - 1)) % kWaveformCount;
  }
  const std::int32_t detune = random.Between(-M::kDetune, M::kDetune);
  osc.detune = Step(osc.detune, detune * kDetuneStep);
  const std::int32_t fm = random.Between(-M::kFm, M::kFm);
  osc.fm = Step(osc.fm, fm * kFmStep);
  const std::int32_t noise = random.Between(-M::kNoise, M::kNoise);
  osc.noise = Step(osc.noise, noise * kNoiseStep);
}

}  // namespace

std::uint64_t RandomSource::Next() {
  // Unsigned arithmetic: wraps modulo 2^64 by definition.
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

std::int32_t RandomSource::Between(std::int32_t lo, std::int32_t hi) {
  // The top 32 bits scaled to the span: a product below 2^64, no division.
  const std::uint64_t span = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo) + 1;
  const std::uint64_t scaled = ((Next() >> 32) * span) >> 32;
  return static_cast<std::int32_t>(lo + static_cast<std::int64_t>(scaled));
}

Patch RandomPatch(RandomSource& random) {
  Patch patch;
  patch.tone = random.Between(RandomRanges::kToneLow, RandomRanges::kToneHigh);
  patch.osc[0] = RandomOsc(random);
  patch.osc[1] = RandomOsc(random);
  return patch;
}

Patch MutatedPatch(const Patch& patch, RandomSource& random) {
  Patch mutated = patch;
  const std::int32_t tone = random.Between(-MutationSteps::kTone, MutationSteps::kTone);
  mutated.tone = StepTone(patch.tone, tone);
  Mutate(mutated.osc[0], random);
  Mutate(mutated.osc[1], random);
  return mutated;
}

}  // namespace quibbet
