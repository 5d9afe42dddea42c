#!/usr/bin/env bash
# quorvel's one entry point for developers, on Debian 12 (as root).
#
#   ./dev.sh demo              set up, build, run the sandboxed demo
#   ./dev.sh test              set up, build, run every test
#   ./dev.sh test --sanitize   the same, built with AddressSanitizer and
#                              UndefinedBehaviorSanitizer (in build-asan/)
#   ./dev.sh build             set up and build only
#   ./dev.sh swap              the daemon built with the swap load
#                              (QUORVEL_IPSET_LOAD=swap, in build-swap/)
#                              and the tests that apply to it
#
# Set-up installs the Debian packages that are missing (apt-get update
# first) and configures the build with CMake.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake make g++ pkg-config
  libjson-c-dev libcurl4-openssl-dev libmbedtls-dev libpcre3-dev
  libgtest-dev libbenchmark-dev
  python3 openssl ipset dnsmasq-base iproute2 util-linux binutils gdb
)

setup() {
  local missing=() package
  for package in "${PACKAGES[@]}"; do
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
}

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$(nproc)"
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "dev.sh: $1 runs the daemon in namespaces of its own and needs root" >&2
    exit 1
  fi
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
  swap)
    need_root swap
    setup
    cmake -S . -B build-swap -DQUORVEL_IPSET_LOAD=swap -DQUORVEL_BENCH=OFF
    cmake --build build-swap -j "$(nproc)" --target quorvel sync_test
    build-swap/tests/sync_test
    ctest --test-dir build-swap --output-on-failure -R '^(e2e_test_swap|daemon_binary)$'
    ;;
  *)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
