# SPDX-License-Identifier: MIT
# Big-endian 32-bit MIPS with musl (OpenWrt's ath79 and the like, mips_24kc):
# Debian's gcc-mips-linux-gnu for C and every link, musl and json-c built from
# Debian's source packages by cmake/targets/deps.sh (musl_cross.cmake says
# more).
#
#   cmake/targets/deps.sh cmake/toolchains/mips-linux-musl.cmake PREFIX CACHE musl=mips-linux-musl
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips-linux-musl.cmake \
#         -DQUORVEL_DEPS_PREFIX=PREFIX -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF \
#         -DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF

set(CMAKE_SYSTEM_PROCESSOR mips)
set(QUORVEL_MUSL_TARGET mips-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/musl_cross.cmake)

# Test programs run under qemu-user (qemu-user-static).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips-static)
