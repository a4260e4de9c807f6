# What `cmake --install` puts where (GNU directories under the prefix), and the
# Debian package of the tool.
#
#   bin/bleedborder                      the tool             (component tool)
#   share/man/man1/bleedborder.1.gz      its manual page      (component tool)
#   lib/libbleedborder.a                 the library          (component library)
#   or, built with -DBUILD_SHARED_LIBS=ON,
#   lib/libbleedborder.so.1.0.0, lib/libbleedborder.so.1 -> it   (component runtime)
#   lib/libbleedborder.so -> libbleedborder.so.1                 (component library)
#   include/bleedborder/{core,platform,image,canvas}/*.h, version.h, export.h
#   lib/cmake/bleedborder/               find_package(bleedborder)
#   lib/pkgconfig/bleedborder.pc         pkg-config bleedborder

include(CMakePackageConfigHelpers)

set(BLEED_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bleedborder)

install(TARGETS bleedborder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

# The manual page, compressed as Debian installs manual pages.
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/bleedborder.1.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/docs/bleedborder.1 bleedborder.1
  COMMAND gzip -9nf bleedborder.1
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/bleedborder.1
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  VERBATIM)
add_custom_target(bleed_manpage ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/bleedborder.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bleedborder.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

# The shared object and its soname link are what a program runs with
# (runtime); the name a program links with, like the archive, is part of
# the development files (library).
install(TARGETS bleed EXPORT bleedborderTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT library
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)

# The headers a caller includes, and those they include. Left out: the software
# raster's own headers and the helpers the image and canvas layers share only
# among their sources. The install test compiles every installed header.
install(DIRECTORY bleedborder
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library
  FILES_MATCHING PATTERN "*.h"
  PATTERN "raster_*.h" EXCLUDE
  PATTERN "stretch_map.h" EXCLUDE
  PATTERN "bmp_format.h" EXCLUDE
  PATTERN "conversion.h" EXCLUDE
  PATTERN "dib.h" EXCLUDE
  PATTERN "image_globals.h" EXCLUDE
  PATTERN "gdi_raii.h" EXCLUDE
  PATTERN "resource_manager.h" EXCLUDE
  PATTERN "picture_colors.h" EXCLUDE)
install(FILES ${BLEED_GENERATED_INCLUDE_DIR}/bleedborder/version.h ${BLEED_GENERATED_INCLUDE_DIR}/bleedborder/export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/bleedborder COMPONENT library)

# The CMake package: bleedborder::bleedborder (the archive or the shared
# library, whichever was built), which brings its include directory, C++20
# and Threads::Threads.
install(EXPORT bleedborderTargets NAMESPACE bleedborder::
  DESTINATION ${BLEED_CMAKE_PACKAGE_DIR} COMPONENT library)
configure_package_config_file(cmake/bleedborderConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/bleedborderConfig.cmake
  INSTALL_DESTINATION ${BLEED_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/bleedborderConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/bleedborderConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/bleedborderConfigVersion.cmake
  DESTINATION ${BLEED_CMAKE_PACKAGE_DIR} COMPONENT library)

# The pkg-config file finds the prefix from its own place, so that the tree
# may be installed under any prefix (cmake --install --prefix, DESTDIR).
set(BLEED_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH BLEED_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${BLEED_PC_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" BLEED_PC_TO_PREFIX "${BLEED_PC_TO_PREFIX}")
configure_file(cmake/bleedborder.pc.in ${CMAKE_CURRENT_BINARY_DIR}/bleedborder.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bleedborder.pc DESTINATION ${BLEED_PC_DIR} COMPONENT library)

# cpack (or cpack -G DEB) in the build folder: bleedborder_VERSION_ARCH.deb, holding the
# tool and its manual page, its dependencies read off the binary.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bleedborder)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "gives a BMP picture a bleed border")
set(BLEED_PACKAGE_CONTACT "bleedborder developers <bleedborder@example.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${BLEED_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL tool)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The summary is the Description field's first line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[bleedborder reads a BMP picture and writes it, as a 32-bit BMP file next to
the input, inside a margin one eighth of its shorter side wide, filled with
ever smaller stretched copies of the picture (white counts as transparent).]=])
include(CPack)
