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

/* Module error codes (0 is success). */
enum : unsigned int {
    KXSMS_OK = 0,
    KXSMS_ERR_NOT_IMPLEMENTED = 130000,
    KXSMS_ERR_INVALID_OBJECT = 130001,
    KXSMS_ERR_BAD_ARGUMENTS = 130002,
    KXSMS_ERR_OS_NOT_SUPPORTED = 130003,
    KXSMS_ERR_TSA_NOT_LOADED = 130004,
    KXSMS_ERR_CONNECT_FAILED = 130005,
    KXSMS_ERR_LOGIN_FAILED = 130006,
    KXSMS_ERR_DATA_NOT_FOUND = 130007,
    KXSMS_ERR_SCAN_FAILED = 130008,
    KXSMS_ERR_OPEN_FAILED = 130009,
    KXSMS_ERR_BACKUP_FAILED = 130010,
    KXSMS_ERR_RESTORE_FAILED = 130011,
    KXSMS_ERR_DELETE_FAILED = 130012,
    KXSMS_ERR_VOLUME_NOT_MOUNTED = 130014,
    KXSMS_ERR_NOT_NEWER = 130015,
    KXSMS_ERR_NO_CONNECTION = 130019,
    KXSMS_ERR_NOT_INITIALIZED = 130020,
    KXSMS_ERR_MAC_NAME_SPACE = 130021,
    KXSMS_ERR_OS2_NAME_SPACE = 130022,
    KXSMS_ERR_NFS_NAME_SPACE = 130023,
    KXSMS_ERR_UNKNOWN_NAME_SPACE = 130024,
    KXSMS_ERR_OUT_OF_MEMORY = 130040,
    KXSMS_ERR_UNKNOWN_SMS_ERROR = 130044,
    KXSMS_ERR_PROGRAM_ERROR = 130045,
    KXSMS_ERR_INVALID_SMS_PATH = 130046,
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
