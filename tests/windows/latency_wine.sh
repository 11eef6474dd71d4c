#!/bin/sh
# The latency tool on the Windows build under wine64, with the keys typed
# through wine's console on a pty, as a user types them. One wineserver
# stays up for the whole measurement, so that the program starts as it does
# on a desktop where wine already runs, not at wine's cold start.
# usage: latency_wine.sh <quibbet_latency> <quibbet.exe> [tool options...]
set -eu
here=$(dirname "$(realpath "$0")")
tool=$1 exe=$(realpath "$2")
shift 2

WINEPREFIX=$(dirname "$exe")/wineprefix
export WINEPREFIX
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$WINEPREFIX"
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null || true' EXIT INT TERM
# Makes the prefix on first use, and starts wine's services.
"$here/../wine/run" "$WINEPREFIX" wineboot </dev/null >/dev/null 2>&1

"$tool" --pty "$@" "$here/../wine/run" "$WINEPREFIX" "$exe"
