// The engine's names for the player's primitives.
#include "engine/voice.hpp"

namespace quibbet {

float Sine(float x) { return quibbet_sine(x); }

float PitchToIncrement(std::int64_t n) { return quibbet_increment(n); }

}  // namespace quibbet
