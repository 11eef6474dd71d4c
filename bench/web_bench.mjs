// `make bench-web`: milliseconds per whole render in WebAssembly under node
// (quibbet-player's render) beside the native reference render
// (RenderReference, in quibbet_bench), patch by patch in one run, and their
// ratio; asserts nothing. Each time is the fastest of its repetitions.
// Usage: node bench/web_bench.mjs QUIBBET_BENCH DIST
import { execFileSync } from 'node:child_process';
import { resolve } from 'node:path';

const [bench, dist] = process.argv.slice(2);
const { render } = await import(resolve(dist, 'index.js'));

// quibbet_bench's patches: the default, all saw, all square, tone 110.
const osc = (type, detune, fm) => ({ type, detune, fm, noise: 0 });
const defaults = [osc(1, 1.01, 2.5), osc(1, 0.997, 2.799999)].map((o) => ({ ...o, detune: Math.fround(o.detune), fm: Math.fround(o.fm) }));
const patches = {
  default: [defaults, 10],
  all_saw: [defaults.map((o) => ({ ...o, type: 0 })), 10],
  all_sqr: [defaults.map((o) => ({ ...o, type: 2 })), 10],
  high_tone: [defaults, 110],
};

const REPETITIONS = 5;
console.log('patch        native ms   wasm ms   wasm / native');
for (const [name, [oscs, tone]] of Object.entries(patches)) {
  const json = execFileSync(bench, [`--benchmark_filter=^BM_RenderReference/${name}$`,
    `--benchmark_repetitions=${REPETITIONS}`, '--benchmark_format=json'], { encoding: 'utf8' });
  const native = Math.min(...JSON.parse(json).benchmarks.filter((b) => b.run_type == 'iteration').map((b) => b.real_time));
  render(oscs, tone); // compiled by V8's optimising tier before the timing
  let wasm = Infinity;
  for (let r = 0; r < REPETITIONS; r++) {
    const start = performance.now();
    for (let i = 0; i < 4; i++) render(oscs, tone);
    wasm = Math.min(wasm, (performance.now() - start) / 4);
  }
  console.log(`${name.padEnd(12)} ${native.toFixed(1).padStart(9)} ${wasm.toFixed(1).padStart(9)} ${(wasm / native).toFixed(2).padStart(15)}`);
}
