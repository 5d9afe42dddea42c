#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The package checks (./dev.sh package runs them, as root, after set-up):
#
# 1. shellcheck over the OpenWrt package's shell files;
# 2. three builds in build-package/ (the daemon alone, the library static,
#    the library shared), each installed into a staging folder (DESTDIR,
#    prefix /usr) together with the files that the OpenWrt package adds
#    (init script, hooks);
# 3. the consumer example built against each library's staging folder
#    twice, through the CMake package and through pkg-config, and run;
# 4. the shared libraries: soname, and no C++ runtime underneath, also when
#    linked once more with --no-as-needed (as by a toolchain that does not
#    pass --as-needed by default);
# 5. the feed's test script against the staged packages, and the schedule's
#    tests with the staged daemon, both in the sandbox.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$top/build-package
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

step() { printf '\n== %s\n' "$*"; }

step "shellcheck"
shellcheck openwrt/quorvel/test.sh openwrt/quorvel/files/quorvel.firewall \
  openwrt/quorvel/files/quorvel.hotplug openwrt/quorvel/files/quorvel.defaults tests/package_check.sh
shellcheck -s sh openwrt/quorvel/files/quorvel-nft.uci-defaults
shellcheck -s sh openwrt/quorvel/files/quorvel.init

# build_and_stage NAME CMAKE_OPTION...: builds into $out/NAME and installs
# into $out/NAME/stage as the OpenWrt package lays it out.
build_and_stage() {
  local name=$1 dir=$out/$1
  shift
  step "build ($name)"
  cmake -S . -B "$dir" -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF -DQUORVEL_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  rm -rf "$dir/stage"
  DESTDIR=$dir/stage cmake --install "$dir" >/dev/null
  install -D -m 755 openwrt/quorvel/files/quorvel.init "$dir/stage/etc/init.d/quorvel"
  install -D -m 755 openwrt/quorvel/files/quorvel.firewall "$dir/stage/usr/share/quorvel/firewall.include"
  install -D -m 644 openwrt/quorvel/files/quorvel.hotplug "$dir/stage/etc/hotplug.d/iface/95-quorvel"
}

# consume NAME: the consumer example against $out/NAME/stage, both ways.
consume() {
  local dir=$out/$1 usr=$out/$1/stage/usr
  step "consumer through CMake ($1)"
  rm -rf "$dir/consumer-cmake" "$dir/consumer-pc"
  cmake -S examples/consumer -B "$dir/consumer-cmake" -DCMAKE_PREFIX_PATH="$usr" >/dev/null
  cmake --build "$dir/consumer-cmake"
  LD_LIBRARY_PATH=$usr/lib "$dir/consumer-cmake/consumer"
  step "consumer through pkg-config ($1)"
  mkdir -p "$dir/consumer-pc"
  # make takes no blanks in a prerequisite's path: the example is built
  # where it is copied to, as a consumer of the installed tree would.
  cp examples/consumer/main.cc examples/consumer/Makefile "$dir/consumer-pc/"
  PKG_CONFIG_PATH=$usr/lib/pkgconfig make -C "$dir/consumer-pc"
  LD_LIBRARY_PATH=$usr/lib "$dir/consumer-pc/consumer"
}

# The OpenWrt package's two builds, as near as Debian allows: the daemon
# alone (with our UCI layer: Debian has no libuci), and the support library
# shared over PCRE2 with the tools. Between them, the default static build
# that a consumer gets from a plain install.
build_and_stage daemon -DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF
step "the daemon as packaged"
sh tests/binary_check.sh "$out/daemon/stage/usr/sbin/quorvel"
build_and_stage static
consume static
build_and_stage shared -DBUILD_SHARED_LIBS=ON -DQUORVEL_UCI=OWN -DQUORVEL_REGEX=PCRE2 \
  -DQUORVEL_WITH_CRYPTO=ON -DQUORVEL_WITH_MATCH=ON -DQUORVEL_WITH_HTTP=ON
consume shared

step "shared libraries"
version=$(sed -n 's/^project(quorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
soversion=${version%.*}
package_version=$(sed -n 's/^PKG_VERSION:=//p' openwrt/quorvel/Makefile)
[ "$package_version" = "$version" ] || {
  echo "openwrt/quorvel/Makefile has PKG_VERSION $package_version, the project $version" >&2
  exit 1
}
for piece in core files url dnsmasq crypto match http; do
  library=$out/shared/stage/usr/lib/libquorvel_$piece.so.$version
  [ -f "$library" ] || { echo "missing: $library" >&2; exit 1; }
  soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "libquorvel_$piece.so.$soversion" ] || {
    echo "$library: soname '$soname', not libquorvel_$piece.so.$soversion" >&2
    exit 1
  }
  if readelf -d "$library" | grep -q 'NEEDED.*libstdc++'; then
    echo "$library needs the C++ runtime" >&2
    exit 1
  fi
  echo "$soname"
done
# A toolchain without --as-needed keeps every library that the driver puts
# on the line: -Wl,--no-as-needed after everything else (the standard
# libraries come last, just before the driver's own) makes this one so.
step "shared libraries linked with --no-as-needed"
pieces=(core files url dnsmasq crypto match http)
cmake --no-warn-unused-cli -S . -B "$out/no-as-needed" -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF -DQUORVEL_WERROR=ON \
  -DBUILD_SHARED_LIBS=ON -DQUORVEL_UCI=OWN -DQUORVEL_REGEX=PCRE2 -DQUORVEL_WITH_CRYPTO=ON \
  -DQUORVEL_WITH_MATCH=ON -DQUORVEL_WITH_HTTP=ON \
  -DCMAKE_C_STANDARD_LIBRARIES=-Wl,--no-as-needed -DCMAKE_CXX_STANDARD_LIBRARIES=-Wl,--no-as-needed \
  >/dev/null
cmake --build "$out/no-as-needed" -j "$jobs" --target "${pieces[@]/#/quorvel_}"
for piece in "${pieces[@]}"; do
  library=$(find "$out/no-as-needed/lib" -name "libquorvel_$piece.so.$version")
  needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  if grep -Eq 'libstdc\+\+|libgcc_s' <<<"$needed"; then
    echo "libquorvel_$piece.so needs the C++ runtime: $needed" >&2
    exit 1
  fi
  echo "libquorvel_$piece.so: $needed"
done

# The consumer of shared pieces loads them, not copies linked into it.
readelf -d "$out/shared/consumer-pc/consumer" | grep -q 'NEEDED.*libquorvel_match.so' || {
  echo "the pkg-config consumer of the shared build does not load libquorvel_match" >&2
  exit 1
}

step "feed test script and schedule, in the sandbox"
cd tests/e2e
export QUORVEL_SANDBOX_DIR=$out/sandboxes PYTHONDONTWRITEBYTECODE=1
mkdir -p "$QUORVEL_SANDBOX_DIR"
QUORVEL_STAGE=$out/daemon/stage QUORVEL_FEED_PACKAGES=quorvel python3 -m unittest feed_check
QUORVEL_STAGE=$out/shared/stage \
  QUORVEL_FEED_PACKAGES="libquorvel libquorvel-dnsmasq libquorvel-crypto libquorvel-match libquorvel-http zentix quorvel-url-selftest" \
  python3 -m unittest feed_check
QUORVEL_BIN=$out/daemon/stage/usr/sbin/quorvel QUORVEL_SCHEDULE=$out/daemon/stage/usr/sbin/quorvel-schedule \
  python3 -m unittest test_schedule
