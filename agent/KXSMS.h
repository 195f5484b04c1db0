/*
 * KXSMS.h - the data-access object CKXSMS, its enumerations and the factory pair.
 *
 * A host loads libKXSMS.so, calls CreateKXSMS and drives the object through its
 * virtual operations; the order of the virtual table is the calling interface
 * and never changes. DestroyKXSMS releases the object.
 */
#ifndef KXSMS_AGENT_KXSMS_H
#define KXSMS_AGENT_KXSMS_H

#include <string>
#include <vector>

#include "KxLib.h"
#include "SMSAPI.h"

#define KXSMS_EXPORT __attribute__((visibility("default")))

/*
 * The enumerations have int as their fixed underlying type: a host may pass
 * any int (values the module does not know are refused or ignored where they
 * arrive), and every such value is a valid value of the type.
 */
enum KXSMS_TSA_TYPE : int {
    KXSMS_TSA_DIRECTORY = 0,
    KXSMS_TSA_FILE_SYSTEM = 1,
    KXSMS_TSA_GROUPWISE = 2,
};

enum KXSMS_ACTION : int {
    KXSMS_ACTION_SCAN = 0,
    KXSMS_ACTION_BACKUP = 1,
    KXSMS_ACTION_RESTORE = 2,
    KXSMS_ACTION_DELETE = 3,
};

/* Restore option: 2 and 3 add open-mode bits, 1 is the neutral value. */
enum KXSMS_TRUSTEE_OPTION : int {
    KXSMS_TRUSTEE_NONE = 0,
    KXSMS_TRUSTEE_DEFAULT = 1,
    KXSMS_TRUSTEE_ACCESS = 2, /* adds 0x0C00 */
    KXSMS_TRUSTEE_OWNER = 3,  /* adds 0x0101 */
};

#define KXSMS_NOT_CONNECTED 0xFFFFFFFFu
#define KXSMS_NAME_BUFFER   1024   /* work buffers for names: 1023 characters and a terminator */
#define KXSMS_MAX_BLOCK     65536u /* largest block of Backup and Restore */

class KXSMS_EXPORT CKXSMS {
public:
    CKXSMS();
    virtual ~CKXSMS();

    /* ---- virtual operations; their order is the host interface ---- */
    virtual unsigned int Connect(KXSMS_TSA_TYPE type, char *userName, KXPassword *password);
    virtual void Disconnect();
    virtual int SaveErrorLog(char *path);
    virtual void SetScanStartTime(long time);
    virtual unsigned int Scan(char *path, unsigned int *sequence, char *outPath, unsigned long outPathSize,
                              char *childName, unsigned long childNameSize, bool *isParent, bool *archiveBit,
                              long *created, long *modified, long *accessed, unsigned long long *size, bool *endOfScan);
    virtual void AbortScan(unsigned int *sequence);
    virtual void SetClearArchiveBitFlag(bool clear);
    virtual unsigned int BeginBackup(char *path, unsigned int *sequence, bool *isParent, long *created, long *modified,
                                     unsigned long long *size, unsigned int *nameSpace, bool openFlag);
    virtual unsigned int BeginBackupNoScan(char *path, unsigned int *sequence, bool openFlag);
    virtual unsigned int Backup(unsigned int *sequence, unsigned char *buffer, unsigned int bufferSize,
                                unsigned int *bytesRead, bool *endOfData);
    virtual void AbortBackup(unsigned int *sequence);
    virtual unsigned int BeginRestore(char *pcDataSetName, unsigned int nameSpace, bool overwrite,
                                      KXSMS_TRUSTEE_OPTION trusteeOption, bool skipNameSpaceCheck, bool dataOnly,
                                      bool useNewName);
    virtual unsigned int Restore(unsigned char *data, unsigned long size);
    virtual unsigned int EndRestore();
    virtual unsigned int DeleteDataSet(char *path);
    virtual KXSMS_TSA_TYPE GetTSAType();
    virtual unsigned int GetTSAConnection();
    virtual bool EnableCachingMode(bool enable);
    virtual unsigned int SeparateChildFromParent(char *path, char *parent, unsigned long parentSize, char *child,
                                                 unsigned long childSize);
    virtual unsigned int ConcatenateParentAndChild(char *parent, char *child, char *path, unsigned long pathSize);
    virtual unsigned int IsDataSetParent(char *path, bool *isParent);
    virtual unsigned int ScanDataSetInfo(char *path, char *outPath, unsigned int outPathSize, char *childName,
                                         unsigned int childNameSize, bool *isParent, bool *archiveBit, long *modified,
                                         long *accessed, unsigned long long *size);
    virtual bool IsSpaceAvailable();
    virtual bool IsNameSpaceInstalled(unsigned int nameSpace, char *path);
    virtual const char *GetOwningNameSpaceName(unsigned long nameSpace);
    virtual bool IsUnicodePathsSupported();
    virtual void SetScanControl(NWSM_SCAN_CONTROL *control);
    virtual void SetScanTraverse(bool traverse);
    virtual void SetScanModifiedDateTimeRange(long from, long to);
    virtual unsigned int AddScanFilter(char *path);
    virtual unsigned int EnableScanFilters();
    virtual void ClearScanFilters();
    virtual const char *GetErrorText(unsigned int code);
    virtual bool IsFatalError(unsigned int code);
    virtual unsigned int GetTSAResources(std::vector<std::string> &names);

    /* ---- non-virtual members ---- */

    /* scanning */
    unsigned int BeginScan(char *name, unsigned int *sequence, KXSMS_ACTION action);

    /* connection */
    int LoadTSA(KXSMS_TSA_TYPE type);
    const char *GetTSATypeName(unsigned int type, bool unused);
    short CheckRoot();

    /* error model */
    const char *GetSMSErrorText(unsigned int smsCode);
    const char *FindSMSError(unsigned int smsCode, unsigned int *moduleCode);
    const char *FindError(unsigned int code, bool *fatal);
    unsigned int ConvertSMSError(unsigned int smsCode);
    unsigned int CheckSMSError(unsigned int smsCode, char *path, KXSMS_ACTION action);
    bool IsVolumeMounted(char *volume);

    /* scan control and times */
    NWSM_SCAN_CONTROL *GetScanControl();
    unsigned int PackTime(long time);
    unsigned int UnpackTime(unsigned int packed);
    long GetScanStartTime();
    void GetRelativeFileTimes(NWSM_SCAN_INFORMATION *info, long *created, long *modified, long *accessed);

    /* data-set information */
    unsigned int DataSetType(char *name, bool *isResource, bool *isRoot);
    unsigned int GetDataSetInfo(char *smsName, unsigned int smsNameSize, char *childName, unsigned int childNameSize,
                                bool *isParent, bool *isResource, bool *archiveBit, long *created, long *modified,
                                long *accessed, unsigned long long *size, unsigned int *nameSpace);

    /* name spaces */
    unsigned int CalculatePriorityNameSpace(char *resourceName);
    const char *GetNameSpaceName(int nameSpace);
    unsigned int PutOneName(short resourceLevel, NWSM_DATA_SET_NAME_LIST **nameList, char *name);

    /* resource, volume and tree names */
    unsigned int BeginNewResource(char *dataSetName);
    bool IsSameResourceName(char *resourceName);
    bool IsSameVolumeName(char *dataSetName);
    char *GetResourceName(char *dataSetName, char *resourceName);
    char *GetVolumeName(char *dataSetName, char *volumeName);
    const char *MidString(char *text, int start, int length, char *out);
    char *RootToTreeName(char *name);
    char *TreeNameToRoot(char *name);
    char *AddRoot(char *name);

    /* path conversion */
    unsigned int SMSToNetWare(char *smsName, char *path, unsigned long size);
    unsigned int NetWareToSMS(char *path, char *smsName, unsigned long size);

    /* accessors */
    char *GetTSARoot();
    bool IsVolumeCDROM(char *volume);
    void GiveUpControl();

    /* Names of the name spaces 0-4. */
    static const char *const c_NameSpaceNames[5];

private:
    CKXSMS(const CKXSMS &) = delete;
    CKXSMS &operator=(const CKXSMS &) = delete;

protected:
    /* Fields in declaration order; derived classes (and tests) may read them. */
    EvEvent m_Log;
    KXSMS_TSA_TYPE m_TSAType;
    unsigned int m_TSAConnection;
    bool m_NetWarePaths;
    char m_TargetServiceName[256];
    char m_TSARoot[256];
    NWSM_SCAN_CONTROL m_ScanControl;
    short m_TreeNameRoot;
    NWSM_SCAN_INFORMATION *m_ScanInformation;
    NWSM_DATA_SET_NAME_LIST *m_DataSetNames;
    long m_ScanStartTime;
    bool m_ClearArchiveBit;
    bool m_ScanFiltersEnabled;
    NWSM_SELECTION_LIST *m_SelectionList;
    unsigned int m_ScanFilterCount;
    bool m_SelectionListClosed;
    NWSM_NAME_HANDLE m_SelectionListHandle;
    char m_CurrentResource[64];
    char m_CurrentVolume[16];
    int m_PriorityNameSpace;
    unsigned int m_NameSpaceCount;
    int m_NameSpaceTypes[4];
    char m_Separator1[4];
    char m_Separator2[4];
    short m_ReverseOrder;
    unsigned int m_DataSetHandle;
    char m_DataSetName[1024];
    bool m_BackupNoScan;
    bool m_UnicodePaths;
    bool m_OpenFilesUnprotected;
};

extern "C" {
KXSMS_EXPORT CKXSMS *CreateKXSMS();
KXSMS_EXPORT void DestroyKXSMS(CKXSMS *object);

/* Connect semaphore: serialises logins where the platform needs it; no-ops here. */
KXSMS_EXPORT extern int m_ConnectSemaphore;
KXSMS_EXPORT int KXSMSStartConnectSemaphore();
KXSMS_EXPORT void KXSMSStopConnectSemaphore();
KXSMS_EXPORT int KXSMSWaitOnConnectSemaphore();
KXSMS_EXPORT void KXSMSSignalConnectSemaphore();

/* Character helpers of the path conversion. */
KXSMS_EXPORT char *KXSMSTruncateTrailingCharacters(char *text, char *characters);
KXSMS_EXPORT char *KXSMSReplaceSeparators(char *text, char from, char to);
}

#endif /* KXSMS_AGENT_KXSMS_H */
