# `make package`: a Debian package of the host tool (the binary with the stub
# inside, its manual page, bash completion and README), built by CPack from
# the install rules. The binary links the C++ runtime statically, so libc is
# its only dependency; dpkg-shlibdeps works out which version.
include(GNUInstallDirs)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Who answers for the package. Debian's own tools read DEBFULLNAME and
# DEBEMAIL; a build machine that sets them signs its packages without more.
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
    set(stubkit_default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
    set(stubkit_default_maintainer "stubkit maintainers <stubkit@localhost>")
endif()
set(STUBKIT_PACKAGE_MAINTAINER "${stubkit_default_maintainer}" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")

# The copyright file and the changelog every Debian package carries; the
# changelog compressed without a time stamp, so the package stays reproducible.
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9nkf changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
add_custom_target(stubkit_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stubkit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and inspects self-extracting installers for 32-bit Windows")
set(CPACK_PACKAGE_DESCRIPTION "stubkit packs a product folder and a TOML description into one \
setup.exe: a small installer stub followed by one compressed payload. It also lists, tests \
and extracts installers, and signs them with Authenticode through osslsigncode.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STUBKIT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Signing and signature checks run osslsigncode; everything else works without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
