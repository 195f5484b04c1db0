// The module's error vocabulary: its own code table, the three SMS tables, and
// the lookups that turn SMS codes into messages and module codes.
#include <cstdio>

#include "KXSMS.h"
#include "KXSMSErr.h"

extern "C" {

// Every row of the list in KXSMSErr.h, in its order, then the terminator.
const KXSMS_ERROR KXSMSErrors[] = {
#define KXSMS_ERROR_ROW(name, code, fatal, message) {code, message, fatal},
    KXSMS_ERROR_CODES(KXSMS_ERROR_ROW)
#undef KXSMS_ERROR_ROW
        {0, "", false},
};

const KXSMS_SMS_ERROR KXSMS_SMSTargetServiceErrors[] = {
    {0xFFFDFFFF, "Invalid user name or password", KXSMS_ERR_LOGIN_FAILED},
    {0xFFFDFFFE, "Unable to get bindery object name", KXSMS_ERR_BINDERY},
    {0xFFFDFFFD, "Buffer underflow, unable to get entire field", KXSMS_ERR_INTERNAL_SMS},
    {0xFFFDFFFC, "Cannot allocate a directory handle", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFFB, "Cannot close the Bindery", KXSMS_ERR_BINDERY},
    {0xFFFDFFFA, "Cannot create a directory entry", KXSMS_ERR_ACCESS_RIGHTS},
    {0xFFFDFFF9, "Cannot create a file", KXSMS_ERR_OUT_OF_DISK_SPACE},
    {0xFFFDFFF8, "Data set name already exists", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFDFFF7, "The data set was excluded by the Selection List", KXSMS_ERR_EXCLUDED_BY_TSA},
    {0xFFFDFFF6, "Cannot open an Execute Only file", KXSMS_ERR_EXECUTE_ONLY},
    {0xFFFDFFF5, "Data set is currently in use", KXSMS_ERR_DATA_IN_USE},
    {0xFFFDFFF4, "The data set is not newer than the one on disk", KXSMS_ERR_NOT_NEWER},
    {0xFFFDFFF3, "Attempt to open a data set that is already open", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFF2, "No data sets found", KXSMS_ERR_DATA_NOT_FOUND},
    {0xFFFDFFF1, "Error deleting data set", KXSMS_ERR_DELETE_FAILED},
    {0xFFFDFFF0, "Unable to find the HEADER Field", KXSMS_ERR_DATA_CORRUPT},
    {0xFFFDFFEF, "Unable to find the TRAILER Field", KXSMS_ERR_DATA_CORRUPT},
    {0xFFFDFFEE, "Unable to get bindery name", KXSMS_ERR_BINDERY},
    {0xFFFDFFED, "Unable to get data stream name", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFEC, "Unable to get entry index", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFEB, "Unable to get name space entry", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFEA, "Unable to get name space size", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFE9, "Unable to get server info", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFE8, "Unable to get volume name space info", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFE7, "Invalid connection handle", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFE6, "Invalid data set", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFE5, "Invalid data set handle", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFE4, "Invalid data set name", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFE3, "Invalid data set type", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFE2, "Invalid handle", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFE0, "Invalid name space type", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFDF, "Invalid object id", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFDE, "Invalid open mode type", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFDD, "Invalid parameter", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFDC, "Invalid path", KXSMS_ERR_INVALID_SMS_PATH},
    {0xFFFDFFDB, "Invalid scan type", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFDA, "Invalid selection list", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFD9, "Invalid selection type", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFD8, "Invalid sequence number", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFD7, "Login denied", KXSMS_ERR_LOGIN_FAILED},
    {0xFFFDFFD6, "Unable to logout", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFD5, "Name space path has not been updated", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFD4, "Server not ready", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFD3, "No connection", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFD2, "No more data", KXSMS_ERR_BACKUP_FAILED},
    {0xFFFDFFD1, "No more data sets", KXSMS_ERR_BACKUP_FAILED},
    {0xFFFDFFD0, "No more names", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFCF, "No search privileges", KXSMS_ERR_ACCESS_RIGHTS},
    {0xFFFDFFCE, "No such property", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFCD, "Unable to open data stream", KXSMS_ERR_OPEN_FAILED},
    {0xFFFDFFCC, "Open file error", KXSMS_ERR_OPEN_FAILED},
    {0xFFFDFFCB, "Open mode type not used", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFCA, "Out of disk space", KXSMS_ERR_OUT_OF_DISK_SPACE},
    {0xFFFDFFC9, "Out of memory", KXSMS_ERR_OUT_OF_MEMORY},
    {0xFFFDFFC8, "Buffer overflow", KXSMS_ERR_INTERNAL_SMS},
    {0xFFFDFFC7, "Unable to read extended attributes", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFC6, "Error reading the file", KXSMS_ERR_BACKUP_FAILED},
    {0xFFFDFFC5, "Resource name not found", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFC4, "Scan error/Invalid path", KXSMS_ERR_SCAN_FAILED},
    {0xFFFDFFC3, "Unable to scan file entry", KXSMS_ERR_SCAN_FAILED},
    {0xFFFDFFC2, "Scan in progress", KXSMS_ERR_SCAN_FAILED},
    {0xFFFDFFC1, "Scan name space error", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFC0, "Scan trustee error", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFBF, "Scan type not used", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFBE, "Seleection type not used", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFBD, "Unable to set file info", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFBC, "Transport failure", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFDFFBB, "Transport packet size error", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFDFFBA, "TSA not found", KXSMS_ERR_TSA_NOT_LOADED},
    {0xFFFDFFB9, "Unsupported function", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFDFFB8, "Valid parent handle", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFDFFB7, "Unable to write extended attribute", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFB6, "Unable to write to file", KXSMS_ERR_RESTORE_FAILED},
    {0xFFFDFFB5, "Unable to write to file", KXSMS_ERR_RESTORE_FAILED},
    {0xFFFDFFB4, "Reconnection required", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFDFFB3, "All TSA connections in use", KXSMS_ERR_CONNECT_FAILED},
    {0xFFFDFFB2, "Compressed data not supported", KXSMS_ERR_COMPRESSION_CONFLICT},
    {0xFFFDFFB1, "Internal error", KXSMS_ERR_INTERNAL_SMS},
    {0xFFFDFFB0, "Invalid Message Number", KXSMS_ERR_INTERNAL_SMS},
    {0xFFFDFFAF, "Cluster target does not exist", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFAE, "Cluster target has no volumes", KXSMS_ERR_INTERNAL_SERVER},
    {0xFFFDFFAD, "Unsupported Option", KXSMS_ERR_PROGRAM_ERROR},
    {0, "", 0},
};

const KXSMS_SMS_ERROR KXSMS_SMSSMDRErrors[] = {
    {0xFFFEFFFF, "Invalid connection", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFEFFFE, "Invalid parameter", KXSMS_ERR_INVALID_PARAMETER},
    {0xFFFEFFFD, "Out of memory", KXSMS_ERR_OUT_OF_MEMORY},
    {0xFFFEFFFC, "Transport failure", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFEFFFB, "Unsupported function", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFEFFFA, "Module already exported", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFEFFF9, "Decryption failure", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFEFFF8, "Encryption failure", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFEFFF7, "TSA not loaded", KXSMS_ERR_TSA_NOT_LOADED},
    {0xFFFEFFF6, "No such SMDR", KXSMS_ERR_TSA_NOT_LOADED},
    {0xFFFEFFF5, "SMDR connection failure", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFEFFF4, "No more data", KXSMS_ERR_PROGRAM_ERROR},
    {0xFFFEFFF3, "No sockets", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFEFFF2, "Invalid protocol", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFEFFF1, "No more connections", KXSMS_ERR_CONNECT_FAILED},
    {0xFFFEFFF0, "No such TSA", KXSMS_ERR_TSA_NOT_LOADED},
    {0xFFFEFFEF, "Invalid message number", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFEFFB8, "Protocol not found", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFEFFDF, "Unknown address", KXSMS_ERR_SMDR_COMMUNICATION},
    {0xFFFEFFE8, "Invalid name", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFEFFE9, "Invalid context", KXSMS_ERR_UNKNOWN_SMS_ERROR},
    {0xFFFEFFE0, "Data corrupted", KXSMS_ERR_DATA_CORRUPT},
    {0, "", 0},
};

const KXSMS_SMS_ERROR KXSMS_NDSAgentErrors[] = {
    {0, "", 0},
};

} // extern "C"

namespace {

// The list holds each code from the first to the last exactly once, so no
// two names share a code and no code lacks a row.
constexpr bool eachCodeOnce()
{
    constexpr unsigned int codes[] = {
#define KXSMS_ERROR_CODE(name, code, fatal, message) code,
        KXSMS_ERROR_CODES(KXSMS_ERROR_CODE)
#undef KXSMS_ERROR_CODE
    };
    constexpr unsigned int first = KXSMS_ERR_NOT_IMPLEMENTED, last = KXSMS_ERR_INVALID_PARAMETER;
    bool seen[last - first + 1] = {};
    for (unsigned int code : codes) {
        if (code < first || code > last || seen[code - first])
            return false;
        seen[code - first] = true;
    }
    return sizeof codes / sizeof codes[0] == last - first + 1;
}
static_assert(eachCodeOnce(), "KXSMS_ERROR_CODES must hold each module code once");

// Fallback texts for codes no table holds; each stays valid until the next
// miss of the same lookup.
char g_unknownSMSText[128];
char g_unknownModuleText[100];

} // namespace

const char *CKXSMS::FindSMSError(unsigned int smsCode, unsigned int *moduleCode)
{
    // Walks one SMS table; a hit stores the module code and returns the message.
    auto search = [this, moduleCode](const KXSMS_SMS_ERROR *table, unsigned int code) -> const char * {
        for (const KXSMS_SMS_ERROR *row = table; row->smsCode != 0; ++row) {
            if (row->smsCode == static_cast<uint64_t>(code)) {
                if (moduleCode != nullptr)
                    *moduleCode = static_cast<unsigned int>(row->moduleCode);
                return row->message;
            }
            GiveUpControl();
        }
        return nullptr;
    };

    const char *text = nullptr;
    if ((smsCode & 0xFFFD0000u) == 0xFFFD0000u && (text = search(KXSMS_SMSTargetServiceErrors, smsCode)))
        return text;
    if ((smsCode & 0xFFFE0000u) == 0xFFFE0000u && (text = search(KXSMS_SMSSMDRErrors, smsCode)))
        return text;

    // The target service reports two directory-services ranges in its own
    // code space; map them back to directory-services numbers.
    if (smsCode > 0xFFFDFEC7u && smsCode <= 0xFFFDFEFCu)
        smsCode += 0x1FFD7u;
    else if (smsCode > 0xFFFDFE1Au && smsCode <= 0xFFFDFEC7u)
        smsCode += 0x1FEE0u;

    if ((smsCode & 0xFFFF0000u) == 0xFFFF0000u && (text = search(KXSMS_NDSAgentErrors, smsCode)))
        return text;

    if (moduleCode != nullptr)
        *moduleCode = KXSMS_ERR_UNKNOWN_SMS_ERROR;
    snprintf(g_unknownSMSText, sizeof g_unknownSMSText, "Unknown SMS error - 0x%x", smsCode);
    return g_unknownSMSText;
}

const char *CKXSMS::GetSMSErrorText(unsigned int smsCode)
{
    unsigned int moduleCode = 0;
    return FindSMSError(smsCode, &moduleCode);
}

unsigned int CKXSMS::ConvertSMSError(unsigned int smsCode)
{
    unsigned int moduleCode = KXSMS_ERR_UNKNOWN_SMS_ERROR;
    FindSMSError(smsCode, &moduleCode);
    return moduleCode;
}

const char *CKXSMS::FindError(unsigned int code, bool *fatal)
{
    for (const KXSMS_ERROR *row = KXSMSErrors; row->code != 0; ++row) {
        if (row->code == static_cast<uint64_t>(code)) {
            if (fatal != nullptr)
                *fatal = row->fatal;
            return row->message;
        }
        GiveUpControl();
    }
    if (fatal != nullptr)
        *fatal = false;
    snprintf(g_unknownModuleText, sizeof g_unknownModuleText, "Unknown KXSMS error - %u", code);
    return g_unknownModuleText;
}

const char *CKXSMS::GetErrorText(unsigned int code)
{
    bool fatal = false;
    return FindError(code, &fatal);
}
