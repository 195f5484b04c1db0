// The connect semaphore. Logins need no serialising on this platform, so the
// four functions only keep their contract: Start and Wait succeed (0).
#include "KXSMS.h"

extern "C" {

int m_ConnectSemaphore = 0;

int KXSMSStartConnectSemaphore()
{
    return 0;
}

void KXSMSStopConnectSemaphore() {}

int KXSMSWaitOnConnectSemaphore()
{
    return 0;
}

void KXSMSSignalConnectSemaphore() {}

} // extern "C"
