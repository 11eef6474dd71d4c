#!/bin/sh
# `make player-size`: the bytes of code and of constants in the player's
# object at -Os for each target, and what the object needs from outside.
# Fails when the x86-64 object passes 4 KiB or needs any function but
# memset and memcpy. Usage: player_size.sh OUTDIR
set -eu
out=$(realpath -m "$1")
here=$(cd "$(dirname "$0")" && pwd)
source=$here/../../player/quibbet_player.c
mkdir -p "$out"
flags="-std=c99 -Os -ffp-contract=off -c"
status=0

printf '%-8s %6s %10s %6s\n' target code constants total
for target in x86-64 i686 aarch64 wasm32; do
  object=$out/quibbet_player-$target.o
  case $target in
    x86-64) gcc $flags "$source" -o "$object" ;;
    i686) gcc -m32 -msse2 -mfpmath=sse $flags "$source" -o "$object" ;;
    aarch64) aarch64-linux-gnu-gcc $flags "$source" -o "$object" ;;
    wasm32) clang --target=wasm32 $flags "$source" -o "$object" ;;
  esac
  # ELF: .text* is code, .rodata* constants; wasm: CODE and DATA.
  llvm-size-14 -A "$object" | awk -v t="$target" '
    $1 ~ /^\.text/ || $1 == "CODE" { code += $2 }
    $1 ~ /^\.rodata/ || $1 == "DATA" || $1 == ".data" { data += $2 }
    END { printf "%-8s %6d %10d %6d\n", t, code, data, code + data }'
  if [ "$target" = x86-64 ]; then
    total=$(llvm-size-14 -A "$object" | awk '$1 ~ /^\.(text|rodata|data)/ { n += $2 } END { print n }')
    needs=$(nm -u "$object" | awk '{ print $2 }' | grep -vxE 'memset|memcpy' || true)
    [ "$total" -le 4096 ] || { echo "player_size.sh: x86-64 object is $total bytes, over 4 KiB" >&2; status=1; }
    [ -z "$needs" ] || { echo "player_size.sh: the object needs $needs" >&2; status=1; }
  fi
done
needs=$(nm -u "$out/quibbet_player-x86-64.o" | awk '{ print $2 }' | tr '\n' ' ')
echo "needed from outside (nm -u, x86-64): ${needs:-nothing}"
exit $status
