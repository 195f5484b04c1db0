// Priority name spaces of resources as the TSA reports them, one-name lists,
// and the current resource that spares repeated name-space scans.
#include <cstring>

#include "Harness.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

class NameSpaces : public harness::StandIns {
protected:
    void SetUp() override
    {
        StandIns::SetUp();
        harness::fs::create_directories(dir / "d1");
        harness::fs::create_directories(dir / "d2");
        object = CreateKXSMS();
    }
    void TearDown() override
    {
        DestroyKXSMS(object);
        StandIns::TearDown();
    }
    // A GroupWise TSA whose DOM1: reports the given name spaces (TOML array).
    void connect(const std::string &spaces, bool utf8 = false)
    {
        useConfig(std::string("[[tsa]]\ntype = \"GroupWise System\"\nutf8_names = ") + (utf8 ? "true" : "false") +
                  "\n[[tsa.resource]]\nname = \"DOM1:\"\npath = " + testsupport::tomlString(dir / "d1") +
                  "\nname_spaces = " + spaces +
                  "\n[[tsa.resource]]\nname = \"DOM2:\"\npath = " + testsupport::tomlString(dir / "d2") + "\n");
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        ASSERT_EQ(object->Connect(KXSMS_TSA_GROUPWISE, user.data(), &password), 0u);
        clearLog();
        clearTrace();
    }
    unsigned calculate(const char *resource)
    {
        std::string name = resource;
        return object->CalculatePriorityNameSpace(name.data());
    }
    CKXSMS *object = nullptr;
};

struct Priority {
    const char *spaces;
    bool utf8;
    int expected;
};

class PriorityRule : public NameSpaces, public ::testing::WithParamInterface<Priority> {};

TEST_P(PriorityRule, PicksThePriorityNameSpace)
{
    connect(GetParam().spaces, GetParam().utf8);
    ASSERT_EQ(calculate("DOM1:"), 0u);
    EXPECT_EQ(Peek::priorityNameSpace(object), GetParam().expected) << GetParam().spaces;
    EXPECT_TRUE(logged("Priority Name space for DOM1:=" + std::to_string(GetParam().expected) + ".", "DEBUG1"));
}

INSTANTIATE_TEST_SUITE_P(Orders, PriorityRule,
                         ::testing::Values(Priority{"[\"DOS\", \"MAC\", \"NFS\", \"FTAM\", \"OS2/LONG\"]", false, 4},
                                           Priority{"[\"DOS\", \"MAC\", \"NFS\", \"FTAM\", \"OS2/LONG\"]", true, 260},
                                           Priority{"[\"OS2/LONG\", \"NFS\"]", false, 4},
                                           Priority{"[\"NFS\", \"DOS\"]", false, 2}, Priority{"[\"MAC\"]", false, 0},
                                           Priority{"[\"DOS\"]", false, 0}, Priority{"[\"FTAM\", \"NFS\"]", false, 3},
                                           Priority{"[258]", false, 0}, Priority{"[258]", true, 256},
                                           Priority{"[7, 5]", false, 5}, Priority{"[300, \"NFS\"]", false, 300},
                                           Priority{"[\"NFS\", 255, \"FTAM\"]", false, 255},
                                           // The UTF-8 form of a type near INT_MAX wraps in 32 bits.
                                           Priority{"[2147483647]", true, static_cast<int>(0x800000FFu)}));

TEST_F(NameSpaces, SeparatorsAndLogLines)
{
    connect("[\"DOS\", \"OS2/LONG\"]");
    ASSERT_EQ(calculate("DOM1:"), 0u);
    EXPECT_STREQ(Peek::separator1(object), ":");
    EXPECT_STREQ(Peek::separator2(object), "/");
    EXPECT_EQ(Peek::nameSpaceCount(object), 2u);
    EXPECT_TRUE(logged("Name space=DOS, type=0", "DEBUG1"));
    EXPECT_TRUE(logged("Name space=OS2/LONG, type=4", "DEBUG1"));
}

TEST_F(NameSpaces, ResourceWithoutNameSpaces)
{
    connect("[]");
    ASSERT_EQ(calculate("DOM1:"), 0u);
    EXPECT_EQ(Peek::priorityNameSpace(object), -2);
    EXPECT_STREQ(Peek::separator1(object), "");
    EXPECT_TRUE(logged("Priority Name space for DOM1:=-2.", "DEBUG1"));
}

TEST_F(NameSpaces, DirectoryRootFallback)
{
    connect("[\"DOS\"]");
    useFaults("NWSMTSScanSupportedNameSpaces@1=0xFFFDFFC1");
    ASSERT_EQ(calculate(".[Root]"), 0u);
    EXPECT_EQ(Peek::priorityNameSpace(object), -4);
    EXPECT_STREQ(Peek::separator1(object), ".");
    EXPECT_STREQ(Peek::separator2(object), "");
}

TEST_F(NameSpaces, FailureBeforeAnyTypeKeepsThePreviousData)
{
    connect("[\"DOS\", \"OS2/LONG\"]");
    ASSERT_EQ(calculate("DOM1:"), 0u);
    useFaults("NWSMTSScanSupportedNameSpaces@1=0xFFFDFFC1");
    EXPECT_EQ(calculate("DOM2:"), KXSMS_ERR_INTERNAL_SERVER);
    EXPECT_TRUE(logged("Scan name spaces for DOM2: failed, Scan name space error.", "ERROR"));
    EXPECT_EQ(Peek::priorityNameSpace(object), 4);
    EXPECT_STREQ(Peek::separator1(object), ":");
}

TEST_F(NameSpaces, FailureAfterSomeTypesStillSettles)
{
    connect("[\"DOS\", \"NFS\", \"OS2/LONG\"]");
    useFaults("NWSMTSScanSupportedNameSpaces@3=0xFFFDFFC1");
    EXPECT_EQ(calculate("DOM1:"), 0u);
    EXPECT_EQ(Peek::priorityNameSpace(object), 2);
}

TEST_F(NameSpaces, TypeInformationFailure)
{
    setenv("KXLIB_DEBUG_LEVEL", "2", 1);
    DestroyKXSMS(object);
    object = CreateKXSMS();
    connect("[\"NFS\"]");
    useFaults("NWSMTSGetNameSpaceTypeInfo@1=0xFFFDFFE0");
    EXPECT_EQ(calculate("DOM1:"), KXSMS_ERR_PROGRAM_ERROR);
    EXPECT_TRUE(logged("Get name space type 2 for DOM1: failed, Invalid name space type.", "DEBUG2"));
    EXPECT_EQ(Peek::priorityNameSpace(object), 2);
    EXPECT_STREQ(Peek::separator1(object), "");
}

TEST_F(NameSpaces, CurrentResourceSparesTheTsa)
{
    connect("[\"DOS\", \"OS2/LONG\"]");
    char first[] = "DOM1:dir/a", second[] = "dom1:other", third[] = "DOM2:x";
    ASSERT_EQ(object->BeginNewResource(first), 0u);
    EXPECT_STREQ(Peek::currentResource(object), "DOM1:");
    EXPECT_TRUE(logged("New resource: DOM1:", "DEBUG1"));
    clearTrace();
    ASSERT_EQ(object->BeginNewResource(second), 0u);
    EXPECT_TRUE(traceCalls().empty());
    ASSERT_EQ(object->BeginNewResource(third), 0u);
    EXPECT_STREQ(Peek::currentResource(object), "DOM2:");
    EXPECT_GT(countCalls("NWSMTSScanSupportedNameSpaces"), 0u);
}

TEST_F(NameSpaces, NotFoundCountsAsSuccessWithoutRecording)
{
    connect("[\"DOS\"]");
    useFaults("NWSMTSScanSupportedNameSpaces@*=0xFFFDFFF2");
    char name[] = "DOM1:a";
    EXPECT_EQ(object->BeginNewResource(name), 0u);
    EXPECT_STREQ(Peek::currentResource(object), "");
    clearTrace();
    EXPECT_EQ(object->BeginNewResource(name), 0u);
    EXPECT_EQ(countCalls("NWSMTSScanSupportedNameSpaces"), 1u); // asked again
}

TEST_F(NameSpaces, EmptyResourceOnANewObjectIsTheSameResource)
{
    connect("[\"DOS\"]");
    char name[] = "no-colon";
    EXPECT_EQ(object->BeginNewResource(name), 0u);
    EXPECT_TRUE(traceCalls().empty());
}

// The name-space data of a resource whose name does not fit the current
// resource field belongs to no name: neither that resource nor one whose name
// comes out empty may reuse it.
TEST_F(NameSpaces, AfterAResourceTooLongToRememberEveryNameIsDescribedAgain)
{
    const std::string longResource = std::string(70, 'L') + ":";
    useConfig("[[tsa]]\ntype = \"GroupWise System\"\nutf8_names = false\n[[tsa.resource]]\nname = \"" + longResource +
              "\"\npath = " + testsupport::tomlString(dir / "d1") + "\nname_spaces = [\"DOS\", \"OS2/LONG\"]\n" +
              "[[tsa.resource]]\nname = \"DOM2:\"\npath = " + testsupport::tomlString(dir / "d2") +
              "\nname_spaces = [\"NFS\"]\n");
    KXPassword password("");
    std::string user = testsupport::currentUserName();
    ASSERT_EQ(object->Connect(KXSMS_TSA_GROUPWISE, user.data(), &password), 0u);

    std::string inLong = longResource + "dir/a";
    std::string noColon = "no-colon";
    std::string inDom2 = "DOM2:x";
    struct Step {
        std::string *name;
        bool asksTheTsa;
    };
    for (const Step &step : {Step{&inLong, true}, Step{&noColon, true}, Step{&inLong, true}, Step{&inLong, true},
                             Step{&inDom2, true}, Step{&inDom2, false}, Step{&noColon, true}}) {
        clearTrace();
        object->BeginNewResource(step.name->data());
        EXPECT_EQ(countCalls("NWSMTSScanSupportedNameSpaces") > 0, step.asksTheTsa) << *step.name;
        if (step.name == &inLong) {
            EXPECT_EQ(Peek::priorityNameSpace(object), 4);
            EXPECT_STREQ(Peek::currentResource(object), "");
        }
    }
}

TEST_F(NameSpaces, OneNameLists)
{
    connect("[\"DOS\", \"OS2/LONG\"]");
    ASSERT_EQ(calculate("DOM1:"), 0u);
    char name[] = "DOM1:dir";
    NWSM_DATA_SET_NAME_LIST *list = nullptr;
    ASSERT_EQ(object->PutOneName(1, &list, name), 0u);
    NWSM_DATA_SET_NAME entry;
    ASSERT_EQ(NWSMGetOneName(list, &entry), 0u);
    EXPECT_EQ(entry.nameSpaceType, 0xFFFFFFFEu);
    EXPECT_STREQ(entry.name, "DOM1:dir");
    free(list);
    ASSERT_EQ(object->PutOneName(0, &list, name), 0u);
    ASSERT_EQ(NWSMGetOneName(list, &entry), 0u);
    EXPECT_EQ(entry.nameSpaceType, 4u);
    free(list);
    Peek::tsaType(object) = KXSMS_TSA_DIRECTORY;
    ASSERT_EQ(object->PutOneName(0, &list, name), 0u);
    ASSERT_EQ(NWSMGetOneName(list, &entry), 0u);
    EXPECT_EQ(entry.nameSpaceType, 0u);
    free(list);
    useFaults("NWSMPutOneName@1=0xFFFDFFE4");
    list = reinterpret_cast<NWSM_DATA_SET_NAME_LIST *>(0x1);
    EXPECT_EQ(object->PutOneName(0, &list, name), 0xFFFDFFE4u);
    EXPECT_EQ(list, nullptr);
}

TEST_F(NameSpaces, NamesOfNameSpaces)
{
    EXPECT_STREQ(object->GetOwningNameSpaceName(258), "NFS");
    EXPECT_STREQ(object->GetOwningNameSpaceName(260), "OS2/LONG");
    EXPECT_STREQ(object->GetOwningNameSpaceName(0), "DOS");
    for (unsigned long n : {255ul, 5ul, 261ul, 0xFFFFFFFEul})
        EXPECT_STREQ(object->GetOwningNameSpaceName(n), "Unknown") << n;
    EXPECT_STREQ(object->GetNameSpaceName(1), "MAC");
    EXPECT_STREQ(object->GetNameSpaceName(-1), "???");
    EXPECT_STREQ(object->GetNameSpaceName(256), "???");
    EXPECT_TRUE(object->IsNameSpaceInstalled(9, nullptr));
}

} // namespace
