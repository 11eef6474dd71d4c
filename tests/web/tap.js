// The web tests' tap on the page's voice: from the first render quantum with
// sound in it, records what reaches it as 16-bit samples, and posts the
// first 44,100 frames.
registerProcessor(
  'tap',
  class extends AudioWorkletProcessor {
    samples = new Int16Array(2 * 44100);
    at = 0;

    process([input]) {
      if (!input.length || (this.at == 0 && input[0].every((s) => s == 0))) return true;
      for (let i = 0; i < input[0].length && this.at < this.samples.length; i++) {
        this.samples[this.at++] = input[0][i] * 32768;
        this.samples[this.at++] = input[1][i] * 32768;
      }
      if (this.at < this.samples.length) return true;
      this.port.postMessage(this.samples);
      return false;
    }
  },
);
