# Run by CPack after it has built the packages (CPACK_POST_BUILD_SCRIPTS). CPack gives a package
# with a shared library in /usr/lib maintainer scripts that call ldconfig; our library package
# activates dpkg's ldconfig trigger instead (packaging/triggers), as Debian's own do, so those
# scripts are taken out of libmidigen1 again.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  if(NOT name MATCHES "^libmidigen1_.*\\.deb$")
    continue()
  endif()
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${DPKG_DEB} --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  foreach(script postinst postrm)
    file(READ "${tree}/DEBIAN/${script}" text)
    if(NOT text MATCHES "ldconfig")
      message(FATAL_ERROR "${name}: ${script} does more than call ldconfig:\n${text}")
    endif()
    file(REMOVE "${tree}/DEBIAN/${script}")
  endforeach()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build "${tree}" "${deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
