// Converting SMS failures with the line of the action in progress, and the
// fatal-error question with its configuration override.
#include <string>

#include "Harness.h"
#include "KXSMSErr.h"

namespace {

class ErrorCheck : public harness::StandIns {
protected:
    void SetUp() override
    {
        StandIns::SetUp();
        object = CreateKXSMS();
    }
    void TearDown() override
    {
        DestroyKXSMS(object);
        unsetenv("KXLIB_FOCUS");
        StandIns::TearDown();
    }
    unsigned check(unsigned sms, int action)
    {
        clearLog();
        char path[] = "/data/a.txt";
        return object->CheckSMSError(sms, path, static_cast<KXSMS_ACTION>(action));
    }
    CKXSMS *object = nullptr;
};

struct CheckRow {
    unsigned sms;
    int action;
    unsigned code;
    const char *line; // "" = nothing logged
};

class CheckLines : public ErrorCheck, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(CheckLines, ConvertAndLogForTheAction)
{
    const CheckRow &row = GetParam();
    EXPECT_EQ(check(row.sms, row.action), row.code);
    const auto lines = logMessages();
    if (row.line[0] == '\0') {
        EXPECT_TRUE(lines.empty());
    } else {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], row.line);
        EXPECT_TRUE(logged(row.line, "ERROR"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, CheckLines,
    ::testing::Values(
        CheckRow{0xFFFDFFF2, 0, KXSMS_ERR_DATA_NOT_FOUND, "/data/a.txt does not exist."},
        CheckRow{0xFFFDFFF2, 1, KXSMS_ERR_DATA_NOT_FOUND, "/data/a.txt was deleted before it could be backed up."},
        CheckRow{0xFFFDFFF2, 2, KXSMS_ERR_DATA_NOT_FOUND, ""}, CheckRow{0xFFFDFFF2, 3, KXSMS_ERR_DATA_NOT_FOUND, ""},
        CheckRow{0xFFFEFFF7, 0, KXSMS_ERR_TSA_NOT_LOADED, "Failed to scan data set /data/a.txt, TSA not loaded."},
        CheckRow{0xFFFDFFC6, 1, KXSMS_ERR_BACKUP_FAILED,
                 "Failed to backup data set /data/a.txt, Failed to backup data."},
        CheckRow{0xFFFDFFCA, 2, KXSMS_ERR_OUT_OF_DISK_SPACE,
                 "Failed to restore data set /data/a.txt, Out of disk space."},
        CheckRow{0xFFFDFFF1, 3, KXSMS_ERR_DELETE_FAILED,
                 "Failed to delete data set /data/a.txt, Failed to delete data."},
        CheckRow{0x12345678, 0, KXSMS_ERR_UNKNOWN_SMS_ERROR, "Failed to scan data set /data/a.txt, Unknown SMS error."},
        // a module code is no SMS code
        CheckRow{KXSMS_ERR_DATA_NOT_FOUND, 1, KXSMS_ERR_UNKNOWN_SMS_ERROR,
                 "Failed to backup data set /data/a.txt, Unknown SMS error."},
        CheckRow{0xFFFDFFCA, 7, KXSMS_ERR_OUT_OF_DISK_SPACE, ""}));

TEST_F(ErrorCheck, NullPathIsLoggedAsEmpty)
{
    clearLog();
    EXPECT_EQ(object->CheckSMSError(0xFFFDFFF2, nullptr, KXSMS_ACTION_SCAN), KXSMS_ERR_DATA_NOT_FOUND);
    EXPECT_TRUE(logged(" does not exist.", "ERROR"));
}

TEST_F(ErrorCheck, FatalErrorsAndTheOverride)
{
    const std::string config = dir / "kxlib.conf";
    setenv("KXLIB_CONFIG", config.c_str(), 1);
    EXPECT_TRUE(object->IsFatalError(KXSMS_ERR_CONNECT_FAILED));
    EXPECT_FALSE(object->IsFatalError(KXSMS_ERR_DATA_NOT_FOUND));
    EXPECT_FALSE(object->IsFatalError(130050));

    testsupport::writeFile(config, "[Kelvane]\nnIgnoreSMSError = 0\n");
    EXPECT_TRUE(object->IsFatalError(KXSMS_ERR_CONNECT_FAILED));

    clearLog();
    testsupport::writeFile(config, "[Kelvane]\nnIgnoreSMSError = 1\n");
    EXPECT_FALSE(object->IsFatalError(KXSMS_ERR_CONNECT_FAILED));
    EXPECT_FALSE(object->IsFatalError(KXSMS_ERR_CONNECT_FAILED));
    size_t lines = 0;
    for (const std::string &m : logMessages("ERROR"))
        lines += m == "Ignoring Fatal Error " + std::to_string(KXSMS_ERR_CONNECT_FAILED);
    EXPECT_EQ(lines, 2u);
    EXPECT_FALSE(object->IsFatalError(KXSMS_ERR_DATA_NOT_FOUND)); // not fatal: no line
    EXPECT_EQ(logMessages().size(), 2u);

    testsupport::writeFile(config, "[Kelvane]\nnIgnoreSMSError = 0\n");
    EXPECT_TRUE(object->IsFatalError(KXSMS_ERR_CONNECT_FAILED)); // the change applies at the next call
}

TEST_F(ErrorCheck, OverrideInTheFocusSection)
{
    const std::string config = dir / "kxlib.conf";
    setenv("KXLIB_CONFIG", config.c_str(), 1);
    testsupport::writeFile(config, "[inst2/Kelvane]\nnIgnoreSMSError = 1\n[Kelvane]\nnIgnoreSMSError = 0\n");
    EXPECT_TRUE(object->IsFatalError(KXSMS_ERR_OUT_OF_MEMORY));
    setenv("KXLIB_FOCUS", "inst2", 1);
    EXPECT_FALSE(object->IsFatalError(KXSMS_ERR_OUT_OF_MEMORY));
}

TEST_F(ErrorCheck, SaveErrorLogDoesNothing)
{
    char path[] = "/nonexistent/dir/file";
    EXPECT_EQ(object->SaveErrorLog(nullptr), 0);
    EXPECT_EQ(object->SaveErrorLog(path), 0);
    char volume[] = "VOL1:";
    EXPECT_TRUE(object->IsVolumeMounted(volume));
}

} // namespace
