/* A game's use of the installed player: the rows that F8 saved, compiled
 * into the oscillator table, rendered whole from the noise state quibbet
 * starts with, and written to standard output as raw 16-bit PCM.
 * usage: player_client [TONE] */
#include <stdio.h>
#include <stdlib.h>

#include <quibbet_player.h>

static const quibbet_osc sound[2] = {
#include "import.txt"
};

int main(int argc, char** argv) {
  static int16_t stereo[2 * QUIBBET_FRAMES];
  quibbet_noise noise = QUIBBET_NOISE_START;
  const int32_t tone = argc > 1 ? (int32_t)strtol(argv[1], NULL, 10) : 10;
  quibbet_render(sound, tone, &noise, stereo);
  if (fwrite(stereo, sizeof stereo[0], 2 * QUIBBET_FRAMES, stdout) != 2 * QUIBBET_FRAMES) {
    return 1;
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
