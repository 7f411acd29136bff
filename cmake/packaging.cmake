# Installation of the manual page and the Debian package (cpack -G DEB).
# Included at the end of the top-level CMakeLists.txt, after the focusctl
# target and its install() rule.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(FOCUSCTL_PACKAGE_MAINTAINER "focusctl maintainers <focusctl@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The page is installed gzipped where gzip exists, as Debian policy wants;
# -n keeps the timestamp out so the package builds reproducibly.
set(focusctl_manpage_source ${PROJECT_SOURCE_DIR}/doc/focusctl.1)
find_program(FOCUSCTL_GZIP gzip)
if(FOCUSCTL_GZIP)
  set(focusctl_manpage ${PROJECT_BINARY_DIR}/doc/focusctl.1.gz)
  add_custom_command(
    OUTPUT ${focusctl_manpage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND ${CMAKE_COMMAND} -E copy ${focusctl_manpage_source}
            ${PROJECT_BINARY_DIR}/doc/focusctl.1
    COMMAND ${FOCUSCTL_GZIP} -9nf ${PROJECT_BINARY_DIR}/doc/focusctl.1
    DEPENDS ${focusctl_manpage_source}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(focusctl_manpage ALL DEPENDS ${focusctl_manpage})
else()
  set(focusctl_manpage ${focusctl_manpage_source})
endif()
install(FILES ${focusctl_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian wants the licence as /usr/share/doc/<package>/copyright, in its
# machine-readable format. It is made from LICENSE, so the two cannot drift
# apart: the holder from the "Copyright (c)" line, then the licence text with
# each line indented by one space and an empty line written as " .".
set(focusctl_license_file ${PROJECT_SOURCE_DIR}/LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${focusctl_license_file})
file(READ ${focusctl_license_file} focusctl_license)
if(NOT focusctl_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the licence text")
endif()
set(focusctl_copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" focusctl_license_text)
string(REPLACE "\n" "\n " focusctl_license_text "${focusctl_license_text}")
string(REPLACE "\n \n" "\n .\n" focusctl_license_text "${focusctl_license_text}")
# Debian's name for this MIT licence is Expat.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/doc/copyright @ONLY CONTENT [[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: focusctl

Files: *
Copyright: @focusctl_copyright_holder@
License: Expat
 @focusctl_license_text@
]])
install(FILES ${PROJECT_BINARY_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(CPACK_RESOURCE_FILE_LICENSE ${focusctl_license_file})

set(CPACK_PACKAGE_NAME focusctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${FOCUSCTL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "read and drive the focused UI element from the command line")
# Debian shows the body as is, so it is wrapped here.
set(CPACK_PACKAGE_DESCRIPTION
    "focusctl lets a controlling program read the user-interface element that
has keyboard focus in the frontmost application, set its value, press it,
activate applications and watch for focus and value changes. Every request
answers with one line of JSON. On Linux it works over the AT-SPI2
accessibility bus and X11.")
set(CPACK_STRIP_FILES ON)

if(APPLE)
  set(CPACK_GENERATOR TGZ)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_PACKAGE_NAME focusctl)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FOCUSCTL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies come from the linked libraries (dpkg-shlibdeps), so
# they follow the backend that was built.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
