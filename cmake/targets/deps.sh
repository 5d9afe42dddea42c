#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libraries that a target without Debian binary packages needs,
# the Debian way, from Debian's source packages (apt-get source, with a
# deb-src list of our own; /etc/apt is never touched):
#
#   musl=TARGET  musl for TARGET (mips-linux-musl, mipsel-linux-musl),
#                built first with Debian's C cross compiler for the same
#                CPU (mips-linux-gnu-gcc, ...), for a toolchain file that
#                compiles and links against it (its musl-gcc.specs)
#   json-c       always: static and shared libraries
#
# All are installed into PREFIX for the toolchain file's
# QUORVEL_DEPS_PREFIX.
#
#   cmake/targets/deps.sh TOOLCHAIN PREFIX SOURCE_CACHE [musl=TARGET]
#
# SOURCE_CACHE keeps the downloaded source packages and the private apt
# state; each library is built once per PREFIX (a stamp records its
# version and how it was built), so reruns cost nothing.
set -euo pipefail

toolchain=$(realpath -s "$1")
prefix=$(realpath -ms "$2")
cache=$(realpath -ms "$3")
shift 3
musl_target=''
for option in "$@"; do
  case "$option" in
    musl=*-linux-musl) musl_target=${option#musl=} ;;
    *) echo "deps: unknown option $option (musl=TARGET)" >&2; exit 2 ;;
  esac
done
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

# fetch_source NAME: unpacks Debian's source package NAME (upstream tarball
# with Debian's patches applied) into $cache/NAME once. The package lists
# are fetched once per cache, for every package.
fetch_source() {
  local name=$1
  [ -f "$cache/$name/.unpacked" ] && return 0
  if [ ! -f "$cache/apt/.updated" ]; then
    local codename
    # shellcheck disable=SC1091
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_mirror) $codename main" \
      > "$cache/apt/sources.list"
    private_apt update
    touch "$cache/apt/.updated"
  fi
  mkdir -p "$cache/download"
  (cd "$cache/download" && private_apt source --download-only "$name")
  rm -rf "${cache:?}/${name:?}"
  # apt-get has checked the files against the signed archive index; the
  # maintainer's signature on the .dsc would need debian-keyring besides.
  local dsc
  for dsc in "$cache/download/${name}"_*.dsc; do break; done
  dpkg-source --no-check -x "$dsc" "$cache/$name"
  touch "$cache/$name/.unpacked"
}

# source_version NAME: the Debian version of an unpacked source package.
source_version() {
  dpkg-parsechangelog -l "$cache/$1/debian/changelog" -S Version
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

# build_musl TARGET: musl's own build with Debian's C cross compiler for
# the CPU, out of tree. Programs linked against it name the loader where a
# router has it (/lib/ld-musl-ARCH.so.1); PREFIX/lib holds it besides, as
# a link to libc.so, for a sandbox that lays PREFIX out as a router's /lib.
#
# libc.a is made of objects that are not position independent (libc.so's
# are): musl's configure puts libc.so's objects in libc.a as well when the
# compiler's code is position independent by default, as MIPS code always
# counts, and those cost a static program 3 KiB more.
build_musl() {
  local target=$1 version
  version=$(source_version musl)
  local stamp="$prefix/.built-musl-$target-$version-static-nopic"
  [ -f "$stamp" ] && { echo "deps: musl $version is built"; return 0; }
  echo "deps: building musl $version for $target"
  local build_dir="$prefix.build/musl" stage="$prefix.build/musl-stage"
  rm -rf "$build_dir" "$stage"
  mkdir -p "$build_dir"
  (cd "$build_dir" && "$cache/musl/configure" --target="$target" \
      CROSS_COMPILE="${target%-musl}-gnu-" CFLAGS="-Os -fno-pie" \
      --prefix="$prefix" --syslibdir=/lib --disable-gcc-wrapper) \
    > "$build_dir.log" 2>&1 || { cat "$build_dir.log" >&2; return 1; }
  # shellcheck disable=SC2016 # make's $(LOBJS), matched as it stands
  sed -i '/^AOBJS = \$(LOBJS)$/d' "$build_dir/config.mak"
  make -C "$build_dir" -j "$jobs" >> "$build_dir.log" 2>&1 || { tail -n 40 "$build_dir.log" >&2; return 1; }
  # Staged, so that the loader's link lands in the stage's /lib and not
  # in the build machine's.
  make -C "$build_dir" install DESTDIR="$stage" >> "$build_dir.log" 2>&1 \
    || { tail -n 40 "$build_dir.log" >&2; return 1; }
  mkdir -p "$prefix"
  cp -a "$stage$prefix/." "$prefix/"
  local loader
  for loader in "$stage"/lib/ld-musl-*.so.1; do
    ln -sfn libc.so "$prefix/lib/${loader##*/}"
  done
  # The compiler driver's options for musl's headers, start files and
  # libraries, as musl-gcc uses them (specs instead of a wrapper script).
  sh "$cache/musl/tools/musl-gcc.specs.sh" "$prefix/include" "$prefix/lib" \
    "/lib/$(cd "$stage/lib" && echo ld-musl-*.so.1)" > "$prefix/lib/musl-gcc.specs"
  rm -rf "$stage"
  touch "$stamp"
}

mkdir -p "$prefix" "$cache"
# Targets built at the same time share the source cache: one fetches at a
# time, and the others find the packages unpacked.
exec {fetch_lock}> "$cache/.fetch.lock"
flock "$fetch_lock"
[ -z "$musl_target" ] || fetch_source musl
fetch_source json-c
exec {fetch_lock}>&-

[ -z "$musl_target" ] || build_musl "$musl_target"
# Shared and static: the dynamic programs link json-c's shared library, as
# routers do, the static ones its archive.
build_cmake json-c "$cache/json-c" "$(source_version json-c)-shared" \
  -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=ON -DBUILD_TESTING=OFF -DBUILD_APPS=OFF \
  -DDISABLE_WERROR=ON -DDISABLE_EXTRA_LIBS=ON -DDISABLE_THREAD_LOCAL_STORAGE=ON
