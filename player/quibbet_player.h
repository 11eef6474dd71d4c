/* quibbet_player.h: plays the sounds that quibbet makes, with quibbet's exact
 * bytes. Copy this file and quibbet_player.c into your program.
 *
 * C99, and compiles as C++ too. No allocation, no global or static mutable
 * state, no I/O and no C library maths: the caller owns every byte.
 *
 * Exactness: every build with IEEE single and double arithmetic rounded to
 * nearest gives quibbet's bytes, as long as a * b + c is not fused into one
 * instruction: compile with -ffp-contract=off (GCC and Clang; aarch64 GCC
 * fuses by default) and never with -ffast-math.
 * x87 arithmetic (-m32 without -msse2 -mfpmath=sse) keeps extra precision and breaks the exactness.
 */
#ifndef QUIBBET_PLAYER_H
#define QUIBBET_PLAYER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUIBBET_FRAMES 308700 /* frames in one sound: 7 s at 44,100 Hz */

/* One row of import.txt, in its order: {type, detune, fm, noise },
 * so that the rows compile as an initialiser:
 *     static const quibbet_osc sound[2] = {
 *     #include "import.txt"
 *     };
 * type: 0 saw, 1 sine, 2 square. An oscillator whose type is outside 0-2
 * plays silence in place of its waveform (its noise still sounds); nothing
 * is read out of bounds. */
typedef struct {
  int type;
  float detune, fm, noise;
} quibbet_osc;

/* The noise source's state. quibbet keeps one for its whole run and never
 * reseeds it: a sound with noise differs at each render, and a player that
 * wants quibbet's first render starts from QUIBBET_NOISE_START. */
typedef struct {
  uint32_t s0, s1, s2;
} quibbet_noise;
#define QUIBBET_NOISE_START \
  { 890123u, 1u, 234567u } /* its state when quibbet starts */

/* One whole sound: 2 * QUIBBET_FRAMES interleaved L, R samples (equal), in
 * the host's byte order. Advances *noise as quibbet does: by 2 * QUIBBET_FRAMES
 * steps. */
void quibbet_render(const quibbet_osc osc[2], int32_t tone, quibbet_noise* noise, int16_t* stereo);

/* The same sound in pieces, for an audio callback. The fields are the
 * player's own; a voice may be copied. */
typedef struct {
  quibbet_osc osc[2];
  quibbet_noise noise; /* the sound's own noise state */
  double increment;    /* phase per frame */
  double phase;
  float envelope;
  int32_t frames_left;
} quibbet_voice;

/* Starts a voice. *noise advances at once by the whole sound's steps, as
 * after quibbet_render; the voice keeps its own copy of the state it starts
 * from. So a voice abandoned before its end leaves the next sound exactly as
 * a full render would, and two voices may play at the same time. */
void quibbet_start(quibbet_voice* voice, const quibbet_osc osc[2], int32_t tone,
                   quibbet_noise* noise);

/* Writes up to `frames` frames (2 * frames samples) and returns how many it
 * wrote: 0 once all QUIBBET_FRAMES are out. Any block sizes give the bytes
 * of quibbet_render. */
size_t quibbet_play(quibbet_voice* voice, int16_t* stereo, size_t frames);

/* The building blocks, for programs that synthesise the same sound their own way. */

/* float(the double nearest sin x) for every float x; NaN for NaN and +-inf. */
float quibbet_sine(float x);
/* Waveform `type` at `phase` cycles times `ratio`, in [-1, 1]; 0 for an unknown type. */
float quibbet_wave(int type, float phase, float ratio);
/* Phase increment per frame for a note number (tone + 36). */
float quibbet_increment(int64_t note);
/* The 16-bit sample for one limiter input; a NaN gives 0. */
int16_t quibbet_limit(float value);

/* One noise value in [-1, 1), a multiple of 2^-15: a three-word additive
 * generator, wrapping modulo 2^32. */
static inline float quibbet_noise_step(quibbet_noise* n) {
  const uint32_t a = n->s1 + n->s2;
  const uint32_t b = n->s2 + n->s0;
  const uint32_t c = n->s0 + a;
  /* The top 16 bits of a as a signed number, without relying on how the
     compiler converts to a signed type or shifts one. */
  const int32_t top = (int32_t)(a >> 16) - (int32_t)((a >> 15) & 0x10000u);
  n->s1 = a;
  n->s2 = b;
  n->s0 = c;
  return (float)((double)top / 32768.0); /* exact: top has 16 bits */
}

#ifdef __cplusplus
}
#endif

#endif /* QUIBBET_PLAYER_H */
