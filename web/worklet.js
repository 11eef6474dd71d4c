// The page's voice on the audio thread: quibbet-player's blocks, straight to
// the output.
import { start } from './index.js';

registerProcessor(
  'quibbet-voice',
  class extends AudioWorkletProcessor {
    // The first block comes made by the page at Play; the voice goes on from
    // its end, in blocks of the same size.
    constructor({ processorOptions: { oscs, tone, first } }) {
      super();
      this.voice = start(oscs, tone);
      this.voice.play(first.length / 2);
      this.block = first;
      this.at = 0;
      // Stop: the rest of the sound is dropped.
      this.port.onmessage = () => (this.block = new Int16Array(0));
    }

    // Interleaved 16-bit samples out as floats: s / 32768 is exact.
    process(inputs, [[left, right]]) {
      for (let i = 0; i < left.length; i++, this.at += 2) {
        if (this.at == this.block.length && this.block.length) {
          this.block = this.voice.play(this.block.length / 2);
          this.at = 0;
        }
        if (!this.block.length) {
          this.port.postMessage('end');
          return false;
        }
        left[i] = this.block[this.at] / 32768;
        right[i] = this.block[this.at + 1] / 32768;
      }
      return true;
    }
  },
);
