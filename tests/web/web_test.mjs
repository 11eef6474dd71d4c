// The web package and page against the program. `node`: under node and
// JavaScriptCore, rows read as `quibbet FILE` reads them, renders as
// `quibbet --render` writes them and as the program renders them in a row,
// and the packed package. `browsers`: the page in headless Chromium and
// Firefox ESR, Debian's, driven by puppeteer-core.
// Usage: node web_test.mjs node|browsers DIST QUIBBET PROGRAM_ANSWERS PLAYER_HASH
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import test from 'node:test';
import { fileURLToPath } from 'node:url';

const group = process.argv[2];
const [dist, quibbet, answers, playerHash] = process.argv.slice(3).map((p) => resolve(p));
const q = await import(join(dist, 'index.js'));
const { parseRows } = await import(join(dist, 'rows.js'));
const here = dirname(fileURLToPath(import.meta.url));
const tmp = mkdtempSync(join(tmpdir(), 'quibbet-web-'));
const engineProof = new Function(readFileSync(join(here, 'engine_proof.js'), 'utf8') + 'return engineProof;')();
const ask = (args, input) => new Promise((done, fail) => {
  const child = spawn(answers, args);
  let out = '';
  child.stdout.on('data', (data) => (out += data));
  child.on('close', (status) => (status ? fail(new Error(`program_answers: status ${status}`)) : done(out.trimEnd().split('\n'))));
  child.stdin.end(input);
});
const render = (file, tone = 10) => execFileSync(quibbet, ['--render', '-', '--tone', tone, file], { maxBuffer: 1 << 22 });

// Seeded, so that a failure comes again.
let seed = 2026;
const rand = () => {
  seed = (seed + 0x6d2b79f5) | 0;
  let t = Math.imul(seed ^ (seed >>> 15), seed | 1);
  t = (t + Math.imul(t ^ (t >>> 7), t | 61)) ^ t;
  return ((t ^ (t >>> 14)) >>> 0) / 2 ** 32;
};
const pick = (...choices) => choices[Math.floor(rand() * choices.length)];
const digits = (n) => Array.from({ length: n }, () => Math.floor(rand() * 10)).join('');
const bits = (f) => new Uint32Array(Float32Array.of(f).buffer)[0].toString(16).padStart(8, '0');
const float = (b) => new Float32Array(Uint32Array.of(b).buffer)[0];
// The exact decimal of a double.
const exact = (x) => {
  let k = 0;
  for (; !Number.isInteger(x); k++) x *= 2;
  const s = (BigInt(x) * 5n ** BigInt(k)).toString().padStart(k + 1, '0');
  return k ? s.slice(0, -k) + '.' + s.slice(-k) : s;
};

const nodeTest = group == 'node' ? test : () => {};
const browserTest = group == 'browsers' ? test : () => {};

nodeTest('rows: the parser test table and 100,000 random rows read as the program reads them', async () => {
  // Every string of the C++ parser's tests, alone, after a good row, and as a number.
  const cpp = readFileSync(join(here, '..', 'param_load_test.cpp'), 'latin1');
  const literals = [...cpp.matchAll(/"((?:[^"\\\n]|\\.)*)"/g)].map(([, s]) =>
    s.replace(/\\(x[0-9a-fA-F]+|.)/g, (_, e) => String.fromCharCode(e[0] == 'x' ? parseInt(e.slice(1), 16) : { n: 10, r: 13, t: 9, 0: 0 }[e] ?? e.charCodeAt(0))));
  const cases = literals.flatMap((s) => [s, '{1, 1.010000, 2.500000, 0.000000 },\r\n' + s, `{1, ${s}, 1, 1 },\n{1, 1, 1, 1 },\n`]).map((s) => Buffer.from(s, 'latin1'));
  // Files over 1 MiB: the rest unread, a fault in the part read, and one at the cut.
  const big = 1 << 20;
  cases.push(...['{1, 1, 1, 1 },\n{1, 1, 1, 1 },' + '\n'.repeat(big), 'x'.repeat(big + 1), ' '.repeat(big - 5) + '{1, 1.5, 1, 1 },'].map((s) => Buffer.from(s)));
  // Decimals of every kind, halfway points between floats above all.
  const number = () => pick(
    () => pick('', '-') + digits(1 + rand() * 3) + '.' + digits(rand() * 8),
    () => pick('', '-') + digits(1 + rand() * 25) + pick('e', 'E') + pick('', '-', '+') + Math.floor(rand() * 60),
    () => {
      const b = Math.floor(rand() * 0x7f7fffff);
      const half = exact((float(b) + float(b + 1)) / 2);
      return pick(half, half.slice(0, 3 + rand() * half.length), half + pick('1', '00000000000000000001'));
    },
    () => pick('nan', 'INF', '-Infinity', 'nan(x_1)', '+1', '1e', '.', '0x1p3', '1e99', '-1e-99', '', '\v1', '1.5.5', '٣'),
  )();
  const blank = () => pick('', '', ' ', '\t ');
  const row = () => `{${blank()}${pick('0', '1', '2', '1', '2', '-0', '01', '3', '1.0')}${blank()},` +
    `${[0, 1, 2].map(() => blank() + number() + blank()).join(',')}}${blank()},${blank()}`;
  for (let i = 0; i < 100000; i++) {
    cases.push(Buffer.from(pick('', '\ufeff') + row() + pick('\r\n', '\n', '\r', '') + pick('', '\n \n') + row() + pick('', '\r\n', '\n{1, 1, 1, 1 },')));
  }
  const program = await ask(['rows', tmp], Buffer.concat(cases.flatMap((c) => [Buffer.from(c.length + '\n'), c])));
  assert.equal(program.length, cases.length);
  cases.forEach((c, i) => {
    let ours;
    try {
      ours = 'ok ' + parseRows(c).map((o) => [o.type, bits(o.detune), bits(o.fm), bits(o.noise)].join(' ')).join(' ');
    } catch (fault) {
      ours = fault.message;
    }
    assert.equal(ours, program[i], JSON.stringify(c.toString('latin1')));
  });
});

// player_hash's renders: every waveform, the shaper, noise, tones to overflow.
const header = readFileSync(join(here, '..', 'players', 'player_hash.h'), 'utf8');
const renders = [...header.matchAll(/\{(-?\d+), \{\{([^}]*)\}, \{([^}]*)\}\}\}/g)].map(([, tone, a, b]) =>
  ({ tone: +tone, oscs: parseRows(`{${a.replaceAll('f', '')} },\n{${b.replaceAll('f', '')} },`) }));
const proof = engineProof(q, renders);

nodeTest("renders: quibbet --render's WAV, and player_hash's renders in a row", (t) => {
  assert.equal(renders.length, +header.match(/QUIBBET_HASH_RENDERS (\d+)/)[1]);
  for (const { oscs, tone } of renders) {
    writeFileSync(join(tmp, 'import.txt'), oscs.map((o) => `{${o.type}, ${o.detune}, ${o.fm}, ${o.noise} },\n`).join(''));
    assert.ok(Buffer.from(q.wav(q.render(oscs, tone))).equals(render(join(tmp, 'import.txt'), tone)), `tone ${tone}`);
  }
  assert.equal(proof.inRow.at(-1), execFileSync(playerHash).toString().trim());
  t.diagnostic(`node ${process.version}: ${proof.inRow.at(-1)}`);
});

nodeTest('JavaScriptCore gives the same renders', (t) => {
  writeFileSync(join(tmp, 'renders.json'), JSON.stringify(renders));
  const script = 'load(arguments[1]); import(arguments[0]).then((q) => print(JSON.stringify(engineProof(q, JSON.parse(readFile(arguments[2]))))));';
  const out = execFileSync('jsc', ['-e', script, '--', join(dist, 'index.js'), join(here, 'engine_proof.js'), join(tmp, 'renders.json')]);
  assert.deepEqual(JSON.parse(out), proof);
  t.diagnostic(`JavaScriptCore: ${proof.inRow.at(-1)}`);
});

nodeTest("1,000 random patches in a row give the program's renders", async () => {
  const odd = [0, -0, 1e-40, -1e-7, 1e30, -1e30, 3.4e38, -Infinity, NaN];
  const amount = (lo, hi) => pick(() => pick(...odd), () => 0, () => lo + (hi - lo) * rand(), () => lo + (hi - lo) * rand())();
  const patches = Array.from({ length: 1000 }, (_, i) => ({
    tone: rand() < 0.5 ? Math.floor(rand() * 500) - 60 : (rand() * 2 ** 32) | 0,
    oscs: [i % 3, Math.floor(i / 3) % 3].map((type) =>
      ({ type, detune: rand() < 0.125 ? amount(-1e6, 1e6) : 4 * rand(), fm: amount(-20, 120), noise: amount(-12, 12) })),
  }));
  const program = ask(['renders'], patches.map(({ tone, oscs }) =>
    [tone, ...oscs.flatMap((o) => [o.type, bits(o.detune), bits(o.fm), bits(o.noise)])].join(' ') + '\n').join(''));
  assert.deepEqual(engineProof(q, patches, false).inRow, await program);
});

nodeTest("the packed package installs with no network and writes quibbet --render's WAV", () => {
  const dir = mkdtempSync(join(tmp, 'package-'));
  execFileSync('npm', ['pack', '--pack-destination', dir], { cwd: dist, stdio: 'ignore' });
  execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', './' + readdirSync(dir)[0]], { cwd: dir, stdio: 'ignore' });
  writeFileSync(join(dir, 'import.txt'), '{2, 1.003, 1.3, 0.2 },\n{0, 2, 0.7, -0.1 },\n');
  writeFileSync(join(dir, 'play.mjs'), `import { readFileSync, writeFileSync } from 'node:fs';
import { render, wav } from 'quibbet-player';
import { parseRows } from 'quibbet-player/rows';
const oscs = parseRows(readFileSync('import.txt'));
writeFileSync('out.wav', wav(render(oscs, 10)));\n`);
  execFileSync('node', ['play.mjs'], { cwd: dir });
  assert.ok(readFileSync(join(dir, 'out.wav')).equals(render(join(dir, 'import.txt'))));
});

// ---- The page in the browsers. They play through a private PulseAudio
// server's null sink: Firefox's AudioContext runs only with a device.
const { default: puppeteer } = await import(createRequire(join(here, '../../web/package.json')).resolve('puppeteer-core'));
const pulse = join(tmp, 'pulse');
const launch = (name, downloads) => puppeteer.launch({
  env: { ...process.env, PULSE_SERVER: `unix:${pulse}` },
  ...{
    chromium: { executablePath: '/usr/bin/chromium', downloadBehavior: { policy: 'allow', downloadPath: downloads },
      args: ['--no-sandbox', '--headless', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', `--user-data-dir=${mkdtempSync(join(tmp, 'profile-'))}`] },
    firefox: { browser: 'firefox', executablePath: '/usr/bin/firefox-esr', extraPrefsFirefox: { 'browser.download.folderList': 2,
      'browser.download.dir': downloads, 'browser.download.always_ask_before_handling_new_types': false } },
  }[name],
});

// Before the page's own code: a tap joins every AudioWorklet and records the
// voice's output from its first quantum with sound; Play's click, and the
// voice given its first block, are timed.
function installTap() {
  const tapSource = `registerProcessor('tap', class extends AudioWorkletProcessor {
    samples = new Int16Array(2 * 44100);
    at = 0;
    process([input]) {
      if (!input.length || (this.at == 0 && input[0].every((s) => s == 0))) return true;
      for (let i = 0; i < input[0].length && this.at < this.samples.length; i++) {
        this.samples[this.at++] = input[0][i] * 32768;
        this.samples[this.at++] = input[1][i] * 32768;
      }
      return this.at < this.samples.length || this.port.postMessage(this.samples);
    }
  });`;
  const addModule = AudioWorklet.prototype.addModule;
  AudioWorklet.prototype.addModule = function (url, options) {
    const tapURL = URL.createObjectURL(new Blob([tapSource], { type: 'text/javascript' }));
    return Promise.all([addModule.call(this, url, options), addModule.call(this, tapURL)]);
  };
  const tap = (window.tap = {});
  addEventListener('click', (event) => event.target.id == 'play' && (tap.clicked = performance.now()), true);
  const Node = AudioWorkletNode;
  window.AudioWorkletNode = class extends Node {
    constructor(context, name, options) {
      super(context, name, options);
      tap.ready ??= options.processorOptions.first && performance.now();
      const recorder = new Node(context, 'tap');
      recorder.port.onmessage = ({ data }) => Object.assign(tap, { samples: [...data], rate: context.sampleRate, state: context.state });
      this.connect(recorder).connect(context.destination);
    }
  };
}

for (const name of ['chromium', 'firefox']) {
  browserTest(`the page in ${name}`, async (t) => {
    const { serve } = await import(join(here, '../../web/serve.mjs'));
    const server = await serve(dist);
    const sound = spawn('pulseaudio', ['--daemonize=no', '--use-pid-file=no', '--exit-idle-time=-1', '-n',
      `--load=module-native-protocol-unix socket=${pulse} auth-anonymous=1`, '--load=module-null-sink rate=44100'], { stdio: 'ignore' });
    for (let wait = 0; !existsSync(pulse) && wait < 100; wait++) await new Promise((done) => setTimeout(done, 100));
    const files = mkdtempSync(join(tmp, 'rows-'));
    const downloads = mkdtempSync(join(tmp, 'downloads-'));
    const browser = await launch(name, downloads);
    try {
      const page = await browser.newPage();
      await page.evaluateOnNewDocument(installTap);
      await page.goto(`http://localhost:${server.address().port}/`);
      const type = (id, text) => page.$eval(id, (field, text) => {
        field.value = text;
        field.dispatchEvent(new Event('input'));
      }, text);
      const shown = (id, text) => page.waitForFunction((id, text) => document.getElementById(id).textContent == text, {}, id, text);

      // A fault: the program's own message, under the rows.
      const bad = '{1, 1.01, 2.5, 0 },\n{1, 0.997, 2,8, 0 },\n';
      writeFileSync(join(files, 'bad.txt'), bad);
      const refusal = spawnSync(quibbet, ['--render', '-', join(files, 'bad.txt')]).stderr.toString().trim();
      await type('#rows', bad);
      await shown('rows-fault', refusal.slice(join(files, 'bad.txt').length + 1));

      // Good rows with noise, at tone 3: out.wav is --render's, byte for byte.
      const rows = '{2, 1.003, 1.3, 0.2 },\n{0, 2.000000, 0.7, -0.1 },\n';
      writeFileSync(join(files, 'import.txt'), rows);
      const want = render(join(files, 'import.txt'), 3);
      await type('#rows', rows);
      await type('#tone', '3');
      await shown('rows-fault', '');
      await page.click('#download');
      const file = join(downloads, 'out.wav');
      for (let wait = 0; !(existsSync(file) && statSync(file).size == want.length) && wait < 300; wait++) await new Promise((done) => setTimeout(done, 100));
      assert.ok(readFileSync(file).equals(want), 'out.wav');

      // Play: 44,100 Hz, and the first 44,100 frames that reach the output are the sound's.
      await page.click('#play');
      await page.waitForFunction(() => window.tap.samples, { timeout: 60000 });
      const tap = await page.evaluate(() => window.tap);
      assert.equal(tap.rate, 44100);
      assert.equal(tap.state, 'running');
      assert.deepEqual(tap.samples, [...new Int16Array(want.buffer.slice(want.byteOffset + 44, want.byteOffset + 44 + 4 * 44100))]);
      t.diagnostic(`${name}: first block ready ${(tap.ready - tap.clicked).toFixed(2)} ms after Play`);

      // The engine itself: the renders node gives, and player_hash's hash.
      const source = readFileSync(join(here, 'engine_proof.js'), 'utf8');
      const got = await page.evaluate(async (source, renders) =>
        new Function(source + 'return engineProof;')()(await import('/index.js'), renders), source, renders);
      assert.deepEqual(got, proof);
      t.diagnostic(`${name} ${await browser.version()}: ${got.inRow.at(-1)}`);
    } finally {
      await browser.close();
      server.close();
      sound.kill();
    }
  });
}
