// The SMS code the file-system TSA answers for a system error, by the step
// that met it. Each code is a row of the error tables whose text says what
// happened, and permission problems get codes that the agent's module takes
// as failures of one data set, never as the end of the job: only a full disk
// or no memory make a job impossible.
#pragma once

#include "SMSAPI.h"

namespace smsemu {

enum class FsStep {
    Open,    // opening a data set, reading its link or its metadata; walking to its directory
    Read,    // reading a data set's contents
    List,    // listing a directory, describing one of its entries
    Create,  // making a file, directory, link or temporary in restore
    Write,   // writing restored data, renaming it into place
    SetInfo, // owner, mode and times of a restored data set
};

CCODE errnoCode(FsStep step, int error);

// Whether the code errnoCode gives says what the error is (no access, no
// space, no memory, no such entry, one there already); where it does not (a
// read-only file system, an I/O error, an operation the file system does
// not support, ...), the TSA gives the system's words beside it.
bool codeSaysIt(int error);

inline CCODE openErrorCode(int error)
{
    return errnoCode(FsStep::Open, error);
}
inline CCODE readErrorCode(int error)
{
    return errnoCode(FsStep::Read, error);
}
inline CCODE listErrorCode(int error)
{
    return errnoCode(FsStep::List, error);
}
inline CCODE createErrorCode(int error)
{
    return errnoCode(FsStep::Create, error);
}
inline CCODE writeErrorCode(int error)
{
    return errnoCode(FsStep::Write, error);
}
inline CCODE setInfoErrorCode(int error)
{
    return errnoCode(FsStep::SetInfo, error);
}

} // namespace smsemu
