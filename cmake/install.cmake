# What `cmake --install` puts where (GNU directories under the prefix); the
# Debian packages are made in cmake/package.cmake.
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
# raster's own headers (the device's internal ones among them) and the helpers
# the image and canvas layers share only among their sources. The install test
# compiles every installed header.
install(DIRECTORY bleedborder
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library
  FILES_MATCHING PATTERN "*.h"
  PATTERN "raster_*.h" EXCLUDE
  PATTERN "stretch_map.h" EXCLUDE
  PATTERN "gdi_device.h" EXCLUDE
  PATTERN "gdi_formats.h" EXCLUDE
  PATTERN "bmp_format.h" EXCLUDE
  PATTERN "bmp_description.h" EXCLUDE
  PATTERN "conversion.h" EXCLUDE
  PATTERN "dib.h" EXCLUDE
  PATTERN "pixel_rows.h" EXCLUDE
  PATTERN "image_globals.h" EXCLUDE
  PATTERN "gdi_raii.h" EXCLUDE
  PATTERN "resource_manager.h" EXCLUDE
  PATTERN "picture_colors.h" EXCLUDE
  PATTERN "row_writer.h" EXCLUDE
  PATTERN "renderer" EXCLUDE)
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

include(cmake/package.cmake)
