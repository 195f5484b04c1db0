// The records that describe the data set at a scan position: its
// NWSM_SCAN_INFORMATION and its data-set name list. They belong to the scan
// (SMS owns them): the caller gets pointers that stay valid until the next
// call on that scan, and the blocks are reused from data set to data set.
#pragma once

#include "core/NameList.h"
#include "SMSAPI.h"

namespace smsemu {

class ScanRecord {
public:
    ScanRecord();
    ScanRecord(const ScanRecord &) = delete;
    ScanRecord &operator=(const ScanRecord &) = delete;
    ~ScanRecord();

    NWSM_SCAN_INFORMATION *information() { return &information_; }
    NWSM_DATA_SET_NAME_LIST *names() { return names_; }

    // Starts describing another data set: information zeroed (sizes set),
    // name list emptied (its block kept).
    void clear();
    CCODE addName(const NameFields &fields);

private:
    NWSM_SCAN_INFORMATION information_{};
    NWSM_DATA_SET_NAME_LIST *names_ = nullptr;
};

} // namespace smsemu
