#!/bin/sh
# A build for another CPU against the x86-64 Linux build: the same patches
# must give the same bytes. Renders render_pcm's fixed patch set with the
# reference render and the fast render at every level the other build has,
# against the x86-64 reference; saves each patch's out.wav and import.txt on
# both sides; has both programs render a patch file with --render; and, where
# the other build's program is interactive, runs both on the same key script.
# Every file is compared byte for byte, and the renders' SHA-256 is printed,
# so that builds can be compared by eye too.
# usage: same_bytes.sh <render_pcm command> <x86-64 build> <program command> [keys]
set -eu
render_pcm=$1 native=$2 program=$3 keys=${4:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/same-bytes.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail=0

"$native/tests/render_pcm" reference "$work/x86_64.pcm"
echo "x86-64 reference: $(sha256sum <"$work/x86_64.pcm" | cut -d' ' -f1)"
compared=0
for level in reference sse2 avx2 avx512 neon portable; do
  status=0
  "$render_pcm" "$level" "$work/other.pcm" || status=$?
  [ "$status" -ne 2 ] || continue  # not a level of this build or CPU
  [ "$status" -eq 0 ] || { echo "$level: render_pcm failed"; exit 1; }
  echo "$level: $(sha256sum <"$work/other.pcm" | cut -d' ' -f1)"
  if cmp "$work/x86_64.pcm" "$work/other.pcm"; then
    [ "$level" = reference ] || compared=$((compared + 1))
  else
    echo "$level: the PCM differs (each patch is 1234800 bytes; see render_pcm.cpp)"
    fail=1
  fi
done
[ "$compared" -gt 0 ] || { echo "no fast render level ran"; exit 1; }

mkdir "$work/x86_64" "$work/other"
"$native/tests/render_pcm" files "$work/x86_64"
"$render_pcm" files "$work/other"
for file in "$work"/x86_64/*; do
  cmp "$file" "$work/other/${file##*/}" || fail=1
done
echo "saved files: $(ls "$work/x86_64" | wc -l) compared"

# The programs, from a patch file to start from: --render, and where the
# program is interactive a key script that edits, replays and saves both files.
rows='{0, 1.500000, 0.300000, 0.100000 },\r\n{2, 0.250000, 4.000000, -0.050000 },\r\n'
for side in x86_64 other; do
  mkdir -p "$work/program/$side"
  printf '%b' "$rows" >"$work/program/$side/start.txt"
done
(cd "$work/program/x86_64" && "$native/quibbet" --render rendered.wav --tone 1000 start.txt)
(cd "$work/program/other" && "$program" --render rendered.wav --tone 1000 start.txt)
files=rendered.wav
if [ -n "$keys" ]; then
  # Edits, then random and mutated sounds from one seed, undone and redone.
  script='p1seygmgz2mxm \033[18~\033[19~'
  (cd "$work/program/x86_64" &&
    printf '%b' "$script" | "$native/quibbet" --seed 42 --tone 1000 start.txt >/dev/null)
  (cd "$work/program/other" &&
    printf '%b' "$script" | "$program" --seed 42 --tone 1000 start.txt >/dev/null)
  files="$files out.wav import.txt"
else
  # A program that only renders says so, in one line, and does nothing else.
  status=0
  "$program" </dev/null >"$work/said.out" 2>"$work/said.err" || status=$?
  if [ "$status" -ne 2 ] || [ -s "$work/said.out" ] || [ "$(wc -l <"$work/said.err")" -ne 1 ]; then
    echo "the render-only program, started without --render: status $status, said:"
    cat "$work/said.out" "$work/said.err"
    fail=1
  fi
fi
for file in $files; do
  if [ ! -s "$work/program/x86_64/$file" ]; then
    echo "the x86-64 program wrote no $file"
    fail=1
  elif cmp "$work/program/x86_64/$file" "$work/program/other/$file"; then
    echo "program: $file the same ($(stat -c %s "$work/program/x86_64/$file") bytes)"
  else
    fail=1
  fi
done

exit "$fail"
