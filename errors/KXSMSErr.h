/*
 * KXSMSErr.h - module error codes and the exported message tables.
 *
 * The tables are exported data: a host may read them directly, so their record
 * layout and row order are part of the interface. Each ends with a record
 * whose code is 0 and whose message is "".
 */
#ifndef KXSMS_ERRORS_KXSMSERR_H
#define KXSMS_ERRORS_KXSMSERR_H

#include <cstdint>

#define KXSMS_ERR_EXPORT __attribute__((visibility("default")))

/*
 * The module's error codes, one row each in the order of the exported table
 * KXSMSErrors: X(name, code, fatal, message). The enumeration below and the
 * table in KXSMSErr.cpp are both made from this list, so a code, its name,
 * its message and its fatal flag are written once. A host may expand the list
 * with its own X, e.g. to switch over the codes.
 */
// clang-format off
#define KXSMS_ERROR_CODES(X) \
    X(NOT_IMPLEMENTED,      130000, true,  "Function not implemented") \
    X(INVALID_OBJECT,       130001, true,  "Invalid KXSMS object") \
    X(BAD_ARGUMENTS,        130002, true,  "Bad arguments") \
    X(OS_NOT_SUPPORTED,     130003, true,  "OS not supported") \
    X(TSA_NOT_LOADED,       130004, true,  "TSA not loaded") \
    X(CONNECT_FAILED,       130005, true,  "Failed to connect to TSA") \
    X(LOGIN_FAILED,         130006, true,  "Failed to login") \
    X(DATA_NOT_FOUND,       130007, false, "Data not found/Invalid path") \
    X(INVALID_SMS_PATH,     130046, false, "Invalid SMS path") \
    X(SCAN_FAILED,          130008, false, "Failed to scan data") \
    X(OPEN_FAILED,          130009, false, "Failed to open data") \
    X(BACKUP_FAILED,        130010, false, "Failed to backup data") \
    X(RESTORE_FAILED,       130011, false, "Failed to restore data") \
    X(DELETE_FAILED,        130012, false, "Failed to delete data") \
    X(COMPRESSION_CONFLICT, 130013, false, "Compression conflict") \
    X(VOLUME_NOT_MOUNTED,   130014, false, "Volume not mounted") \
    X(NOT_NEWER,            130015, false, "The archive data is not newer than the data on disk") \
    X(DATA_IN_USE,          130016, false, "Data in use") \
    X(EXECUTE_ONLY,         130017, false, "Data is flagged Execute Only") \
    X(EXCLUDED_BY_TSA,      130047, false, "The archive data is excluded by the TSA") \
    X(READ_FAILED,          130018, false, "Failed to read data") \
    X(NO_CONNECTION,        130019, true,  "No connection to TSA") \
    X(NOT_INITIALIZED,      130020, true,  "KXSMS object not initialized") \
    X(MAC_NAME_SPACE,       130021, false, "MAC Name space not installed") \
    X(OS2_NAME_SPACE,       130022, false, "OS2/LONG Name space not installed") \
    X(NFS_NAME_SPACE,       130023, false, "NFS Name space not installed") \
    X(UNKNOWN_NAME_SPACE,   130024, true,  "Unknown name space") \
    X(SMDR_NOT_CONFIGURED,  130025, true,  "SMDR.NLM not configured") \
    X(BINDERY,              130027, true,  "Bindery error") \
    X(DS_DATABASE,          130028, true,  "Directory Services database error") \
    X(SCHEMA,               130029, false, "Schema error") \
    X(DS_REPLICA,           130030, true,  "Directory Services replica error") \
    X(DS_SYNC,              130031, true,  "Directory Services sync error") \
    X(DS_COMMUNICATION,     130032, true,  "Directory Services communication error") \
    X(DS_AUTHENTICATION,    130033, false, "Directory Services authentication error") \
    X(DS_REFERRAL,          130048, false, "Directory Services referral error") \
    X(VOLUME_SYS,           130034, true,  "Volume SYS error") \
    X(DATA_CORRUPT,         130035, false, "Data corrupt") \
    X(INTERNAL_DS,          130036, true,  "Internal DS error") \
    X(INTERNAL_SERVER,      130037, true,  "Internal server error") \
    X(INTERNAL_SMS,         130038, false, "Internal SMS error") \
    X(ACCESS_RIGHTS,        130039, false, "Insufficient access rights") \
    X(OUT_OF_MEMORY,        130040, true,  "Out of memory") \
    X(OUT_OF_DISK_SPACE,    130041, true,  "Out of disk space") \
    X(UNICODE,              130042, true,  "Unicode error") \
    X(INVALID_DS_VERSION,   130043, true,  "Invalid DS version") \
    X(UNKNOWN_SMS_ERROR,    130044, false, "Unknown SMS error") \
    X(PROGRAM_ERROR,        130045, true,  "Possible program error - Contact Tarnwell Systems, Inc.") \
    X(SMDR_COMMUNICATION,   130026, true,  "SMDR communication error") \
    X(INVALID_PARAMETER,    130049, false, "Invalid Parameter")
// clang-format on

/* Module error codes (0 is success): KXSMS_ERR_ and the name of each row. */
enum : unsigned int {
    KXSMS_OK = 0,
#define KXSMS_ERROR_ENUMERATOR(name, code, fatal, message) KXSMS_ERR_##name = code,
    KXSMS_ERROR_CODES(KXSMS_ERROR_ENUMERATOR)
#undef KXSMS_ERROR_ENUMERATOR
        KXSMS_ERR_GENERAL = 0xFFFFFFFFu, /* the few operations that answer -1 */
};

/* A row of KXSMSErrors. */
struct KXSMS_ERROR {
    uint64_t code;
    const char *message;
    bool fatal;
};

/* A row of the SMS tables: SMS code, its message, the module code it maps to. */
struct KXSMS_SMS_ERROR {
    uint64_t smsCode;
    const char *message;
    uint64_t moduleCode;
};

extern "C" {
KXSMS_ERR_EXPORT extern const KXSMS_ERROR KXSMSErrors[];
KXSMS_ERR_EXPORT extern const KXSMS_SMS_ERROR KXSMS_SMSTargetServiceErrors[];
KXSMS_ERR_EXPORT extern const KXSMS_SMS_ERROR KXSMS_SMSSMDRErrors[];
KXSMS_ERR_EXPORT extern const KXSMS_SMS_ERROR KXSMS_NDSAgentErrors[];
}

#endif /* KXSMS_ERRORS_KXSMSERR_H */
