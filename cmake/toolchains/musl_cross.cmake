# SPDX-License-Identifier: MIT
# Shared by the toolchain files of the MIPS targets with musl, as OpenWrt
# pairs them (mips-linux-musl.cmake, mipsel-linux-musl.cmake set
# QUORVEL_MUSL_TARGET first). Debian has no musl for these CPUs:
# cmake/targets/deps.sh builds musl from Debian's source package with
# Debian's C cross compiler for the CPU, then json-c against it, into
# QUORVEL_DEPS_PREFIX.
#
# C and every link go through Debian's cross gcc with musl's specs (musl's
# headers, start files and libc, the loader /lib/ld-musl-ARCH.so.1);
# C++ is compiled by clang with libc++'s headers used header only
# (libc++-14-dev). Our programs need no C++ runtime and are linked by the C
# driver, so no C++ library for musl is needed. No GoogleTest either: build
# with -DQUORVEL_TESTS=OFF and the daemon's pieces only
# (-DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF).
#
# -DQUORVEL_STATIC=ON links every program statically (musl and json-c
# inside); by default programs link musl's libc.so and json-c's shared
# library, as on a router.

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-musl$" "-gnu" quorvel_gnu_target "${QUORVEL_MUSL_TARGET}")

include(${CMAKE_CURRENT_LIST_DIR}/deps_prefix.cmake)
set(CMAKE_FIND_ROOT_PATH ${QUORVEL_DEPS_PREFIX})

option(QUORVEL_STATIC "Link programs statically (musl and json-c inside)" OFF)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVEL_STATIC)

set(quorvel_musl_specs "${QUORVEL_DEPS_PREFIX}/lib/musl-gcc.specs")
set(CMAKE_C_COMPILER ${quorvel_gnu_target}-gcc)
set(CMAKE_C_FLAGS_INIT "-specs=${quorvel_musl_specs}")

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${QUORVEL_MUSL_TARGET})
set(QUORVEL_LIBCXX_INCLUDE /usr/lib/llvm-14/include/c++/v1 CACHE PATH "libc++'s headers")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVEL_LIBCXX_INCLUDE)
# libc++'s headers first: they wrap the C library's with #include_next.
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -nostdlibinc -isystem ${QUORVEL_LIBCXX_INCLUDE} -isystem ${QUORVEL_DEPS_PREFIX}/include")

# clang's own link for this target would look for a musl sysroot and a C++
# runtime that are not there: C++ objects are linked by gcc with musl's
# specs, with no C++ runtime library. The C++ compile flags (<FLAGS>,
# clang's) stay off this line.
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_C_COMPILER> -specs=${quorvel_musl_specs} <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

# Programs are position dependent, as OpenWrt builds them for devices with
# little flash or memory (PKG_ASLR_PIE_NONE): position-independent MIPS
# code reaches every function and global through the GOT and sets up its
# pointer in every function, a sixth of the daemon's code. The shared
# libraries stay position independent.
string(APPEND CMAKE_C_FLAGS_INIT " -fno-pie")
string(APPEND CMAKE_CXX_FLAGS_INIT " -fno-pic")
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/musl_cross_project.cmake)
if(QUORVEL_STATIC)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
else()
  set(CMAKE_EXE_LINKER_FLAGS_INIT -no-pie)
endif()
# The data segment follows the code in the file and shares its last page,
# moved only in memory. Left to itself, the linker may start it on a page
# of its own, up to 4 KiB of padding in the file, more or less by chance
# of where the code ends (a static daemon's size was 4 KiB apart between
# the byte orders).
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-z,common-page-size=16")

# A router's loader finds the libraries in /lib and /usr/lib: no path of
# the build machine's prefix goes into the programs.
set(CMAKE_SKIP_RPATH ON)
