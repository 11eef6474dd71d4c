#!/bin/sh
# The Windows build's form of FastKernels.ShareNoInlineCodeWithOtherFiles.
# In COFF objects an inline function is no weak symbol (nm shows it as T):
# it is a COMDAT section named .text$<mangled name>, of which the linker keeps
# one copy for the whole program, possibly the AVX-512 one. So the
# per-instruction-set kernel objects must have no such section.
# Usage: kernel_sections_test.sh <objdump> "obj1;obj2;..."
set -eu
objdump=$1
status=0
checked=0
for object in $(printf '%s' "$2" | tr ';' ' '); do
  case "$object" in *fast_kernel_*) ;; *) continue ;; esac
  checked=$((checked + 1))
  shared=$("$objdump" -h "$object" | awk '{ print $2 }' |
    grep -E '^\.(text|data|bss|rdata)\$' | grep -v '^\.rdata\$zzz$' || true)
  if [ -n "$shared" ]; then
    printf '%s defines shared inline code or data:\n%s\n' "$object" "$shared"
    status=1
  fi
done
[ "$checked" -gt 0 ] || { echo "no kernel objects given"; exit 1; }
exit $status
