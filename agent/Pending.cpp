// Operations whose concern has not landed yet answer "Function not implemented".
#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::Connect(KXSMS_TSA_TYPE, char *, KXPassword *) { return KXSMS_ERR_NOT_IMPLEMENTED; }
void CKXSMS::Disconnect() {}
int CKXSMS::SaveErrorLog(char *) { return 0; }
unsigned int CKXSMS::Scan(char *, unsigned int *, char *, unsigned long, char *, unsigned long, bool *, bool *, long *,
                          long *, long *, unsigned long long *, bool *)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
void CKXSMS::AbortScan(unsigned int *) {}
void CKXSMS::SetClearArchiveBitFlag(bool clear) { m_ClearArchiveBit = clear; }
unsigned int CKXSMS::BeginBackup(char *, unsigned int *, bool *, long *, long *, unsigned long long *, unsigned int *,
                                 bool)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
unsigned int CKXSMS::BeginBackupNoScan(char *, unsigned int *, bool) { return KXSMS_ERR_NOT_IMPLEMENTED; }
unsigned int CKXSMS::Backup(unsigned int *, unsigned char *, unsigned int, unsigned int *, bool *)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
void CKXSMS::AbortBackup(unsigned int *) {}
unsigned int CKXSMS::BeginRestore(char *, unsigned int, bool, KXSMS_TRUSTEE_OPTION, bool, bool, bool)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
unsigned int CKXSMS::Restore(unsigned char *, unsigned long) { return KXSMS_ERR_NOT_IMPLEMENTED; }
unsigned int CKXSMS::EndRestore() { return KXSMS_ERR_NOT_IMPLEMENTED; }
unsigned int CKXSMS::DeleteDataSet(char *) { return KXSMS_ERR_NOT_IMPLEMENTED; }
bool CKXSMS::EnableCachingMode(bool) { return false; }
unsigned int CKXSMS::SeparateChildFromParent(char *, char *, unsigned long, char *, unsigned long)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
unsigned int CKXSMS::ConcatenateParentAndChild(char *, char *, char *, unsigned long)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
unsigned int CKXSMS::IsDataSetParent(char *, bool *) { return KXSMS_ERR_NOT_IMPLEMENTED; }
unsigned int CKXSMS::ScanDataSetInfo(char *, char *, unsigned int, char *, unsigned int, bool *, bool *, long *, long *,
                                     unsigned long long *)
{
    return KXSMS_ERR_NOT_IMPLEMENTED;
}
bool CKXSMS::IsSpaceAvailable() { return true; }
bool CKXSMS::IsNameSpaceInstalled(unsigned int, char *) { return true; }
const char *CKXSMS::GetOwningNameSpaceName(unsigned long) { return "Unknown"; }
unsigned int CKXSMS::AddScanFilter(char *) { return KXSMS_ERR_NOT_IMPLEMENTED; }
unsigned int CKXSMS::EnableScanFilters() { return KXSMS_ERR_NOT_IMPLEMENTED; }
void CKXSMS::ClearScanFilters() {}
bool CKXSMS::IsFatalError(unsigned int) { return true; }
unsigned int CKXSMS::GetTSAResources(std::vector<std::string> &) { return KXSMS_ERR_GENERAL; }
