#!/bin/sh
# The rows F8 saves, compiled into a C program through `#include
# "import.txt"`, play exactly what `quibbet --render - import.txt` writes.
# The program is examples/play_import.c, built as C99 with every warning
# an error, CR LF rows and all.
# Usage: round_trip.sh QUIBBET SILENT_ALSA_CONF OUTDIR
set -eu
quibbet=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
dir=$(realpath -m "$3")
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"

# A session of keys from a pipe, with no sound: a square with noise and
# more FM on oscillator 0, a detuned saw with negative noise on 1, then F8.
printf 'dyyyrr2awwwttttt\033[19~' |
  PULSE_SERVER=unix:/dev/null/no-server ALSA_CONFIG_PATH=$2 "$quibbet" >/dev/null
grep -q "$(printf '\r')" import.txt || { echo "round_trip.sh: import.txt has no CR LF" >&2; exit 1; }

cc -std=c99 -Wall -Wextra -pedantic -Werror -ffp-contract=off -O2 -I. -I"$root/player" \
  "$root/examples/play_import.c" "$root/player/quibbet_player.c" -o play_import
./play_import >player.wav
"$quibbet" --render - import.txt >quibbet.wav
if ! cmp player.wav quibbet.wav; then
  echo "round_trip.sh: the compiled rows play differently; import.txt:" >&2
  cat import.txt >&2
  exit 1
fi
echo "round trip: $(cat import.txt | tr -d '\r' | tr '\n' ' ')"
