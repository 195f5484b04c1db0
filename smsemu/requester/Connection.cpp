#include "requester/Connection.h"

namespace smsemu {

void Connection::logout()
{
    if (loggedIn)
        tsa->loggingOut(*this);
    loggedIn = false;
    user.clear();
    cachingMode = true;
    // Data sets first: an open data set may refer to the scan it came from.
    dataSets.clear();
    scans.clear();
    std::free(restoreOptions.selectionList);
    restoreOptions = RestoreOptions{};
}

} // namespace smsemu
