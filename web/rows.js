// quibbet-player/rows: reads import.txt as `quibbet FILE` does, into the
// numbers quibbet-player plays. Its floats are exact, and so are their
// JavaScript numbers: a game may keep JSON.stringify(parseRows(text)) in place
// of the rows and play exactly what quibbet plays.

// The float nearest a decimal's value, ties to even, as C compilers and
// quibbet make it: exact, with BigInt, where Math.fround(parseFloat(s)) rounds
// twice. A string is the fault's text. Out of range is a fault; a value below
// half the least float is a zero of its sign.
function toFloat(token) {
  const d = /^(-?)(\d*)(?:\.(\d*))?(?:[eE]([-+]?\d+))?$/.exec(token);
  if (!d || !(d[2] || d[3])) {
    return /^-?(inf(inity)?|nan(\(\w*\))?)$/i.test(token)
      ? ' as a finite decimal number, not NaN or infinity'
      : ' as a decimal number';
  }
  const fraction = d[3] || '';
  let e = (+d[4] || 0) - fraction.length;
  let digits = (d[2] + fraction).replace(/^0+/, '').replace(/0+$/, (zeros) => ((e += zeros.length), ''));
  const sign = d[1] ? -1 : 1;
  if (!digits || digits.length + e < -45) return sign * 0;
  if (digits.length + e > 39) return ' within the range of a float';
  // Past 120 digits only whether more follow matters: no halfway point
  // between two floats has that many. The last digit is not 0, so more do.
  if (digits.length > 120) (e += digits.length - 121), (digits = digits.slice(0, 120) + '1');
  let p = BigInt(digits);
  let q = 1n;
  if (e < 0) q = 10n ** BigInt(-e);
  else p *= 10n ** BigInt(e);
  // value = p / q = (m + rest) * 2^s, with m of 24 bits, or fewer below the
  // normal floats.
  let s = Math.max(p.toString(2).length - q.toString(2).length - 24, -149);
  for (;;) {
    const num = s < 0 ? p << BigInt(-s) : p;
    const den = s < 0 ? q : q << BigInt(s);
    let m = num / den;
    if (m >= 1n << 24n) {
      s++;
      continue;
    }
    const twice = (num % den) * 2n;
    if (twice > den || (twice == den && m & 1n)) m++;
    const f = Math.fround(Number(m) * 2 ** s);
    return f == Infinity ? ' within the range of a float' : sign * f;
  }
}

// quibbet reads no file larger than this.
const MAX_BYTES = 1 << 20;

// The two oscillators of an import.txt: [{type, detune, fm, noise}, ...].
// Refuses exactly what quibbet refuses, with a SyntaxError whose message is
// quibbet's "LINE:COL: expected ..." (columns count bytes of UTF-8) and whose
// line and column say where.
export function parseRows(text) {
  const all = typeof text == 'string' ? new TextEncoder().encode(text)
    : ArrayBuffer.isView(text) ? new Uint8Array(text.buffer, text.byteOffset, text.byteLength)
    : new Uint8Array(text);
  const b = all.subarray(0, MAX_BYTES);
  // A byte order mark is skipped and not counted in the columns.
  let pos = b[0] == 0xef && b[1] == 0xbb && b[2] == 0xbf ? 3 : 0;
  let line = 1;
  let column = 1;
  const fault = (expected, at = [line, column, pos]) => {
    throw [...at, expected];
  };
  const take = (c) => b[pos] == c.charCodeAt(0) && (pos++, column++, true);
  const blanks = () => {
    while (take(' ') || take('\t'));
  };
  // LF, or CR LF; a lone CR ends no line.
  const lineEnd = () => {
    const n = b[pos] == 13 && b[pos + 1] == 10 ? 2 : b[pos] == 10 ? 1 : 0;
    if (n) (pos += n), line++, (column = 1);
    return n;
  };
  // What stands up to the next blank, separator or line end.
  const token = () => {
    let t = '';
    while (pos < b.length && !' \t,{}\r\n'.includes(String.fromCharCode(b[pos]))) {
      t += String.fromCharCode(b[pos++]);
      column++;
    }
    return t;
  };
  // "{type, detune, fm, noise }," and its line end, or the end of the text.
  const row = (index) => {
    const of = ' of oscillator ' + index;
    take('{') || fault("'{' to begin the row" + of);
    blanks();
    let at = [line, column, pos];
    const type = token();
    /^(-?0+|0*[12])$/.test(type) || fault('the waveform type' + of + ': 0, 1 or 2', at);
    blanks();
    take(',') || fault("',' after the waveform type" + of);
    const osc = { type: +type.slice(-1) };
    for (const [name, after] of [['detune', ','], ['fm', ','], ['noise', '}']]) {
      blanks();
      at = [line, column, pos];
      const value = toFloat(token());
      typeof value == 'string' && fault(name + of + value, at);
      osc[name] = value;
      blanks();
      take(after) || fault(`'${after}' after ${name}${of}`);
    }
    blanks();
    take(',') || fault("',' after '}'" + of);
    blanks();
    pos == b.length || lineEnd() || fault('the end of the line after the row' + of);
    return osc;
  };

  try {
    const oscs = [];
    for (;;) {
      blanks();
      if (lineEnd()) continue;
      if (pos == b.length) break;
      oscs.length == 2 && fault('the end of the file after the two rows');
      oscs.push(row(oscs.length));
    }
    oscs.length < 2 && fault(`the row of oscillator ${oscs.length}: {type, detune, fm, noise },`);
    all.length > MAX_BYTES && fault('');
    return oscs;
  } catch (f) {
    if (!Array.isArray(f)) throw f;
    // In a file cut off unread, a fault where the cut is is the size's.
    const [l, c, at, expected] = all.length > MAX_BYTES && f[2] == MAX_BYTES ? [1, 1, 0, 'a file of at most 1 MiB'] : f;
    throw Object.assign(new SyntaxError(`${l}:${c}: expected ${expected}`), { line: l, column: c, offset: at });
  }
}
