# Install rules: cmake --install <build> --prefix P (DESTDIR honoured).
#
#   P/bin/kxsms                                   the command-line host
#   P/lib/<multiarch>/kxsms/                      private: libKXSMS.so and the stand-ins
#                                                 (libsmdr.so.0, libsmsut.so.0, libKxLib.so)
#   P/include/kxsms/                              the host-facing headers
#   P/lib/<multiarch>/pkgconfig/kxsms.pc          for pkg-config --cflags --libs kxsms
#   P/share/man/man1/kxsms.1                      the manual page (when the tree has one)
#   P/share/bash-completion/completions/kxsms     completion (when the tree has one)
#   P/share/doc/kxsms/                            the READMEs, in the tree's own layout,
#                                                 and examples/
#
# The stand-ins carry the names of the platform's own libraries, so they are
# never put where the machine's loader searches: the module finds them beside
# itself ($ORIGIN), and kxsms finds the module and the support library through
# a run path relative to its own folder. Every run path is relative, so an
# install tree works wherever it is copied or unpacked.
#
# Included from the top CMakeLists.txt after the components (the rules name
# their targets); cmake/InstallDirs.cmake before them.

# The folders are decided in cmake/InstallDirs.cmake, before the components.

# --- run paths --------------------------------------------------------------
# In the build tree everything stays as it is (build/bin, build/lib, $ORIGIN).
# The module and libsmdr (which needs libsmsut) find their neighbours in the
# private folder; kxsms links the support library and loads the module from it.
set_target_properties(KXSMS smdr PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(kxsms PROPERTIES INSTALL_RPATH "$ORIGIN/${KXSMS_PRIVATE_LIBDIR_FROM_BINDIR}")
# kxsms looks for the module there first (tools/kxsms/frame/Module.cpp), then in the build tree.
set_source_files_properties(${PROJECT_SOURCE_DIR}/tools/kxsms/frame/Module.cpp
  DIRECTORY ${PROJECT_SOURCE_DIR}/tools/kxsms
  PROPERTIES COMPILE_DEFINITIONS "KXSMS_MODULE_DIR=\"${KXSMS_PRIVATE_LIBDIR_FROM_BINDIR}\"")

# --- programs and libraries -------------------------------------------------
install(TARGETS kxsms RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# libKXSMS.so and libKxLib.so are linked by hosts (-lKXSMS -lKxLib); the
# stand-ins of libsmdr and libsmsut only by soname, so no development link.
install(TARGETS KXSMS KxLib LIBRARY DESTINATION ${KXSMS_INSTALL_PRIVATE_LIBDIR})
install(TARGETS smdr smsut LIBRARY DESTINATION ${KXSMS_INSTALL_PRIVATE_LIBDIR} NAMELINK_SKIP)

# --- for host developers ----------------------------------------------------
# KXSMS.h with the platform declarations it includes, the error codes and
# tables a host may read, and the C interface of the path objects.
# The list is KXSMS_PUBLIC_HEADERS (cmake/Module.cmake), which the build
# compiles the module and its tests against.
list(TRANSFORM KXSMS_PUBLIC_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE public_headers)
install(FILES ${public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kxsms)

# kxsms.pc names its prefix relative to its own folder (${pcfiledir}), so it
# is right in any prefix, under a DESTDIR and in an unpacked package, with no
# --define-prefix or sysroot.
file(RELATIVE_PATH KXSMS_PC_PREFIX_FROM_PCDIR "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kxsms.pc.in ${CMAKE_BINARY_DIR}/generated/kxsms.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/kxsms.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# --- manual page, completion, documents, examples ----------------------------
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/kxsms.1)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kxsms.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
# The completion script, wherever the tree keeps it; installed under the
# command's name, where bash-completion loads it on demand.
foreach(candidate docs/kxsms.bash-completion docs/kxsms.bash docs/kxsms-completion.bash
                  tools/kxsms/kxsms.bash-completion tools/kxsms/completion/kxsms.bash)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${candidate})
    install(FILES ${PROJECT_SOURCE_DIR}/${candidate}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME kxsms)
    break()
  endif()
endforeach()

# The READMEs keep the tree's relative places, so the links between them hold.
foreach(doc README.md agent/README.md kxlib/README.md smsemu/README.md tools/kxsms/README.md
            docs/archive-format.md)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${doc})
    get_filename_component(folder ${doc} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${doc} DESTINATION ${CMAKE_INSTALL_DOCDIR}/${folder})
  endif()
endforeach()
# The sample configuration and its data (paths relative to smsemu.toml).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
