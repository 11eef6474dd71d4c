// The engine's names for the player's primitives.
#include "engine/voice.hpp"

namespace quibbet {

float Sine(float x) { return quibbet_sine(x); }

float SawWave(float phase, float ratio) { return quibbet_wave(SAW, phase, ratio); }
float SineWave(float phase, float ratio) { return quibbet_wave(SIN, phase, ratio); }
float SquareWave(float phase, float ratio) { return quibbet_wave(SQR, phase, ratio); }

float PitchToIncrement(std::int64_t n) { return quibbet_increment(n); }

}  // namespace quibbet
