// The requester's state: the configuration, the TSAs built from it, and the
// connections to them by handle. Loaded at first use and again on
// smsemuReset().
#pragma once

#include "requester/Config.h"
#include "requester/Connection.h"
#include "SMSAPI.h"
#include "requester/Tsa.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace smsemu {

class Registry {
public:
    static Registry &instance();

    // Drops every connection (and so every scan and data set) and reads the
    // configuration again.
    void reset();
    std::string lastConfigError();

    CCODE listTsas(const char *hostName, NWSM_NAME_LIST *&list);
    CCODE connect(const char *tsaName, UINT32 &handle);
    CCODE release(UINT32 handle);

    // A connection held for one call: it stays locked while this object lives.
    class LockedConnection {
    public:
        Connection &operator*() const { return *connection_; }
        Connection *operator->() const { return connection_.get(); }

    private:
        friend class Registry;
        std::shared_ptr<Connection> connection_;
        std::unique_lock<std::mutex> lock_;
    };
    // Finds and locks a connection: NWSMTS_INVALID_CONNECTION_HANDLE for an
    // unknown handle, NWSMTS_NO_CONNECTION when `needLogin` and it is not
    // logged in to its target service.
    CCODE open(UINT32 handle, bool needLogin, LockedConnection &locked);

    int openConnections();
    int loggedInConnections();
    int openScans();
    int openDataSets();

private:
    Registry();
    void ensureLoadedLocked();
    void loadLocked();
    bool isThisHost(const char *hostName) const;
    std::vector<std::shared_ptr<Connection>> snapshot();

    std::mutex mutex_;
    bool loaded_ = false;
    Config config_;
    std::vector<std::shared_ptr<Tsa>> tsas_;
    std::map<UINT32, std::shared_ptr<Connection>> connections_;
    UINT32 nextHandle_ = 1;
    // Counts the changes to connections_ (under mutex_). A thread keeps the
    // connection it used last, and finds it again without mutex_ while
    // nothing changed: connections driven from several threads would
    // otherwise wait for each other at every call.
    std::atomic<uint64_t> generation_{0};
};

} // namespace smsemu
