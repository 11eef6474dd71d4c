// The editable sound parameters: one pitch and two oscillators.
#pragma once

#include <bit>
#include <cstdint>

namespace quibbet {

// Waveform kinds, named as the screen shows them, and used as indices into
// the screen's name list and the player's waveforms (quibbet_wave). SIN is
// the kind; Sine the sine function of the sound.
inline constexpr std::int32_t SAW = 0;
inline constexpr std::int32_t SIN = 1;
inline constexpr std::int32_t SQR = 2;
inline constexpr std::int32_t kWaveformCount = 3;

struct Osc {
  std::int32_t type = SIN;
  float detune = 1.0f;  // ratio of the second voice's frequency to the base
  float fm = 0.0f;      // sine-waveshaper depth; <= 0 switches it off
  float noise = 0.0f;   // white-noise amount; may be negative
};

struct Patch {
  std::int32_t tone = 10;  // semitones; played at note tone + 36
  Osc osc[2] = {
      {SIN, 1.01f, 2.5f, 0.0f},
      // 0x4033332F is the float just below 2.8; the default is that exact
      // value, which the screen shows as 2.799999, not 2.8.
      {SIN, 0.997f, std::bit_cast<float>(std::uint32_t{0x4033332F}), 0.0f},
  };
};

}  // namespace quibbet
