// Converting SMS failures with the line of the action in progress, and the
// fatal-error question with its configuration override.
#include <string>

#include "Harness.h"

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
        CheckRow{0xFFFDFFF2, 0, 130007, "/data/a.txt does not exist."},
        CheckRow{0xFFFDFFF2, 1, 130007, "/data/a.txt was deleted before it could be backed up."},
        CheckRow{0xFFFDFFF2, 2, 130007, ""}, CheckRow{0xFFFDFFF2, 3, 130007, ""},
        CheckRow{0xFFFEFFF7, 0, 130004, "Failed to scan data set /data/a.txt, TSA not loaded."},
        CheckRow{0xFFFDFFC6, 1, 130010, "Failed to backup data set /data/a.txt, Failed to backup data."},
        CheckRow{0xFFFDFFCA, 2, 130041, "Failed to restore data set /data/a.txt, Out of disk space."},
        CheckRow{0xFFFDFFF1, 3, 130012, "Failed to delete data set /data/a.txt, Failed to delete data."},
        CheckRow{0x12345678, 0, 130044, "Failed to scan data set /data/a.txt, Unknown SMS error."},
        CheckRow{130007, 1, 130044, "Failed to backup data set /data/a.txt, Unknown SMS error."},
        CheckRow{0xFFFDFFCA, 7, 130041, ""}));

TEST_F(ErrorCheck, NullPathIsLoggedAsEmpty)
{
    clearLog();
    EXPECT_EQ(object->CheckSMSError(0xFFFDFFF2, nullptr, KXSMS_ACTION_SCAN), 130007u);
    EXPECT_TRUE(logged(" does not exist.", "ERROR"));
}

TEST_F(ErrorCheck, FatalErrorsAndTheOverride)
{
    const std::string config = dir / "kxlib.conf";
    setenv("KXLIB_CONFIG", config.c_str(), 1);
    EXPECT_TRUE(object->IsFatalError(130005));
    EXPECT_FALSE(object->IsFatalError(130007));
    EXPECT_FALSE(object->IsFatalError(130050));

    harness::writeFile(config, "[Kelvane]\nnIgnoreSMSError = 0\n");
    EXPECT_TRUE(object->IsFatalError(130005));

    clearLog();
    harness::writeFile(config, "[Kelvane]\nnIgnoreSMSError = 1\n");
    EXPECT_FALSE(object->IsFatalError(130005));
    EXPECT_FALSE(object->IsFatalError(130005));
    size_t lines = 0;
    for (const std::string &m : logMessages("ERROR"))
        lines += m == "Ignoring Fatal Error 130005";
    EXPECT_EQ(lines, 2u);
    EXPECT_FALSE(object->IsFatalError(130007)); // not fatal: no line
    EXPECT_EQ(logMessages().size(), 2u);

    harness::writeFile(config, "[Kelvane]\nnIgnoreSMSError = 0\n");
    EXPECT_TRUE(object->IsFatalError(130005)); // the change applies at the next call
}

TEST_F(ErrorCheck, OverrideInTheFocusSection)
{
    const std::string config = dir / "kxlib.conf";
    setenv("KXLIB_CONFIG", config.c_str(), 1);
    harness::writeFile(config, "[inst2/Kelvane]\nnIgnoreSMSError = 1\n[Kelvane]\nnIgnoreSMSError = 0\n");
    EXPECT_TRUE(object->IsFatalError(130040));
    setenv("KXLIB_FOCUS", "inst2", 1);
    EXPECT_FALSE(object->IsFatalError(130040));
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
