# Shared by the package tests: an installed quibbet's sound, and the C
# program that plays the same rows through the installed player.

fail() { echo "$*"; exit 1; }

# wav_of QUIBBET TONE ROWS OUT: what the installed program saves for the rows
# at that pitch, with keys from a pipe (F7 saves out.wav) and no sound device.
wav_of() {
  (cd "$(dirname "$4")" &&
    printf '\033[18~' | PULSE_SERVER=unix:/dev/null/no-server ALSA_CONFIG_PATH=/dev/null \
      "$1" --tone "$2" "$3" >/dev/null 2>&1 && mv out.wav "$4") ||
    fail "$1 --tone $2 $3 did not save out.wav"
}

# same_sound CLIENT QUIBBET WORK: the client's PCM is the program's, byte for byte.
same_sound() {
  "$1" 3 >"$3/client.pcm" || fail "$1 failed"
  wav_of "$2" 3 "$client_dir/import.txt" "$3/program.wav"
  tail -c +45 "$3/program.wav" >"$3/program.pcm"
  cmp "$3/client.pcm" "$3/program.pcm" ||
    fail "$1: not the bytes of $2 (1234800 PCM bytes expected, got $(stat -c %s "$3/client.pcm"))"
}

# man_page_renders PAGE: man shows it without a warning, with every section.
man_page_renders() {
  MANWIDTH=80 man --warnings -l "$1" >"$work/man.txt" 2>"$work/man.err" ||
    fail "man -l $1 failed: $(cat "$work/man.err")"
  [ ! -s "$work/man.err" ] || fail "man -l $1 warns: $(cat "$work/man.err")"
  for section in SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -q "^$section\$" "$work/man.txt" || fail "$1: no $section section"
  done
}
