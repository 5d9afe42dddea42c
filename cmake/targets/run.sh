#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The router targets, built and tested under emulation (./dev.sh targets):
#
#   aarch64  glibc with Debian's arm64 multiarch libraries: the daemon, the
#            whole support library and every test; unit tests under
#            qemu-user, the end-to-end suites with the aarch64 daemon.
#   mips     big-endian MIPS with musl, as OpenWrt's ath79 (mips_24kc);
#   mipsel   little-endian MIPS with musl, as OpenWrt's ramips (MT7621,
#            mipsel_24kc): musl and json-c built from Debian's source
#            packages; the daemon and the schedule program linked twice,
#            against musl's libc.so and json-c's shared library as on a
#            router, and statically; the end-to-end suites under qemu-user
#            with the dynamic daemon (and with one built with the nftables
#            load), the daemon's cycle with the static one.
#   musl     x86_64 with musl and json-c built from source: the daemon and
#            the schedule program, the daemon's cycle end to end.
#
#   cmake/targets/run.sh [aarch64|mips|mipsel|musl]...   (all by default)
#
# Each target builds in build-targets-<name>/. The libraries built from
# source are kept per target CPU in build-targets-deps/ and Debian's source
# packages in build-targets-src/, shared by the targets and kept across
# runs. The build machine's daemon, schedule program and agent tool (for
# the whole road's suite) are built once in build-targets-host/.
#
# Three targets run at a time (QUORVEL_TARGETS_AT_ONCE): most of a
# target's time is one emulated program after another, which leaves a core
# idle, and with three the two MIPS targets, the longest, end together
# instead of one of them alone at the end (about 30 s less on 2 cores).
# Each target's output is kept and printed whole when it ends.
#
# Every target checks its stripped daemon against the size budget
# (DAEMON_BUDGET); a daemon over it fails the run, after the tests, with
# one line naming the target, the program, its size and the budget.
#
# Foreign programs run through qemu-user registered with binfmt_misc for
# the length of the run only (the sandbox starts the daemon by its path).
# Needs root.
# shellcheck disable=SC2317 # functions called by name, in subshells and traps
set -euo pipefail
cd "$(dirname "$0")/../.."

root=$PWD
# musl's configure refuses a source path with a blank, and the GCC driver
# file that points at musl (musl-gcc) splits its paths at blanks: from a
# checkout whose path holds one, the libraries built from source are
# reached through a link without, named after the checkout (the same each
# time, so that the build folders' caches stay valid) and removed at the
# end. Everything else keeps the checkout's own path, which the test
# sandbox binds.
link=
sources_root=$root
case $root in
  *[[:space:]]*)
    link=/tmp/quorvel-targets-$(printf '%s' "$root" | sha256sum | cut -c 1-12)
    ln -sfn "$root" "$link"
    sources_root=$link
    ;;
esac

AT_ONCE=${QUORVEL_TARGETS_AT_ONCE:-3}
# What every target reports, by file: targets run in subshells.
RESULTS=$(mktemp -d)
# The running targets, by the process (group) ids of their subshells.
declare -A TARGET_OF=()

# shellcheck source=cmake/targets/binfmt.sh
source cmake/targets/binfmt.sh
finish() {
  local pid
  for pid in "${!TARGET_OF[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  binfmt_unregister_all
  [ -z "$link" ] || rm -f "$link"
  rm -rf "$RESULTS"
}
trap finish EXIT
# Ended by a signal: leave through exit, so that the EXIT trap runs.
trap 'exit 130' INT TERM HUP

JOBS=${QUORVEL_JOBS:-2}
SOURCE_CACHE=$sources_root/build-targets-src
DEPS=$sources_root/build-targets-deps
HOST=$root/build-targets-host
DAEMON_ONLY=(-DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF)
# The programs a router gets, by their CMake targets.
PROGRAMS=(quorvel quorvel-schedule)

# Stripped daemon, in bytes: json-c shared, but in the static daemons and
# the x86_64 musl one, which link it in. 40 KiB on x86_64 and aarch64, 48
# KiB on MIPS (its code is larger: no PC-relative loads), 128 KiB for a
# static MIPS daemon with musl and json-c inside. The x86_64 musl daemon
# links json-c in but not musl: it is held to what it takes, with room.
declare -A DAEMON_BUDGET=(
  [x86_64]=40960 [aarch64]=40960 [mips]=49152 [mipsel]=49152
  [mips-static]=131072 [mipsel-static]=131072
  [musl]=69632
)

step() { echo "== targets: $* ($((SECONDS / 60))m$((SECONDS % 60))s)"; }

# configure_and_build DIR [cmake options] [-- build target...]
configure_and_build() {
  local dir=$1 options=() build=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && { shift; build=(--target "$@"); }
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DQUORVEL_WERROR=ON -DQUORVEL_BENCH=OFF "${options[@]}" > "$dir/configure.log" \
    || { cat "$dir/configure.log" >&2; return 1; }
  cmake --build "$dir" -j "$JOBS" "${build[@]}"
}

# program DIR NAME: the path of the program that CMake target NAME built.
program() {
  local path
  path=$(find "$1" -path "$1/CMakeFiles" -prune -o -type f -name "$2" -perm -u+x -print | head -n 1)
  [ -n "$path" ] || { echo "targets: $2 is not built in $1" >&2; return 1; }
  echo "$path"
}

# stripped_size PROGRAM STRIP: bytes of PROGRAM once stripped.
stripped_size() {
  local stripped size
  stripped=$(mktemp)
  "$2" -o "$stripped" "$1"
  size=$(stat -c %s "$stripped")
  rm -f "$stripped"
  echo "$size"
}

# describe NAME DIR STRIP: the daemon's and the schedule program's stripped
# sizes and NEEDED lists; the daemon's checked against DAEMON_BUDGET[NAME].
describe() {
  local name=$1 dir=$2 strip_program=$3 target path size needed line=$1:
  for target in "${PROGRAMS[@]}"; do
    path=$(program "$dir" "$target")
    size=$(stripped_size "$path" "$strip_program")
    needed=$(readelf -d "$path" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    line+=" $target $size bytes stripped (NEEDED: ${needed:-none, static});"
    if [ "$target" = quorvel ] && [ -n "${DAEMON_BUDGET[$name]:-}" ] \
        && [ "$size" -ge "${DAEMON_BUDGET[$name]}" ]; then
      echo "targets: $name: the stripped daemon ${path#"$root"/} is $size bytes, over its budget of ${DAEMON_BUDGET[$name]} bytes" \
        | tee -a "$RESULTS/over-budget" >&2
    fi
  done
  echo "${line%;}" > "$RESULTS/summary-$name"
}

# e2e DAEMON ZENTIX SANDBOXES [suite...]: the daemon's end-to-end suites
# (by default those of the add load, and the whole road with ZENTIX).
e2e() {
  local daemon=$1 zentix=$2 sandboxes=$3 suites
  shift 3
  suites=("$@")
  if [ ${#suites[@]} -eq 0 ]; then
    suites=(test_cycle test_identity test_process test_recovery test_schedule)
    [ -n "$zentix" ] && suites+=(test_road)
  fi
  mkdir -p "$sandboxes"
  (cd tests/e2e && QUORVEL_BIN=$daemon ZENTIX_BIN=$zentix QUORVEL_SANDBOX_DIR=$sandboxes \
     PYTHONDONTWRITEBYTECODE=1 "${E2E_WRAPPER[@]}" python3 -m unittest "${suites[@]}")
}
E2E_WRAPPER=()

# The build machine's programs, once: the agent tool for the whole road's
# suite (it needs libcurl, which the musl targets lack) and x86_64's daemon
# for the size budget.
host_built=0
build_host() {
  [ "$host_built" = 1 ] && return 0
  step "host: daemon, schedule and agent tool (build machine)"
  configure_and_build "$HOST" -DQUORVEL_TESTS=OFF -DQUORVEL_WITH_CRYPTO=OFF \
    -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=ON -- "${PROGRAMS[@]}" zentix > /dev/null
  describe x86_64 "$HOST" strip
  host_built=1
}

target_aarch64() {
  local dir=$root/build-targets-aarch64
  step "aarch64: build"
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/aarch64-linux-gnu.cmake"
  describe aarch64 "$dir" aarch64-linux-gnu-strip
  step "aarch64: unit and end-to-end tests under qemu-user"
  binfmt_register aarch64
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

# target_mips_musl ARCH: mips or mipsel with musl.
target_mips_musl() {
  local arch=$1 dir=$root/build-targets-$1
  local toolchain=$root/cmake/toolchains/$arch-linux-musl.cmake prefix=$DEPS/$arch-linux-musl
  local common=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUORVEL_DEPS_PREFIX="$prefix"
                -DQUORVEL_TESTS=OFF "${DAEMON_ONLY[@]}")
  build_host
  step "$arch: musl and json-c from source"
  cmake/targets/deps.sh "$toolchain" "$prefix" "$SOURCE_CACHE" "musl=$arch-linux-musl"
  step "$arch: build, dynamic, static and with the nftables load"
  configure_and_build "$dir/dynamic" "${common[@]}" -- "${PROGRAMS[@]}"
  configure_and_build "$dir/static" "${common[@]}" -DQUORVEL_STATIC=ON -- "${PROGRAMS[@]}"
  configure_and_build "$dir/nft" "${common[@]}" -DQUORVEL_IPSET_LOAD=nft -- quorvel
  sh tests/binary_check.sh "$dir/dynamic/daemon/quorvel" OFF "$arch-linux-gnu-strip"
  describe "$arch" "$dir/dynamic" "$arch-linux-gnu-strip"
  describe "$arch-static" "$dir/static" "$arch-linux-gnu-strip"

  step "$arch: end-to-end tests under qemu-user"
  binfmt_register "$arch"
  # The dynamic programs' loader and json-c, in /lib as on a router.
  local daemon=$dir/dynamic/daemon/quorvel loader
  loader=$(readelf -l "$daemon" | sed -n 's|.*Requesting program interpreter: /lib/\(.*\)]|\1|p')
  E2E_WRAPPER=("$root/cmake/targets/with_libs.sh" "$dir/lib-overlay" "$prefix/lib"
               "$loader" libjson-c.so.5 --)
  QUORVEL_SCHEDULE=$(program "$dir/dynamic" quorvel-schedule) \
    e2e "$daemon" "$HOST/tools/zentix" "$dir/sandboxes"
  QUORVEL_IPSET_LOAD=nft e2e "$dir/nft/daemon/quorvel" "" "$dir/sandboxes" test_nft
  E2E_WRAPPER=()
  # A static daemon names no loader that would tell its C library.
  step "$arch: the static daemon's cycle"
  QUORVEL_LIBC=musl e2e "$dir/static/daemon/quorvel" "" "$dir/sandboxes" test_cycle
}

target_mips() { target_mips_musl mips; }
target_mipsel() { target_mips_musl mipsel; }

target_musl() {
  local dir=$root/build-targets-musl toolchain=$root/cmake/toolchains/x86_64-linux-musl.cmake
  build_host
  step "musl: json-c from source"
  cmake/targets/deps.sh "$toolchain" "$DEPS/x86_64-linux-musl" "$SOURCE_CACHE"
  step "musl: build"
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQUORVEL_DEPS_PREFIX="$DEPS/x86_64-linux-musl" -DQUORVEL_TESTS=OFF "${DAEMON_ONLY[@]}" \
    -- "${PROGRAMS[@]}"
  sh tests/binary_check.sh "$dir/daemon/quorvel"
  describe musl "$dir" strip
  # The MIPS targets run every suite with musl: here the daemon's cycle,
  # on the build machine's own CPU.
  step "musl: the daemon's cycle"
  e2e "$dir/daemon/quorvel" "" "$dir/sandboxes" test_cycle
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 mips mipsel musl)
for target in "${targets[@]}"; do
  case "$target" in
    aarch64|mips|mipsel|musl) ;;
    *) echo "targets: unknown target $target (aarch64, mips, mipsel, musl)" >&2; exit 2 ;;
  esac
done
# What the targets share is made first, in this shell: the build machine's
# programs and qemu-user's registrations. Source packages are fetched
# under a lock (deps.sh).
needs_host=0
for target in "${targets[@]}"; do
  [ "$target" = aarch64 ] || needs_host=1
  [ "$target" = musl ] || binfmt_register "$target"
done
[ "$needs_host" = 0 ] || build_host

# Each target in a process group of its own, so that an interrupted run
# ends all of what the targets started.
set -m
finish_one() {
  local pid status=0
  wait -n -p pid || status=$?
  local name=${TARGET_OF[$pid]}
  unset "TARGET_OF[$pid]"
  echo "== targets: $name: its output ($((SECONDS / 60))m$((SECONDS % 60))s)"
  cat "$RESULTS/log-$name"
  if [ "$status" -ne 0 ]; then
    echo "targets: $name failed (status $status)" | tee -a "$RESULTS/failed" >&2
  fi
}
for target in "${targets[@]}"; do
  [ "${#TARGET_OF[@]}" -lt "$AT_ONCE" ] || finish_one
  ("target_$target") > "$RESULTS/log-$target" 2>&1 &
  TARGET_OF[$!]=$target
  step "$target: started"
done
while [ "${#TARGET_OF[@]}" -gt 0 ]; do finish_one; done
set +m

step "done"
for name in x86_64 aarch64 mips mips-static mipsel mipsel-static musl; do
  [ -f "$RESULTS/summary-$name" ] && sed 's/^/  /' "$RESULTS/summary-$name"
done
# The tests still ran; the run fails on each daemon over its budget.
status=0
for report in failed over-budget; do
  [ -f "$RESULTS/$report" ] && { cat "$RESULTS/$report" >&2; status=1; }
done
exit "$status"
