// quibbet-player: quibbet's sounds, byte for byte, in any JavaScript engine.

/** One row of import.txt, `{type, detune, fm, noise },`. */
export interface Osc {
  /** 0 saw, 1 sine, 2 square; any other type sounds only its noise. */
  type: number;
  /** Ratio of the second voice's pitch to the first's. */
  detune: number;
  /** Depth of the sine waveshaper; 0 or less turns it off. */
  fm: number;
  /** Amount of white noise; may be negative. */
  noise: number;
}

/** The noise source's state: three 32-bit words. It runs on from sound to sound. */
export interface Noise {
  s0: number;
  s1: number;
  s2: number;
}

/** Frames in one sound: 7 s at 44,100 Hz. */
export const FRAMES: 308700;

/** The state when quibbet starts; a render from it is what `quibbet --render` writes. */
export function newNoise(): Noise;

/**
 * One whole sound: 2 * FRAMES interleaved L, R samples (L equals R).
 * @param tone the pitch, as `quibbet --tone`: a 32-bit integer (default 10)
 * @param noise advanced by the sound (default: a fresh start state)
 */
export function render(oscs: readonly Osc[], tone?: number, noise?: Noise): Int16Array;

/** A sound in blocks, for an AudioWorklet. */
export interface Voice {
  /** The next frames, at most `frames`, interleaved L, R; empty once the sound is over. */
  play(frames: number): Int16Array;
}

/** Starts a voice; `noise` advances at once by the whole sound, as after render(). */
export function start(oscs: readonly Osc[], tone?: number, noise?: Noise): Voice;

/** The WAV file of the samples: quibbet's out.wav for a render. */
export function wav(pcm: Int16Array): Uint8Array;
