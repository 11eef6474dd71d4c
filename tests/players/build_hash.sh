#!/bin/sh
# Builds player_hash.c with the player for one compiler, flag set or target,
# straight from the sources (no build system), runs it, and prints its hash.
# Usage: build_hash.sh BUILD OUTDIR [NATIVE]: with NATIVE, a player_hash
# built for this machine, the two hashes must be equal. BUILD is one of:
#   gcc-O0 gcc-O2 gcc-O3-native clang-O0 clang-O2 clang-O3-native g++-O2
#   i686 aarch64 mingw-x86_64 wasm32 x87
# Every build is C99 with all warnings as errors, and -ffp-contract=off:
# without it aarch64 compilers fuse a * b + c and change the bytes. x87 is
# the one build that is not expected to match.
set -eu
if [ $# -eq 3 ]; then
  want=$("$3")
  got=$("$0" "$1" "$2")
  if [ "$got" != "$want" ]; then
    echo "build_hash.sh: $1 gives $got, this machine's build $want" >&2
    exit 1
  fi
  echo "$1: $got"
  exit 0
fi
build=$1
out=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
player=$here/../../player
mkdir -p "$out"
exe=$out/player_hash-$build
sources="$player/quibbet_player.c $here/player_hash.c"
c99="-std=c99 -Wall -Wextra -pedantic -Werror -ffp-contract=off -I$player"

# 32-bit x86 programs run natively where the kernel allows it; some kernels
# refuse them ("Exec format error"), and qemu-i386 runs them there.
run_i386() {
  if "$1" 2>/dev/null; then return 0; fi
  qemu-i386 "$1"
}

case $build in
  gcc-O0 | gcc-O2 | clang-O0 | clang-O2)
    cc=${build%-*}
    $cc $c99 -${build#*-} $sources -o "$exe"
    "$exe" ;;
  gcc-O3-native | clang-O3-native)
    cc=${build%%-*}
    $cc $c99 -O3 -march=native $sources -o "$exe"
    "$exe" ;;
  g++-O2)  # the player compiled as C++
    g++ -x c++ -std=c++17 -Wall -Wextra -pedantic -Werror -ffp-contract=off -I"$player" -O2 \
      $sources -o "$exe"
    "$exe" ;;
  i686)
    gcc $c99 -O2 -m32 -msse2 -mfpmath=sse $sources -o "$exe"
    run_i386 "$exe" ;;
  x87)
    gcc $c99 -O2 -m32 -mfpmath=387 $sources -o "$exe"
    run_i386 "$exe" ;;
  aarch64)
    aarch64-linux-gnu-gcc $c99 -O2 $sources -o "$exe"
    qemu-aarch64 -L /usr/aarch64-linux-gnu "$exe" ;;
  mingw-x86_64)
    # __USE_MINGW_ANSI_STDIO: printf as C99 has it, whatever the C runtime.
    x86_64-w64-mingw32-gcc $c99 -D__USE_MINGW_ANSI_STDIO=1 -O2 -static $sources -o "$exe.exe"
    "$here/../wine/run" "$out/wineprefix" "$exe.exe" | tr -d '\r' ;;
  wasm32)
    clang $c99 -O2 --target=wasm32 -nostdlib -fuse-ld=lld -DQUIBBET_HASH_NO_MAIN \
      -Wl,--no-entry -Wl,--export=quibbet_hash_renders $sources -o "$exe.wasm"
    node "$here/run_wasm.js" "$exe.wasm" ;;
  *)
    echo "build_hash.sh: unknown build '$build'" >&2
    exit 2 ;;
esac
