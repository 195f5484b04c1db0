# Compile settings shared by the object libraries that make up libKXSMS.so:
# hidden visibility, so that only the declared interface is exported.
function(kxsms_module_objects target)
  target_compile_options(${target} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  target_include_directories(${target} PUBLIC
    ${PROJECT_SOURCE_DIR}/platform
    ${PROJECT_SOURCE_DIR}/agent
    ${PROJECT_SOURCE_DIR}/errors
    ${PROJECT_SOURCE_DIR}/netwarepath)
endfunction()

# Shared libraries refuse undefined symbols, except in clang sanitizer builds:
# there the sanitizer runtime lives in the executable, not in each library.
function(kxsms_no_undefined target)
  if(KXSMS_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()
