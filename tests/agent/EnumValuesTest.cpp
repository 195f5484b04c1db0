// Values of the interface's enumerations that the module has no meaning for.
// A host passes plain ints (any value is one of the enumeration's values);
// each must be refused or ignored where it arrives, with no connection and
// without touching SMS. scripts/enum-check also runs these tests in a build
// that checks every load of an enumeration value.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "Files.h"
#include "KXSMS.h"
#include "KXSMSErr.h"
#include "Peek.h"
#include "TempDir.h"

namespace {

const int kUnknownValues[] = {3, 4, 7, 255, 256, INT_MAX, -1, INT_MIN};

class EnumerationValues : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("KXLIB_LOG", (folder / "log").c_str(), 1);
        object = CreateKXSMS();
    }
    void TearDown() override
    {
        DestroyKXSMS(object);
        unsetenv("KXLIB_LOG");
    }
    std::string log() const { return testsupport::readFile(folder / "log"); }
    testsupport::TempDir folder{"kxsms-enum"};
    CKXSMS *object = nullptr;
};

TEST_F(EnumerationValues, UnknownTsaTypesAreRefusedByConnect)
{
    KXPassword password("secret");
    char user[] = "admin";
    for (int type : kUnknownValues) {
        EXPECT_EQ(object->Connect(static_cast<KXSMS_TSA_TYPE>(type), user, &password), KXSMS_ERR_BAD_ARGUMENTS) << type;
        EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_FILE_SYSTEM) << type; // not stored
        EXPECT_EQ(object->GetTSAConnection(), 0xFFFFFFFFu);
        EXPECT_EQ(object->GetTSATypeName(static_cast<unsigned>(type), false), nullptr) << type;
        EXPECT_EQ(object->LoadTSA(static_cast<KXSMS_TSA_TYPE>(type)), 0) << type;
    }
    EXPECT_EQ(log(), "");
}

TEST_F(EnumerationValues, AnUnknownTsaTypeInTheObjectNamesNothing)
{
    for (int type : kUnknownValues) {
        Peek::tsaType(object) = static_cast<KXSMS_TSA_TYPE>(type);
        EXPECT_EQ(static_cast<int>(object->GetTSAType()), type);
        char name[] = "VOL1:dir", out[64] = "untouched", resource[64] = "x", volume[16] = "";
        bool isResource = true, isRoot = true;
        EXPECT_EQ(object->DataSetType(name, &isResource, &isRoot), KXSMS_ERR_BAD_ARGUMENTS) << type;
        EXPECT_FALSE(isResource);
        EXPECT_FALSE(isRoot);
        EXPECT_EQ(object->NetWareToSMS(name, out, sizeof out), KXSMS_ERR_OS_NOT_SUPPORTED) << type;
        EXPECT_EQ(object->SMSToNetWare(name, out, sizeof out), KXSMS_ERR_OS_NOT_SUPPORTED) << type;
        EXPECT_STREQ(out, "untouched");
        EXPECT_STREQ(object->GetResourceName(name, resource), "");
        EXPECT_STREQ(object->GetVolumeName(name, volume), "SYS:");
        EXPECT_FALSE(object->EnableCachingMode(true));
    }
}

TEST_F(EnumerationValues, AnActionOutsideTheFourStillConverts)
{
    char path[] = "/data/a.txt";
    for (int action : kUnknownValues) {
        if (action == 3)
            continue; // KXSMS_ACTION_DELETE
        EXPECT_EQ(object->CheckSMSError(0xFFFDFFCA, path, static_cast<KXSMS_ACTION>(action)),
                  KXSMS_ERR_OUT_OF_DISK_SPACE)
            << action;
        EXPECT_EQ(object->CheckSMSError(0xFFFDFFF2, path, static_cast<KXSMS_ACTION>(action)), KXSMS_ERR_DATA_NOT_FOUND)
            << action;
    }
    EXPECT_EQ(log(), ""); // the lines belong to the four actions
}

TEST_F(EnumerationValues, AnyTrusteeOptionWithoutAConnection)
{
    char name[] = "/x";
    for (int option : kUnknownValues)
        EXPECT_EQ(object->BeginRestore(name, 2, true, static_cast<KXSMS_TRUSTEE_OPTION>(option), false, false, true),
                  KXSMS_ERR_NO_CONNECTION)
            << option;
}

} // namespace
