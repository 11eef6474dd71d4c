// The web package against the program, under node and JavaScriptCore: rows
// read as `quibbet FILE` reads them, renders as `quibbet --render` writes
// them and as the program renders them in a row, and the packed package.
// Usage: node node_test.mjs DIST QUIBBET PROGRAM_ANSWERS PLAYER_HASH
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import test from 'node:test';

const [dist, quibbet, answers, playerHash] = process.argv.slice(2).map((p) => resolve(p));
const q = await import(join(dist, 'index.js'));
const { parseRows } = await import(join(dist, 'rows.js'));
const here = import.meta.dirname;
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

test('rows: the parser test table and 100,000 random rows read as the program reads them', async () => {
  // Every string of the C++ parser's tests, alone, after a good row, and as a number.
  const cpp = readFileSync(join(here, '..', 'param_load_test.cpp'), 'latin1');
  const literals = [...cpp.matchAll(/"((?:[^"\\\n]|\\.)*)"/g)].map(([, s]) =>
    s.replace(/\\(x[0-9a-fA-F]+|.)/g, (_, e) => String.fromCharCode(e[0] == 'x' ? parseInt(e.slice(1), 16) : { n: 10, r: 13, t: 9, 0: 0 }[e] ?? e.charCodeAt(0))));
  const cases = literals.flatMap((s) => [s, '{1, 1.010000, 2.500000, 0.000000 },\r\n' + s, `{1, ${s}, 1, 1 },\n{1, 1, 1, 1 },\n`]).map((s) => Buffer.from(s, 'latin1'));
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

test("renders: quibbet --render's WAV, and player_hash's renders in a row", (t) => {
  assert.equal(renders.length, +header.match(/QUIBBET_HASH_RENDERS (\d+)/)[1]);
  for (const { oscs, tone } of renders) {
    writeFileSync(join(tmp, 'import.txt'), oscs.map((o) => `{${o.type}, ${o.detune}, ${o.fm}, ${o.noise} },\n`).join(''));
    assert.ok(Buffer.from(q.wav(q.render(oscs, tone))).equals(render(join(tmp, 'import.txt'), tone)), `tone ${tone}`);
  }
  assert.equal(proof.inRow.at(-1), execFileSync(playerHash).toString().trim());
  t.diagnostic(`node ${process.version}: ${proof.inRow.at(-1)}`);
});

test('JavaScriptCore gives the same renders', (t) => {
  writeFileSync(join(tmp, 'renders.json'), JSON.stringify(renders));
  const script = 'load(arguments[1]); import(arguments[0]).then((q) => print(JSON.stringify(engineProof(q, JSON.parse(readFile(arguments[2]))))));';
  const out = execFileSync('jsc', ['-e', script, '--', join(dist, 'index.js'), join(here, 'engine_proof.js'), join(tmp, 'renders.json')]);
  assert.deepEqual(JSON.parse(out), proof);
  t.diagnostic(`JavaScriptCore: ${proof.inRow.at(-1)}`);
});

test("1,000 random patches in a row give the program's renders", async () => {
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

test("the packed package installs with no network and writes quibbet --render's WAV", () => {
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
