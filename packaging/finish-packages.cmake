# Run by CPack after it has built the packages (CPACK_POST_BUILD_SCRIPTS): the finishing touches
# that Debian's own packaging tools give a package and CPack does not.
# - CPack gives a package with a shared library in /usr/lib maintainer scripts that call
#   ldconfig; libmidigen2 activates dpkg's ldconfig trigger instead (packaging/triggers), so
#   those scripts are taken out again.
# - The compiler's .comment section is taken out of every binary, as dh_strip does.
# Each package is unpacked, changed, given fresh checksums and packed again.
find_program(DPKG_DEB dpkg-deb REQUIRED)
find_program(OBJCOPY objcopy REQUIRED)
find_program(MD5SUM md5sum REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${DPKG_DEB} --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)

  if(name MATCHES "^libmidigen2_")
    foreach(script postinst postrm)
      file(READ "${tree}/DEBIAN/${script}" text)
      if(NOT text MATCHES "ldconfig")
        message(FATAL_ERROR "${name}: ${script} does more than call ldconfig:\n${text}")
      endif()
      file(REMOVE "${tree}/DEBIAN/${script}")
    endforeach()
  endif()

  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
  list(SORT files)
  set(md5sums "")
  foreach(file IN LISTS files)
    if(IS_SYMLINK "${tree}/${file}")
      continue()
    endif()
    file(READ "${tree}/${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46") # ELF
      execute_process(COMMAND ${OBJCOPY} --remove-section=.comment "${tree}/${file}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    file(MD5 "${tree}/${file}" sum)
    string(APPEND md5sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${md5sums}")

  execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build "${tree}" "${deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
