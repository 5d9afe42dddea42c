#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libraries that a target without Debian binary packages needs,
# the Debian way: json-c from Debian's source package (apt-get source, with
# a deb-src list of our own; /etc/apt is never touched) and, with "gtest",
# GoogleTest from libgtest-dev's /usr/src/googletest. Static libraries,
# installed into PREFIX for the toolchain file's QUORVEL_DEPS_PREFIX.
#
#   cmake/targets/deps.sh TOOLCHAIN PREFIX SOURCE_CACHE [gtest]
#
# SOURCE_CACHE keeps the downloaded source package and the private apt
# state; each library is built once per PREFIX (a stamp records its
# version), so reruns cost nothing.
set -euo pipefail

toolchain=$(realpath "$1")
prefix=$(realpath -m "$2")
cache=$(realpath -m "$3")
with_gtest=${4:-}
jobs=${QUORVEL_JOBS:-2}

# The Debian mirror of the machine's own apt sources (deb822 or one-line).
debian_mirror() {
  local uri
  uri=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*debian\)\/\{0,1\}$/\1/p' \
          /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
  [ -n "$uri" ] || uri=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\{0,1\}\([^[:space:]]*debian\)\/\{0,1\}[[:space:]].*/\2/p' \
          /etc/apt/sources.list 2>/dev/null | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

# apt-get with a private source list, lists and caches under $cache/apt.
private_apt() {
  apt-get -q \
    -o Dir::Etc::SourceList="$cache/apt/sources.list" \
    -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$cache/apt/lists" \
    -o Dir::Cache="$cache/apt/cache" \
    -o APT::Sandbox::User=root \
    "$@"
}

# Unpacks json-c's Debian source package (upstream tarball with Debian's
# patches applied) into $cache/json-c once.
fetch_json_c() {
  [ -f "$cache/json-c/.unpacked" ] && return 0
  local codename
  # shellcheck disable=SC1091
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial" "$cache/download"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_mirror) $codename main" \
    > "$cache/apt/sources.list"
  private_apt update
  (cd "$cache/download" && private_apt source --download-only json-c)
  rm -rf "$cache/json-c"
  # apt-get has checked the files against the signed archive index; the
  # maintainer's signature on the .dsc would need debian-keyring besides.
  local dsc
  for dsc in "$cache"/download/json-c_*.dsc; do break; done
  dpkg-source --no-check -x "$dsc" "$cache/json-c"
  touch "$cache/json-c/.unpacked"
}

# build_cmake NAME SOURCE VERSION [cmake options]: configure, build and
# install SOURCE into $prefix unless this version is there already.
build_cmake() {
  local name=$1 source=$2 version=$3
  shift 3
  local stamp="$prefix/.built-$name-$version"
  [ -f "$stamp" ] && { echo "deps: $name $version is built"; return 0; }
  echo "deps: building $name $version for $(basename "$toolchain" .cmake)"
  local build_dir="$prefix.build/$name"
  rm -rf "$build_dir"
  mkdir -p "$build_dir"
  cmake -S "$source" -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQUORVEL_DEPS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_SHARED_LIBS=OFF \
    "$@" > "$build_dir.log" 2>&1 || { cat "$build_dir.log" >&2; return 1; }
  cmake --build "$build_dir" -j "$jobs" >> "$build_dir.log" 2>&1 || { tail -n 40 "$build_dir.log" >&2; return 1; }
  cmake --install "$build_dir" >> "$build_dir.log" 2>&1
  pc_files_relocate
  touch "$stamp"
}

# The installed pkg-config files name their prefix by where they lie: a
# prefix written out in full would be split at any blank in its path, and
# pkg-config quotes the one it derives itself.
# shellcheck disable=SC2016 # ${pcfiledir} is for pkg-config, not the shell
pc_files_relocate() {
  local pc
  for pc in "$prefix"/lib/pkgconfig/*.pc; do
    [ -f "$pc" ] || continue
    sed -i -e '/^prefix=/d' -e 's|^exec_prefix=.*|exec_prefix=${pcfiledir}/../..|' \
      -e 's|^libdir=.*|libdir=${pcfiledir}/..|' \
      -e 's|^includedir=.*|includedir=${pcfiledir}/../../include|' "$pc"
    sed -i '1i prefix=${pcfiledir}/../..' "$pc"
  done
}

mkdir -p "$prefix"
fetch_json_c
json_c_version=$(dpkg-parsechangelog -l "$cache/json-c/debian/changelog" -S Version)
build_cmake json-c "$cache/json-c" "$json_c_version" \
  -DBUILD_STATIC_LIBS=ON -DBUILD_TESTING=OFF -DBUILD_APPS=OFF \
  -DDISABLE_WERROR=ON -DDISABLE_EXTRA_LIBS=ON -DDISABLE_THREAD_LOCAL_STORAGE=ON

if [ "$with_gtest" = gtest ]; then
  gtest_version=$(dpkg-query -W -f='${Version}\n' libgtest-dev | head -n 1)
  build_cmake googletest /usr/src/googletest "$gtest_version" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
fi
