/*
 * SMSAPI.h - the Storage Management Services calls and records the module uses.
 *
 * The requester (libsmdr.so.0) and the utilities (libsmsut.so.0) export these
 * functions with C linkage. Every call returns a completion code (CCODE):
 * 0 for success, otherwise an SMS code whose high half is 0xFFFD (target
 * service) or 0xFFFE (requester).
 *
 * Memory: name lists (NWSM_NAME_LIST) and string buffers that a call returns
 * are released with NWSMFreeNameList / NWSMFreeString. Data-set name lists and
 * selection lists built with NWSMPutOneName / NWSMPutFirstName, and the child
 * name that NWSMTSSeparateDataSetName returns, are single malloc blocks that
 * the caller may release with free().
 */
#ifndef KXSMS_PLATFORM_SMSAPI_H
#define KXSMS_PLATFORM_SMSAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef int16_t INT16;
typedef int32_t INT32;
typedef uint64_t UINT64;
typedef uint32_t CCODE;
typedef uint8_t NWBOOLEAN;

/* ---- Completion codes ------------------------------------------------- */

/* Target service codes. */
#define NWSMTS_INVALID_USER_OR_PASSWORD  0xFFFDFFFFu
#define NWSMTS_CANT_CREATE_DIR_ENTRY     0xFFFDFFFAu
#define NWSMTS_CANT_CREATE_FILE          0xFFFDFFF9u
#define NWSMTS_DATA_SET_ALREADY_EXISTS   0xFFFDFFF8u
#define NWSMTS_DATA_SET_EXCLUDED         0xFFFDFFF7u
#define NWSMTS_DATA_SET_IN_USE           0xFFFDFFF5u
#define NWSMTS_DATA_SET_IS_OLDER         0xFFFDFFF4u
#define NWSMTS_DATA_SET_ALREADY_OPEN     0xFFFDFFF3u
#define NWSMTS_NO_DATA_SETS_FOUND        0xFFFDFFF2u
#define NWSMTS_DELETE_ERR                0xFFFDFFF1u
#define NWSMTS_EXPECTING_HEADER          0xFFFDFFF0u
#define NWSMTS_EXPECTING_TRAILER         0xFFFDFFEFu
#define NWSMTS_INVALID_CONNECTION_HANDLE 0xFFFDFFE7u
#define NWSMTS_INVALID_DATA_SET          0xFFFDFFE6u
#define NWSMTS_INVALID_DATA_SET_HANDLE   0xFFFDFFE5u
#define NWSMTS_INVALID_DATA_SET_NAME     0xFFFDFFE4u
#define NWSMTS_INVALID_HANDLE            0xFFFDFFE2u
#define NWSMTS_INVALID_NAME_SPACE_TYPE   0xFFFDFFE0u
#define NWSMTS_INVALID_OPEN_MODE_TYPE    0xFFFDFFDEu
#define NWSMTS_INVALID_PARAMETER         0xFFFDFFDDu
#define NWSMTS_INVALID_PATH              0xFFFDFFDCu
#define NWSMTS_INVALID_SCAN_TYPE         0xFFFDFFDBu
#define NWSMTS_INVALID_SELECTION_LIST    0xFFFDFFDAu
#define NWSMTS_INVALID_SELECTION_TYPE    0xFFFDFFD9u
#define NWSMTS_INVALID_SEQUENCE_NUMBER   0xFFFDFFD8u
#define NWSMTS_LOGIN_DENIED              0xFFFDFFD7u
#define NWSMTS_NO_CONNECTION             0xFFFDFFD3u
#define NWSMTS_NO_MORE_DATA              0xFFFDFFD2u
#define NWSMTS_NO_MORE_DATA_SETS         0xFFFDFFD1u
#define NWSMTS_NO_MORE_NAMES             0xFFFDFFD0u
#define NWSMTS_NO_SEARCH_PRIVILEGES      0xFFFDFFCFu
#define NWSMTS_OPEN_DATA_STREAM_ERR      0xFFFDFFCDu
#define NWSMTS_OPEN_ERROR                0xFFFDFFCCu
#define NWSMTS_OUT_OF_DISK_SPACE         0xFFFDFFCAu
#define NWSMTS_OUT_OF_MEMORY             0xFFFDFFC9u
#define NWSMTS_OVERFLOW                  0xFFFDFFC8u
#define NWSMTS_READ_ERROR                0xFFFDFFC6u
#define NWSMTS_RESOURCE_NAME_NOT_FOUND   0xFFFDFFC5u
#define NWSMTS_SCAN_ERROR                0xFFFDFFC4u
#define NWSMTS_SCAN_FILE_ENTRY_ERR       0xFFFDFFC3u
#define NWSMTS_SCAN_IN_PROGRESS          0xFFFDFFC2u
#define NWSMTS_SET_FILE_INFO_ERR         0xFFFDFFBDu
#define NWSMTS_TSA_NOT_FOUND             0xFFFDFFBAu
#define NWSMTS_UNSUPPORTED_FUNCTION      0xFFFDFFB9u
#define NWSMTS_WRITE_ERROR               0xFFFDFFB6u
#define NWSMTS_WRITE_ERROR_SHORT         0xFFFDFFB5u
#define NWSMTS_ALL_CONNECTIONS_IN_USE    0xFFFDFFB3u
#define NWSMTS_INTERNAL_ERROR            0xFFFDFFB1u
#define NWSMTS_UNSUPPORTED_OPTION        0xFFFDFFADu

/* Requester codes. */
#define NWSMDR_INVALID_CONNECTION   0xFFFEFFFFu
#define NWSMDR_INVALID_PARAMETER    0xFFFEFFFEu
#define NWSMDR_OUT_OF_MEMORY        0xFFFEFFFDu
#define NWSMDR_UNSUPPORTED_FUNCTION 0xFFFEFFFBu
#define NWSMDR_TSA_NOT_LOADED       0xFFFEFFF7u
#define NWSMDR_NO_MORE_DATA         0xFFFEFFF4u
#define NWSMDR_NO_MORE_CONNECTIONS  0xFFFEFFF1u
#define NWSMDR_NO_SUCH_TSA          0xFFFEFFF0u

/* "No more names" as some requesters report it. */
#define NWSMUT_NO_MORE_NAMES 0xFFFBFFFCu

/* ---- Name spaces -------------------------------------------------------- */

#define NWSM_NAME_SPACE_DOS       0u
#define NWSM_NAME_SPACE_MAC       1u
#define NWSM_NAME_SPACE_NFS       2u
#define NWSM_NAME_SPACE_FTAM      3u
#define NWSM_NAME_SPACE_OS2       4u
#define NWSM_NAME_SPACE_UTF8_BASE 256u        /* type + 256: the same name space, names in UTF-8 */
#define NWSM_TSA_DEFINED_RESOURCE 0xFFFFFFFEu /* -2: resource-level name */
#define NWSM_DIRECTORY_ROOT       0xFFFFFFFCu /* -4: directory-services root fallback */
#define NWSM_RETURN_UTF8_NAMES    0xFFFFFFFAu /* -6: returned names in UTF-8 (scan control) */

/* Name types reported by NWSMTSGetSupportedNameTypes. */
#define NWSM_NAME_TYPE_MBCS 0x1u
#define NWSM_NAME_TYPE_UTF8 0x2u

/* Selection types of a selection list entry. */
#define NWSM_TSA_DEFINED_RESOURCE_EXC 2u
#define NWSM_PARENT_TO_BE_EXCLUDED    4u
#define NWSM_CHILD_TO_BE_EXCLUDED     16u

/* NWSMTSConfigureTargetService options. */
#define NWSM_OPTION_CACHING_MODE 0x10003u

/* ---- Open modes --------------------------------------------------------- */

/* Backup (NWSMTSOpenDataSetForBackup). */
#define NWSM_OPEN_UNPROTECTED      0x00002u /* accepted; the stand-in reads every file the same way */
#define NWSM_OPEN_KEEP_ACCESS_TIME 0x10000u /* put the access time back after reading */
#define NWSM_OPEN_FOR_BACKUP       0x20000u /* plain backup */

/* Restore (NWSMTSOpenDataSetForRestore). */
#define NWSM_OVERWRITE_DATA_SET    0x0001u /* replace an existing data set */
#define NWSM_KEEP_NEWER_DATA_SET   0x0004u /* keep an existing data set that is not older */
#define NWSM_RESTORE_OWNER         0x0100u /* apply owner and group where permitted */
#define NWSM_RESTORE_OWNER_ALT     0x0400u /* the same, as the access-rights option set spells it */
#define NWSM_RESTORE_XATTRS        0x0800u /* apply extended attributes and POSIX ACLs */
/* What KXSMS_TRUSTEE_ACCESS asks for: owner, extended attributes and ACLs. */
#define NWSM_RESTORE_ACCESS_RIGHTS (NWSM_RESTORE_OWNER_ALT | NWSM_RESTORE_XATTRS)
#define NWSM_RESTORE_MODE          0x1000u /* apply the permission bits */
#define NWSM_RESTORE_TIMES         0x2000u /* apply access and modification times */

/* ---- Attributes of NWSM_SCAN_INFORMATION -------------------------------- */

#define NWSM_ATTR_READ_ONLY 0x01u
#define NWSM_ATTR_HIDDEN    0x02u
#define NWSM_ATTR_SYSTEM    0x04u
#define NWSM_ATTR_DIRECTORY 0x10u
#define NWSM_ATTR_ARCHIVE   0x20u /* modified since its archive status was last cleared */
#define NWSM_ATTR_SYMLINK   0x40u

/* ---- Records ------------------------------------------------------------ */

/* Scan control: 64 bytes, little-endian, no gaps. */
typedef struct NWSM_SCAN_CONTROL {
    UINT16 bufferSize;                     /*  0 */
    UINT16 scanControlSize;                /*  2 */
    UINT32 scanType;                       /*  4: 1 = one level, 0 = whole subtree */
    UINT32 firstAccessDateAndTime;         /*  8 */
    UINT32 lastAccessDateAndTime;          /* 12 */
    UINT32 firstCreateDateAndTime;         /* 16 */
    UINT32 lastCreateDateAndTime;          /* 20 */
    UINT32 firstModifiedDateAndTime;       /* 24 */
    UINT32 lastModifiedDateAndTime;        /* 28 */
    UINT32 firstArchivedDateAndTime;       /* 32 */
    UINT32 lastArchivedDateAndTime;        /* 36 */
    UINT8 returnChildTerminalNodeNameOnly; /* 40 */
    UINT8 parentsOnly;                     /* 41 */
    UINT8 childrenOnly;                    /* 42 */
    UINT8 createSkippedDataSetsFile;       /* 43 */
    UINT8 generateCRC;                     /* 44 */
    UINT8 returnNFSHardLinksInDataSetName; /* 45 */
    UINT8 reserved[6];                     /* 46 */
    INT32 scanChildNameSpaceType;          /* 52 */
    INT32 returnNameSpaceType;             /* 56 */
    UINT8 callScanFilter;                  /* 60 */
    UINT8 otherInformation[3];             /* 61: start of the variable part */
} NWSM_SCAN_CONTROL;

#define NWSM_SCAN_TYPE_ONE_LEVEL 1u
/* Scan type bit of the stand-in's file-system TSA: a directory on another
   mount than the start is given, but not descended into. */
#define NWSM_SCAN_TYPE_ONE_FILE_SYSTEM 0x100u

/* Scan information of the data set at a scan position. */
typedef struct NWSM_SCAN_INFORMATION {
    UINT16 bufferSize;             /*  0 */
    UINT16 scanInformationSize;    /*  2 */
    UINT32 attributes;             /*  4 */
    UINT32 creatorID;              /*  8 */
    UINT32 creatorNameSpaceNumber; /* 12: owning name space */
    UINT32 primaryDataStreamSize;  /* 16: bytes; 0 when it does not fit */
    UINT32 totalStreamsDataSize;   /* 20: units of 4096 bytes */
    UINT8 modifiedFlag;            /* 24 */
    UINT8 deletedFlag;             /* 25 */
    UINT8 parentFlag;              /* 26 */
    UINT8 reserved[5];             /* 27 */
    UINT32 accessDateAndTime;      /* 32 */
    UINT32 createDateAndTime;      /* 36 */
    UINT32 modifiedDateAndTime;    /* 40 */
    UINT32 archivedDateAndTime;    /* 44 */
    UINT32 otherInformationSize;   /* 48 */
    UINT32 reserved2;              /* 52 */
} NWSM_SCAN_INFORMATION;

/* A list of plain names (TSAs, target services, resources). */
typedef struct NWSM_NAME_LIST {
    struct NWSM_NAME_LIST *next;
    char *name;
} NWSM_NAME_LIST;

/* SMS string buffer: 16-bit size of the text area, then the terminated text. */
typedef struct STRING_BUFFER {
    UINT16 size;
    char string[];
} STRING_BUFFER;

/*
 * Data-set name list and selection list: one malloc block, a header followed
 * by NWSM_NAME_ENTRY records (each starting on an 8-byte boundary).
 */
typedef struct NWSM_DATA_SET_NAME_LIST {
    UINT32 bufferSize; /* bytes allocated */
    UINT32 usedSize;   /* bytes in use, header included */
    UINT32 nameCount;  /* entries that follow */
    UINT32 flags;      /* NWSM_NAME_LIST_CLOSED */
} NWSM_DATA_SET_NAME_LIST;

typedef NWSM_DATA_SET_NAME_LIST NWSM_SELECTION_LIST;

#define NWSM_NAME_LIST_CLOSED 0x1u

typedef struct NWSM_NAME_ENTRY {
    UINT32 entrySize; /* whole entry, padding included */
    UINT32 nameSpaceType;
    UINT32 selectionType;
    INT16 reverseOrder;
    UINT16 nameLength; /* characters, terminator excluded */
    char separator1[4];
    char separator2[4];
    char name[]; /* nameLength characters and a terminator */
} NWSM_NAME_ENTRY;

/* One name of a data-set name list, as NWSMGetOneName / NWSMGetDataSetName give it. */
typedef struct NWSM_DATA_SET_NAME {
    UINT32 nameSpaceType;
    UINT32 selectionType;
    INT16 reverseOrder;
    UINT16 nameLength;
    char *name; /* points into the list; valid while the list lives */
} NWSM_DATA_SET_NAME;

/* Handle of a selection list under construction (NWSMPutFirstName .. NWSMCloseName). */
typedef void *NWSM_NAME_HANDLE;

#define NWSM_MAX_NAME 1023

/* ---- Requester: TSAs and login ------------------------------------------ */

CCODE NWSMListTSAs(char *hostName, NWSM_NAME_LIST **tsaList);
CCODE NWSMConnectToTSA(char *tsaName, UINT32 *connection);
CCODE NWSMReleaseTSA(UINT32 *connection);
CCODE NWSMTSListTargetServices(UINT32 connection, char *pattern, NWSM_NAME_LIST **serviceList);
/* authentication: UINT16 length, the password bytes, a terminator. */
CCODE NWSMTSConnectToTargetService(UINT32 *connection, char *targetServiceName, char *userName, void *authentication);
CCODE NWSMTSReleaseTargetService(UINT32 *connection);
CCODE NWSMTSListTSResources(UINT32 connection, NWSM_NAME_LIST **resourceList);

/* ---- Target options ------------------------------------------------------ */

CCODE NWSMTSSetRestoreOptions(UINT32 connection, NWBOOLEAN checkCRC, NWBOOLEAN dontCheckSelectionList,
                              NWSM_SELECTION_LIST *selectionList);
CCODE NWSMTSGetSupportedNameTypes(UINT32 connection, UINT32 *nameTypes);
CCODE NWSMTSConfigureTargetService(UINT32 connection, UINT32 option, void *value);

/* ---- Scans ---------------------------------------------------------------- */

CCODE NWSMTSScanDataSetBegin(UINT32 connection, NWSM_DATA_SET_NAME_LIST *resourceName, NWSM_SCAN_CONTROL *scanControl,
                             NWSM_SELECTION_LIST *selectionList, UINT32 *sequence,
                             NWSM_SCAN_INFORMATION **scanInformation, NWSM_DATA_SET_NAME_LIST **dataSetNames);
CCODE NWSMTSScanNextDataSet(UINT32 connection, UINT32 *sequence, NWSM_SCAN_INFORMATION **scanInformation,
                            NWSM_DATA_SET_NAME_LIST **dataSetNames);
CCODE NWSMTSScanDataSetEnd(UINT32 connection, UINT32 *sequence, NWSM_SCAN_INFORMATION **scanInformation,
                           NWSM_DATA_SET_NAME_LIST **dataSetNames);

/* ---- Data sets ------------------------------------------------------------ */

CCODE NWSMTSOpenDataSetForBackup(UINT32 connection, UINT32 sequence, UINT32 openMode, UINT32 *dataSetHandle);
CCODE NWSMTSReadDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToRead, UINT32 *bytesRead, UINT8 *buffer);
CCODE NWSMTSSetArchiveStatus(UINT32 connection, UINT32 dataSetHandle, UINT32 setFlag, UINT32 archivedDateAndTime);
CCODE NWSMTSOpenDataSetForRestore(UINT32 connection, UINT32 parentHandle, NWSM_DATA_SET_NAME_LIST *newName,
                                  UINT32 openMode, UINT32 *dataSetHandle);
CCODE NWSMTSWriteDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToWrite, UINT8 *buffer);
CCODE NWSMTSCloseDataSet(UINT32 connection, UINT32 *dataSetHandle);
CCODE NWSMTSDeleteDataSet(UINT32 connection, UINT32 sequence);

/* ---- Names on the target -------------------------------------------------- */

CCODE NWSMTSScanSupportedNameSpaces(UINT32 connection, UINT32 *sequence, char *resourceName, UINT32 *nameSpaceType,
                                    char *nameSpaceName /* 64 bytes */);
CCODE NWSMTSGetNameSpaceTypeInfo(UINT32 connection, UINT32 nameSpaceType, INT16 *reverseOrder,
                                 STRING_BUFFER **firstSeparator, STRING_BUFFER **secondSeparator);
/* parentName may be null; childName, when given, is a malloc block the caller frees. */
CCODE NWSMTSSeparateDataSetName(UINT32 connection, UINT32 nameSpaceType, char *dataSetName, STRING_BUFFER **parentName,
                                STRING_BUFFER **childName);
CCODE NWSMTSCatDataSetName(UINT32 connection, UINT32 nameSpaceType, char *parentName, char *childName,
                           NWBOOLEAN reverseOrder, STRING_BUFFER **dataSetName);

/* ---- Name utilities (libsmsut) -------------------------------------------- */

CCODE NWSMPutOneName(NWSM_DATA_SET_NAME_LIST **nameList, UINT32 nameSpaceType, UINT32 selectionType, INT16 reverseOrder,
                     char *firstSeparator, char *secondSeparator, char *name);
CCODE NWSMPutFirstName(NWSM_SELECTION_LIST **selectionList, UINT32 nameSpaceType, UINT32 selectionType,
                       INT16 reverseOrder, char *firstSeparator, char *secondSeparator, char *name,
                       NWSM_NAME_HANDLE *handle);
CCODE NWSMPutNextName(NWSM_SELECTION_LIST **selectionList, NWSM_NAME_HANDLE *handle, UINT32 nameSpaceType,
                      UINT32 selectionType, INT16 reverseOrder, char *firstSeparator, char *secondSeparator,
                      char *name);
CCODE NWSMCloseName(NWSM_NAME_HANDLE *handle);
CCODE NWSMGetOneName(NWSM_DATA_SET_NAME_LIST *nameList, NWSM_DATA_SET_NAME *name);
CCODE NWSMGetDataSetName(NWSM_DATA_SET_NAME_LIST *nameList, UINT32 nameSpaceType, NWSM_DATA_SET_NAME *name);
/* Removes one trailing separator of that name space; never leaves the name empty. Returns name. */
char *NWSMStripEndSeparator(UINT32 nameSpaceType, char *name, char **removedAt);
CCODE NWSMFreeNameList(NWSM_NAME_LIST **list);
CCODE NWSMFreeString(STRING_BUFFER **string);

/* ---- Date and time (libsmsut) --------------------------------------------- */

UINT32 NWSMPackDateTime(UINT16 year, UINT16 month, UINT16 day, UINT16 hour, UINT16 minute, UINT16 second);
void NWSMUnPackDateTime(UINT32 packed, UINT16 *year, UINT16 *month, UINT16 *day, UINT16 *hour, UINT16 *minute,
                        UINT16 *second);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(NWSM_SCAN_CONTROL) == 64, "scan control is 64 bytes");
static_assert(offsetof(NWSM_SCAN_CONTROL, scanType) == 4);
static_assert(offsetof(NWSM_SCAN_CONTROL, firstAccessDateAndTime) == 8);
static_assert(offsetof(NWSM_SCAN_CONTROL, firstModifiedDateAndTime) == 24);
static_assert(offsetof(NWSM_SCAN_CONTROL, lastModifiedDateAndTime) == 28);
static_assert(offsetof(NWSM_SCAN_CONTROL, firstArchivedDateAndTime) == 32);
static_assert(offsetof(NWSM_SCAN_CONTROL, returnChildTerminalNodeNameOnly) == 40);
static_assert(offsetof(NWSM_SCAN_CONTROL, generateCRC) == 44);
static_assert(offsetof(NWSM_SCAN_CONTROL, reserved) == 46);
static_assert(offsetof(NWSM_SCAN_CONTROL, scanChildNameSpaceType) == 52);
static_assert(offsetof(NWSM_SCAN_CONTROL, returnNameSpaceType) == 56);
static_assert(offsetof(NWSM_SCAN_CONTROL, callScanFilter) == 60);

static_assert(offsetof(NWSM_SCAN_INFORMATION, attributes) == 4);
static_assert(offsetof(NWSM_SCAN_INFORMATION, creatorNameSpaceNumber) == 12);
static_assert(offsetof(NWSM_SCAN_INFORMATION, primaryDataStreamSize) == 16);
static_assert(offsetof(NWSM_SCAN_INFORMATION, totalStreamsDataSize) == 20);
static_assert(offsetof(NWSM_SCAN_INFORMATION, parentFlag) == 26);
static_assert(offsetof(NWSM_SCAN_INFORMATION, accessDateAndTime) == 32);
static_assert(offsetof(NWSM_SCAN_INFORMATION, createDateAndTime) == 36);
static_assert(offsetof(NWSM_SCAN_INFORMATION, modifiedDateAndTime) == 40);

static_assert(offsetof(NWSM_NAME_LIST, next) == 0);
static_assert(offsetof(STRING_BUFFER, size) == 0 && offsetof(STRING_BUFFER, string) == 2);
static_assert(offsetof(NWSM_DATA_SET_NAME, nameSpaceType) == 0);
static_assert(sizeof(NWSM_DATA_SET_NAME_LIST) % 8 == 0);
static_assert(offsetof(NWSM_NAME_ENTRY, name) % 4 == 0);
#endif

#endif /* KXSMS_PLATFORM_SMSAPI_H */
