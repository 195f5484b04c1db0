# Checks that the build holds each piece to the folders it may include: a
# probe that includes one header is compiled with the exact command of one of
# the piece's sources (from compile_commands.json), and must compile where
# the header is the piece's to use and fail for want of the file where not.
# Run as: cmake -DBUILD=<build folder> -P CheckLayering.cmake

# Each rule, its words separated by blanks: a source of the piece, "allowed"
# or "forbidden", the headers.
set(rules
  "agent/Scan.cpp allowed Internal.h KXSMS.h KXSMSErr.h NetWarePath.h SMSAPI.h KxLib.h"
  "agent/Scan.cpp forbidden NetWarePathPrivate.h NetWarePathOperations.h IniFile.h requester/Config.h requester/SmsEmuTest.h"
  "errors/KXSMSErr.cpp allowed KXSMS.h KXSMSErr.h SMSAPI.h"
  "errors/KXSMSErr.cpp forbidden Internal.h NetWarePathPrivate.h LogLine.h requester/Config.h"
  "netwarepath/PathParsing.cpp allowed NetWarePath.h NetWarePathOperations.h NetWarePathPrivate.h"
  "netwarepath/PathParsing.cpp forbidden KXSMS.h KXSMSErr.h SMSAPI.h Internal.h"
  "kxlib/Log.cpp allowed KxLib.h IniFile.h LogSink.h"
  "kxlib/Log.cpp forbidden KXSMS.h NetWarePath.h requester/Config.h")

file(READ ${BUILD}/compile_commands.json commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")

# The command and folder that compile the source whose path ends in `source`.
function(command_of source command_var directory_var)
  foreach(i RANGE ${last})
    string(JSON file GET "${commands}" ${i} file)
    if(file MATCHES "/${source}$")
      string(JSON command GET "${commands}" ${i} command)
      string(JSON directory GET "${commands}" ${i} directory)
      set(${command_var} "${command}" PARENT_SCOPE)
      set(${directory_var} "${directory}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "no compile command for ${source} in ${BUILD}/compile_commands.json")
endfunction()

set(probes ${BUILD}/layering-probes)
file(MAKE_DIRECTORY ${probes})
set(failures "")
set(n 0)
foreach(rule IN LISTS rules)
  string(REPLACE " " ";" fields "${rule}")
  list(POP_FRONT fields source expectation)
  command_of(${source} command directory)
  foreach(header IN LISTS fields)
    math(EXPR n "${n} + 1")
    set(probe ${probes}/probe${n}.cpp)
    file(WRITE ${probe} "#include \"${header}\"\n")
    # The same compiler and flags, checking syntax only, on the probe.
    string(REGEX REPLACE " -o [^ ]+" "" probe_command "${command}")
    string(REGEX REPLACE " -c [^ ]+" " -fsyntax-only -c ${probe}" probe_command "${probe_command}")
    execute_process(COMMAND sh -c "${probe_command}" WORKING_DIRECTORY ${directory}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(expectation STREQUAL "allowed" AND NOT rc EQUAL 0)
      string(APPEND failures "${source} may include ${header}, but the probe does not compile:\n${out}\n")
    elseif(expectation STREQUAL "forbidden" AND rc EQUAL 0)
      string(APPEND failures "${source} must not reach ${header}, but the probe compiles\n")
    elseif(expectation STREQUAL "forbidden" AND NOT out MATCHES "${header}: No such file or directory")
      string(APPEND failures "${source}: the probe of ${header} fails for another reason:\n${out}\n")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE ${probes})
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "${n} includes checked")
