// The exported requester and TSA calls of libsmdr. Each call is counted,
// may be failed by an injected fault, is traced, checks its connection and
// hands the work to the connection's TSA (Tsa.h).
#include "requester/Authentication.h"
#include "requester/Connection.h"
#include "core/Export.h"
#include "core/NameMatch.h"
#include "core/NameSpaces.h"
#include "requester/Registry.h"
#include "requester/RequesterLog.h"
#include "SMSAPI.h"
#include "core/SmsBuffers.h"

#include <cstdlib>
#include <cstring>

using namespace smsemu;

namespace {

// The exported call this thread is running: a fault aimed at one
// connection applies as the call reaches it (onConnection).
thread_local Fn t_call = Fn{};

template <class Body, class Args>
CCODE requesterCall(Fn fn, Body &&body, Args &&args)
{
    t_call = fn;
    return runCall(requesterLog(), fn, NWSMDR_OUT_OF_MEMORY, body, args);
}

template <class Body, class Args>
CCODE targetCall(Fn fn, Body &&body, Args &&args)
{
    t_call = fn;
    return runCall(requesterLog(), fn, NWSMTS_OUT_OF_MEMORY, body, args);
}

// Runs `work` on a locked connection; `needLogin`: the connection must be
// logged in to its target service.
template <class Work>
CCODE onConnection(UINT32 handle, bool needLogin, Work &&work)
{
    Registry::LockedConnection locked;
    if (CCODE rc = Registry::instance().open(handle, needLogin, locked))
        return rc;
    if (CCODE fault = requesterLog().reached(t_call, handle))
        return fault;
    return work(*locked);
}

bool tooLong(const char *name)
{
    return std::strlen(name) > NWSM_MAX_NAME;
}

// Hands out a new string buffer, or fails without touching the output.
CCODE giveString(std::string_view text, STRING_BUFFER *&buffer)
{
    if (text.size() > NWSM_MAX_NAME)
        return NWSMTS_OVERFLOW;
    buffer = newStringBuffer(text);
    return buffer != nullptr ? 0 : NWSMTS_OUT_OF_MEMORY;
}

// Two string buffers, both or neither (a null output is not wanted).
CCODE giveStrings(std::string_view first, STRING_BUFFER **firstOut, std::string_view second, STRING_BUFFER **secondOut)
{
    STRING_BUFFER *a = nullptr;
    STRING_BUFFER *b = nullptr;
    CCODE rc = 0;
    if (firstOut != nullptr)
        rc = giveString(first, a);
    if (rc == 0 && secondOut != nullptr)
        rc = giveString(second, b);
    if (rc != 0) {
        std::free(a);
        std::free(b);
        return rc;
    }
    if (firstOut != nullptr)
        *firstOut = a;
    if (secondOut != nullptr)
        *secondOut = b;
    return 0;
}

template <class Map>
auto *findIn(Map &map, UINT32 key)
{
    auto found = map.find(key);
    return found != map.end() ? found->second.get() : nullptr;
}

} // namespace

// ---- TSAs and login ----------------------------------------------------------

SMSEMU_EXPORT CCODE NWSMListTSAs(char *hostName, NWSM_NAME_LIST **tsaList)
{
    return requesterCall(
        Fn::NWSMListTSAs,
        [&]() -> CCODE {
            if (tsaList == nullptr)
                return NWSMDR_INVALID_PARAMETER;
            *tsaList = nullptr;
            if (hostName == nullptr)
                return NWSMDR_INVALID_PARAMETER;
            return Registry::instance().listTsas(hostName, *tsaList);
        },
        [&](TraceLine &t, CCODE) { t.text(hostName).pointer(tsaList); });
}

SMSEMU_EXPORT CCODE NWSMConnectToTSA(char *tsaName, UINT32 *connection)
{
    return requesterCall(
        Fn::NWSMConnectToTSA,
        [&]() -> CCODE {
            if (tsaName == nullptr || connection == nullptr)
                return NWSMDR_INVALID_PARAMETER;
            return Registry::instance().connect(tsaName, *connection);
        },
        [&](TraceLine &t, CCODE rc) { t.text(tsaName).outAt(connection, rc); });
}

SMSEMU_EXPORT CCODE NWSMReleaseTSA(UINT32 *connection)
{
    return requesterCall(
        Fn::NWSMReleaseTSA,
        [&]() -> CCODE {
            if (connection == nullptr)
                return NWSMDR_INVALID_PARAMETER;
            return Registry::instance().release(*connection);
        },
        [&](TraceLine &t, CCODE) { t.valueAt(connection); });
}

SMSEMU_EXPORT CCODE NWSMTSListTargetServices(UINT32 connection, char *pattern, NWSM_NAME_LIST **serviceList)
{
    return targetCall(
        Fn::NWSMTSListTargetServices,
        [&]() -> CCODE {
            if (serviceList == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            *serviceList = nullptr;
            return onConnection(connection, false, [&](Connection &c) -> CCODE {
                NameListBuilder names;
                for (const std::string &service : c.tsa->targetServices())
                    if (globMatch(pattern != nullptr ? pattern : "*", service) && !names.add(service))
                        return NWSMTS_OUT_OF_MEMORY;
                *serviceList = names.take();
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) { t.hex(connection).text(pattern).pointer(serviceList); });
}

SMSEMU_EXPORT CCODE NWSMTSConnectToTargetService(UINT32 *connection, char *targetServiceName, char *userName,
                                                 void *authentication)
{
    return targetCall(
        Fn::NWSMTSConnectToTargetService,
        [&]() -> CCODE {
            if (connection == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(*connection, false, [&](Connection &c) -> CCODE {
                if (targetServiceName == nullptr || userName == nullptr)
                    return NWSMTS_INVALID_PARAMETER;
                std::string_view password;
                if (CCODE rc = readAuthentication(authentication, password))
                    return rc;
                bool known = false;
                for (const std::string &service : c.tsa->targetServices())
                    known = known || equalsIgnoringCase(service, targetServiceName);
                if (!known)
                    return NWSMTS_INVALID_PARAMETER;
                // Any login attempt ends the connection's previous login.
                c.logout();
                if (CCODE rc = c.tsa->login(c, userName, password))
                    return rc;
                c.user = userName;
                c.loggedIn = true;
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) {
            t.valueAt(connection).text(targetServiceName).text(userName).authentication(authentication);
        });
}

SMSEMU_EXPORT CCODE NWSMTSReleaseTargetService(UINT32 *connection)
{
    return targetCall(
        Fn::NWSMTSReleaseTargetService,
        [&]() -> CCODE {
            if (connection == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(*connection, false, [&](Connection &c) -> CCODE {
                c.logout();
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) { t.valueAt(connection); });
}

SMSEMU_EXPORT CCODE NWSMTSListTSResources(UINT32 connection, NWSM_NAME_LIST **resourceList)
{
    return targetCall(
        Fn::NWSMTSListTSResources,
        [&]() -> CCODE {
            if (resourceList == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            *resourceList = nullptr;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                NameListBuilder names;
                for (const std::string &resource : c.tsa->resourceNames())
                    if (!names.add(resource))
                        return NWSMTS_OUT_OF_MEMORY;
                *resourceList = names.take();
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) { t.hex(connection).pointer(resourceList); });
}

// ---- Target options ----------------------------------------------------------

SMSEMU_EXPORT CCODE NWSMTSSetRestoreOptions(UINT32 connection, NWBOOLEAN checkCRC, NWBOOLEAN dontCheckSelectionList,
                                            NWSM_SELECTION_LIST *selectionList)
{
    return targetCall(
        Fn::NWSMTSSetRestoreOptions,
        [&]() -> CCODE {
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                CCODE rc = 0;
                NWSM_SELECTION_LIST *copy = copyNameList(selectionList, rc);
                if (rc != 0)
                    return rc;
                std::free(c.restoreOptions.selectionList);
                c.restoreOptions = RestoreOptions{checkCRC != 0, dontCheckSelectionList != 0, copy};
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) {
            t.hex(connection).hex(checkCRC).hex(dontCheckSelectionList).pointer(selectionList);
        });
}

SMSEMU_EXPORT CCODE NWSMTSGetSupportedNameTypes(UINT32 connection, UINT32 *nameTypes)
{
    return targetCall(
        Fn::NWSMTSGetSupportedNameTypes,
        [&]() -> CCODE {
            if (nameTypes == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                *nameTypes = NWSM_NAME_TYPE_MBCS | (c.tsa->config().utf8Names ? NWSM_NAME_TYPE_UTF8 : 0u);
                return 0;
            });
        },
        [&](TraceLine &t, CCODE rc) { t.hex(connection).outAt(nameTypes, rc); });
}

SMSEMU_EXPORT CCODE NWSMTSConfigureTargetService(UINT32 connection, UINT32 option, void *value)
{
    return targetCall(
        Fn::NWSMTSConfigureTargetService,
        [&]() -> CCODE {
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                if (option != NWSM_OPTION_CACHING_MODE || !c.tsa->hasCachingMode())
                    return NWSMTS_UNSUPPORTED_OPTION;
                if (value == nullptr)
                    return NWSMTS_INVALID_PARAMETER;
                UINT32 mode = 0;
                std::memcpy(&mode, value, sizeof mode);
                if (mode > 1)
                    return NWSMTS_INVALID_PARAMETER;
                c.cachingMode = mode == 1;
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) {
            t.hex(connection).hex(option);
            if (option == NWSM_OPTION_CACHING_MODE && value != nullptr) {
                UINT32 mode = 0;
                std::memcpy(&mode, value, sizeof mode);
                t.hex(mode);
            } else {
                t.pointer(value);
            }
        });
}

// ---- Scans -------------------------------------------------------------------

SMSEMU_EXPORT CCODE NWSMTSScanDataSetBegin(UINT32 connection, NWSM_DATA_SET_NAME_LIST *resourceName,
                                           NWSM_SCAN_CONTROL *scanControl, NWSM_SELECTION_LIST *selectionList,
                                           UINT32 *sequence, NWSM_SCAN_INFORMATION **scanInformation,
                                           NWSM_DATA_SET_NAME_LIST **dataSetNames)
{
    return targetCall(
        Fn::NWSMTSScanDataSetBegin,
        [&]() -> CCODE {
            if (sequence == nullptr || scanInformation == nullptr || dataSetNames == nullptr || resourceName == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                ScanRequest request;
                request.resourceName = resourceName;
                if (scanControl != nullptr)
                    std::memcpy(&request.control, scanControl, sizeof request.control);
                else
                    request.control = defaultScanControl();
                request.selectionList = selectionList;
                std::unique_ptr<Scan> scan;
                if (CCODE rc = c.tsa->beginScan(c, request, scan))
                    return rc;
                UINT32 number = Connection::allocate(c.nextSequence, c.scans);
                if (number == 0)
                    return NWSMTS_OUT_OF_MEMORY;
                Scan &kept = *c.scans.emplace(number, std::move(scan)).first->second;
                *sequence = number;
                *scanInformation = kept.record().information();
                *dataSetNames = kept.record().names();
                return 0;
            });
        },
        [&](TraceLine &t, CCODE rc) {
            t.hex(connection).pointer(resourceName).pointer(scanControl).pointer(selectionList);
            t.outAt(sequence, rc).pointer(scanInformation).pointer(dataSetNames);
        });
}

SMSEMU_EXPORT CCODE NWSMTSScanNextDataSet(UINT32 connection, UINT32 *sequence, NWSM_SCAN_INFORMATION **scanInformation,
                                          NWSM_DATA_SET_NAME_LIST **dataSetNames)
{
    return targetCall(
        Fn::NWSMTSScanNextDataSet,
        [&]() -> CCODE {
            if (sequence == nullptr || scanInformation == nullptr || dataSetNames == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                Scan *scan = findIn(c.scans, *sequence);
                if (scan == nullptr)
                    return NWSMTS_INVALID_SEQUENCE_NUMBER;
                if (CCODE rc = scan->next()) {
                    // The end of the data sets, or a failure, ends the scan:
                    // its records are gone.
                    c.scans.erase(*sequence);
                    *scanInformation = nullptr;
                    *dataSetNames = nullptr;
                    return rc;
                }
                *scanInformation = scan->record().information();
                *dataSetNames = scan->record().names();
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) {
            t.hex(connection).valueAt(sequence).pointer(scanInformation).pointer(dataSetNames);
        });
}

SMSEMU_EXPORT CCODE NWSMTSScanDataSetEnd(UINT32 connection, UINT32 *sequence, NWSM_SCAN_INFORMATION **scanInformation,
                                         NWSM_DATA_SET_NAME_LIST **dataSetNames)
{
    return targetCall(
        Fn::NWSMTSScanDataSetEnd,
        [&]() -> CCODE {
            if (sequence == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                if (c.scans.erase(*sequence) == 0)
                    return NWSMTS_INVALID_SEQUENCE_NUMBER;
                if (scanInformation != nullptr)
                    *scanInformation = nullptr;
                if (dataSetNames != nullptr)
                    *dataSetNames = nullptr;
                return 0;
            });
        },
        [&](TraceLine &t, CCODE) {
            t.hex(connection).valueAt(sequence).pointer(scanInformation).pointer(dataSetNames);
        });
}

// ---- Data sets ---------------------------------------------------------------

namespace {

// Keeps a newly opened data set under a new handle.
CCODE keepDataSet(Connection &c, std::unique_ptr<DataSet> dataSet, UINT32 *handle)
{
    UINT32 number = Connection::allocate(c.nextDataSetHandle, c.dataSets);
    if (number == 0)
        return NWSMTS_OUT_OF_MEMORY;
    c.dataSets.emplace(number, std::move(dataSet));
    *handle = number;
    return 0;
}

} // namespace

SMSEMU_EXPORT CCODE NWSMTSOpenDataSetForBackup(UINT32 connection, UINT32 sequence, UINT32 openMode,
                                               UINT32 *dataSetHandle)
{
    return targetCall(
        Fn::NWSMTSOpenDataSetForBackup,
        [&]() -> CCODE {
            if (dataSetHandle == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                Scan *scan = findIn(c.scans, sequence);
                if (scan == nullptr)
                    return NWSMTS_INVALID_SEQUENCE_NUMBER;
                std::unique_ptr<DataSet> dataSet;
                if (CCODE rc = c.tsa->openForBackup(c, *scan, openMode, dataSet))
                    return rc;
                return keepDataSet(c, std::move(dataSet), dataSetHandle);
            });
        },
        [&](TraceLine &t, CCODE rc) { t.hex(connection).hex(sequence).hex(openMode).outAt(dataSetHandle, rc); });
}

SMSEMU_EXPORT CCODE NWSMTSReadDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToRead, UINT32 *bytesRead,
                                      UINT8 *buffer)
{
    return targetCall(
        Fn::NWSMTSReadDataSet,
        [&]() -> CCODE {
            if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0))
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                DataSet *dataSet = findIn(c.dataSets, dataSetHandle);
                if (dataSet == nullptr)
                    return NWSMTS_INVALID_DATA_SET_HANDLE;
                *bytesRead = 0;
                return dataSet->read(buffer, bytesToRead, *bytesRead);
            });
        },
        [&](TraceLine &t, CCODE rc) {
            t.hex(connection).hex(dataSetHandle).hex(bytesToRead).outAt(bytesRead, rc).pointer(buffer);
        });
}

SMSEMU_EXPORT CCODE NWSMTSSetArchiveStatus(UINT32 connection, UINT32 dataSetHandle, UINT32 setFlag,
                                           UINT32 archivedDateAndTime)
{
    return targetCall(
        Fn::NWSMTSSetArchiveStatus,
        [&]() -> CCODE {
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                DataSet *dataSet = findIn(c.dataSets, dataSetHandle);
                if (dataSet == nullptr)
                    return NWSMTS_INVALID_DATA_SET_HANDLE;
                return dataSet->setArchiveStatus(setFlag, archivedDateAndTime);
            });
        },
        [&](TraceLine &t, CCODE) { t.hex(connection).hex(dataSetHandle).hex(setFlag).hex(archivedDateAndTime); });
}

SMSEMU_EXPORT CCODE NWSMTSOpenDataSetForRestore(UINT32 connection, UINT32 parentHandle,
                                                NWSM_DATA_SET_NAME_LIST *newName, UINT32 openMode,
                                                UINT32 *dataSetHandle)
{
    return targetCall(
        Fn::NWSMTSOpenDataSetForRestore,
        [&]() -> CCODE {
            if (dataSetHandle == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                DataSet *parent = nullptr;
                if (parentHandle != 0 && (parent = findIn(c.dataSets, parentHandle)) == nullptr)
                    return NWSMTS_INVALID_DATA_SET_HANDLE;
                std::unique_ptr<DataSet> dataSet;
                if (CCODE rc = c.tsa->openForRestore(c, parent, newName, openMode, dataSet))
                    return rc;
                return keepDataSet(c, std::move(dataSet), dataSetHandle);
            });
        },
        [&](TraceLine &t, CCODE rc) {
            t.hex(connection).hex(parentHandle).pointer(newName).hex(openMode).outAt(dataSetHandle, rc);
        });
}

SMSEMU_EXPORT CCODE NWSMTSWriteDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToWrite, UINT8 *buffer)
{
    return targetCall(
        Fn::NWSMTSWriteDataSet,
        [&]() -> CCODE {
            if (buffer == nullptr && bytesToWrite != 0)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                DataSet *dataSet = findIn(c.dataSets, dataSetHandle);
                if (dataSet == nullptr)
                    return NWSMTS_INVALID_DATA_SET_HANDLE;
                return dataSet->write(buffer, bytesToWrite);
            });
        },
        [&](TraceLine &t, CCODE) { t.hex(connection).hex(dataSetHandle).hex(bytesToWrite).pointer(buffer); });
}

SMSEMU_EXPORT CCODE NWSMTSCloseDataSet(UINT32 connection, UINT32 *dataSetHandle)
{
    return targetCall(
        Fn::NWSMTSCloseDataSet,
        [&]() -> CCODE {
            if (dataSetHandle == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                auto found = c.dataSets.find(*dataSetHandle);
                if (found == c.dataSets.end())
                    return NWSMTS_INVALID_DATA_SET_HANDLE;
                CCODE rc = found->second->close();
                c.dataSets.erase(found);
                return rc;
            });
        },
        [&](TraceLine &t, CCODE) { t.hex(connection).valueAt(dataSetHandle); });
}

SMSEMU_EXPORT CCODE NWSMTSDeleteDataSet(UINT32 connection, UINT32 sequence)
{
    return targetCall(
        Fn::NWSMTSDeleteDataSet,
        [&]() -> CCODE {
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                Scan *scan = findIn(c.scans, sequence);
                if (scan == nullptr)
                    return NWSMTS_INVALID_SEQUENCE_NUMBER;
                return c.tsa->deleteDataSet(c, *scan);
            });
        },
        [&](TraceLine &t, CCODE) { t.hex(connection).hex(sequence); });
}

// ---- Names on the target -------------------------------------------------------

SMSEMU_EXPORT CCODE NWSMTSScanSupportedNameSpaces(UINT32 connection, UINT32 *sequence, char *resourceName,
                                                  UINT32 *nameSpaceType, char *nameSpaceName)
{
    return targetCall(
        Fn::NWSMTSScanSupportedNameSpaces,
        [&]() -> CCODE {
            if (sequence == nullptr || resourceName == nullptr || nameSpaceType == nullptr || nameSpaceName == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                std::span<const UINT32> types;
                if (CCODE rc = c.tsa->nameSpaces(resourceName, types))
                    return rc;
                if (*sequence >= types.size())
                    return NWSMTS_NO_MORE_NAMES;
                UINT32 type = types[*sequence];
                const char *name = smsemu::nameSpaceName(type);
                // The caller's buffer holds 64 bytes; names are far shorter.
                std::size_t length = std::min<std::size_t>(std::strlen(name != nullptr ? name : ""), 63);
                std::memcpy(nameSpaceName, name != nullptr ? name : "", length);
                nameSpaceName[length] = '\0';
                *nameSpaceType = type;
                *sequence += 1;
                return 0;
            });
        },
        [&](TraceLine &t, CCODE rc) {
            t.hex(connection).valueAt(sequence).text(resourceName).outAt(nameSpaceType, rc);
            if (rc == 0)
                t.text(nameSpaceName);
            else
                t.pointer(nameSpaceName);
        });
}

SMSEMU_EXPORT CCODE NWSMTSGetNameSpaceTypeInfo(UINT32 connection, UINT32 nameSpaceType, INT16 *reverseOrder,
                                               STRING_BUFFER **firstSeparator, STRING_BUFFER **secondSeparator)
{
    return targetCall(
        Fn::NWSMTSGetNameSpaceTypeInfo,
        [&]() -> CCODE {
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                if (!c.tsa->describesNameSpace(nameSpaceType))
                    return NWSMTS_INVALID_NAME_SPACE_TYPE;
                Separators separators = c.tsa->separators();
                if (CCODE rc = giveStrings(separators.first, firstSeparator, separators.second, secondSeparator))
                    return rc;
                if (reverseOrder != nullptr)
                    *reverseOrder = 0;
                return 0;
            });
        },
        [&](TraceLine &t, CCODE rc) {
            t.hex(connection)
                .hex(nameSpaceType)
                .outAt(reverseOrder, rc)
                .pointer(firstSeparator)
                .pointer(secondSeparator);
        });
}

SMSEMU_EXPORT CCODE NWSMTSSeparateDataSetName(UINT32 connection, UINT32 nameSpaceType, char *dataSetName,
                                              STRING_BUFFER **parentName, STRING_BUFFER **childName)
{
    return targetCall(
        Fn::NWSMTSSeparateDataSetName,
        [&]() -> CCODE {
            if (dataSetName == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                if (tooLong(dataSetName))
                    return NWSMTS_INVALID_DATA_SET_NAME;
                std::string parent, child;
                if (CCODE rc = c.tsa->separateName(dataSetName, parent, child))
                    return rc;
                return giveStrings(parent, parentName, child, childName);
            });
        },
        [&](TraceLine &t, CCODE) {
            t.hex(connection).hex(nameSpaceType).text(dataSetName).pointer(parentName).pointer(childName);
        });
}

SMSEMU_EXPORT CCODE NWSMTSCatDataSetName(UINT32 connection, UINT32 nameSpaceType, char *parentName, char *childName,
                                         NWBOOLEAN reverseOrder, STRING_BUFFER **dataSetName)
{
    return targetCall(
        Fn::NWSMTSCatDataSetName,
        [&]() -> CCODE {
            if (parentName == nullptr || childName == nullptr || dataSetName == nullptr)
                return NWSMTS_INVALID_PARAMETER;
            return onConnection(connection, true, [&](Connection &c) -> CCODE {
                if (tooLong(parentName) || tooLong(childName))
                    return NWSMTS_INVALID_DATA_SET_NAME;
                std::string joined;
                if (CCODE rc = c.tsa->joinName(parentName, childName, joined))
                    return rc;
                return giveStrings(joined, dataSetName, {}, nullptr);
            });
        },
        [&](TraceLine &t, CCODE) {
            t.hex(connection)
                .hex(nameSpaceType)
                .text(parentName)
                .text(childName)
                .hex(reverseOrder)
                .pointer(dataSetName);
        });
}
