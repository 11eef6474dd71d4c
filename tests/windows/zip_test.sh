#!/bin/sh
# The zip of `make windows-zip` as a Windows user gets it: exactly the
# program, README.txt and LICENSE.txt in one folder named after the version,
# both texts with CR LF line ends only, and a program that runs from there
# and renders a sound.
# usage: zip_test.sh <wine-run> <wine-prefix> <zip> <version>
set -eu
run=$1 prefix=$2 zip=$3 version=$4
name=quibbet-$version-windows-x86_64
[ "$(basename "$zip")" = "$name.zip" ] || { echo "the zip is named $(basename "$zip"), not $name.zip"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
entries=$(cd "$work" && find . -type f | LC_ALL=C sort | tr '\n' ' ')
expected="./$name/LICENSE.txt ./$name/README.txt ./$name/quibbet.exe "
[ "$entries" = "$expected" ] || { echo "the zip holds: $entries; expected: $expected"; exit 1; }

for text in README.txt LICENSE.txt; do
  file=$work/$name/$text
  lines=$(wc -l <"$file")
  crlf=$(grep -c "$(printf '\r')\$" "$file" || true)
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] ||
    { echo "$text: $crlf of $lines lines end in CR LF"; exit 1; }
  [ -z "$(tail -c 1 "$file" | tr -d '\n')" ] || { echo "$text: the last line has no line end"; exit 1; }
done
grep -q "MIT License" "$work/$name/LICENSE.txt" || { echo "LICENSE.txt: not the MIT License"; exit 1; }
grep -q "^Quibbet $version for Windows" "$work/$name/README.txt" ||
  { echo "README.txt: no title with the version $version"; exit 1; }

# Wine's own lines may reach stderr; the program's answers are on stdout.
exe="Z:$work/$name/quibbet.exe"
got=$("$run" "$prefix" "$exe" --version | tr -d '\r')
[ "$got" = "quibbet $version" ] || { echo "--version printed '$got'"; exit 1; }
"$run" "$prefix" "$exe" --help | tr -d '\r' | grep -q '^Usage: quibbet ' ||
  { echo "--help printed no usage line"; exit 1; }
"$run" "$prefix" "$exe" --render "Z:$work/boom.wav" --tone 3 || { echo "--render failed"; exit 1; }
# The bytes are the Linux build's (SameBytesAsLinux); here, that it is the WAV.
[ "$(stat -c %s "$work/boom.wav")" -eq 1234844 ] && [ "$(head -c 4 "$work/boom.wav")" = RIFF ] ||
  { echo "--render wrote no 7 s WAV"; exit 1; }
echo "$name.zip: $(stat -c %s "$zip") bytes; quibbet.exe runs from it"
