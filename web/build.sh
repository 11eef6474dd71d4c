#!/bin/sh
# Builds the player for the web into OUT: the WebAssembly module, from
# player/quibbet_player.c alone with no C library, inlined into the ES module
# index.js; the reader of import.txt, rows.js; both minified with the terser
# that web/package-lock.json pins (npm ci); the package's other files and
# the page beside them.
# Usage: web/build.sh OUT
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
# -Os, with more inlining than -Os alone allows: as fast as -O2 under V8 but
# 1.5 KB smaller. Saturating float-to-integer conversions (WebAssembly 2.0, in
# browsers since 2021) save the range checks around each, which the player's
# conversions, all within range, never need.
clang --target=wasm32 -std=c99 -Os -mllvm -inline-threshold=100 -mnontrapping-fptoint -ffp-contract=off -Wall -Wextra -pedantic -Werror \
  -nostdlib -fuse-ld=lld \
  -Wl,--no-entry,--strip-all,--export=quibbet_start,--export=quibbet_play,--export=__heap_base \
  "$here/../player/quibbet_player.c" -o "$out/quibbet.wasm"
for module in index rows; do
  "$here/node_modules/.bin/terser" "$here/$module.js" --module --compress passes=2 --mangle \
    -o "$out/$module.js"
done
version=$(sed -n 's/^project(quibbet VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")
node - "$here" "$out" "$version" <<'JS'
const fs = require('fs');
const [here, out, version] = process.argv.slice(2);
// One character a byte; only what would end the string is escaped.
const bytes = [...fs.readFileSync(out + '/quibbet.wasm')].map((b) =>
  ({ 10: '\\n', 13: '\\r', 39: "\\'", 92: '\\\\' })[b] || String.fromCharCode(b)).join('');
const module = fs.readFileSync(out + '/index.js', 'utf8');
const inlined = module.replace(/(["'])@WASM@\1/, () => `'${bytes}'`);
if (inlined == module) throw new Error('web/build.sh: no place for the module in index.js');
fs.writeFileSync(out + '/index.js', inlined);
const { devDependencies, ...pkg } = JSON.parse(fs.readFileSync(here + '/package.json', 'utf8'));
fs.writeFileSync(out + '/package.json', JSON.stringify({ ...pkg, version }, null, 2) + '\n');
JS
cp "$here/index.d.ts" "$here/rows.d.ts" "$here/README.md" "$here/index.html" "$here/page.js" \
  "$here/worklet.js" "$out/"
cp "$here/../LICENSE" "$out/LICENSE"
