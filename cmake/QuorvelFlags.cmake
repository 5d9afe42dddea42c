# Compile flags shared by every target of the project.
#
# quorvel_runtime_flags(target): the daemon, the support library and the
# tools around the daemon are C++ used as a better C: no exceptions, no RTTI,
# and nothing from the C++ runtime library at run time.

set(QUORVEL_WARNINGS
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wformat=2
    -Wcast-qual -Wcast-align -Wundef -Wvla -Wnull-dereference
    -Wmissing-declarations -Wredundant-decls -Wdouble-promotion)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND QUORVEL_WARNINGS -Wformat-overflow=2 -Wformat-truncation=1)
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

function(quorvel_runtime_flags target)
  target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
      -ffunction-sections -fdata-sections)
endfunction()

# A program built on the support library: linked by the C driver, so that
# any stray reference to the C++ runtime library fails the link instead of
# adding libstdc++ to the program's dependencies.
function(quorvel_program target)
  quorvel_runtime_flags(${target})
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--as-needed)
endfunction()
