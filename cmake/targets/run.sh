#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The router targets, built and tested under emulation (./dev.sh targets):
#
#   aarch64  glibc with Debian's arm64 multiarch libraries: the daemon, the
#            whole support library and every test; unit tests under
#            qemu-user, the end-to-end suites with the aarch64 daemon.
#   mips     big-endian, static, json-c and GoogleTest built from source:
#            the daemon and the pieces that need only json-c, with their
#            unit tests and the end-to-end suites under qemu-user.
#   musl     x86_64 with musl and json-c built from source: the daemon and
#            the end-to-end suites.
#
#   cmake/targets/run.sh [aarch64|mips|musl]...   (all three by default)
#
# Each target builds in build-targets-<name>/; json-c's Debian source
# package is kept in build-targets-src/. Foreign programs run through
# qemu-user registered with binfmt_misc for the length of the run only
# (the sandbox starts the daemon by its path). Needs root.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

# shellcheck source=cmake/targets/binfmt.sh
source cmake/targets/binfmt.sh
trap binfmt_unregister_all EXIT
# Ended by a signal: leave through exit, so that the EXIT trap runs.
trap 'exit 130' INT TERM HUP

JOBS=${QUORVEL_JOBS:-2}
SOURCE_CACHE=$root/build-targets-src
DAEMON_ONLY=(-DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF)
SUMMARY=()

step() { echo "== targets: $* ($((SECONDS / 60))m$((SECONDS % 60))s)"; }

# configure_and_build DIR [cmake options]
configure_and_build() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DQUORVEL_WERROR=ON -DQUORVEL_BENCH=OFF "$@" > "$dir/configure.log" \
    || { cat "$dir/configure.log" >&2; return 1; }
  cmake --build "$dir" -j "$JOBS"
}

# describe NAME DAEMON STRIP: the stripped size and the NEEDED list.
describe() {
  local name=$1 daemon=$2 strip_program=$3 stripped size needed
  stripped=$(mktemp)
  "$strip_program" -o "$stripped" "$daemon"
  size=$(stat -c %s "$stripped")
  rm -f "$stripped"
  needed=$(readelf -d "$daemon" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  SUMMARY+=("$name: stripped daemon $size bytes, NEEDED: ${needed:-none (static)}")
}

# e2e DAEMON ZENTIX SANDBOXES: the daemon's end-to-end suites.
e2e() {
  local suites=(test_cycle test_identity test_process test_recovery test_schedule)
  [ -n "$2" ] && suites+=(test_road)
  (cd tests/e2e && QUORVEL_BIN=$1 ZENTIX_BIN=$2 QUORVEL_SANDBOX_DIR=$3 PYTHONDONTWRITEBYTECODE=1 \
     python3 -m unittest "${suites[@]}")
}

target_aarch64() {
  local dir=$root/build-targets-aarch64
  step "aarch64: build"
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/aarch64-linux-gnu.cmake"
  step "aarch64: unit and end-to-end tests under qemu-user"
  binfmt_register aarch64
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
  describe aarch64 "$dir/daemon/quorvel" aarch64-linux-gnu-strip
}

target_mips() {
  local dir=$root/build-targets-mips
  step "mips: json-c and GoogleTest from source"
  cmake/targets/deps.sh cmake/toolchains/mips-linux-gnu.cmake "$dir/deps" "$SOURCE_CACHE" gtest
  step "mips: build"
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mips-linux-gnu.cmake" \
    -DQUORVEL_DEPS_PREFIX="$dir/deps" "${DAEMON_ONLY[@]}"
  step "mips: unit and end-to-end tests under qemu-user"
  binfmt_register mips
  QUORVEL_DEPS_PREFIX=$dir/deps ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
  describe mips "$dir/daemon/quorvel" mips-linux-gnu-strip
}

target_musl() {
  local dir=$root/build-targets-musl host=$root/build-targets-musl/host-agent
  step "musl: json-c from source"
  cmake/targets/deps.sh cmake/toolchains/x86_64-linux-musl.cmake "$dir/deps" "$SOURCE_CACHE"
  step "musl: build"
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/x86_64-linux-musl.cmake" \
    -DQUORVEL_DEPS_PREFIX="$dir/deps" -DQUORVEL_TESTS=OFF "${DAEMON_ONLY[@]}"
  sh tests/binary_check.sh "$dir/daemon/quorvel"
  # The whole road's agent tool needs libcurl, which has no musl build
  # here: the road runs the musl daemon with the build machine's zentix.
  step "musl: the agent tool for the whole road (build machine)"
  configure_and_build "$host" -DQUORVEL_TESTS=OFF -DQUORVEL_WITH_CRYPTO=OFF \
    -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=ON > /dev/null
  step "musl: end-to-end tests"
  mkdir -p "$dir/sandboxes"
  e2e "$dir/daemon/quorvel" "$host/tools/zentix" "$dir/sandboxes"
  describe musl "$dir/daemon/quorvel" strip
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 mips musl)
for target in "${targets[@]}"; do
  case "$target" in
    aarch64|mips|musl) "target_$target" ;;
    *) echo "targets: unknown target $target (aarch64, mips, musl)" >&2; exit 2 ;;
  esac
done
step "done"
printf '  %s\n' "${SUMMARY[@]}"
