# SPDX-License-Identifier: MIT
# Run after project() by the toolchain files whose programs link the
# libraries built from source statically (CMAKE_PROJECT_INCLUDE, or from
# musl_cross_project.cmake): CMake's platform set-up, which comes after
# the toolchain file, lists shared libraries first, and the prefix holds
# both.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
