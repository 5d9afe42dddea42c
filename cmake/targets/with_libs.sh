#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command with a foreign program's loader and shared libraries where
# a router has them, in /lib, so that the program runs by its own path
# through qemu-user (binfmt_misc) as it would on the device: musl's loader
# at /lib/ld-musl-ARCH.so.1, json-c beside it.
#
#   cmake/targets/with_libs.sh SCRATCH LIBDIR NAME... -- COMMAND [ARG...]
#
# The command runs in a mount namespace of its own, in which an overlay on
# the build machine's /lib adds LIBDIR/NAME (links followed) for each NAME;
# the files live on a tmpfs mounted on the empty folder SCRATCH (created
# if missing). Namespaces made by the command (the test sandbox) inherit
# the overlay. The machine's own /lib never changes. Needs root.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  mkdir -p "$1"
  exec unshare -m --propagation private "$0" --inside "$@"
fi
shift
scratch=$1 libdir=$2
shift 2
names=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  names+=("$1")
  shift
done
[ "${1:-}" = -- ] || { echo "with_libs: no -- before the command" >&2; exit 2; }
shift

mount -t tmpfs -o mode=0755 tmpfs "$scratch"
mkdir "$scratch/upper" "$scratch/work"
for name in "${names[@]}"; do
  cp -L "$libdir/$name" "$scratch/upper/$name"
done
# /lib is a link to /usr/lib on a merged /usr: overlay the folder itself.
lib=$(realpath /lib)
mount -t overlay overlay -o "lowerdir=$lib,upperdir=$scratch/upper,workdir=$scratch/work" "$lib"
exec "$@"
