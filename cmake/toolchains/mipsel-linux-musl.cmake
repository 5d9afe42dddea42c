# SPDX-License-Identifier: MIT
# Little-endian 32-bit MIPS with musl (OpenWrt's ramips, the MT7621 family, mipsel_24kc):
# Debian's gcc-mipsel-linux-gnu for C and every link, musl and json-c built from
# Debian's source packages by cmake/targets/deps.sh (musl_cross.cmake says
# more).
#
#   cmake/targets/deps.sh cmake/toolchains/mipsel-linux-musl.cmake PREFIX CACHE musl=mipsel-linux-musl
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel-linux-musl.cmake \
#         -DQUORVEL_DEPS_PREFIX=PREFIX -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF \
#         -DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF

set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(QUORVEL_MUSL_TARGET mipsel-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/musl_cross.cmake)

# Test programs run under qemu-user (qemu-user-static).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel-static)
