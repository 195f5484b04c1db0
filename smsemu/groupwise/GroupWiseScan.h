// Scans of the GroupWise TSA. A scan of a domain's data sets is a scan of the
// file-system TSA that serves the domains (GroupWiseNames.h), its records
// copied with the names in GroupWise form. A scan of "GroupWise Mail Server"
// stands on it first, then on each domain in configuration order: at one
// level on the domain alone, else on its whole subtree (one domain scan at a
// time).
//
// The selection list is passed on in file-system form: a domain excluded as a
// resource is passed over, "GroupWise Mail Server" excluded as a resource or
// parent excludes a scan that starts there (NWSMTS_DATA_SET_EXCLUDED).
#pragma once

#include "requester/Config.h"
#include "requester/Tsa.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace smsemu {

class GroupWiseScan : public Scan {
public:
    static CCODE begin(Tsa &fileSystem, const std::vector<ResourceConfig> &domains, Connection &connection,
                       const ScanRequest &request, std::unique_ptr<Scan> &scan);

    CCODE next() override;
    // Null while the scan stands on "GroupWise Mail Server", else the
    // file-system scan it stands in.
    Scan *inner() const { return inner_.get(); }

private:
    struct FreeList {
        void operator()(NWSM_SELECTION_LIST *list) const { std::free(list); }
    };

    GroupWiseScan(Tsa &fileSystem, const std::vector<ResourceConfig> &domains, Connection &connection)
        : fileSystem_(fileSystem), domains_(domains), connection_(connection)
    {
    }
    CCODE describeServer();
    // Copies the file-system scan's record with GroupWise names.
    CCODE translate();
    // Begins the scan of the next domain that is not excluded;
    // NWSMTS_NO_MORE_DATA_SETS after the last.
    CCODE nextDomain();

    Tsa &fileSystem_;
    const std::vector<ResourceConfig> &domains_;
    Connection &connection_;
    ScanRequest request_; // the control, and the selection list in file-system form
    std::unique_ptr<NWSM_SELECTION_LIST, FreeList> selection_;
    std::unique_ptr<Scan> inner_;
    bool serverScan_ = false; // it began at "GroupWise Mail Server"
    bool oneLevel_ = false;
    std::size_t domain_ = 0; // server scans: the next domain to scan
    std::string name_;
};

} // namespace smsemu
