#include "frame/ScanControl.h"

#include <cstddef>

namespace kxsms {

NWSM_SCAN_CONTROL traversingScanControl(bool oneFileSystem)
{
    NWSM_SCAN_CONTROL control{};
    control.bufferSize = sizeof control;
    control.scanControlSize = offsetof(NWSM_SCAN_CONTROL, otherInformation);
    control.scanType = oneFileSystem ? NWSM_SCAN_TYPE_ONE_FILE_SYSTEM : 0u;
    control.scanChildNameSpaceType = -1;
    control.returnNameSpaceType = -1;
    return control;
}

} // namespace kxsms
