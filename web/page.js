// The page: rows and a tone in; the sound heard, drawn and downloaded, all
// with quibbet-player's bytes. Every sound starts from quibbet's start noise
// state, so what is heard is what `quibbet --render` writes.
import { FRAMES, render, start, wav } from './index.js';
import { parseRows } from './rows.js';

const $ = (id) => document.getElementById(id);
const rows = $('rows');
const tone = $('tone');
const canvas = $('wave');

// A dropped file's own bytes are read while its text stands unedited, so
// that a byte the text area cannot hold (a lone CR) is read as quibbet would.
let dropped = null;

// Shows a fault under its field, or clears it.
function show(field, message) {
  field.setAttribute('aria-invalid', !!message);
  $(field.id + '-fault').textContent = message;
}

// Marks the place of a fault in the rows, behind the text. Columns count
// bytes, but all a line holds before its fault is ASCII, but for a byte order
// mark, which the columns skip.
function mark(fault) {
  const text = rows.value;
  let at = text.length;
  if (fault) {
    const lines = text.split('\n');
    at = lines.slice(0, fault.line - 1).reduce((n, l) => n + l.length + 1, 0) + fault.column - 1;
    if (fault.line == 1 && text[0] == '\ufeff') at++;
  }
  const marked = document.createElement('mark');
  marked.textContent = /[^\n]/.test(text[at] || '') ? text[at] : ' ';
  $('marks').replaceChildren(text.slice(0, at), ...(fault ? [marked, text.slice(at + 1)] : []));
  $('marks').scrollTop = rows.scrollTop;
}

// The patch the page would play, or null with its faults shown.
function read() {
  let oscs = null;
  try {
    oscs = parseRows(dropped?.text == rows.value ? dropped.bytes : rows.value);
    show(rows, '');
    mark(null);
  } catch (fault) {
    if (!(fault instanceof SyntaxError)) throw fault;
    show(rows, fault.message);
    mark(fault);
  }
  // As `quibbet --tone` reads it: a whole number within 32 bits.
  const t = tone.value.trim();
  const ok = /^-?\d+$/.test(t) && Math.abs(+t + 0.5) < 2 ** 31;
  show(tone, ok ? '' : 'expected a whole number from -2147483648 to 2147483647');
  return oscs && ok ? { oscs, tone: +t } : null;
}

// The sound of what is typed, rendered once for the picture and the file.
let sound = null;
let pcm = null;

function update() {
  sound = read();
  pcm = sound && render(sound.oscs, sound.tone);
  for (const id of ['play', 'download']) $(id).disabled = !sound;
  $('numbers').textContent = sound ? `const oscs = ${JSON.stringify(sound.oscs)};\nconst tone = ${sound.tone};` : '';
  draw();
}

// The whole sound's envelope: for each column of pixels, the lowest and
// highest sample of the frames it covers, and a tick at each second.
function draw() {
  const ratio = devicePixelRatio || 1;
  const width = (canvas.width = Math.round(canvas.clientWidth * ratio));
  const height = (canvas.height = Math.round(canvas.clientHeight * ratio));
  const g = canvas.getContext('2d');
  const style = getComputedStyle(document.documentElement);
  g.fillStyle = style.getPropertyValue('--line');
  g.fillRect(0, height / 2, width, 1);
  for (let second = 1; second < 7; second++) g.fillRect(Math.round((second * 44100 * width) / FRAMES), 0, 1, 6 * ratio);
  if (!pcm) return;
  g.fillStyle = style.getPropertyValue('--wave');
  for (let x = 0; x < width; x++) {
    let low = 32767;
    let high = -32768;
    for (let f = Math.floor((x * FRAMES) / width); f < Math.floor(((x + 1) * FRAMES) / width); f++) {
      low = Math.min(low, pcm[2 * f]);
      high = Math.max(high, pcm[2 * f]);
    }
    const y = (s) => ((32768 - s) * height) / 65536;
    g.fillRect(x, y(high), 1, Math.max(y(low) - y(high), 1));
  }
}

// Play: an AudioContext at the samples' own rate, so the output hears them
// as they are, made and given the voice's code when the page loads. Play
// makes the voice's first block at once, on this thread, and hands it to the
// audio thread with the voice: that thread takes a new node only between two
// passes over its graph, and the first one waits for the output to open.
const BLOCK = 128; // frames: the render quantum of every browser
const context = new AudioContext({ sampleRate: 44100, latencyHint: 'interactive' });
const loaded = context.audioWorklet.addModule('worklet.js');
let voice = null;
// The first touch of the page opens the output, which takes a while.
for (const type of ['pointerdown', 'keydown']) addEventListener(type, () => context.resume(), { once: true });

function stop() {
  voice?.port.postMessage('stop');
  voice?.disconnect();
  voice = null;
  $('stop').disabled = true;
}

$('play').addEventListener('click', async () => {
  if (!sound) return;
  const first = start(sound.oscs, sound.tone).play(BLOCK);
  stop();
  context.resume();
  await loaded;
  voice = new AudioWorkletNode(context, 'quibbet-voice', {
    numberOfInputs: 0,
    outputChannelCount: [2],
    processorOptions: { ...sound, first },
  });
  const playing = voice;
  voice.port.onmessage = () => voice == playing && stop(); // the sound is over
  voice.connect(context.destination);
  $('stop').disabled = false;
});
$('stop').addEventListener('click', stop);

$('download').addEventListener('click', () => {
  if (!pcm) return;
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([wav(pcm)], { type: 'audio/wav' }));
  link.download = 'out.wav';
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
});

// Typing renders again once it pauses.
let typing = 0;
for (const field of [rows, tone]) {
  field.addEventListener('input', () => {
    clearTimeout(typing);
    typing = setTimeout(update, 150);
  });
}
rows.addEventListener('scroll', () => ($('marks').scrollTop = rows.scrollTop));

// A dropped file replaces the rows.
const editor = rows.parentElement;
editor.addEventListener('dragover', (event) => {
  event.preventDefault();
  editor.classList.add('dropping');
});
editor.addEventListener('dragleave', () => editor.classList.remove('dropping'));
editor.addEventListener('drop', async (event) => {
  event.preventDefault();
  editor.classList.remove('dropping');
  const file = event.dataTransfer.files[0];
  if (!file) return;
  const bytes = new Uint8Array(await file.arrayBuffer());
  rows.value = new TextDecoder('utf-8', { ignoreBOM: true }).decode(bytes);
  dropped = { bytes, text: rows.value };
  update();
});
addEventListener('resize', draw);
update();
