// `make bench-web`: milliseconds per whole render in WebAssembly under node
// (quibbet-player's render) beside the native reference render
// (RenderReference, in quibbet_bench), patch by patch in one run, and their
// ratio; asserts nothing.
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

// Three rounds, native and WebAssembly by turns, so that both see the same
// load on a shared machine; each keeps its fastest. Times are CPU time, which
// waiting for a core on a busy machine does not swell: for node, that of all
// its threads, the garbage collector's too.
const best = Object.fromEntries(Object.keys(patches).map((name) => [name, { native: Infinity, wasm: Infinity }]));
for (let round = 0; round < 3; round++) {
  for (const [name, [oscs, tone]] of Object.entries(patches)) {
    const json = execFileSync(bench, [`--benchmark_filter=^BM_RenderReference/${name}$`,
      '--benchmark_repetitions=3', '--benchmark_format=json'], { encoding: 'utf8' });
    const times = JSON.parse(json).benchmarks.filter((b) => b.run_type == 'iteration').map((b) => b.cpu_time);
    best[name].native = Math.min(best[name].native, ...times);
    render(oscs, tone); // compiled by V8's optimising tier before the timing
    for (let r = 0; r < 3; r++) {
      const start = process.cpuUsage();
      for (let i = 0; i < 4; i++) render(oscs, tone);
      const { user, system } = process.cpuUsage(start);
      best[name].wasm = Math.min(best[name].wasm, (user + system) / 4000);
    }
  }
}
console.log('patch        native ms   wasm ms   wasm / native   (CPU time per render)');
for (const [name, { native, wasm }] of Object.entries(best)) {
  console.log(`${name.padEnd(12)} ${native.toFixed(1).padStart(9)} ${wasm.toFixed(1).padStart(9)} ${(wasm / native).toFixed(2).padStart(15)}`);
}
