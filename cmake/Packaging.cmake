# Debian packages: `cpack -G DEB` in a build configured with the prefix /usr (scripts/make-packages)
# makes four, one per install component:
#   noggix          the game: the program, icon, menu entry, metadata, noggix(6)
#   midigen         the tone generator on the command line and midigen(1)
#   libmidigen2     the shared tone generator library
#   libmidigen-dev  its headers, CMake package, pkg-config file and API reference
set(CPACK_PACKAGE_NAME noggix)
set(CPACK_PACKAGE_VENDOR "Noggix developers")
set(CPACK_PACKAGE_CONTACT "Noggix developers <dev@noggix.example.org>")
# Each package's description below begins with its own synopsis line. CPack puts this summary
# in front of them unless it is CPack's default text, so it is that text.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PROJECT_HOMEPAGE_URL}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL noggix midigen libmidigen2 libmidigen-dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs need libmidigen.so.2, which no installed package holds yet: dpkg-shlibdeps finds it
# in the build tree, and the dependency on libmidigen2 comes from the components below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
# A shlibs file for the shared library, so that programs built against it depend on it, on this
# version or a later one of the same SONAME.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies between the three packages, each on the same version of the other.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_NOGGIX_DEPENDS libmidigen2)
set(CPACK_COMPONENT_MIDIGEN_DEPENDS libmidigen2)
set(CPACK_COMPONENT_LIBMIDIGEN-DEV_DEPENDS libmidigen2)

set(CPACK_DEBIAN_NOGGIX_PACKAGE_NAME noggix)
set(CPACK_DEBIAN_NOGGIX_PACKAGE_SECTION games)
set(CPACK_DEBIAN_NOGGIX_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_NOGGIX_PACKAGE_RECOMMENDS "qt6-wayland") # native on a Wayland desktop
set(CPACK_DEBIAN_NOGGIX_DESCRIPTION "Pretends to back up your brain, with a jingle
Noggix is a joke program. Its window lists eighteen kinds of memory and
personality; a backup run takes one every ten seconds, plays a short jingle
on the built-in MIDI synthesizer and may fail with a mock medical error.")

set(CPACK_DEBIAN_MIDIGEN_PACKAGE_NAME midigen)
set(CPACK_DEBIAN_MIDIGEN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_MIDIGEN_DESCRIPTION "MIDI tone generator on the command line
midigen plays single notes and play strings, a small text language of notes,
instruments and lengths, on a built-in General MIDI synthesizer; renders them
offline into sound files (WAV, FLAC, Ogg Vorbis, MP3 and others); exports
them as Standard MIDI Files; and shows the MIDI stream and the note list that
they make.")
# libsndfile1, which writes the renders, comes with the dependencies that dpkg-shlibdeps finds.

set(CPACK_DEBIAN_LIBMIDIGEN2_PACKAGE_NAME libmidigen2)
set(CPACK_DEBIAN_LIBMIDIGEN2_PACKAGE_SECTION libs)
# The linker cache is refreshed by dpkg's trigger once the library is unpacked; the maintainer
# scripts that CPack adds to call ldconfig beside it are taken out again after the build.
set(CPACK_DEBIAN_LIBMIDIGEN2_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
  ${PROJECT_SOURCE_DIR}/packaging/symbols)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/finish-packages.cmake)
# lintian's one false report on the library, explained in the file.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/libmidigen2.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME libmidigen2
  COMPONENT libmidigen2)
# The built-in synthesizer sounds with the General MIDI SoundFont that its figures are measured
# with, through FluidSynth, and plays through libpulse; the library loads both at run time (so
# dpkg-shlibdeps cannot see them). Only fluid-soundfont-gm itself will do: FluidSynth's package
# brings a smaller one.
# PipeWire's client library, also loaded at run time, is used where a PipeWire daemon answers.
set(CPACK_DEBIAN_LIBMIDIGEN2_PACKAGE_RECOMMENDS "libpipewire-0.3-0")
set(CPACK_DEBIAN_LIBMIDIGEN2_PACKAGE_DEPENDS
  "${FLUIDSYNTH_PACKAGE} (>= ${FLUIDSYNTH_VERSION}), libpulse0, fluid-soundfont-gm")
set(CPACK_DEBIAN_LIBMIDIGEN2_DESCRIPTION "MIDI tone generator for Qt programs
A non-visual Qt component that plays single notes and play strings, a small
text language of notes, instruments and lengths, on a built-in General MIDI
synthesizer, or renders them offline into WAV files.")

set(CPACK_DEBIAN_LIBMIDIGEN-DEV_PACKAGE_NAME libmidigen-dev)
set(CPACK_DEBIAN_LIBMIDIGEN-DEV_PACKAGE_SECTION libdevel)
# The API reference's pages use Debian's jQuery.
set(CPACK_DEBIAN_LIBMIDIGEN-DEV_PACKAGE_DEPENDS "qt6-base-dev, libjs-jquery")
set(CPACK_DEBIAN_LIBMIDIGEN-DEV_DESCRIPTION "MIDI tone generator for Qt programs - development files
A non-visual Qt component that plays single notes and play strings, a small
text language of notes, instruments and lengths, on a built-in General MIDI
synthesizer, or renders them offline into WAV files.
.
This package holds the headers, the CMake package (find_package(MidiGen)),
the pkg-config file (midigen) and the API reference.")

# Every package carries the copyright notice and the changelog in its documentation folder.
find_program(GZIP gzip REQUIRED)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/packaging/changelog > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component} COMPONENT ${component})
endforeach()

include(CPack)
