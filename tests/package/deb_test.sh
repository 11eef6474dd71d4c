#!/bin/sh
# The Debian packages as a user gets them: cpack makes quibbet and
# libquibbet-player-dev; lintian finds no error; dpkg installs both into a
# throwaway root whose only other packages are the ones quibbet depends on,
# at the versions this Debian has, so the dependencies that dpkg-shlibdeps
# found must hold; the installed program, manual page and player work; and
# purging both leaves nothing behind.
# usage: deb_test.sh <source-dir> <build-dir> <version>
set -eu
source=$1 build=$2 version=$3
client_dir=$source/tests/package/player_client
. "$source/tests/package/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
arch=$(dpkg --print-architecture)

(cd "$build" && cpack -B "$work/debs" >"$work/cpack.log" 2>&1) ||
  fail "cpack failed: $(cat "$work/cpack.log")"
debs=$(cd "$work/debs" && ls ./*.deb | tr '\n' ' ')
[ "$debs" = "./libquibbet-player-dev_${version}_$arch.deb ./quibbet_${version}_$arch.deb " ] ||
  fail "cpack made: $debs"
program=$work/debs/quibbet_${version}_$arch.deb
player=$work/debs/libquibbet-player-dev_${version}_$arch.deb

lintian --fail-on error "$program" "$player" >"$work/lintian.log" 2>&1 ||
  fail "lintian: $(cat "$work/lintian.log")"

depends=$(dpkg-deb -f "$program" Depends)
for library in libc6 libpulse0 libasound2 libtinfo6 libstdc++6; do
  echo "$depends" | grep -q "\\b$library\\b" || fail "quibbet does not depend on $library: $depends"
done

# The root knows the packages quibbet depends on, as this system has them.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
needed=$(echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/[ (].*//')
for package in $needed; do
  # Libraries may be installed for other architectures too: this one's.
  { dpkg-query -s "$package:$arch" 2>/dev/null || dpkg-query -s "$package"; } \
    >>"$root/var/lib/dpkg/status" 2>"$work/query.err" ||
    fail "this system lacks $package, which quibbet depends on: $(cat "$work/query.err")"
  echo >>"$root/var/lib/dpkg/status"
  : >"$root/var/lib/dpkg/info/$package.list"
done
before=$(cd "$root" && find . ! -path './var/lib/dpkg*' | LC_ALL=C sort)

dpkg="dpkg --log=$work/dpkg-actions.log"
[ "$(id -u)" -eq 0 ] || dpkg="fakeroot $dpkg --force-not-root"
$dpkg --root="$root" -i "$program" "$player" >"$work/dpkg.log" 2>&1 ||
  fail "dpkg -i: $(cat "$work/dpkg.log")"

[ "$("$root/usr/bin/quibbet" --version)" = "quibbet $version" ] || fail "the packaged --version is wrong"
man_page_matches "$root/usr/share/man/man1/quibbet.1.gz" "$root/usr/bin/quibbet"
pc=$(find "$root/usr/lib" -name quibbet-player.pc)
[ -n "$pc" ] || fail "libquibbet-player-dev has no quibbet-player.pc"
# The packages' paths are under /usr, which pkg-config leaves out of its
# answers unless told; here they are in the throwaway root.
PKG_CONFIG_LIBDIR=$(dirname "$pc")
export PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR="$root" \
  PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
[ "$(pkg-config --variable=prefix quibbet-player)" = "$root/usr" ] ||
  fail "quibbet-player.pc: the prefix is not /usr"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror -ffp-contract=off -I"$client_dir" \
  "$client_dir/main.c" $(pkg-config --cflags --libs quibbet-player) -o "$work/client" ||
  fail "the C program did not build against libquibbet-player-dev"
same_sound "$work/client" "$root/usr/bin/quibbet" "$work"

$dpkg --root="$root" --purge quibbet libquibbet-player-dev >>"$work/dpkg.log" 2>&1 ||
  fail "dpkg --purge: $(cat "$work/dpkg.log")"
after=$(cd "$root" && find . ! -path './var/lib/dpkg*' | LC_ALL=C sort)
[ "$after" = "$before" ] || fail "left behind after the purge: $after"
echo "$(basename "$program"): $(stat -c %s "$program") bytes; $(basename "$player"): $(stat -c %s "$player") bytes"
