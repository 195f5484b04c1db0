# The module's interface and the rules its pieces are built with.
#
# Which folders a piece may include is decided here and in each component's
# CMakeLists.txt, and the compiler holds to it: a piece is given only those
# include folders, so an include of anything else fails to compile.
#
#   netwarepath   its own folder only
#   errors        its own folder and the interface (below)
#   agent         its own folder and the interface
#   KxLib         its own folder and platform/
#   KXSMS         compiles only the build stamp; gives its users the interface
#
# The interface is the set of headers a host gets (installed as
# include/kxsms): KXSMS_PUBLIC_HEADERS, gathered in <build>/include/kxsms as
# links to the sources. Through it the module sees the platform's
# declarations and the other pieces' public headers, and never a private
# header of another piece (agent/Internal.h, netwarepath/NetWarePathPrivate.h,
# netwarepath/NetWarePathOperations.h) nor a header of the stand-ins
# (smsemu/, kxlib/). Since it is the installed set, a public header that
# included anything outside it would fail to compile here as it would for a
# host.

set(KXSMS_PUBLIC_HEADERS
  agent/KXSMS.h
  errors/KXSMSErr.h
  netwarepath/NetWarePath.h
  platform/KxLib.h
  platform/SMSAPI.h)

set(KXSMS_INTERFACE_DIR ${CMAKE_BINARY_DIR}/include/kxsms)
file(REMOVE_RECURSE ${KXSMS_INTERFACE_DIR})
file(MAKE_DIRECTORY ${KXSMS_INTERFACE_DIR})
foreach(header ${KXSMS_PUBLIC_HEADERS})
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${header} ${KXSMS_INTERFACE_DIR}/${name} SYMBOLIC)
endforeach()

# The interface headers, for the module's pieces, its users and a host that
# loads it with dlopen and so does not link it.
add_library(kxsms_interface INTERFACE)
target_include_directories(kxsms_interface INTERFACE ${KXSMS_INTERFACE_DIR})

# Compile settings shared by the object libraries that make up libKXSMS.so:
# hidden visibility, so that only the declared interface is exported, and
# the piece's own folder; the caller adds what else it may use.
function(kxsms_module_objects target)
  target_compile_options(${target} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# Shared libraries refuse undefined symbols, except in clang sanitizer builds:
# there the sanitizer runtime lives in the executable, not in each library.
function(kxsms_no_undefined target)
  if(KXSMS_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()
