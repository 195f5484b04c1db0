// The name utilities of libsmsut: data-set name lists, selection lists, name
// lookups, the trailing-separator rule and the release of SMS memory.
#include "core/Export.h"
#include "core/NameList.h"
#include "core/NameSpaces.h"
#include "SMSAPI.h"
#include "core/SmsBuffers.h"
#include "utilities/UtilitiesLog.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace smsemu;

namespace {

template <class Body, class Args>
CCODE utility(Fn fn, Body &&body, Args &&args)
{
    return runCall(utilitiesLog(), fn, NWSMTS_OUT_OF_MEMORY, body, args);
}

NameFields fields(UINT32 nameSpaceType, UINT32 selectionType, INT16 reverseOrder, const char *firstSeparator,
                  const char *secondSeparator, const char *name)
{
    return NameFields{nameSpaceType, selectionType, reverseOrder, firstSeparator, secondSeparator, name};
}

bool isSeparator(UINT32 nameSpaceType, char c)
{
    return c == '/' || c == '\\' || (c == ':' && isMacNameSpace(nameSpaceType));
}

} // namespace

SMSEMU_EXPORT CCODE NWSMPutOneName(NWSM_DATA_SET_NAME_LIST **nameList, UINT32 nameSpaceType, UINT32 selectionType,
                                   INT16 reverseOrder, char *firstSeparator, char *secondSeparator, char *name)
{
    return utility(
        Fn::NWSMPutOneName,
        [&]() -> CCODE {
            if (nameList == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            *nameList = nullptr;
            if (CCODE rc = checkNameFields(name, firstSeparator, secondSeparator))
                return rc;
            NWSM_DATA_SET_NAME_LIST *list =
                newNameList(fields(nameSpaceType, selectionType, reverseOrder, firstSeparator, secondSeparator, name));
            if (list == nullptr)
                return NWSMTS_OUT_OF_MEMORY;
            *nameList = list;
            return 0;
        },
        [&](TraceLine &t, CCODE) {
            t.pointer(nameList).hex(nameSpaceType).hex(selectionType).hex16(reverseOrder);
            t.text(firstSeparator).text(secondSeparator).text(name);
        });
}

SMSEMU_EXPORT CCODE NWSMPutFirstName(NWSM_SELECTION_LIST **selectionList, UINT32 nameSpaceType, UINT32 selectionType,
                                     INT16 reverseOrder, char *firstSeparator, char *secondSeparator, char *name,
                                     NWSM_NAME_HANDLE *handle)
{
    return utility(
        Fn::NWSMPutFirstName,
        [&]() -> CCODE {
            if (selectionList == nullptr || handle == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            if (CCODE rc = checkNameFields(name, firstSeparator, secondSeparator))
                return rc;
            // A new list; a list the pointer may still hold is the caller's
            // and is not touched.
            NWSM_SELECTION_LIST *list =
                newNameList(fields(nameSpaceType, selectionType, reverseOrder, firstSeparator, secondSeparator, name));
            if (list == nullptr)
                return NWSMTS_OUT_OF_MEMORY;
            *selectionList = list;
            // The handle is the address of the caller's list pointer, which
            // stays put while the list grows and moves.
            *handle = selectionList;
            return 0;
        },
        [&](TraceLine &t, CCODE) {
            t.pointer(selectionList).hex(nameSpaceType).hex(selectionType).hex16(reverseOrder);
            t.text(firstSeparator).text(secondSeparator).text(name).pointer(handle);
        });
}

SMSEMU_EXPORT CCODE NWSMPutNextName(NWSM_SELECTION_LIST **selectionList, NWSM_NAME_HANDLE *handle, UINT32 nameSpaceType,
                                    UINT32 selectionType, INT16 reverseOrder, char *firstSeparator,
                                    char *secondSeparator, char *name)
{
    return utility(
        Fn::NWSMPutNextName,
        [&]() -> CCODE {
            if (selectionList == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            if (handle == nullptr || *handle == nullptr || *selectionList == nullptr ||
                ((*selectionList)->flags & NWSM_NAME_LIST_CLOSED) != 0)
                return NWSMTS_INVALID_SELECTION_LIST;
            if (CCODE rc = checkNameFields(name, firstSeparator, secondSeparator))
                return rc;
            return appendName(*selectionList, fields(nameSpaceType, selectionType, reverseOrder, firstSeparator,
                                                     secondSeparator, name));
        },
        [&](TraceLine &t, CCODE) {
            t.pointer(selectionList).pointer(handle).hex(nameSpaceType).hex(selectionType).hex16(reverseOrder);
            t.text(firstSeparator).text(secondSeparator).text(name);
        });
}

SMSEMU_EXPORT CCODE NWSMCloseName(NWSM_NAME_HANDLE *handle)
{
    return utility(
        Fn::NWSMCloseName,
        [&]() -> CCODE {
            if (handle == nullptr || *handle == nullptr)
                return NWSMTS_INVALID_SELECTION_LIST;
            auto *listPointer = static_cast<NWSM_SELECTION_LIST **>(*handle);
            if (*listPointer == nullptr)
                return NWSMTS_INVALID_SELECTION_LIST;
            (*listPointer)->flags |= NWSM_NAME_LIST_CLOSED;
            *handle = nullptr;
            return 0;
        },
        [&](TraceLine &t, CCODE) { t.pointer(handle); });
}

SMSEMU_EXPORT CCODE NWSMGetOneName(NWSM_DATA_SET_NAME_LIST *nameList, NWSM_DATA_SET_NAME *name)
{
    return utility(
        Fn::NWSMGetOneName,
        [&]() -> CCODE {
            if (name == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            const NWSM_NAME_ENTRY *entry = firstEntry(nameList);
            if (entry == nullptr)
                return NWSMTS_NO_MORE_NAMES;
            describeEntry(*entry, *name);
            return 0;
        },
        [&](TraceLine &t, CCODE) { t.pointer(nameList).pointer(name); });
}

SMSEMU_EXPORT CCODE NWSMGetDataSetName(NWSM_DATA_SET_NAME_LIST *nameList, UINT32 nameSpaceType,
                                       NWSM_DATA_SET_NAME *name)
{
    return utility(
        Fn::NWSMGetDataSetName,
        [&]() -> CCODE {
            if (name == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            const NWSM_NAME_ENTRY *entry = firstEntryOfType(nameList, nameSpaceType);
            if (entry == nullptr)
                return NWSMTS_NO_MORE_NAMES;
            describeEntry(*entry, *name);
            return 0;
        },
        [&](TraceLine &t, CCODE) { t.pointer(nameList).hex(nameSpaceType).pointer(name); });
}

SMSEMU_EXPORT char *NWSMStripEndSeparator(UINT32 nameSpaceType, char *name, char **removedAt)
{
    CallLog &log = utilitiesLog();
    CallLog::Start start = startCall(log, Fn::NWSMStripEndSeparator);
    std::string before;
    if (start.trace && name != nullptr) {
        try {
            before = name;
        } catch (...) {
            start.trace = false;
        }
    }

    if (removedAt != nullptr)
        *removedAt = nullptr;
    if (name != nullptr) {
        std::size_t length = std::strlen(name);
        // One separator, and never the last character of the name.
        if (length > 1 && isSeparator(nameSpaceType, name[length - 1])) {
            name[length - 1] = '\0';
            if (removedAt != nullptr)
                *removedAt = name + length - 1;
        }
    }

    if (start.trace)
        traceCall(log, Fn::NWSMStripEndSeparator, [&](TraceLine &t) {
            t.hex(nameSpaceType);
            if (name != nullptr)
                t.text(std::string_view(before));
            else
                t.text(static_cast<const char *>(nullptr));
            t.pointer(removedAt);
            return t.endText(name);
        });
    return name;
}

SMSEMU_EXPORT CCODE NWSMFreeNameList(NWSM_NAME_LIST **list)
{
    return utility(
        Fn::NWSMFreeNameList,
        [&]() -> CCODE {
            if (list == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            freeNameList(*list);
            *list = nullptr;
            return 0;
        },
        [&](TraceLine &t, CCODE) { t.pointer(list); });
}

SMSEMU_EXPORT CCODE NWSMFreeString(STRING_BUFFER **string)
{
    return utility(
        Fn::NWSMFreeString,
        [&]() -> CCODE {
            if (string == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            std::free(*string);
            *string = nullptr;
            return 0;
        },
        [&](TraceLine &t, CCODE) { t.pointer(string); });
}
