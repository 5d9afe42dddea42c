# SPDX-License-Identifier: MIT
# Big-endian 32-bit MIPS with glibc, linked statically: Debian's cross
# compiler (g++-mips-linux-gnu). Debian 12 has no mips libraries: json-c
# (and GoogleTest, for the tests) are built from source into a prefix of
# their own, given as QUORVEL_DEPS_PREFIX (cmake/targets/deps.sh).
#
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips-linux-gnu.cmake \
#         -DQUORVEL_DEPS_PREFIX=/path/to/prefix

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

include(${CMAKE_CURRENT_LIST_DIR}/deps_prefix.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/mips-linux-gnu ${QUORVEL_DEPS_PREFIX})

# A 64-bit time_t, as musl has on every router CPU: glibc's 32-bit default
# ends in 2038.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")

# Static programs: nothing to install beside the binary, and qemu-user
# runs them without a sysroot.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips-static)
