// quibbet-player: the sounds quibbet makes, byte for byte, in any JavaScript
// engine with WebAssembly. The synthesis is quibbet's C player compiled to
// WebAssembly, whose float arithmetic is the same everywhere; this module only
// moves numbers in and out of its memory. Reading import.txt is in rows.js,
// which a game that has its rows as numbers does not ship.

// The module's bytes are inlined by web/build.sh as a string of one character
// a byte, so that it compiles at once and alike in a page, a worker, an
// AudioWorklet (which cannot fetch) and node, with nothing to await.
const player = new WebAssembly.Instance(
  new WebAssembly.Module(Uint8Array.from('@WASM@', (c) => c.charCodeAt(0))),
).exports;

// Frames in one sound: 7 s at 44,100 Hz, stereo.
export const FRAMES = 308700;

// The player's structs in its memory, from its first free byte: a voice
// (quibbet_voice: 72 bytes on wasm32), two oscillators of 16 bytes, a noise
// state of 12, then the samples of the block being played.
const VOICE = player.__heap_base.value;
const OSC = VOICE + 72;
const NOISE = OSC + 32;
const PCM = NOISE + 16;
const NOISE_WORDS = ['s0', 's1', 's2'];

// The noise source's state when quibbet starts: from there a render is
// quibbet's first, which `quibbet --render` writes.
export const newNoise = () => ({ s0: 890123, s1: 1, s2: 234567 });

const view = () => new DataView(player.memory.buffer);

// WebAssembly's memory is little-endian, and so are WAV files: on a
// big-endian host, 16-bit samples are swapped to and from it.
const LITTLE_ENDIAN = new Uint8Array(Uint16Array.of(1).buffer)[0] == 1;
const asLittleEndian = (samples) => {
  if (!LITTLE_ENDIAN) samples.forEach((s, i) => (samples[i] = (s << 24 >> 16) | ((s >> 8) & 255)));
  return samples;
};
const voiceBytes = () => new Uint8Array(player.memory.buffer, VOICE, 72);

// Starts a voice, as quibbet_start: `noise` advances at once by the whole
// sound, and the voice keeps its own copy of the state it starts from.
export function start(oscs, tone = 10, noise = newNoise()) {
  // In the player's order: the oscillators' {type, detune, fm, noise}, each a
  // 32-bit word, then the noise state's words.
  const fields = [...Array.from(oscs || [], (o) => [o?.type, o?.detune, o?.fm, o?.noise]), NOISE_WORDS.map((w) => noise?.[w])];
  if (fields.length != 3 || fields.flat().some((v) => typeof v != 'number')) {
    throw new TypeError('quibbet-player: expected two oscillators {type, detune, fm, noise} and a noise state {s0, s1, s2}');
  }
  const m = view();
  fields.flat().forEach((v, i) =>
    i % 4 == 0 || i > 7 ? m.setUint32(OSC + 4 * i, v, true) : m.setFloat32(OSC + 4 * i, v, true));
  player.quibbet_start(VOICE, OSC, tone, NOISE);
  NOISE_WORDS.forEach((w, i) => (noise[w] = m.getUint32(NOISE + 4 * i, true)));
  const state = voiceBytes().slice();

  return {
    // The next frames, at most `frames` of them, as interleaved L, R samples;
    // empty once the sound is over. Any block sizes give the same bytes.
    play(frames) {
      frames = Math.max(0, Math.min(frames, FRAMES)) | 0;
      const more = PCM + 4 * frames - player.memory.buffer.byteLength;
      if (more > 0) player.memory.grow(Math.ceil(more / 65536));
      voiceBytes().set(state);
      const n = 2 * player.quibbet_play(VOICE, PCM, frames);
      state.set(voiceBytes());
      // Copied with set into a new array: V8 copies a whole sound this way in
      // a tenth of a millisecond, and in 3 ms with slice.
      const samples = new Int16Array(n);
      samples.set(new Int16Array(player.memory.buffer, PCM, n));
      return asLittleEndian(samples);
    },
  };
}

// One whole sound, as quibbet_render: FRAMES interleaved L, R samples, the
// PCM of `quibbet --render` when `noise` is the start state.
export const render = (oscs, tone = 10, noise = newNoise()) => start(oscs, tone, noise).play(FRAMES);

// The WAV file of the samples, as quibbet writes out.wav: a 44-byte header
// for 16-bit stereo at 44,100 Hz, then the samples, little-endian.
export function wav(pcm) {
  const n = 2 * pcm.length;
  const out = new Uint8Array(44 + n);
  const d = new DataView(out.buffer);
  [...'RIFF    WAVEfmt '].forEach((c, i) => (out[i] = c.charCodeAt(0)));
  out.set([100, 97, 116, 97], 36); // "data"
  [[4, 36 + n], [16, 16], [24, 44100], [28, 4 * 44100], [40, n]].forEach(([at, v]) => d.setUint32(at, v, true));
  [[20, 1], [22, 2], [32, 4], [34, 16]].forEach(([at, v]) => d.setUint16(at, v, true));
  out.set(new Uint8Array(asLittleEndian(Int16Array.from(pcm)).buffer), 44);
  return out;
}
