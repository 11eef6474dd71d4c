// The page's voice on the audio thread: quibbet-player's blocks, straight to
// the output. The first block is made when the node is, before the output
// first asks for one.
import { start } from './index.js';

const BLOCK = 128; // frames: the render quantum of every browser

registerProcessor(
  'quibbet-voice',
  class extends AudioWorkletProcessor {
    constructor({ processorOptions: { oscs, tone } }) {
      super();
      this.voice = start(oscs, tone);
      this.block = this.voice.play(BLOCK);
      this.at = 0;
      this.port.postMessage('ready');
      // Stop: the rest of the sound is dropped.
      this.port.onmessage = () => (this.block = new Int16Array(0));
    }

    // Interleaved 16-bit samples out as floats: s / 32768 is exact.
    process(inputs, [[left, right]]) {
      for (let i = 0; i < left.length; i++, this.at += 2) {
        if (this.at == this.block.length && this.block.length) {
          this.block = this.voice.play(BLOCK);
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
