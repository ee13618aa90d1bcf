# SPDX-License-Identifier: GPL-3.0-or-later
# `make package`: a Debian package of the application, pellisor_<version>_<arch>.deb, with the Qt 6 runtime
# packages it links as dependencies (found by dpkg-shlibdeps).
include(GNUInstallDirs)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellisor)
set(CPACK_PACKAGE_VENDOR "Pellisor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serve an iTunes music library to a BlackBerry handset")
# Debian wants the lines of the long description under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Pellisor lets a BlackBerry handset list and download the songs of an iTunes
library over the local network. It serves HTTP on TCP port 4556, and its window
shows the computer's addresses to type into the handset. Libraries copied from
Windows or Mac computers are served as they are.")
set(CPACK_PACKAGE_CONTACT "Pellisor developers <pellisor@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PELLISOR_HOMEPAGE}")
# Stripped as Debian's own packages are (app/CMakeLists.txt also drops the sections dh_strip drops).
set(CPACK_STRIP_FILES ON)

# Every Debian package carries a change log, compressed like the manual.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${GZIP_COMMAND} -9 -n -c ${CMAKE_BINARY_DIR}/doc/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog)
add_custom_target(pellisor_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/pellisor COMPONENT pellisor)

include(CPack)
