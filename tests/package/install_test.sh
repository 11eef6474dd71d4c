#!/bin/sh
# `make install` into a temporary DESTDIR beside a file that was there
# before: exactly the expected files, an installed program and manual page
# that work, a player that a C program finds through pkg-config and through
# find_package and that plays the program's bytes; then `make uninstall`
# leaves the tree as it was.
# usage: install_test.sh <source-dir> <build-dir> <version>
set -eu
source=$1 build=$2 version=$3
client_dir=$source/tests/package/player_client
. "$source/tests/package/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dest=$work/dest prefix=/usr/local
root=$dest$prefix

mkdir -p "$root/bin"
echo "not quibbet's" >"$root/bin/other"
before=$(cd "$dest" && find . | LC_ALL=C sort)
DESTDIR=$dest "$source/scripts/install" "$build" "$prefix" "$work/record" >/dev/null

# The CMake package's per-configuration file is named after the build type.
files=$(cd "$root" && find . -type f -o -type l | sed 's/Targets-[a-z]*\.cmake$/Targets-CONFIG.cmake/' |
  LC_ALL=C sort)
expected="./bin/other
./bin/quibbet
./include/quibbet_player.h
./lib/cmake/QuibbetPlayer/QuibbetPlayerConfig.cmake
./lib/cmake/QuibbetPlayer/QuibbetPlayerConfigVersion.cmake
./lib/cmake/QuibbetPlayer/QuibbetPlayerTargets-CONFIG.cmake
./lib/cmake/QuibbetPlayer/QuibbetPlayerTargets.cmake
./lib/libquibbet_player.a
./lib/pkgconfig/quibbet-player.pc
./share/doc/quibbet/CHANGELOG.md
./share/doc/quibbet/LICENSE
./share/doc/quibbet/README.md
./share/man/man1/quibbet.1.gz"
[ "$files" = "$expected" ] || fail "installed:
$files
expected:
$expected"

[ "$("$root/bin/quibbet" --version)" = "quibbet $version" ] || fail "the installed --version is wrong"
man_page_matches "$root/share/man/man1/quibbet.1.gz" "$root/bin/quibbet"

# pkg-config, as a Makefile would use it, on the staged tree.
export PKG_CONFIG_PATH="$root/lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$dest"
[ "$(pkg-config --modversion quibbet-player)" = "$version" ] || fail "pkg-config: wrong version"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror -ffp-contract=off -I"$client_dir" \
  "$client_dir/main.c" $(pkg-config --cflags --libs quibbet-player) -o "$work/pc_client" ||
  fail "the C program did not build through pkg-config"
same_sound "$work/pc_client" "$root/bin/quibbet" "$work"

cmake -S "$client_dir" -B "$work/cmake_client" -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_C_FLAGS=-Werror >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake_client" >>"$work/cmake.log" 2>&1 ||
  fail "the C program did not build through find_package: $(cat "$work/cmake.log")"
same_sound "$work/cmake_client/player_client" "$root/bin/quibbet" "$work"

"$source/scripts/uninstall" "$work/record"
after=$(cd "$dest" && find . | LC_ALL=C sort)
[ "$after" = "$before" ] || fail "after the uninstall:
$after
before the install:
$before"
echo "installed and uninstalled $(echo "$expected" | wc -l) files"
