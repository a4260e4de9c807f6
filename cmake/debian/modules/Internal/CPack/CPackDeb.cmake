# cpack finds this file in place of CMake's own DEB step (package.cmake puts
# its folder first on cpack's module path). It runs CMake's step, then drops
# the postinst and postrm scripts that step writes for a package holding a
# shared library, which only call ldconfig: such a package brings its
# "triggers" file instead (CPACK_DEBIAN_<COMPONENT>_PACKAGE_CONTROL_EXTRA),
# which asks dpkg to run ldconfig once, as Debian wants.
include(${CMAKE_ROOT}/Modules/Internal/CPack/CPackDeb.cmake)

if(GEN_CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA MATCHES "/triggers(;|$)")
  set(GEN_CPACK_DEBIAN_GENERATE_POSTINST 0)
  set(GEN_CPACK_DEBIAN_GENERATE_POSTRM 0)
endif()
