#!/bin/sh
# The per-instruction-set kernel objects must not define inline functions
# that other objects may define too: the linker keeps one copy of each for
# the whole program, possibly the AVX-512 one. The one weak symbol allowed
# is the personality routine's reference, which is data.
# Usage: kernel_symbols_test.sh "obj1;obj2;..."
set -eu
status=0
for object in $(printf '%s' "$1" | tr ';' ' '); do
  case "$object" in *fast_kernel_*) ;; *) continue ;; esac
  shared=$(nm --defined-only "$object" | awk '$2 ~ /^[WVu]$/ { print $3 }' |
    grep -vE '^DW\.ref\.__gxx_personality_v0$' || true)
  if [ -n "$shared" ]; then
    printf '%s defines shared inline code:\n%s\n' "$object" "$shared"
    status=1
  fi
done
exit $status
