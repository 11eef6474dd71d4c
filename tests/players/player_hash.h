/* One hash over a fixed set of the player's renders, the same on every build
 * that keeps the player exact. */
#ifndef QUIBBET_PLAYER_HASH_H
#define QUIBBET_PLAYER_HASH_H

#include <stdint.h>

#include "quibbet_player.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The renders, played one after another from QUIBBET_NOISE_START, so that
 * the noise state runs on as in one session: every waveform, the shaper on
 * and off, noise of both signs, and pitches up to overflow. */
typedef struct {
  int32_t tone;
  quibbet_osc osc[2];
} quibbet_hash_render;

#define QUIBBET_HASH_RENDERS 6
static const quibbet_hash_render kQuibbetHashRenders[QUIBBET_HASH_RENDERS] = {
    {10, {{1, 1.01f, 2.5f, 0.0f}, {1, 0.997f, 2.799999f, 0.0f}}},
    {0, {{2, 1.003f, 1.3f, 0.2f}, {0, 2.0f, 0.7f, -0.1f}}},
    {-40, {{0, 1.0f, 0.0f, 0.0f}, {2, 0.5f, 0.0f, 0.0f}}},
    {365, {{1, 1.7f, 0.3f, 0.03f}, {2, 0.3f, 4.0f, 0.0f}}},
    {1436, {{1, 3.999f, 99.9f, -1.0f}, {0, 1e-6f, 0.0f, 0.0f}}},
    {2147483647, {{2, 1.0f, 0.0f, 0.0f}, {2, 1.0f, 1.0f, 0.5f}}},
};

/* FNV-1a, 64 bits, over the PCM of all the renders as little-endian bytes. */
uint64_t quibbet_hash_renders(void);

#ifdef __cplusplus
}
#endif

#endif
