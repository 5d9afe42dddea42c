#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The builds that packagers and router SDKs make, beside dev.sh's default
# one: run by `./dev.sh matrix` (after it has installed clang).
# Every build treats warnings as errors and lives in a build-matrix-*
# directory of its own.
#
#   gcc-release   GCC, Release, everything (tests, benchmarks); unit tests
#   clang-debug   clang, Debug, everything; unit tests
#   pcre          match rules over classic PCRE (the default build takes
#                 PCRE2); the match, allocation and decoder-corpus tests
#   daemon-only   crypto, match, HTTP, tests and benchmarks off, configured
#                 with json-c as the only pkg-config module in sight; the
#                 daemon's dependency and size check
#   uci-staging   libuci.so needing libubox.so in a prefix the loader does
#                 not search: configure and build with the tests, without
#                 LD_LIBRARY_PATH; then the identity tests with it
#   mbedtls3      mbedTLS 3.x's crypto library, built from Debian 13's
#                 source package (a private deb-src list, /etc/apt
#                 untouched); the payload, match and allocation tests
#
# `tests/build_matrix.sh NAME...` runs only the builds named.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

say() { printf '\n== matrix: %s\n' "$*"; }

configure() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DQUORVEL_WERROR=ON "$@" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; return 1; }
  grep -E '^-- (quorvel|UCI):' "$dir/configure.log" || true
}

# unit_tests DIR [ctest selection]: the unit tests, the link check and the
# fuzz corpus replays of a whole build; a build of some targets only names
# the tests of those (unit tests of programs not built are left out).
unit_tests() {
  local dir=$1
  shift
  [ $# -gt 0 ] || set -- -L 'unit|link|fuzz'
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

gcc_release() {
  say "GCC, Release, with tests and benchmarks"
  CC=gcc CXX=g++ configure build-matrix-gcc-release -DCMAKE_BUILD_TYPE=Release
  cmake --build build-matrix-gcc-release -j "$jobs"
  unit_tests build-matrix-gcc-release
}

clang_debug() {
  say "clang, Debug, with tests and benchmarks"
  CC=clang CXX=clang++ configure build-matrix-clang-debug -DCMAKE_BUILD_TYPE=Debug
  cmake --build build-matrix-clang-debug -j "$jobs"
  unit_tests build-matrix-clang-debug
}

pcre_classic() {
  say "match rules over classic PCRE"
  local dir=build-matrix-pcre
  configure "$dir" -DQUORVEL_REGEX=PCRE -DQUORVEL_WITH_MATCH=ON -DQUORVEL_WITH_HTTP=OFF \
    -DQUORVEL_BENCH=OFF
  cmake --build "$dir" -j "$jobs" --target support_lib_test support_alloc_test codec_replay
  # The programs must really use classic PCRE, not PCRE2.
  local needed
  needed=$(readelf -d "$dir/tests/support_lib_test" | grep NEEDED)
  grep -q 'libpcre\.so' <<<"$needed" || { echo "support_lib_test does not use PCRE" >&2; return 1; }
  if grep -q 'libpcre2-8' <<<"$needed"; then
    echo "support_lib_test links PCRE2" >&2
    return 1
  fi
  unit_tests "$dir" -L unit
  unit_tests "$dir" -R '^fuzz_codec_corpus$'
}

daemon_only() {
  say "daemon only, json-c the only dependency in sight"
  local dir=build-matrix-daemon-only pc
  mkdir -p "$dir/pkgconfig"
  # pkg-config sees json-c and nothing else: a look-up of libcurl, libpcre
  # or libpcre2-8 would fail the configure with a missing module.
  pc=$(pkg-config --variable=pcfiledir json-c)/json-c.pc
  cp "$pc" "$dir/pkgconfig/"
  PKG_CONFIG_LIBDIR=$root/$dir/pkgconfig PKG_CONFIG_PATH='' configure "$dir" \
    -DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF \
    -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_CURL=ON -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON
  # Nothing of mbedTLS, PCRE, libcurl or GoogleTest was even looked for.
  if grep -E '^(MBEDCRYPTO_LIBRARY|MBEDTLS_INCLUDE_DIR|PCRE2?_|CURL_|GTest_DIR|benchmark_DIR|__pkg_config_checked_(CURL|PCRE|PCRE2))' \
    "$dir/CMakeCache.txt"; then
    echo "the daemon-only configure looked for a dependency it does not need" >&2
    return 1
  fi
  cmake --build "$dir" -j "$jobs"
  [ ! -e "$dir/tools/zentix" ] || { echo "zentix was built without HTTP" >&2; return 1; }
  sh tests/binary_check.sh "$dir/daemon/quorvel" OFF
}

uci_staging() {
  say "libuci and libubox from a staging prefix"
  local dir=build-matrix-uci-staging
  local prefix=$root/$dir/prefix
  rm -rf "$prefix"
  mkdir -p "$dir"
  cmake -S tests/uci_staging -B "$dir/staged" >"$dir/staged.log" 2>&1 || { cat "$dir/staged.log"; return 1; }
  cmake --build "$dir/staged" -j "$jobs" >>"$dir/staged.log" 2>&1 || { cat "$dir/staged.log"; return 1; }
  cmake --install "$dir/staged" --prefix "$prefix" >>"$dir/staged.log"
  (
    unset LD_LIBRARY_PATH
    configure "$dir/quorvel" -DQUORVEL_UCI=SYSTEM -DUCI_INCLUDE_DIR="$prefix/include" \
      -DUCI_LIBRARY="$prefix/lib/libuci.so" -DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF \
      -DQUORVEL_WITH_HTTP=OFF -DQUORVEL_BENCH=OFF
    cmake --build "$dir/quorvel" -j "$jobs" --target quorvel identity_test uci_replay
    # The loader really does not find the prefix on its own.
    if "$dir/quorvel/tests/identity_test" --gtest_list_tests >/dev/null 2>&1; then
      echo "the staged libubox.so is on the loader's path: the check proves nothing" >&2
      exit 1
    fi
  )
  LD_LIBRARY_PATH=$prefix/lib unit_tests "$dir/quorvel" -L unit
  LD_LIBRARY_PATH=$prefix/lib unit_tests "$dir/quorvel" -R '^(fuzz_uci_corpus|e2e_test_identity)$'
}

mbedtls3() {
  say "mbedTLS 3 from Debian 13's source package"
  local dir=build-matrix-mbedtls3
  local apt=$root/$dir/apt source
  mkdir -p "$apt/lists/partial" "$dir/source"
  # Debian's mirror as the host's apt uses it, for trixie's sources only.
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
    "http://deb.debian.org/debian trixie main" >"$apt/sources.list"
  local options=(-q -o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt/lists" -o Dir::Cache="$apt/cache")
  if ! compgen -G "$dir/source/mbedtls_3.*.orig.tar.*" >/dev/null; then
    apt-get "${options[@]}" update >"$dir/apt.log" 2>&1 || { cat "$dir/apt.log"; return 1; }
    (cd "$dir/source" && apt-get "${options[@]}" source --download-only mbedtls) \
      >>"$dir/apt.log" 2>&1 || { cat "$dir/apt.log"; return 1; }
  fi
  source=$(compgen -G "$dir/source/mbedtls_3.*.orig.tar.*" | head -n 1)
  [ -n "$source" ] || { echo "no mbedTLS 3 source in Debian 13" >&2; return 1; }
  rm -rf "$dir/mbedtls"
  mkdir -p "$dir/mbedtls"
  tar -xf "$source" -C "$dir/mbedtls" --strip-components=1
  cmake -S "$dir/mbedtls" -B "$dir/mbedtls/build" -DCMAKE_BUILD_TYPE=Release \
    -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DUSE_SHARED_MBEDTLS_LIBRARY=OFF \
    >"$dir/mbedtls.log" 2>&1 || { cat "$dir/mbedtls.log"; return 1; }
  cmake --build "$dir/mbedtls/build" -j "$jobs" --target mbedcrypto >>"$dir/mbedtls.log" 2>&1 ||
    { cat "$dir/mbedtls.log"; return 1; }
  grep -h 'define MBEDTLS_VERSION_STRING ' "$dir/mbedtls/include/mbedtls/build_info.h"

  configure "$dir/quorvel" -DQUORVEL_WITH_CRYPTO=ON -DQUORVEL_WITH_MATCH=ON \
    -DQUORVEL_WITH_HTTP=OFF -DQUORVEL_BENCH=OFF \
    -DMBEDTLS_INCLUDE_DIR="$root/$dir/mbedtls/include" \
    -DMBEDCRYPTO_LIBRARY="$root/$dir/mbedtls/build/library/libmbedcrypto.a"
  cmake --build "$dir/quorvel" -j "$jobs" --target support_lib_test support_alloc_test codec_replay
  unit_tests "$dir/quorvel" -L unit
  unit_tests "$dir/quorvel" -R '^fuzz_codec_corpus$'
}

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(gcc-release clang-debug pcre daemon-only uci-staging mbedtls3)
start=$SECONDS
for name in "${builds[@]}"; do
  case "$name" in
    gcc-release) gcc_release ;;
    clang-debug) clang_debug ;;
    pcre) pcre_classic ;;
    daemon-only) daemon_only ;;
    uci-staging) uci_staging ;;
    mbedtls3) mbedtls3 ;;
    *) echo "build_matrix.sh: no build named $name" >&2; exit 2 ;;
  esac
done
say "${builds[*]}: passed in $((SECONDS - start)) s"
