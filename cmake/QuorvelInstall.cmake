# SPDX-License-Identifier: MIT
# Installation of the support library for programs outside the project.
#
# `cmake --install` puts the public headers under include/quorvel (a program
# writes #include <quorvel/len_buf.h>), the generated quorvel/version.h, the
# libraries of the pieces that were built, one pkg-config file per piece
# (quorvel-core, quorvel-match, ...) and a CMake package with one component
# per piece (find_package(quorvel COMPONENTS match http)), all in the
# GNUInstallDirs places. Included once every target is defined.
#
# The library's headers include each other by file name alone ("len_buf.h"),
# which finds the neighbour both in lib/ and in include/quorvel/.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# While the version is 0.x every minor version may change the interface, so
# it is part of the shared libraries' soname (libquorvel_core.so.0.1).
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(QUORVEL_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
else()
  set(QUORVEL_SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

set(QUORVEL_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvel_version.h.in
               ${QUORVEL_GENERATED_INCLUDE_DIR}/quorvel/version.h @ONLY)
target_include_directories(quorvel_core PUBLIC
    $<BUILD_INTERFACE:${QUORVEL_GENERATED_INCLUDE_DIR}>)

# The pieces, each after the pieces it needs; per piece (target
# quorvel_<piece>): the pieces it needs, its headers and what it is for.
set(QUORVEL_PIECES core json files url dnsmasq crypto match http)
set(quorvel_piece_core_needs)
set(quorvel_piece_core_headers
    ascii_case.h c_guards.h cmd_run.h file_read.h len_buf.h log_verbose.h spawn.h text.h)
set(quorvel_piece_core_about "counted buffers, text helpers, the file reader, the command runner and the program starter")
set(quorvel_piece_json_needs core)
set(quorvel_piece_json_headers json_doc.h)
set(quorvel_piece_json_about "owner of json-c documents")
set(quorvel_piece_files_needs core)
set(quorvel_piece_files_headers file_move.h file_write.h time_text.h)
set(quorvel_piece_files_about "file and time helpers")
set(quorvel_piece_url_needs core)
set(quorvel_piece_url_headers url_codec.h)
set(quorvel_piece_url_about "URL form encoding")
set(quorvel_piece_dnsmasq_needs json)
set(quorvel_piece_dnsmasq_headers dnsmasq_ipset.h)
set(quorvel_piece_dnsmasq_about "dnsmasq ipset files")
set(quorvel_piece_crypto_needs core)
set(quorvel_piece_crypto_headers base64_buf.h payload.h)
set(quorvel_piece_crypto_about "base64 and AES-128-CBC payloads (mbedTLS)")
set(quorvel_piece_match_needs crypto json)
set(quorvel_piece_match_headers match_rule.h)
set(quorvel_piece_match_about "match rules (PCRE or PCRE2)")
set(quorvel_piece_http_needs core)
set(quorvel_piece_http_headers http_transfer.h)
set(quorvel_piece_http_about "HTTP transfers (libcurl)")

# pkg-config modules behind the imported targets PkgConfig::<prefix> that
# the pieces link.
set(quorvel_pkg_module_JSONC json-c)
set(quorvel_pkg_module_PCRE libpcre)
set(quorvel_pkg_module_PCRE2 libpcre2-8)
set(quorvel_pkg_module_CURL libcurl)

# out: the PkgConfig::<prefix> targets named in the link list `links`, as
# prefix=module entries.
function(quorvel_pkg_modules links out)
  set(found)
  string(REGEX MATCHALL "PkgConfig::[A-Za-z0-9_]+" names "${links}")
  foreach(name IN LISTS names)
    string(REPLACE "PkgConfig::" "" prefix "${name}")
    if(NOT DEFINED quorvel_pkg_module_${prefix})
      message(FATAL_ERROR "QuorvelInstall.cmake: no pkg-config module known for ${name}")
    endif()
    list(APPEND found "${prefix}=${quorvel_pkg_module_${prefix}}")
  endforeach()
  list(REMOVE_DUPLICATES found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Include folders inside the source or build tree hold only while building.
function(quorvel_mark_build_paths target)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(NOT dirs)
    return()
  endif()
  set(marked)
  foreach(dir IN LISTS dirs)
    string(FIND "${dir}" "${PROJECT_SOURCE_DIR}" in_source)
    string(FIND "${dir}" "${PROJECT_BINARY_DIR}" in_build)
    if(in_source EQUAL 0 OR in_build EQUAL 0)
      list(APPEND marked "$<BUILD_INTERFACE:${dir}>")
    else()
      list(APPEND marked "${dir}")
    endif()
  endforeach()
  set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${marked}")
endfunction()

# pkg-config files find their prefix from where they lie, so that a tree
# installed with DESTDIR or moved elsewhere works as it is.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(quorvel_pc_libdir "${CMAKE_INSTALL_LIBDIR}")
else()
  set(quorvel_pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(quorvel_pc_includedir "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(quorvel_pc_includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
file(RELATIVE_PATH quorvel_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" quorvel_pc_up "${quorvel_pc_up}")
set(quorvel_pc_prefix "\${pcfiledir}/${quorvel_pc_up}")

set(QUORVEL_BUILT_COMPONENTS)
set(QUORVEL_COMPONENT_TABLE)
foreach(piece IN LISTS QUORVEL_PIECES)
  set(target quorvel_${piece})
  if(NOT TARGET ${target})
    continue()
  endif()
  list(APPEND QUORVEL_BUILT_COMPONENTS ${piece})
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    set_target_properties(${target} PROPERTIES
        VERSION ${PROJECT_VERSION}
        SOVERSION ${QUORVEL_SOVERSION})
  endif()
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${piece})
  quorvel_mark_build_paths(${target})

  install(TARGETS ${target} EXPORT quorvel-${piece}
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
      INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT quorvel-${piece}
      NAMESPACE quorvel::
      FILE quorvel-${piece}-targets.cmake
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvel)
  list(TRANSFORM quorvel_piece_${piece}_headers PREPEND ${PROJECT_SOURCE_DIR}/lib/
       OUTPUT_VARIABLE headers)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvel)

  # What a program that links the piece pulls in besides: the CMake package
  # finds the imported targets that the exported link interface names...
  get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
  quorvel_pkg_modules("${interface}" cmake_modules)
  string(APPEND QUORVEL_COMPONENT_TABLE
         "set(_quorvel_needs_${piece} ${quorvel_piece_${piece}_needs})\n"
         "set(_quorvel_modules_${piece} ${cmake_modules})\n")

  # ...and the pkg-config file names the other pieces as Requires (their
  # headers are part of this piece's interface), json-c too where documents
  # cross the interface, and, for shared pieces, the libraries underneath as
  # private.
  set(requires)
  foreach(need IN LISTS quorvel_piece_${piece}_needs)
    list(APPEND requires quorvel-${need})
  endforeach()
  set(requires_private)
  set(libs_private)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(links "${interface}")
    set(libs "")
  else()
    get_target_property(links ${target} LINK_LIBRARIES)
    set(libs "-L\${libdir} -l${target}")
  endif()
  quorvel_pkg_modules("${links}" pc_modules)
  foreach(entry IN LISTS pc_modules)
    string(REGEX REPLACE "^[^=]*=" "" module "${entry}")
    if(module STREQUAL "json-c")
      list(APPEND requires json-c)
    else()
      list(APPEND requires_private ${module})
    endif()
  endforeach()
  if(links MATCHES "mbedcrypto")
    list(APPEND libs_private -lmbedcrypto)
  endif()
  # A static library cannot be linked without what lies underneath, and
  # "pkg-config --static" would ask for the static forms of those libraries
  # as well (libcurl's own dependencies, ...): static pieces name them
  # publicly, so a plain "pkg-config --libs" links.
  if(type STREQUAL "STATIC_LIBRARY")
    list(APPEND requires ${requires_private})
    string(APPEND libs " ${libs_private}")
    set(requires_private)
    set(libs_private)
  endif()
  list(JOIN requires " " requires)
  list(JOIN requires_private " " requires_private)
  list(JOIN libs_private " " libs_private)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/pkgconfig/quorvel-${piece}.pc CONTENT
"prefix=${quorvel_pc_prefix}
libdir=${quorvel_pc_libdir}
includedir=${quorvel_pc_includedir}

Name: quorvel-${piece}
Description: quorvel support library: ${quorvel_piece_${piece}_about}
Version: ${PROJECT_VERSION}
Requires: ${requires}
Requires.private: ${requires_private}
Cflags: -I\${includedir}
Libs: ${libs}
Libs.private: ${libs_private}
" @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/quorvel-${piece}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

install(FILES ${QUORVEL_GENERATED_INCLUDE_DIR}/quorvel/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvel)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorvelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/quorvelConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvel)
# A 0.x version promises nothing across minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/quorvelConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/quorvelConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/quorvelConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvel)
