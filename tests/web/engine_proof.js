// One proof for every engine the web tests reach (node, Chromium, Firefox,
// JavaScriptCore), self-contained so that a browser can be handed its text.
// Takes quibbet-player and renders [{oscs, tone}]. Gives FNV-1a hashes of
// little-endian PCM: with `golden`, of each render from the start noise
// state, for `quibbet --render`'s; and, after each render, of all renders so
// far played in a row sharing one noise state, in blocks of odd sizes: the
// program's renders in a row, and the last is player_hash's.
function engineProof({ render, start, newNoise }, renders, golden = true) {
  // 64 bits as two 32-bit halves; the prime is 2^40 + 0x1b3.
  const hash = ([hi, lo], pcm) => {
    for (let i = 0; i < pcm.length; i++) {
      for (let k = 0, b = pcm[i] & 0xffff; k < 2; k++, b >>= 8) {
        lo = (lo ^ (b & 255)) >>> 0;
        const t = lo * 0x1b3;
        hi = (Math.imul(hi, 0x1b3) + (lo << 8) + Math.floor(t / 2 ** 32)) >>> 0;
        lo = t >>> 0;
      }
    }
    return [hi, lo];
  };
  const basis = [0xcbf29ce4, 0x84222325];
  const hex = (h) => h.map((half) => half.toString(16).padStart(8, '0')).join('');
  const noise = newNoise();
  let h = basis;
  const inRow = renders.map(({ oscs, tone }) => {
    const voice = start(oscs, tone, noise);
    for (let k = 0, block; (block = voice.play([1, 127, 128, 4096, 100003][k++ % 5])).length; ) h = hash(h, block);
    return hex(h);
  });
  return { golden: golden ? renders.map(({ oscs, tone }) => hex(hash(basis, render(oscs, tone)))) : [], inRow };
}
