// The scan-control record kxsms hands the module before it logs in: the
// module's own defaults, with the scan type a job asks for. It goes in before
// the login, because the login sets the record's name-space field for a TSA
// that gives UTF-8 names, and a record set afterwards would undo that.
#ifndef KXSMS_TOOLS_SCANCONTROL_H
#define KXSMS_TOOLS_SCANCONTROL_H

#include "KXSMS.h"

namespace kxsms {

// Traversing the whole subtree; oneFileSystem: directories on other mounts
// than a scan's start are given but not descended into (the file-system TSA).
NWSM_SCAN_CONTROL traversingScanControl(bool oneFileSystem);

} // namespace kxsms

#endif
