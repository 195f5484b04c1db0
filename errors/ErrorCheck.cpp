// Turning an SMS failure on a data set into the module code the host gets,
// with the log line of the action in progress; and which codes stop a job.
#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::CheckSMSError(unsigned int smsCode, char *path, KXSMS_ACTION action)
{
    const unsigned int moduleCode = ConvertSMSError(smsCode);
    const char *name = path != nullptr ? path : "";

    char volume[16];
    GetVolumeName(path, volume);
    if (!IsVolumeMounted(volume))
        return KXSMS_ERR_VOLUME_NOT_MOUNTED;

    if (moduleCode == KXSMS_ERR_DATA_NOT_FOUND) {
        if (action == KXSMS_ACTION_SCAN)
            m_Log.error("%s does not exist.", name);
        else if (action == KXSMS_ACTION_BACKUP)
            m_Log.error("%s was deleted before it could be backed up.", name);
        return moduleCode;
    }

    switch (action) {
    case KXSMS_ACTION_SCAN:
        m_Log.error("Failed to scan data set %s, %s.", name, GetErrorText(moduleCode));
        break;
    case KXSMS_ACTION_BACKUP:
        m_Log.error("Failed to backup data set %s, %s.", name, GetErrorText(moduleCode));
        break;
    case KXSMS_ACTION_RESTORE:
        m_Log.error("Failed to restore data set %s, %s.", name, GetErrorText(moduleCode));
        break;
    case KXSMS_ACTION_DELETE:
        m_Log.error("Failed to delete data set %s, %s.", name, GetErrorText(moduleCode));
        break;
    }
    return moduleCode;
}

bool CKXSMS::IsVolumeMounted(char *)
{
    // Volumes of this platform are always mounted while their TSA serves them.
    return true;
}

bool CKXSMS::IsFatalError(unsigned int code)
{
    bool fatal = false;
    FindError(code, &fatal);
    if (!fatal)
        return false;

    // One configuration value turns every fatal code into a non-fatal one;
    // it is read on every call so that a change applies at once.
    KXPlatformInfo info;
    info.setFocus(KXPI_Focus::getFocus());
    unsigned long value = 0;
    if (info.getNumber("Kelvane", "nIgnoreSMSError", &value) != 0 && value != 0) {
        m_Log.error("Ignoring Fatal Error %d", static_cast<int>(code));
        fatal = false;
    }
    return fatal;
}

int CKXSMS::SaveErrorLog(char *)
{
    return 0;
}
