#include "requester/ScanRecord.h"

#include <cstdlib>

namespace smsemu {

ScanRecord::ScanRecord()
{
    clear();
}

ScanRecord::~ScanRecord()
{
    std::free(names_);
}

void ScanRecord::clear()
{
    information_ = NWSM_SCAN_INFORMATION{};
    information_.bufferSize = sizeof(NWSM_SCAN_INFORMATION);
    information_.scanInformationSize = sizeof(NWSM_SCAN_INFORMATION);
    clearNameList(names_);
}

CCODE ScanRecord::addName(const NameFields &fields)
{
    return appendName(names_, fields);
}

} // namespace smsemu
