# SPDX-License-Identifier: MIT
# 64-bit ARM with glibc: Debian's cross compiler (g++-aarch64-linux-gnu)
# and Debian's multiarch libraries (dpkg --add-architecture arm64, then
# libjson-c-dev:arm64 and friends).
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Headers and libraries from the arm64 multiarch folders only; programs
# (pkg-config, python3) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Routers use 4 KiB pages; the linker's default of 64 KiB pads each
# segment of a small program to 64 KiB in the file.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=4096")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=4096")

# Test programs run under qemu-user (qemu-user-static), with the multiarch
# loader and libraries of the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
