// The sound primitives: waveforms, pitch to phase increment, and the noise
// source. They are the player's (player/quibbet_player.c), the one synthesis
// that the program, its tests and programs that embed the player share.
#pragma once

#include <cstdint>

#include "engine/patch.hpp"
#include "engine/sine_constants.hpp"
#include "player/quibbet_player.h"

namespace quibbet {

// pi rounded to single precision, then used as a double: the player's.
using sine::kPi;

// The sine of the sound (quibbet_sine): the double nearest the true sine
// of x, rounded to float; NaN for NaN and +-inf. It is the program's own,
// not the C library's, so that every platform renders the same bytes.
float Sine(float x);

// Phase increment per frame for note number n (tone + 36). n is 64-bit so that
// tone + 36 cannot overflow for any 32-bit tone.
float PitchToIncrement(std::int64_t n);

// A three-word additive generator. Never reseeded: each render continues
// the sequence where the previous one stopped.
struct NoiseGenerator {
  std::uint32_t s0 = 890123;
  std::uint32_t s1 = 1;
  std::uint32_t s2 = 234567;

  // One value in [-1, 1), a multiple of 2^-15: the player's step, inline.
  float Step() {
    quibbet_noise state{s0, s1, s2};
    const float value = quibbet_noise_step(&state);
    s0 = state.s0;
    s1 = state.s1;
    s2 = state.s2;
    return value;
  }

  friend bool operator==(const NoiseGenerator&, const NoiseGenerator&) = default;
};

}  // namespace quibbet
