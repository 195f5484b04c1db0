// The exported SMS functions of both stand-in libraries: one identifier per
// function, its name, the library that exports it and how its result reads.
// Call counting, fault injection and the trace key on these identifiers.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace smsemu {

// X(name, library, result): library U = libsmsut, R = libsmdr;
// result C = completion code, V = no result, O = other value (no faults).
#define SMSEMU_FUNCTIONS(X)                                                                                            \
    X(NWSMListTSAs, R, C)                                                                                              \
    X(NWSMConnectToTSA, R, C)                                                                                          \
    X(NWSMReleaseTSA, R, C)                                                                                            \
    X(NWSMTSListTargetServices, R, C)                                                                                  \
    X(NWSMTSConnectToTargetService, R, C)                                                                              \
    X(NWSMTSReleaseTargetService, R, C)                                                                                \
    X(NWSMTSListTSResources, R, C)                                                                                     \
    X(NWSMTSSetRestoreOptions, R, C)                                                                                   \
    X(NWSMTSGetSupportedNameTypes, R, C)                                                                               \
    X(NWSMTSConfigureTargetService, R, C)                                                                              \
    X(NWSMTSScanDataSetBegin, R, C)                                                                                    \
    X(NWSMTSScanNextDataSet, R, C)                                                                                     \
    X(NWSMTSScanDataSetEnd, R, C)                                                                                      \
    X(NWSMTSOpenDataSetForBackup, R, C)                                                                                \
    X(NWSMTSReadDataSet, R, C)                                                                                         \
    X(NWSMTSSetArchiveStatus, R, C)                                                                                    \
    X(NWSMTSOpenDataSetForRestore, R, C)                                                                               \
    X(NWSMTSWriteDataSet, R, C)                                                                                        \
    X(NWSMTSCloseDataSet, R, C)                                                                                        \
    X(NWSMTSDeleteDataSet, R, C)                                                                                       \
    X(NWSMTSScanSupportedNameSpaces, R, C)                                                                             \
    X(NWSMTSGetNameSpaceTypeInfo, R, C)                                                                                \
    X(NWSMTSSeparateDataSetName, R, C)                                                                                 \
    X(NWSMTSCatDataSetName, R, C)                                                                                      \
    X(NWSMPutOneName, U, C)                                                                                            \
    X(NWSMPutFirstName, U, C)                                                                                          \
    X(NWSMPutNextName, U, C)                                                                                           \
    X(NWSMCloseName, U, C)                                                                                             \
    X(NWSMGetOneName, U, C)                                                                                            \
    X(NWSMGetDataSetName, U, C)                                                                                        \
    X(NWSMStripEndSeparator, U, O)                                                                                     \
    X(NWSMFreeNameList, U, C)                                                                                          \
    X(NWSMFreeString, U, C)                                                                                            \
    X(NWSMPackDateTime, U, O)                                                                                          \
    X(NWSMUnPackDateTime, U, V)

enum class Fn : unsigned char {
#define SMSEMU_ENUM(name, lib, result) name,
    SMSEMU_FUNCTIONS(SMSEMU_ENUM)
#undef SMSEMU_ENUM
};

inline constexpr std::size_t kFunctionCount = 0
#define SMSEMU_COUNT(name, lib, result) +1
    SMSEMU_FUNCTIONS(SMSEMU_COUNT)
#undef SMSEMU_COUNT
    ;

enum class Library : unsigned char { Utilities, Requester };

struct FunctionInfo {
    const char *name;
    Library library;
    bool returnsCode; // faults apply only to these
};

const FunctionInfo &functionInfo(Fn fn);
std::optional<Fn> findFunction(std::string_view name);

} // namespace smsemu
