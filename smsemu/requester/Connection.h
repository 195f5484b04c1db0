// One connection to a TSA (NWSMConnectToTSA) and what it holds: its login to
// the target service, its scans by sequence number and its open data sets by
// handle. Every call on a connection holds its mutex (Registry::LockedConnection).
#pragma once

#include "core/NameList.h"
#include "SMSAPI.h"
#include "requester/Tsa.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace smsemu {

struct RestoreOptions {
    bool checkCRC = false;
    bool dontCheckSelectionList = true;
    NWSM_SELECTION_LIST *selectionList = nullptr; // a copy (malloc block), or null
};

struct Connection {
    Connection(UINT32 connectionHandle, std::shared_ptr<Tsa> connectedTsa)
        : handle(connectionHandle), tsa(std::move(connectedTsa))
    {
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { logout(); }

    // Ends the login and releases its scans, data sets and options.
    void logout();

    std::mutex mutex;
    const UINT32 handle;
    const std::shared_ptr<Tsa> tsa;
    bool released = false;

    bool loggedIn = false;
    std::string user;
    bool cachingMode = true;
    RestoreOptions restoreOptions;

    // Sequence numbers and data-set handles count up from 1 per connection.
    std::map<UINT32, std::unique_ptr<Scan>> scans;
    UINT32 nextSequence = 1;
    std::map<UINT32, std::unique_ptr<DataSet>> dataSets;
    UINT32 nextDataSetHandle = 1;

    // The next free number of a counter: never 0 nor 0xFFFFFFFF, never one in
    // use. 0 when none is free.
    template <class Map>
    static UINT32 allocate(UINT32 &next, const Map &inUse)
    {
        for (UINT32 tries = 0; tries < 0xFFFFFFFDu; ++tries) {
            UINT32 n = next;
            next = next >= 0xFFFFFFFEu ? 1 : next + 1;
            if (inUse.count(n) == 0)
                return n;
        }
        return 0;
    }
};

} // namespace smsemu
