#!/bin/sh
# The Windows program against the Linux one: the same patches must give the
# same bytes. Renders the fixed patch set of render_pcm with the reference
# render and with the fast render at every level the CPU has, on both sides,
# and runs both programs on the same key scripts, then compares every PCM
# byte and the out.wav and import.txt files.
# usage: same_bytes.sh <wine-run> <wine-prefix> <windows-build> <linux-build>
set -eu
run=$1 prefix=$2 windows=$3 linux=$4

work=$(mktemp -d "$windows/same-bytes.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail=0

wine_path() { echo "Z:$1"; }

for level in reference sse2 avx2 avx512; do
  status=0
  "$linux/tests/render_pcm" "$level" "$work/linux.pcm" || status=$?
  if [ "$status" -eq 2 ]; then
    echo "$level: not on this CPU, skipped"
    continue
  fi
  [ "$status" -eq 0 ] || { echo "$level: the Linux render failed"; exit 1; }
  "$run" "$prefix" "$windows/tests/windows/render_pcm.exe" "$level" \
    "$(wine_path "$work/windows.pcm")" || { echo "$level: the Windows render failed"; exit 1; }
  if cmp "$work/linux.pcm" "$work/windows.pcm"; then
    echo "$level: $(stat -c %s "$work/linux.pcm") PCM bytes the same"
  else
    echo "$level: the PCM differs (each patch is 1234800 bytes; see render_pcm.cpp)"
    fail=1
  fi
done

# The programs: starting pitch, a patch file to start from, the keys and
# other options. The script edits, replays, and saves both files.
check_program() {
  name=$1 tone=$2 rows=$3 keys=$4 options=${5:-}
  for side in linux windows; do
    mkdir -p "$work/$name/$side"
    printf '%b' "$rows" >"$work/$name/$side/start.txt"
  done
  (cd "$work/$name/linux" &&
    printf '%b' "$keys" | "$linux/quibbet" --tone "$tone" $options start.txt >/dev/null)
  (cd "$work/$name/windows" &&
    printf '%b' "$keys" | "$run" "$prefix" "$windows/quibbet.exe" --tone "$tone" $options start.txt \
      >/dev/null)
  for file in out.wav import.txt; do
    if [ ! -s "$work/$name/linux/$file" ]; then
      echo "$name: the Linux program wrote no $file"
      fail=1
    elif cmp "$work/$name/linux/$file" "$work/$name/windows/$file"; then
      echo "$name: $file the same ($(stat -c %s "$work/$name/linux/$file") bytes)"
    else
      fail=1
    fi
  done
}

default_rows='{1, 1.010000, 2.500000, 0.000000 },\r\n{1, 0.997000, 2.799999, 0.000000 },\r\n'
check_program default 10 "$default_rows" '\033[18~\033[19~'
check_program edited 365 "$default_rows" '2aqqqwrrtpp \033[18~\033[19~'
check_program high 1000 '{0, 1.500000, 0.300000, 0.100000 },\r\n{2, 0.250000, 4.000000, -0.050000 },\r\n' \
  'p1sey \033[18~\033[19~'
# Random and mutated sounds from one seed, with undo and redo among them.
check_program random 10 "$default_rows" 'gmgz2mxm \033[18~\033[19~' '--seed 42'

exit "$fail"
