# Writes the build stamp of the module: a non-loaded section "KxVersion" holding
# one line "MAJOR.MINOR.PATCH.BUILD MM/DD/YY HH:MM:SS\n". The time is the
# configure time, or SOURCE_DATE_EPOCH when set (string(TIMESTAMP) honours it).
# BUILD is the number of commits on the checked-out branch (0 outside git).
function(kxsms_version_stamp out_var)
  string(TIMESTAMP stamp_time "%m/%d/%y %H:%M:%S")
  set(build 0)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0 AND count MATCHES "^[0-9]+$")
      set(build ${count})
    endif()
  endif()
  set(KXSMS_VERSION_LINE "${PROJECT_VERSION}.${build} ${stamp_time}" PARENT_SCOPE)
  set(file ${CMAKE_BINARY_DIR}/generated/KxVersion.cpp)
  file(CONFIGURE OUTPUT ${file} CONTENT
"// Generated: the build stamp, in a section that is not loaded (no alloc flag).
__asm__(\".pushsection KxVersion,\\\"\\\",@progbits\\n\"
        \".ascii \\\"${PROJECT_VERSION}.${build} ${stamp_time}\\\\n\\\"\\n\"
        \".popsection\\n\");

")
  set(${out_var} ${file} PARENT_SCOPE)
endfunction()
