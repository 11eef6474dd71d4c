#include "engine/voice.hpp"

#include <cmath>

namespace quibbet {

float Saw(float phase, float ratio) {
  // Rounded to single before the wrap, so the jump falls where a float product puts it.
  const double c = static_cast<float>(static_cast<double>(phase) * ratio);
  // rint rounds ties to even: Saw(0.5, 1) is +1 and Saw(1.5, 1) is -1.
  return static_cast<float>(2.0 * (c - std::rint(c)));
}

float Sin(float phase, float ratio) {
  // Multiplied in this order in double, then rounded once to single.
  const float x = static_cast<float>(((static_cast<double>(phase) * ratio) * kPi) * 2.0);
  return Sine(x);
}

float Sqr(float phase, float ratio) {
  // High for 37.5% of a cycle; a NaN sawtooth compares false and gives -1.
  return Saw(phase, ratio) > 0.25f ? 1.0f : -1.0f;
}

float PitchToIncrement(std::int64_t n) {
  float v = kFloorIncrement;
  for (std::int64_t i = 0; i < n; ++i) {
    // Rounded after every step: a closed-form power differs in the last bits.
    v = static_cast<float>(static_cast<double>(v) * kSemitoneRatio);
    // Infinity times the ratio stays infinity, so a huge n need not loop on.
    if (std::isinf(v)) break;
  }
  return v;
}

}  // namespace quibbet
