// The constants of the sine and of the waveforms, as the fast render's
// vector kernels use them (engine/sine_fast.inc, engine/simd/): the
// player's own, read from player/quibbet_player.c, which stops after its
// block of shared constants here. One table, so the kernels and the player
// cannot drift apart; tests/sine_constants.cpp prints and checks them with
// MPFR. Plain data with internal linkage only, so that the per-instruction
// set kernels may include it (see engine/simd/kernel.hpp).
#pragma once

#include <cstdint>

#include "player/quibbet_player.h"

namespace quibbet::sine {

#define QUIBBET_PLAYER_SHARED_CONSTANTS_ONLY
#include "player/quibbet_player.c"  // NOLINT(bugprone-suspicious-include): its block only
#undef QUIBBET_PLAYER_SHARED_CONSTANTS_ONLY

constexpr int kTaylorTerms = QUIBBET_TAYLOR_TERMS;
constexpr int kFastTerms = QUIBBET_FAST_TERMS;
constexpr int kInvPiWordCount = QUIBBET_INV_PI_WORDS;

}  // namespace quibbet::sine
