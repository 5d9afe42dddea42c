#!/bin/sh
# SPDX-License-Identifier: MIT
# The daemon as shipped: it needs libc and json-c only (and libuci where the
# real one is linked), never the C++ runtime, libcurl, mbedTLS or PCRE, and
# stripped it stays under 64 KiB. A static program carries its C library and
# has no dependencies to check; the size goal is for the dynamic one with
# json-c shared.
#
#   binary_check.sh DAEMON [SANITIZED=OFF [STRIP=strip]]
set -eu
daemon=$1
sanitized=${2:-OFF}
strip_program=${3:-strip}
needed=$(readelf -d "$daemon" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
echo "NEEDED: $needed"
for library in $needed; do
  case "$library" in
    libc.so|libc.so.*|libjson-c.so.*|libuci.so*) ;;
    libasan.so.*|libubsan.so.*|libm.so.*|libgcc_s.so.*|libstdc++.so.*)
      # The sanitizer runtimes bring their own dependencies.
      [ "$sanitized" = ON ] || { echo "unexpected dependency: $library" >&2; exit 1; } ;;
    *) echo "unexpected dependency: $library" >&2; exit 1 ;;
  esac
done
[ "$sanitized" = ON ] && exit 0
if ! readelf -l "$daemon" | grep -q INTERP; then
  echo "static program: no size goal"
  exit 0
fi
# The goal is for the daemon with json-c shared; one with json-c linked in
# (the x86_64 musl target) is held to its own budget by cmake/targets/run.sh.
case " $needed" in
  *" libjson-c.so."*) ;;
  *) echo "json-c linked in: no size goal here"; exit 0 ;;
esac
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$strip_program" -o "$stripped" "$daemon"
size=$(stat -c %s "$stripped")
echo "stripped size: $size bytes"
[ "$size" -lt 65536 ] || { echo "the stripped daemon is $size bytes, over 64 KiB" >&2; exit 1; }
