# Checks the module file: the build stamp in a section that is not loaded, and
# the exported symbols (the interface, nothing of the stand-ins).
# Run as: cmake -DMODULE=<libKXSMS.so> -P CheckModule.cmake
execute_process(COMMAND readelf -S -W ${MODULE} OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${MODULE}")
endif()
string(REGEX MATCH "KxVersion[ ]+PROGBITS[ ]+[0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+ +([A-Z]*)" line "${sections}")
if(NOT line)
  message(FATAL_ERROR "no KxVersion section in ${MODULE}")
endif()
set(flags "${CMAKE_MATCH_1}")
if(flags MATCHES "A")
  message(FATAL_ERROR "KxVersion is loaded (flags ${flags})")
endif()

set(stamp ${CMAKE_CURRENT_BINARY_DIR}/KxVersion.txt)
execute_process(COMMAND objcopy --dump-section KxVersion=${stamp} ${MODULE} ${stamp}.so RESULT_VARIABLE rc)
file(READ ${stamp} text)
if(NOT text MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+ [01][0-9]/[0-3][0-9]/[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\n$")
  message(FATAL_ERROR "build stamp not in the expected form: '${text}'")
endif()

execute_process(COMMAND nm -D --defined-only ${MODULE} OUTPUT_VARIABLE symbols)
foreach(required CreateKXSMS DestroyKXSMS KXSMSStartConnectSemaphore KXSMSStopConnectSemaphore
        KXSMSWaitOnConnectSemaphore KXSMSSignalConnectSemaphore m_ConnectSemaphore KXSMSErrors
        KXSMS_SMSTargetServiceErrors KXSMS_SMSSMDRErrors KXSMS_NDSAgentErrors
        KXSMSTruncateTrailingCharacters KXSMSReplaceSeparators NDSstrchr NDSstrrchr NetWarePathNew
        _ZTV6CKXSMS _ZN6CKXSMS7ConnectE14KXSMS_TSA_TYPEPcP10KXPassword)
  if(NOT symbols MATCHES " ${required}\n")
    message(FATAL_ERROR "${required} is not exported")
  endif()
endforeach()
if(symbols MATCHES " (NWSM[A-Za-z]*|smsemu[A-Za-z]*|_ZN[0-9]*EvDebug)")
  message(FATAL_ERROR "a stand-in symbol is exported by the module: ${CMAKE_MATCH_1}")
endif()
message(STATUS "module stamp: ${text}")
