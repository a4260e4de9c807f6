# cpack -G DEB in the build folder makes the Debian packages. A static build
# (the default) gives two:
#
#   bleedborder_VERSION_ARCH.deb         the tool and its manual page  (component tool)
#   libbleedborder-dev_VERSION_ARCH.deb  headers, libbleedborder.a, CMake package,
#                                        pkg-config file               (component library)
#
# and a shared build (-DBUILD_SHARED_LIBS=ON) one:
#
#   libbleedborder1_VERSION_ARCH.deb     libbleedborder.so.1           (component runtime)
#
# Each package also holds /usr/share/doc/PACKAGE/copyright (the licence, in
# Debian's machine-readable form) and changelog.gz. With the same
# SOURCE_DATE_EPOCH in the environment, two runs give identical packages.

if(BUILD_SHARED_LIBS)
  set(BLEED_PACKAGED_COMPONENTS runtime)
else()
  set(BLEED_PACKAGED_COMPONENTS tool library)
endif()
set(BLEED_DEB_PACKAGE_tool bleedborder)
set(BLEED_DEB_PACKAGE_library libbleedborder-dev)
set(BLEED_DEB_PACKAGE_runtime libbleedborder${PROJECT_VERSION_MAJOR})

# The copyright file: the licence's permission notice as the text of an Expat
# licence paragraph (each line indented by one space, empty lines as " .").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE BLEED_LICENSE)
string(REGEX REPLACE "^.*\n(Permission)" "\\1" BLEED_LICENSE_TEXT "${BLEED_LICENSE}")
string(REGEX REPLACE "\n+$" "" BLEED_LICENSE_TEXT "${BLEED_LICENSE_TEXT}")
string(REPLACE "\n" "\n " BLEED_LICENSE_TEXT " ${BLEED_LICENSE_TEXT}")
string(REPLACE "\n \n" "\n .\n" BLEED_LICENSE_TEXT "${BLEED_LICENSE_TEXT}")
configure_file(cmake/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)

# The changelog, compressed without name or time stamp so that it is the same
# bytes in every build.
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
add_custom_target(bleed_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)

foreach(component IN LISTS BLEED_PACKAGED_COMPONENTS)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BLEED_DEB_PACKAGE_${component}}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bleedborder)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPackDeb puts this summary before every component's description unless it is
# CPack's own default; kept at the default, each package's summary is the
# first line of its component's description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(BLEED_PACKAGE_CONTACT "bleedborder developers <bleedborder@example.invalid>"
    CACHE STRING "The Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${BLEED_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${BLEED_PACKAGED_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE bleedborder)
# Directories in the packages are 0755 whatever the umask.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/directory_modes.cmake)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${BLEED_DEB_PACKAGE_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_TOOL_DESCRIPTION [=[gives a BMP picture a bleed border
bleedborder reads a BMP picture and writes it, as a 32-bit BMP file next to
the input, inside a margin one eighth of its shorter side wide, filled with
ever smaller stretched copies of the picture (white counts as transparent).]=])

# The archive is linked with the C++ standard library of the compiler that
# built it (GCC's, which Clang uses too): its development package, named after
# the GCC version the compiler's libstdc++.so lies under (or, if that cannot
# be told, the name every version of it provides).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so
  OUTPUT_VARIABLE BLEED_STDCXX_SO OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(BLEED_STDCXX_DIR "${BLEED_STDCXX_SO}" DIRECTORY)
get_filename_component(BLEED_GCC_VERSION "${BLEED_STDCXX_DIR}" NAME)
if(BLEED_GCC_VERSION MATCHES "^[0-9]+$")
  set(BLEED_STDCXX_DEV_DEPENDS "libstdc++-${BLEED_GCC_VERSION}-dev | libstdc++-dev")
else()
  set(BLEED_STDCXX_DEV_DEPENDS "libstdc++-dev")
endif()

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${BLEED_DEB_PACKAGE_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${BLEED_STDCXX_DEV_DEPENDS}")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SUGGESTS "cmake, pkg-config")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION [=[raster-image library of bleedborder (development files)
The library bleedborder is built on: bitmaps of 1 to 32 bits per pixel, a
BMP reader and writer, a canvas that draws and stretches them, and the bleed
border itself, for C++20 programs.
.
This package holds the headers, the static library, a CMake package
(find_package(bleedborder)) and a pkg-config file.]=])

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${BLEED_DEB_PACKAGE_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# A shlibs file, so that packages built against the library depend on this
# one, and the ldconfig trigger that refreshes the linker cache (in place of
# the ldconfig scripts CMake would write: cmake/debian/modules).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/debian/cpack_project.cmake)
set(CPACK_BLEED_MODULE_DIR ${PROJECT_SOURCE_DIR}/cmake/debian/modules)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION [=[raster-image library of bleedborder
The library bleedborder is built on: bitmaps of 1 to 32 bits per pixel, a
BMP reader and writer, a canvas that draws and stretches them, and the bleed
border itself, for C++20 programs.
.
This package holds the shared library.]=])

include(CPack)
