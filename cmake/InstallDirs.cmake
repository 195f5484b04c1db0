# Where an install puts things (GNUInstallDirs). Included from the top
# CMakeLists.txt before the components, so that tests know the layout;
# cmake/Install.cmake holds the rules.
#
# The library folder is lib/<multiarch> wherever the toolchain names a
# multiarch tuple, whatever the prefix (GNUInstallDirs does so only for /usr):
# an install into a scratch prefix then has the layout of the package.
# Documents go to share/doc/kxsms: the package's name, not the project's.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (LIBDIR)")
endif()
if(NOT DEFINED CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/kxsms" CACHE PATH "Documentation root (DOCDIR)")
endif()
include(GNUInstallDirs)
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}"
   OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  message(FATAL_ERROR "CMAKE_INSTALL_BINDIR, CMAKE_INSTALL_LIBDIR and CMAKE_INSTALL_INCLUDEDIR must be "
                      "relative to the prefix: the install tree finds its parts by relative paths")
endif()

set(KXSMS_INSTALL_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/kxsms")
# The private folder as seen from the programs' folder, e.g. "../lib/x86_64-linux-gnu/kxsms".
file(RELATIVE_PATH KXSMS_PRIVATE_LIBDIR_FROM_BINDIR
  "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${KXSMS_INSTALL_PRIVATE_LIBDIR}")
