# SPDX-License-Identifier: MIT
# cmake -DQUORVEL_SOURCE_DIR=... -DBINARY_DIR=... -DGENERATOR=... -DC_COMPILER=...
#       -DCXX_COMPILER=... [-DTOOLCHAIN_FILE=...] -P check.cmake
#
# Builds tests/link_check with the project's own compilers: the program
# without C++ runtime references must link, and the one that calls operator
# new must fail to link for that very reason (an undefined operator new),
# not for any other.

file(REMOVE_RECURSE "${BINARY_DIR}")
set(configure_args
    -S "${QUORVEL_SOURCE_DIR}/tests/link_check" -B "${BINARY_DIR}" -G "${GENERATOR}"
    "-DQUORVEL_SOURCE_DIR=${QUORVEL_SOURCE_DIR}"
    "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
if(TOOLCHAIN_FILE)
  list(APPEND configure_args "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} ${configure_args}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configure of the link check failed:\n${output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY_DIR}" --target plain_program
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "a program without C++ runtime references failed to link:\n${output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY_DIR}" --target runtime_program
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(status EQUAL 0)
  message(FATAL_ERROR "a program that calls operator new linked: "
                      "its link line names the C++ runtime library")
endif()
if(NOT output MATCHES "undefined (reference|symbol)[^\n]*operator new")
  message(FATAL_ERROR "the program that calls operator new failed for another reason:\n${output}")
endif()
message(STATUS "operator new is undefined without the C++ runtime library, as it must be")
