// Runs the wasm32 build of player_hash.c and prints its hash as player_hash does.
const fs = require('fs');
WebAssembly.instantiate(fs.readFileSync(process.argv[2])).then(({ instance }) => {
  const hash = BigInt.asUintN(64, instance.exports.quibbet_hash_renders());
  console.log(hash.toString(16).padStart(16, '0'));
});
