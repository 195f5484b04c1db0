// Data sets of the GroupWise TSA. Those of a domain are data sets of the
// file-system TSA that serves the domains, their streams passed through with
// the name in the header in GroupWise form: a backup rewrites the header's
// name from "/DOM1/dir" to "DOM1:dir", a restore from "DOM1:dir" back (the
// header's own checksum is made anew; the trailer's covers only what follows
// the header and passes unchanged).
//
// "GroupWise Mail Server" has a stream of its own: a directory header with
// its name and an empty trailer. Restoring it checks the stream and changes
// nothing (the domains are folders of the configuration).
#pragma once

#include "requester/Config.h"
#include "SMSAPI.h"
#include "core/HeldStream.h"
#include "core/StreamDecoder.h"
#include "requester/Tsa.h"

#include <memory>
#include <string>
#include <vector>

namespace smsemu {

class GroupWiseBackup : public DataSet {
public:
    GroupWiseBackup(std::unique_ptr<DataSet> inner, const std::vector<ResourceConfig> &domains)
        : inner_(std::move(inner)), domains_(domains)
    {
    }
    CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead) override;
    CCODE setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime) override;
    CCODE close() override;

private:
    CCODE readHeader();

    std::unique_ptr<DataSet> inner_;
    const std::vector<ResourceConfig> &domains_;
    HeldStream header_; // the renamed header
    bool headerRead_ = false;
    CCODE failure_ = 0;
};

// The backup of "GroupWise Mail Server".
class GroupWiseServerBackup : public DataSet {
public:
    GroupWiseServerBackup();
    CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead) override;
    CCODE setArchiveStatus(UINT32, UINT32) override { return 0; } // it holds no data to mark

private:
    HeldStream stream_;
};

// A restore. With `inner` the target was named at the open (a domain's data
// set, opened on the file system); with `server` it is "GroupWise Mail
// Server"; with neither the stream's header names it, and the file-system
// data set is opened when the header has come.
class GroupWiseRestore : public DataSet {
public:
    GroupWiseRestore(Tsa &fileSystem, const std::vector<ResourceConfig> &domains, Connection &connection,
                     UINT32 openMode, std::unique_ptr<DataSet> inner, bool server)
        : fileSystem_(fileSystem), domains_(domains), connection_(connection), openMode_(openMode),
          inner_(std::move(inner)), server_(server)
    {
    }
    CCODE write(const UINT8 *buffer, UINT32 size) override;
    CCODE close() override;

private:
    // The header has come: settle the target, and forward the header to it.
    CCODE headerComplete();

    Tsa &fileSystem_;
    const std::vector<ResourceConfig> &domains_;
    Connection &connection_;
    UINT32 openMode_;
    std::unique_ptr<DataSet> inner_;
    bool server_;
    // Decodes the header, and the whole stream of "GroupWise Mail Server";
    // holds the failure that sticks.
    stream::Decoder decoder_;
    bool forwarding_ = false; // the rest of the stream goes to inner_ as it comes
};

} // namespace smsemu
