# Shared by the package tests: an installed quibbet's sound, and the C
# program that plays the same rows through the installed player.

fail() { echo "$*"; exit 1; }

# same_sound CLIENT QUIBBET WORK: the client's PCM is the program's, byte for byte.
same_sound() {
  "$1" 3 >"$3/client.pcm" || fail "$1 failed"
  "$2" --render "$3/program.wav" --tone 3 "$client_dir/import.txt" ||
    fail "$2 --render failed"
  tail -c +45 "$3/program.wav" >"$3/program.pcm"
  cmp "$3/client.pcm" "$3/program.pcm" ||
    fail "$1: not the bytes of $2 (1234800 PCM bytes expected, got $(stat -c %s "$3/client.pcm"))"
}

# man_page_matches PAGE QUIBBET: man shows the page without a warning, with
# every section, every usage line of the program's --help in its synopsis and
# every option of it.
man_page_matches() {
  MANWIDTH=80 man --warnings -l "$1" >"$work/man.txt" 2>"$work/man.err" ||
    fail "man -l $1 failed: $(cat "$work/man.err")"
  [ ! -s "$work/man.err" ] || fail "man -l $1 warns: $(cat "$work/man.err")"
  for section in SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -q "^$section\$" "$work/man.txt" || fail "$1: no $section section"
  done
  sed -n '/^SYNOPSIS$/,/^[A-Z]/p' "$work/man.txt" | sed 's/^ *//' >"$work/synopsis.txt"
  "$2" --help >"$work/help.txt"
  sed -n 's/^\(Usage\|   or\): //p' "$work/help.txt" | while IFS= read -r usage; do
    grep -qxF -- "$usage" "$work/synopsis.txt" || fail "$1: the synopsis lacks '$usage'"
  done
  grep -o -- '--[a-z]*' "$work/help.txt" | sort -u | while read -r option; do
    grep -q -- "$option" "$work/man.txt" || fail "$1: no $option, which --help names"
  done
}
