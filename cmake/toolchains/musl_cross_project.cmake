# SPDX-License-Identifier: MIT
# Run after project() (CMAKE_PROJECT_INCLUDE) by musl_cross.cmake.
#
# musl's headers in the prefix are the compilers' own system headers, and
# a library's include folder that is the same folder (json-c's, from its
# pkg-config file) must stay off the command line: put there, it comes
# before libc++'s headers, whose #include_next then skips musl's stddef.h
# for clang's, and max_align_t is defined twice. CMake drops such folders
# when it has seen them among the compiler's own, but a compiler launcher
# that shortens paths under its base folder (ccache's CCACHE_BASEDIR, when
# the prefix is inside the checkout) shows it a relative path during
# compiler detection, which CMake resolves against the wrong folder.
foreach(lang C CXX)
  list(APPEND CMAKE_${lang}_IMPLICIT_INCLUDE_DIRECTORIES ${QUORVEL_DEPS_PREFIX}/include)
endforeach()
if(QUORVEL_STATIC)
  include(${CMAKE_CURRENT_LIST_DIR}/static_libraries.cmake)
endif()
