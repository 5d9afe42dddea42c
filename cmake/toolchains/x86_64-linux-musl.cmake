# SPDX-License-Identifier: MIT
# x86_64 with musl, as OpenWrt's C library: Debian's musl-tools (musl-gcc)
# for C and for the link, clang for C++ with libc++'s headers used header
# only (libc++-14-dev). Our programs need no C++ runtime and are linked by
# the C driver, so no C++ library for musl is needed. json-c is built from
# source into QUORVEL_DEPS_PREFIX (cmake/targets/deps.sh). musl-tools has
# no GoogleTest: build with -DQUORVEL_TESTS=OFF and the daemon's pieces only
# (-DQUORVEL_WITH_CRYPTO=OFF -DQUORVEL_WITH_MATCH=OFF -DQUORVEL_WITH_HTTP=OFF).
#
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-linux-musl.cmake \
#         -DQUORVEL_DEPS_PREFIX=/path/to/prefix -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF ...

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-linux-musl)

set(QUORVEL_LIBCXX_INCLUDE /usr/lib/llvm-14/include/c++/v1 CACHE PATH "libc++'s headers")
set(QUORVEL_MUSL_INCLUDE /usr/include/x86_64-linux-musl CACHE PATH "musl's headers")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVEL_LIBCXX_INCLUDE QUORVEL_MUSL_INCLUDE)
# libc++'s headers first: they wrap the C library's with #include_next.
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -nostdlibinc -isystem ${QUORVEL_LIBCXX_INCLUDE} -isystem ${QUORVEL_MUSL_INCLUDE}")

include(${CMAKE_CURRENT_LIST_DIR}/deps_prefix.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/lib/x86_64-linux-musl ${QUORVEL_DEPS_PREFIX})
# json-c linked in: the programs need musl's libc.so only.
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/static_libraries.cmake)

# clang's own link for this target would take glibc's start files and
# libraries: every program is linked by musl-gcc, with musl's start files
# and C library and no C++ runtime (there is none for musl here). The C++
# compile flags (<FLAGS>, clang's) stay off this line.
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_C_COMPILER> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
