# Run by cpack on the staging tree before it is packed (CPACK_PRE_BUILD_SCRIPTS).

# Folders are created under the umask of whoever runs cpack (CMake's default folder permissions are
# masked by it too); the package's folders are 0755 whatever it is.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
set(folders)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    list(APPEND folders "${entry}")
  endif()
endforeach()
if(folders)
  file(CHMOD ${folders} DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

# Plain strip keeps the compilers' version notes (.comment), which Debian's packages leave out.
if(CPACK_STRIP_FILES AND CPACK_KELMDESK_STRIP)
  file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
  foreach(program IN LISTS programs)
    execute_process(COMMAND "${CPACK_KELMDESK_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
      COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endif()
