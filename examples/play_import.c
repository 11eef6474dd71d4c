/* Plays the rows that quibbet's F8 saved to import.txt: writes the sound to
 * standard output as a WAV file, the same bytes as `quibbet --render - import.txt`.
 *   cc -std=c99 -O2 -ffp-contract=off -I. -Ipath/to/player play_import.c \
 *      path/to/player/quibbet_player.c -o play_import && ./play_import > sound.wav
 * TONE is the pitch, which import.txt does not hold: -DTONE=3 for another. */
#include <stdio.h>

#include "quibbet_player.h"

#ifndef TONE
#define TONE 10
#endif

static const quibbet_osc sound[2] = {
#include "import.txt"
};

static void put(unsigned long value, int bytes) { /* little-endian */
  for (; bytes > 0; --bytes, value >>= 8) putchar((int)(value & 0xFF));
}

int main(void) {
  static int16_t block[2 * 4096];
  quibbet_noise noise = QUIBBET_NOISE_START; /* quibbet's first render */
  quibbet_voice voice;
  const unsigned long data = 4ul * QUIBBET_FRAMES;
  size_t frames, i;
  fputs("RIFF", stdout), put(36 + data, 4), fputs("WAVEfmt ", stdout), put(16, 4);
  put(1, 2), put(2, 2), put(44100, 4), put(44100 * 4, 4), put(4, 2), put(16, 2);
  fputs("data", stdout), put(data, 4);
  quibbet_start(&voice, sound, TONE, &noise);
  while ((frames = quibbet_play(&voice, block, 4096)) != 0)
    for (i = 0; i < 2 * frames; ++i) put((unsigned long)(uint16_t)block[i], 2);
  return fflush(stdout) == 0 ? 0 : 1;
}
