# Installs the shared tone generator library as a package for other programs: the library
# (component libmidigen2), and its public headers, CMake package MidiGen (target
# MidiGen::midigen) and pkg-config file midigen.pc (component libmidigen-dev).
#
# midigen_install_library(TARGET INCLUDE_DIRS...): TARGET is the shared library; each include
# folder holds one include root (e.g. midigen/, midiout/) of public headers only.
include(CMakePackageConfigHelpers)

set(MIDIGEN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/MidiGen)
set(MIDIGEN_QT_VERSION ${Qt6_VERSION})

function(midigen_install_library target)
  set_target_properties(${target} PROPERTIES EXPORT_NAME midigen)
  # The public headers use C++20 (defaulted comparisons).
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${target} EXPORT MidiGenTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
      COMPONENT libmidigen2 NAMELINK_COMPONENT libmidigen-dev)
  foreach(folder IN LISTS ARGN)
    install(DIRECTORY ${folder}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
      COMPONENT libmidigen-dev FILES_MATCHING PATTERN "*.h")
  endforeach()

  install(EXPORT MidiGenTargets NAMESPACE MidiGen:: DESTINATION ${MIDIGEN_CMAKE_DIR}
    COMPONENT libmidigen-dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/MidiGenConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/MidiGenConfig.cmake INSTALL_DESTINATION ${MIDIGEN_CMAKE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/MidiGenConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/MidiGenConfig.cmake
    ${PROJECT_BINARY_DIR}/cmake/MidiGenConfigVersion.cmake
    DESTINATION ${MIDIGEN_CMAKE_DIR} COMPONENT libmidigen-dev)

  # pkg-config: the prefix is found from the file's own place, so the file stays right in a
  # package whose prefix differs from the configured one.
  set(pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH MIDIGEN_PC_TO_PREFIX /${pcdir} /)
  string(REGEX REPLACE "/$" "" MIDIGEN_PC_TO_PREFIX "${MIDIGEN_PC_TO_PREFIX}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/midigen.pc.in ${PROJECT_BINARY_DIR}/cmake/midigen.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/midigen.pc DESTINATION ${pcdir}
    COMPONENT libmidigen-dev)
endfunction()
