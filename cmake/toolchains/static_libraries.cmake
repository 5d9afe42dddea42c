# SPDX-License-Identifier: MIT
# Run after project() (CMAKE_PROJECT_INCLUDE) by the toolchain files whose
# programs link the libraries built from source statically: CMake's
# platform set-up, which comes after the toolchain file, lists shared
# libraries first, and the prefix holds both.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
