/* Prints the hash of player_hash.h's renders as 16 hex digits: built by the
 * tests with many compilers, flags and targets, which must all print the
 * same. With QUIBBET_HASH_NO_MAIN it is only the function (for wasm32, which
 * has no C library, and for the test that checks it against the program). */
#include "player_hash.h"

#define QUIBBET_HASH_BLOCK 4096

uint64_t quibbet_hash_renders(void) {
  int16_t block[2 * QUIBBET_HASH_BLOCK];
  quibbet_noise noise = QUIBBET_NOISE_START;
  uint64_t hash = 14695981039346656037u;
  int r;
  for (r = 0; r < QUIBBET_HASH_RENDERS; ++r) {
    quibbet_voice voice;
    size_t got, i;
    quibbet_start(&voice, kQuibbetHashRenders[r].osc, kQuibbetHashRenders[r].tone, &noise);
    while ((got = quibbet_play(&voice, block, QUIBBET_HASH_BLOCK)) != 0) {
      for (i = 0; i < 2 * got; ++i) {
        const uint16_t bits = (uint16_t)block[i];
        hash = (hash ^ (bits & 0xFFu)) * 1099511628211u;
        hash = (hash ^ (uint16_t)(bits >> 8)) * 1099511628211u;
      }
    }
  }
  return hash;
}

#ifndef QUIBBET_HASH_NO_MAIN
#include <stdio.h>

int main(void) {
  const uint64_t hash = quibbet_hash_renders();
  printf("%08lx%08lx\n", (unsigned long)(hash >> 32), (unsigned long)(hash & 0xFFFFFFFFu));
  return 0;
}
#endif
