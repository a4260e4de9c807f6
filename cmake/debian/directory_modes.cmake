# Run by cpack once the files are staged, before it packs them
# (CPACK_PRE_BUILD_SCRIPTS): every staged directory becomes 0755. The install
# step creates them through mkdir, whose mode the umask narrows, and the
# package records their modes as found: under umask 077 the package would
# make /usr/share/doc/PACKAGE unreadable to all but root.
file(GLOB_RECURSE staged_directories LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS staged_directories)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
