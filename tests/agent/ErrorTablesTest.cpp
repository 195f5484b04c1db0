// The exported error tables are read by hosts directly: rows, order, texts
// (misspellings included) and terminators are checked against an independent
// transcription; then the lookups over them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "KXSMS.h"
#include "KXSMSErr.h"

namespace {

struct ModuleRow {
    unsigned code;
    const char *text;
    bool fatal;
};
struct SmsRow {
    unsigned code;
    const char *text;
    unsigned module;
};

const std::vector<ModuleRow> expectedModule = {
    {130000, "Function not implemented", true},
    {130001, "Invalid KXSMS object", true},
    {130002, "Bad arguments", true},
    {130003, "OS not supported", true},
    {130004, "TSA not loaded", true},
    {130005, "Failed to connect to TSA", true},
    {130006, "Failed to login", true},
    {130007, "Data not found/Invalid path", false},
    {130046, "Invalid SMS path", false},
    {130008, "Failed to scan data", false},
    {130009, "Failed to open data", false},
    {130010, "Failed to backup data", false},
    {130011, "Failed to restore data", false},
    {130012, "Failed to delete data", false},
    {130013, "Compression conflict", false},
    {130014, "Volume not mounted", false},
    {130015, "The archive data is not newer than the data on disk", false},
    {130016, "Data in use", false},
    {130017, "Data is flagged Execute Only", false},
    {130047, "The archive data is excluded by the TSA", false},
    {130018, "Failed to read data", false},
    {130019, "No connection to TSA", true},
    {130020, "KXSMS object not initialized", true},
    {130021, "MAC Name space not installed", false},
    {130022, "OS2/LONG Name space not installed", false},
    {130023, "NFS Name space not installed", false},
    {130024, "Unknown name space", true},
    {130025, "SMDR.NLM not configured", true},
    {130027, "Bindery error", true},
    {130028, "Directory Services database error", true},
    {130029, "Schema error", false},
    {130030, "Directory Services replica error", true},
    {130031, "Directory Services sync error", true},
    {130032, "Directory Services communication error", true},
    {130033, "Directory Services authentication error", false},
    {130048, "Directory Services referral error", false},
    {130034, "Volume SYS error", true},
    {130035, "Data corrupt", false},
    {130036, "Internal DS error", true},
    {130037, "Internal server error", true},
    {130038, "Internal SMS error", false},
    {130039, "Insufficient access rights", false},
    {130040, "Out of memory", true},
    {130041, "Out of disk space", true},
    {130042, "Unicode error", true},
    {130043, "Invalid DS version", true},
    {130044, "Unknown SMS error", false},
    {130045, "Possible program error - Contact Tarnwell Systems, Inc.", true},
    {130026, "SMDR communication error", true},
    {130049, "Invalid Parameter", false},
};

const std::vector<SmsRow> expectedTargetService = {
    {0xFFFDFFFF, "Invalid user name or password", 130006},
    {0xFFFDFFFE, "Unable to get bindery object name", 130027},
    {0xFFFDFFFD, "Buffer underflow, unable to get entire field", 130038},
    {0xFFFDFFFC, "Cannot allocate a directory handle", 130037},
    {0xFFFDFFFB, "Cannot close the Bindery", 130027},
    {0xFFFDFFFA, "Cannot create a directory entry", 130039},
    {0xFFFDFFF9, "Cannot create a file", 130041},
    {0xFFFDFFF8, "Data set name already exists", 130044},
    {0xFFFDFFF7, "The data set was excluded by the Selection List", 130047},
    {0xFFFDFFF6, "Cannot open an Execute Only file", 130017},
    {0xFFFDFFF5, "Data set is currently in use", 130016},
    {0xFFFDFFF4, "The data set is not newer than the one on disk", 130015},
    {0xFFFDFFF3, "Attempt to open a data set that is already open", 130045},
    {0xFFFDFFF2, "No data sets found", 130007},
    {0xFFFDFFF1, "Error deleting data set", 130012},
    {0xFFFDFFF0, "Unable to find the HEADER Field", 130035},
    {0xFFFDFFEF, "Unable to find the TRAILER Field", 130035},
    {0xFFFDFFEE, "Unable to get bindery name", 130027},
    {0xFFFDFFED, "Unable to get data stream name", 130037},
    {0xFFFDFFEC, "Unable to get entry index", 130037},
    {0xFFFDFFEB, "Unable to get name space entry", 130037},
    {0xFFFDFFEA, "Unable to get name space size", 130037},
    {0xFFFDFFE9, "Unable to get server info", 130037},
    {0xFFFDFFE8, "Unable to get volume name space info", 130037},
    {0xFFFDFFE7, "Invalid connection handle", 130045},
    {0xFFFDFFE6, "Invalid data set", 130045},
    {0xFFFDFFE5, "Invalid data set handle", 130045},
    {0xFFFDFFE4, "Invalid data set name", 130045},
    {0xFFFDFFE3, "Invalid data set type", 130045},
    {0xFFFDFFE2, "Invalid handle", 130045},
    {0xFFFDFFE0, "Invalid name space type", 130045},
    {0xFFFDFFDF, "Invalid object id", 130045},
    {0xFFFDFFDE, "Invalid open mode type", 130045},
    {0xFFFDFFDD, "Invalid parameter", 130045},
    {0xFFFDFFDC, "Invalid path", 130046},
    {0xFFFDFFDB, "Invalid scan type", 130045},
    {0xFFFDFFDA, "Invalid selection list", 130045},
    {0xFFFDFFD9, "Invalid selection type", 130045},
    {0xFFFDFFD8, "Invalid sequence number", 130045},
    {0xFFFDFFD7, "Login denied", 130006},
    {0xFFFDFFD6, "Unable to logout", 130037},
    {0xFFFDFFD5, "Name space path has not been updated", 130037},
    {0xFFFDFFD4, "Server not ready", 130037},
    {0xFFFDFFD3, "No connection", 130045},
    {0xFFFDFFD2, "No more data", 130010},
    {0xFFFDFFD1, "No more data sets", 130010},
    {0xFFFDFFD0, "No more names", 130045},
    {0xFFFDFFCF, "No search privileges", 130039},
    {0xFFFDFFCE, "No such property", 130037},
    {0xFFFDFFCD, "Unable to open data stream", 130009},
    {0xFFFDFFCC, "Open file error", 130009},
    {0xFFFDFFCB, "Open mode type not used", 130037},
    {0xFFFDFFCA, "Out of disk space", 130041},
    {0xFFFDFFC9, "Out of memory", 130040},
    {0xFFFDFFC8, "Buffer overflow", 130038},
    {0xFFFDFFC7, "Unable to read extended attributes", 130037},
    {0xFFFDFFC6, "Error reading the file", 130010},
    {0xFFFDFFC5, "Resource name not found", 130045},
    {0xFFFDFFC4, "Scan error/Invalid path", 130008},
    {0xFFFDFFC3, "Unable to scan file entry", 130008},
    {0xFFFDFFC2, "Scan in progress", 130008},
    {0xFFFDFFC1, "Scan name space error", 130037},
    {0xFFFDFFC0, "Scan trustee error", 130037},
    {0xFFFDFFBF, "Scan type not used", 130045},
    {0xFFFDFFBE, "Seleection type not used", 130045},
    {0xFFFDFFBD, "Unable to set file info", 130037},
    {0xFFFDFFBC, "Transport failure", 130026},
    {0xFFFDFFBB, "Transport packet size error", 130026},
    {0xFFFDFFBA, "TSA not found", 130004},
    {0xFFFDFFB9, "Unsupported function", 130045},
    {0xFFFDFFB8, "Valid parent handle", 130044},
    {0xFFFDFFB7, "Unable to write extended attribute", 130037},
    {0xFFFDFFB6, "Unable to write to file", 130011},
    {0xFFFDFFB5, "Unable to write to file", 130011},
    {0xFFFDFFB4, "Reconnection required", 130026},
    {0xFFFDFFB3, "All TSA connections in use", 130005},
    {0xFFFDFFB2, "Compressed data not supported", 130013},
    {0xFFFDFFB1, "Internal error", 130038},
    {0xFFFDFFB0, "Invalid Message Number", 130038},
    {0xFFFDFFAF, "Cluster target does not exist", 130037},
    {0xFFFDFFAE, "Cluster target has no volumes", 130037},
    {0xFFFDFFAD, "Unsupported Option", 130045},
};

const std::vector<SmsRow> expectedRequester = {
    {0xFFFEFFFF, "Invalid connection", 130045},
    {0xFFFEFFFE, "Invalid parameter", 130049},
    {0xFFFEFFFD, "Out of memory", 130040},
    {0xFFFEFFFC, "Transport failure", 130026},
    {0xFFFEFFFB, "Unsupported function", 130045},
    {0xFFFEFFFA, "Module already exported", 130044},
    {0xFFFEFFF9, "Decryption failure", 130044},
    {0xFFFEFFF8, "Encryption failure", 130044},
    {0xFFFEFFF7, "TSA not loaded", 130004},
    {0xFFFEFFF6, "No such SMDR", 130004},
    {0xFFFEFFF5, "SMDR connection failure", 130026},
    {0xFFFEFFF4, "No more data", 130045},
    {0xFFFEFFF3, "No sockets", 130026},
    {0xFFFEFFF2, "Invalid protocol", 130026},
    {0xFFFEFFF1, "No more connections", 130005},
    {0xFFFEFFF0, "No such TSA", 130004},
    {0xFFFEFFEF, "Invalid message number", 130044},
    {0xFFFEFFB8, "Protocol not found", 130026},
    {0xFFFEFFDF, "Unknown address", 130026},
    {0xFFFEFFE8, "Invalid name", 130044},
    {0xFFFEFFE9, "Invalid context", 130044},
    {0xFFFEFFE0, "Data corrupted", 130035},
};

void expectSmsTable(const KXSMS_SMS_ERROR *table, const std::vector<SmsRow> &expected)
{
    size_t i = 0;
    for (; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].smsCode, static_cast<uint64_t>(expected[i].code));
        EXPECT_STREQ(table[i].message, expected[i].text);
        EXPECT_EQ(table[i].moduleCode, static_cast<uint64_t>(expected[i].module));
    }
    EXPECT_EQ(table[i].smsCode, 0u);
    EXPECT_STREQ(table[i].message, "");
    EXPECT_EQ(table[i].moduleCode, 0u);
}

TEST(ErrorTables, RecordLayouts)
{
    EXPECT_EQ(sizeof(KXSMS_ERROR), 24u);
    EXPECT_EQ(offsetof(KXSMS_ERROR, message), 8u);
    EXPECT_EQ(offsetof(KXSMS_ERROR, fatal), 16u);
    EXPECT_EQ(sizeof(KXSMS_SMS_ERROR), 24u);
    EXPECT_EQ(offsetof(KXSMS_SMS_ERROR, moduleCode), 16u);
}

TEST(ErrorTables, ModuleTableRowByRow)
{
    size_t i = 0;
    for (; i < expectedModule.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(KXSMSErrors[i].code, expectedModule[i].code);
        EXPECT_STREQ(KXSMSErrors[i].message, expectedModule[i].text);
        EXPECT_EQ(KXSMSErrors[i].fatal, expectedModule[i].fatal);
    }
    EXPECT_EQ(i, 50u);
    EXPECT_EQ(KXSMSErrors[i].code, 0u);
    EXPECT_STREQ(KXSMSErrors[i].message, "");
    EXPECT_FALSE(KXSMSErrors[i].fatal);
}

// Hosts compiled against KXSMSErr.h use the names: each stands for its code,
// whatever the order of the list that makes them.
TEST(ErrorTables, EveryNameStandsForItsCode)
{
    const std::vector<std::pair<unsigned, unsigned>> named = {{KXSMS_ERR_NOT_IMPLEMENTED, 130000},
                                                              {KXSMS_ERR_INVALID_OBJECT, 130001},
                                                              {KXSMS_ERR_BAD_ARGUMENTS, 130002},
                                                              {KXSMS_ERR_OS_NOT_SUPPORTED, 130003},
                                                              {KXSMS_ERR_TSA_NOT_LOADED, 130004},
                                                              {KXSMS_ERR_CONNECT_FAILED, 130005},
                                                              {KXSMS_ERR_LOGIN_FAILED, 130006},
                                                              {KXSMS_ERR_DATA_NOT_FOUND, 130007},
                                                              {KXSMS_ERR_SCAN_FAILED, 130008},
                                                              {KXSMS_ERR_OPEN_FAILED, 130009},
                                                              {KXSMS_ERR_BACKUP_FAILED, 130010},
                                                              {KXSMS_ERR_RESTORE_FAILED, 130011},
                                                              {KXSMS_ERR_DELETE_FAILED, 130012},
                                                              {KXSMS_ERR_COMPRESSION_CONFLICT, 130013},
                                                              {KXSMS_ERR_VOLUME_NOT_MOUNTED, 130014},
                                                              {KXSMS_ERR_NOT_NEWER, 130015},
                                                              {KXSMS_ERR_DATA_IN_USE, 130016},
                                                              {KXSMS_ERR_EXECUTE_ONLY, 130017},
                                                              {KXSMS_ERR_READ_FAILED, 130018},
                                                              {KXSMS_ERR_NO_CONNECTION, 130019},
                                                              {KXSMS_ERR_NOT_INITIALIZED, 130020},
                                                              {KXSMS_ERR_MAC_NAME_SPACE, 130021},
                                                              {KXSMS_ERR_OS2_NAME_SPACE, 130022},
                                                              {KXSMS_ERR_NFS_NAME_SPACE, 130023},
                                                              {KXSMS_ERR_UNKNOWN_NAME_SPACE, 130024},
                                                              {KXSMS_ERR_SMDR_NOT_CONFIGURED, 130025},
                                                              {KXSMS_ERR_SMDR_COMMUNICATION, 130026},
                                                              {KXSMS_ERR_BINDERY, 130027},
                                                              {KXSMS_ERR_DS_DATABASE, 130028},
                                                              {KXSMS_ERR_SCHEMA, 130029},
                                                              {KXSMS_ERR_DS_REPLICA, 130030},
                                                              {KXSMS_ERR_DS_SYNC, 130031},
                                                              {KXSMS_ERR_DS_COMMUNICATION, 130032},
                                                              {KXSMS_ERR_DS_AUTHENTICATION, 130033},
                                                              {KXSMS_ERR_VOLUME_SYS, 130034},
                                                              {KXSMS_ERR_DATA_CORRUPT, 130035},
                                                              {KXSMS_ERR_INTERNAL_DS, 130036},
                                                              {KXSMS_ERR_INTERNAL_SERVER, 130037},
                                                              {KXSMS_ERR_INTERNAL_SMS, 130038},
                                                              {KXSMS_ERR_ACCESS_RIGHTS, 130039},
                                                              {KXSMS_ERR_OUT_OF_MEMORY, 130040},
                                                              {KXSMS_ERR_OUT_OF_DISK_SPACE, 130041},
                                                              {KXSMS_ERR_UNICODE, 130042},
                                                              {KXSMS_ERR_INVALID_DS_VERSION, 130043},
                                                              {KXSMS_ERR_UNKNOWN_SMS_ERROR, 130044},
                                                              {KXSMS_ERR_PROGRAM_ERROR, 130045},
                                                              {KXSMS_ERR_INVALID_SMS_PATH, 130046},
                                                              {KXSMS_ERR_EXCLUDED_BY_TSA, 130047},
                                                              {KXSMS_ERR_DS_REFERRAL, 130048},
                                                              {KXSMS_ERR_INVALID_PARAMETER, 130049}};
    EXPECT_EQ(named.size(), 50u);
    for (const auto &[value, code] : named)
        EXPECT_EQ(value, code) << code;
    EXPECT_EQ(KXSMS_OK, 0u);
    EXPECT_EQ(KXSMS_ERR_GENERAL, 0xFFFFFFFFu);
}

TEST(ErrorTables, SmsTablesRowByRow)
{
    EXPECT_EQ(expectedTargetService.size(), 82u);
    EXPECT_EQ(expectedRequester.size(), 22u);
    expectSmsTable(KXSMS_SMSTargetServiceErrors, expectedTargetService);
    expectSmsTable(KXSMS_SMSSMDRErrors, expectedRequester);
    expectSmsTable(KXSMS_NDSAgentErrors, {});
}

class Lookups : public ::testing::Test {
protected:
    void SetUp() override { object = CreateKXSMS(); }
    void TearDown() override { DestroyKXSMS(object); }
    CKXSMS *object = nullptr;
};

TEST_F(Lookups, EverySmsRowIsFoundWithItsModuleCode)
{
    for (const auto *rows : {&expectedTargetService, &expectedRequester}) {
        for (const SmsRow &row : *rows) {
            unsigned module = 0;
            EXPECT_STREQ(object->FindSMSError(row.code, &module), row.text) << std::hex << row.code;
            EXPECT_EQ(module, row.module);
            EXPECT_EQ(object->ConvertSMSError(row.code), row.module);
            EXPECT_STREQ(object->GetSMSErrorText(row.code), row.text);
        }
    }
}

TEST_F(Lookups, EveryModuleRowIsFoundWithItsFatalFlag)
{
    for (const ModuleRow &row : expectedModule) {
        bool fatal = !row.fatal;
        EXPECT_STREQ(object->FindError(row.code, &fatal), row.text);
        EXPECT_EQ(fatal, row.fatal) << row.code;
        EXPECT_STREQ(object->GetErrorText(row.code), row.text);
    }
}

struct Fallback {
    unsigned code;
    const char *text;
};

class SmsFallbacks : public Lookups, public ::testing::WithParamInterface<Fallback> {};

TEST_P(SmsFallbacks, UnknownCodesGiveTheFallbackTextAndCode)
{
    unsigned module = 0;
    EXPECT_STREQ(object->FindSMSError(GetParam().code, &module), GetParam().text);
    EXPECT_EQ(module, 130044u);
}

INSTANTIATE_TEST_SUITE_P(
    RangeMapping, SmsFallbacks,
    ::testing::Values(Fallback{0, "Unknown SMS error - 0x0"},                 // success is never converted
                      Fallback{0xFFFDFEC8, "Unknown SMS error - 0xfffffe9f"}, // one above: -353
                      Fallback{0xFFFDFEFC, "Unknown SMS error - 0xfffffed3"}, // top of the first range: -301
                      Fallback{0xFFFDFEFD, "Unknown SMS error - 0xfffdfefd"}, // above it: unchanged
                      Fallback{0xFFFDFEC7, "Unknown SMS error - 0xfffffda7"}, // second range: -601
                      Fallback{0xFFFDFE1B, "Unknown SMS error - 0xfffffcfb"}, // bottom of it: -773
                      Fallback{0xFFFDFE1A, "Unknown SMS error - 0xfffdfe1a"}, // outside both
                      Fallback{0xFFFFFFFF, "Unknown SMS error - 0xffffffff"}, // all three tables miss
                      Fallback{0xFFFDFFE1, "Unknown SMS error - 0xfffdffe1"}, // the one gap in the table
                      Fallback{130007, "Unknown SMS error - 0x1fbd7"}));      // a module code is no SMS code

TEST_F(Lookups, ModuleFallbacks)
{
    for (unsigned code : {0u, 130050u, 1u, 0xFFFFFFFFu}) {
        bool fatal = true;
        const std::string expected = "Unknown KXSMS error - " + std::to_string(code);
        EXPECT_EQ(object->FindError(code, &fatal), expected);
        EXPECT_FALSE(fatal);
        EXPECT_EQ(object->GetErrorText(code), expected);
    }
}

TEST_F(Lookups, FallbackTextsStayWithinTheirBuffers)
{
    // The longest texts the two formats can produce still fit.
    EXPECT_LT(strlen(object->GetSMSErrorText(0xFFFFFFFE)), 128u);
    EXPECT_LT(strlen(object->GetErrorText(4294967295u)), 100u);
}

} // namespace
