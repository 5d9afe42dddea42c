# SPDX-License-Identifier: MIT
# Compile flags shared by every target of the project.
#
# quorvel_runtime_flags(target): the daemon, the support library and the
# tools around the daemon are C++ used as a better C: no exceptions, no RTTI,
# and nothing from the C++ runtime library at run time.

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

option(QUORVEL_WERROR "Treat compiler warnings as errors (dev.sh and CI turn it on)" OFF)

# Every GCC and clang knows these.
set(QUORVEL_WARNINGS -Wall -Wextra -Wpedantic)
# These are passed only where the compiler knows them: an older or a
# packager's cross compiler must not fail on an unknown option.
foreach(flag
    -Wshadow -Wformat=2
    -Wcast-qual -Wcast-align -Wundef -Wvla -Wnull-dereference
    -Wmissing-declarations -Wredundant-decls -Wdouble-promotion
    -Wformat-overflow=2 -Wformat-truncation=1)
  string(MAKE_C_IDENTIFIER "QUORVEL_HAS${flag}" known)
  check_cxx_compiler_flag(${flag} ${known})
  if(${known})
    list(APPEND QUORVEL_WARNINGS ${flag})
  endif()
endforeach()
if(QUORVEL_WERROR)
  list(APPEND QUORVEL_WARNINGS -Werror)
endif()

add_compile_options(${QUORVEL_WARNINGS})

if(QUORVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -fno-sanitize=vptr)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

if(QUORVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUORVEL_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# A target linked by the C driver that holds C++ objects gets the libraries
# that the C++ driver would add (libstdc++, libm) appended by CMake. Our
# programs are linked by the C driver precisely so that they never name the
# C++ runtime: keep only what the C driver links anyway. Targets linked by
# the C++ driver (tests, benchmarks) are untouched, since that driver adds
# its runtime itself.
set(quorvel_cxx_implicit ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
foreach(library IN LISTS quorvel_cxx_implicit)
  if(NOT library IN_LIST CMAKE_C_IMPLICIT_LINK_LIBRARIES)
    list(REMOVE_ITEM CMAKE_CXX_IMPLICIT_LINK_LIBRARIES ${library})
  endif()
endforeach()
unset(quorvel_cxx_implicit)

# x86_64's linker puts code in a segment of its own by default
# (-z separate-code), page-aligned apart from the headers and read-only data
# on both sides: in a program of 30 KB that padding is 8 to 12 KB of the
# file. Our programs take the layout that other CPUs' linkers use by default
# (aarch64, MIPS): headers, read-only data and code in one read-only,
# executable segment, data in a writable one that is never executable.
check_linker_flag(C -Wl,-z,noseparate-code QUORVEL_HAS_NOSEPARATE_CODE)

# Unwind tables (.eh_frame) serve exceptions and run-time backtraces: our
# code throws none, never cancels a thread, and a debugger reads the frames
# from the debug information (.debug_frame) instead. They are a sixth of a
# stripped daemon. The sanitizers' and the fuzzer's reports keep them.
set(QUORVEL_NO_UNWIND_TABLES)
if(NOT QUORVEL_SANITIZE AND NOT QUORVEL_FUZZ)
  set(QUORVEL_NO_UNWIND_TABLES -fno-asynchronous-unwind-tables -fno-unwind-tables)
endif()

# Link-time optimisation of the programs and the libraries they are built
# from, in the size-optimised build that a router gets (MinSizeRel, the
# default): a tenth of an aarch64 daemon. Only where the toolchain can do
# it, and never for the sanitizers or the fuzzer. The programs are linked
# by the C driver, so the C and C++ compilers must be of one kind: the musl
# targets compile C++ with clang and link with GCC, whose linker plugin
# reads no LLVM bitcode. GCC only: its static libraries carry machine code
# beside the bitcode (-ffat-lto-objects), so that an installed library
# links into a consumer built without link-time optimisation, or with
# another compiler; clang has no such objects.
set(QUORVEL_LTO OFF)
if(NOT QUORVEL_SANITIZE AND NOT QUORVEL_FUZZ AND CMAKE_C_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  include(CheckIPOSupported)
  check_ipo_supported(RESULT QUORVEL_LTO LANGUAGES C CXX OUTPUT quorvel_lto_output)
endif()

# Linked by the C driver, with no C++ runtime library on the link line: any
# stray reference to the C++ runtime fails the link (or stays undefined in
# a shared library) instead of adding libstdc++ to a router's image, whether
# or not the toolchain passes --as-needed by default.
function(quorvel_c_link target)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--as-needed)
  if(QUORVEL_HAS_NOSEPARATE_CODE)
    target_link_options(${target} PRIVATE -Wl,-z,noseparate-code)
  endif()
endfunction()

# Compile flags of our own code; a shared piece of the support library is
# linked as the programs are.
function(quorvel_runtime_flags target)
  target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
      -ffunction-sections -fdata-sections ${QUORVEL_NO_UNWIND_TABLES})
  get_target_property(type ${target} TYPE)
  if(QUORVEL_LTO)
    set_target_properties(${target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION_MINSIZEREL ON)
    if(type STREQUAL "STATIC_LIBRARY")
      target_compile_options(${target} PRIVATE $<$<CONFIG:MinSizeRel>:-ffat-lto-objects>)
    endif()
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    quorvel_c_link(${target})
  endif()
endfunction()

# A program exports nothing: MIPS' ABI puts every global symbol that code
# reaches through the GOT into the dynamic symbol table, a program's own
# functions too (a tenth of a MIPS daemon, in mangled names). Its own
# objects are compiled with hidden symbols, and those of the static
# libraries it links are hidden at the link.
check_linker_flag(C -Wl,--exclude-libs,ALL QUORVEL_HAS_EXCLUDE_LIBS)

# A program built on the support library (tests/link_check proves that its
# link fails on a reference to the C++ runtime).
function(quorvel_program target)
  quorvel_runtime_flags(${target})
  quorvel_c_link(${target})
  target_compile_options(${target} PRIVATE -fvisibility=hidden)
  if(QUORVEL_HAS_EXCLUDE_LIBS)
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
  endif()
endfunction()
