# SPDX-License-Identifier: MIT
# Shared by the toolchain files of targets without Debian binary packages:
# QUORVEL_DEPS_PREFIX names the prefix that holds the libraries built from
# source (json-c, GoogleTest). Only that prefix and the target's C library
# are searched: never the build machine's own libraries.

if(NOT QUORVEL_DEPS_PREFIX AND DEFINED ENV{QUORVEL_DEPS_PREFIX})
  set(QUORVEL_DEPS_PREFIX "$ENV{QUORVEL_DEPS_PREFIX}")
endif()
if(NOT QUORVEL_DEPS_PREFIX)
  message(FATAL_ERROR "set QUORVEL_DEPS_PREFIX to the prefix of json-c built for "
                      "${CMAKE_SYSTEM_PROCESSOR} (cmake/targets/deps.sh builds it)")
endif()
set(QUORVEL_DEPS_PREFIX "${QUORVEL_DEPS_PREFIX}" CACHE PATH "Prefix of the libraries built from source")
# try_compile projects read the toolchain file again: hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVEL_DEPS_PREFIX)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${QUORVEL_DEPS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
