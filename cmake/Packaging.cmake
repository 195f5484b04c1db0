# The Debian package (make package, or cpack -G DEB in the build folder):
# everything the install rules put in place (cmake/Install.cmake), under /usr.
# Its dependencies are computed by dpkg-shlibdeps from the programs and
# libraries it holds; the module and the stand-ins in the private folder are
# the package's own and are found there (their $ORIGIN run paths, and the
# folder named below), so they yield no dependency.
#
# Included from the top CMakeLists.txt after cmake/Install.cmake.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kxsms)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KXSMS developers")
set(CPACK_PACKAGE_CONTACT "KXSMS maintainers <kxsms-maintainers@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data-access module of a backup agent, with a command-line host")
set(CPACK_PACKAGE_DESCRIPTION
"libKXSMS.so is the data-access module of a backup agent: a host loads it and
drives one object, CKXSMS, to back up, restore and delete data on storage
targets reached through Storage Management Services and their Target Service
Agents (file system, directory, GroupWise).
.
The package holds the module, stand-ins for the platform libraries it calls
(in a private folder, so the machine's own libraries of those names are not
shadowed), the command-line host kxsms (backup, restore, list, verify), the
headers and pkg-config file for host developers, and sample configurations.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in the staging folder: this relative path is the
# private folder there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${CPACK_PACKAGING_INSTALL_PREFIX}/${KXSMS_INSTALL_PRIVATE_LIBDIR}")
string(REGEX REPLACE "^/" "" CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS}")

include(CPack)
