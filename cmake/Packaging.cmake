# `make package`: a Debian package of the host tool (the binary with the stub
# inside, its manual page, bash completion and README), built by CPack from
# the install rules. The binary links the C++ runtime statically, so libc is
# its only dependency; dpkg-shlibdeps works out which version.
include(GNUInstallDirs)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stubkit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and inspects self-extracting installers for 32-bit Windows")
set(CPACK_PACKAGE_DESCRIPTION "stubkit packs a product folder and a TOML description into one \
setup.exe: a small installer stub followed by one compressed payload. It also lists, tests \
and extracts installers, and signs them with Authenticode through osslsigncode.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "stubkit maintainers <stubkit@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Signing and signature checks run osslsigncode; everything else works without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
