#include "requester/Tsa.h"

#include "requester/Authentication.h"

#include "core/NameMatch.h"
#include "core/NameSpaces.h"

namespace smsemu {

NWSM_SCAN_CONTROL defaultScanControl()
{
    NWSM_SCAN_CONTROL control{};
    control.bufferSize = sizeof(NWSM_SCAN_CONTROL);
    control.scanControlSize = offsetof(NWSM_SCAN_CONTROL, otherInformation);
    control.scanType = 0;
    control.scanChildNameSpaceType = -1;
    control.returnNameSpaceType = -1;
    return control;
}

UINT32 returnedNameSpace(const NWSM_SCAN_CONTROL &control, UINT32 base)
{
    if (static_cast<UINT32>(control.returnNameSpaceType) == NWSM_RETURN_UTF8_NAMES)
        return NWSM_NAME_SPACE_UTF8_BASE + base;
    return base;
}

bool Tsa::describesNameSpace(UINT32 type) const
{
    if (isKnownNameSpace(type))
        return true;
    for (const ResourceConfig &resource : config_.resources)
        for (UINT32 configured : resource.nameSpaces)
            if (type == configured || (configured <= 0xFFFFFFFFu - NWSM_NAME_SPACE_UTF8_BASE &&
                                       type == configured + NWSM_NAME_SPACE_UTF8_BASE))
                return true;
    return false;
}

std::vector<std::string> Tsa::configuredResourceNames() const
{
    std::vector<std::string> names;
    for (const ResourceConfig &resource : config_.resources)
        names.push_back(resource.name);
    return names;
}

CCODE Tsa::configuredNameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    for (const ResourceConfig &configured : config_.resources)
        if (equalsIgnoringCase(configured.name, resource)) {
            types = configured.nameSpaces;
            return 0;
        }
    return NWSMTS_RESOURCE_NAME_NOT_FOUND;
}

CCODE DataSet::read(UINT8 *, UINT32, UINT32 &)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}
CCODE DataSet::write(const UINT8 *, UINT32)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}
CCODE DataSet::setArchiveStatus(UINT32, UINT32)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}
CCODE DataSet::close()
{
    return 0;
}

CCODE Tsa::beginScan(Connection &, const ScanRequest &, std::unique_ptr<Scan> &)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}

CCODE Tsa::openForBackup(Connection &, Scan &, UINT32, std::unique_ptr<DataSet> &)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}

CCODE Tsa::openForRestore(Connection &, DataSet *, const NWSM_DATA_SET_NAME_LIST *, UINT32, std::unique_ptr<DataSet> &)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}

CCODE Tsa::deleteDataSet(Connection &, Scan &)
{
    return NWSMTS_UNSUPPORTED_FUNCTION;
}

CCODE Tsa::login(Connection &, std::string_view user, std::string_view password)
{
    return checkLogin(config_, user, password);
}

void Tsa::loggingOut(Connection &) {}

} // namespace smsemu
