# SPDX-License-Identifier: MIT
# The optional pieces of the support library and what each needs.
#
# QUORVEL_WITH_<PIECE> is AUTO (the default: built when its dependency is
# found, otherwise left out with one configure line), ON (required: configure
# fails and names what is missing) or OFF (left out; its dependency is not
# even looked for). Whether a piece is built is known afterwards from its
# target: if(TARGET quorvel_crypto), and so on.

foreach(piece CRYPTO MATCH HTTP)
  set(QUORVEL_WITH_${piece} AUTO CACHE STRING
      "Build the ${piece} piece of the support library: AUTO, ON or OFF")
  set_property(CACHE QUORVEL_WITH_${piece} PROPERTY STRINGS AUTO ON OFF)
  if(NOT QUORVEL_WITH_${piece} MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR
            "QUORVEL_WITH_${piece} must be AUTO, ON or OFF, not '${QUORVEL_WITH_${piece}}'")
  endif()
endforeach()

set(QUORVEL_REGEX AUTO CACHE STRING
    "Regular expressions of the match rules: AUTO (PCRE2 if found, else PCRE), PCRE or PCRE2")
set_property(CACHE QUORVEL_REGEX PROPERTY STRINGS AUTO PCRE PCRE2)
if(NOT QUORVEL_REGEX MATCHES "^(AUTO|PCRE|PCRE2)$")
  message(FATAL_ERROR "QUORVEL_REGEX must be AUTO, PCRE or PCRE2, not '${QUORVEL_REGEX}'")
endif()

# quorvel_piece_wanted(PIECE out): out is TRUE unless the piece is OFF.
function(quorvel_piece_wanted piece out)
  if(QUORVEL_WITH_${piece} STREQUAL "OFF")
    message(STATUS "quorvel: ${piece} piece left out (QUORVEL_WITH_${piece}=OFF)")
    set(${out} FALSE PARENT_SCOPE)
  else()
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

# quorvel_piece_missing(PIECE reason): the piece cannot be built, for the
# reason given (what is missing): fatal when it was asked for, one line
# otherwise.
function(quorvel_piece_missing piece reason)
  if(QUORVEL_WITH_${piece} STREQUAL "ON")
    message(FATAL_ERROR "QUORVEL_WITH_${piece}=ON, but ${reason}")
  endif()
  message(STATUS "quorvel: ${piece} piece left out: ${reason} "
                 "(QUORVEL_WITH_${piece}=ON to require it)")
endfunction()
