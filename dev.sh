#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# quorvel's one entry point for developers, on Debian 12 (as root).
#
#   ./dev.sh demo              set up, build, run the sandboxed demo
#   ./dev.sh test              set up, build, run every test
#   ./dev.sh test --sanitize   the same, built with AddressSanitizer and
#                              UndefinedBehaviorSanitizer (in build-asan/)
#   ./dev.sh build             set up and build only
#   ./dev.sh matrix            other compilers, build types and dependency
#                              sets: GCC Release, clang Debug, classic PCRE, the
#                              daemon alone, libuci from a staging prefix
#                              (tests/build_matrix.sh; build-matrix-*/)
#   ./dev.sh swap              the daemon built with the swap load
#                              (QUORVEL_IPSET_LOAD=swap, in build-swap/)
#                              and the tests that apply to it
#   ./dev.sh nft               the daemon built with the nftables load
#                              (QUORVEL_IPSET_LOAD=nft, in build-nft/)
#                              and the tests that apply to it
#   ./dev.sh fuzz [--merge]    build the fuzz targets with clang and libFuzzer
#                              (in build-fuzz/) and run each for a short,
#                              bounded time (QUORVEL_FUZZ_SECONDS, default
#                              15) with AddressSanitizer and
#                              UndefinedBehaviorSanitizer; --merge adds the
#                              new inputs that widen coverage to the kept
#                              corpus in tests/fuzz/corpus/
#   ./dev.sh package           install into staging folders, build the
#                              consumer example against them, shellcheck,
#                              the OpenWrt package's checks (build-package/)
#   ./dev.sh targets [NAME...] the router targets (aarch64, mips, mipsel,
#                              musl) built, held to their size budgets and
#                              tested under qemu-user
#
# Set-up installs the Debian packages that are missing (apt-get update
# first) and configures the build with CMake.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake make g++ pkg-config
  libjson-c-dev libcurl4-openssl-dev libmbedtls-dev libpcre2-dev libpcre3-dev
  libgtest-dev libbenchmark-dev
  python3 openssl ipset dnsmasq-base iproute2 util-linux binutils gdb tzdata
  busybox nftables ccache
)

# The matrix's second compiler.
MATRIX_PACKAGES=(clang)

# ./dev.sh targets: cross compilers (C only for MIPS, whose C++ clang
# compiles), qemu-user, musl, libc++'s headers, dpkg-dev for apt-get
# source, and Debian's arm64 multiarch libraries.
TARGET_PACKAGES=(
  g++-aarch64-linux-gnu gcc-mips-linux-gnu gcc-mipsel-linux-gnu qemu-user-static
  musl-tools clang libc++-14-dev dpkg-dev
  libjson-c-dev:arm64 libcurl4-openssl-dev:arm64 libmbedtls-dev:arm64
  libpcre3-dev:arm64 libgtest-dev:arm64
)

# setup [extra package...]: installs what is missing of PACKAGES and extras.
setup() {
  local missing=() package
  for package in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "dev.sh: missing packages (${missing[*]}); run as root to install them" >&2
      exit 1
    fi
    echo "dev.sh: installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  compiler_cache
}

# The builds share a compiler cache in the checkout (build-ccache/, paths
# taken relative to the checkout): the same source compiled the same way in
# another build folder (the daemon of each load mode, the packaged builds,
# a static program beside its dynamic twin) is compiled once. A launcher
# or cache of the caller's own is kept.
compiler_cache() {
  command -v ccache >/dev/null || return 0
  export CCACHE_DIR=${CCACHE_DIR:-$PWD/build-ccache} CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
}

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DQUORVEL_WERROR=ON "$@"
  cmake --build "$dir" -j "$(nproc)"
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "dev.sh: $1 runs the daemon in namespaces of its own and needs root" >&2
    exit 1
  fi
}

# fuzz_one TARGET DIR SECONDS SCRATCH MERGE: one fuzz target for its time.
fuzz_one() {
  local target=$1 dir=$2 seconds=$3 scratch=$4 merge=$5
  # New inputs go to a scratch folder; the kept corpus is only read.
  mkdir -p "$dir/found/$target"
  if TMPDIR="$scratch" "$dir/tests/fuzz/${target}_fuzzer" "$dir/found/$target" "tests/fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/crash-$target-" >/dev/null 2>"$dir/$target.log"; then
    echo "fuzz $target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/$target.log") runs in ${seconds}s, no finding"
  else
    echo "fuzz $target: FAILED (input kept as $dir/crash-$target-*)" >&2
    tail -n 40 "$dir/$target.log" >&2
    return 1
  fi
  if [ "$merge" = --merge ]; then
    "$dir/tests/fuzz/${target}_fuzzer" -merge=1 "tests/fuzz/corpus/$target" "$dir/found/$target" \
      >/dev/null 2>>"$dir/$target.log"
  fi
}

# Every fuzz target (one folder of kept inputs each) for a bounded time,
# as many at once as there are cores: each is one process.
fuzz() {
  local merge=${1:-} seconds=${QUORVEL_FUZZ_SECONDS:-15} dir=build-fuzz target failed=0
  local targets=() running=0
  setup clang libclang-rt-14-dev
  for target in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$target")")
  done
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DQUORVEL_WERROR=ON -DQUORVEL_FUZZ=ON -DQUORVEL_BENCH=OFF
  cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"
  # Files that the targets write go to memory where there is a /dev/shm.
  local scratch=${TMPDIR:-/tmp}
  [ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
  for target in "${targets[@]}"; do
    if [ "$running" -ge "$(nproc)" ]; then
      wait -n || failed=1
      running=$((running - 1))
    fi
    fuzz_one "$target" "$dir" "$seconds" "$scratch" "$merge" &
    running=$((running + 1))
  done
  while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
  done
  return "$failed"
}

case "${1:-}" in
  demo)
    need_root demo
    setup
    build build
    exec python3 examples/demo.py build
    ;;
  test)
    need_root test
    setup
    if [ "${2:-}" = "--sanitize" ]; then
      dir=build-asan
      build "$dir" -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BENCH=OFF
    else
      dir=build
      build "$dir"
    fi
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
    ;;
  build)
    setup
    build build
    ;;
  matrix)
    need_root matrix
    setup "${MATRIX_PACKAGES[@]}"
    exec tests/build_matrix.sh
    ;;
  swap)
    need_root swap
    setup
    cmake -S . -B build-swap -DQUORVEL_WERROR=ON -DQUORVEL_IPSET_LOAD=swap -DQUORVEL_BENCH=OFF
    cmake --build build-swap -j "$(nproc)" --target quorvel sync_test
    build-swap/tests/sync_test
    ctest --test-dir build-swap --output-on-failure -R '^(e2e_test_swap|daemon_binary)$'
    ;;
  nft)
    need_root nft
    setup
    cmake -S . -B build-nft -DQUORVEL_WERROR=ON -DQUORVEL_IPSET_LOAD=nft -DQUORVEL_BENCH=OFF
    cmake --build build-nft -j "$(nproc)" --target quorvel sync_test nft_test
    build-nft/tests/sync_test
    build-nft/tests/nft_test
    ctest --test-dir build-nft --output-on-failure -R '^(e2e_test_nft|daemon_binary)$'
    ;;
  fuzz)
    fuzz "${2:-}"
    ;;
  package)
    need_root package
    setup shellcheck
    exec bash tests/package_check.sh
    ;;
  targets)
    need_root targets
    dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
    setup "${TARGET_PACKAGES[@]}"
    exec cmake/targets/run.sh "${@:2}"
    ;;
  *)
    sed -n '2,35p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
