// Resource, volume and tree names and the conversion between agent and SMS
// forms, for each TSA type. These need no connection: the object's fields are
// set as a login would set them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "KXSMS.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

class Names : public ::testing::Test {
protected:
    void SetUp() override { object = CreateKXSMS(); }
    void TearDown() override { DestroyKXSMS(object); }

    void as(KXSMS_TSA_TYPE type, const char *root = "", const char *service = "")
    {
        Peek::tsaType(object) = type;
        strcpy(Peek::tsaRoot(object), root);
        strcpy(Peek::targetServiceName(object), service);
    }
    std::string resourceOf(const std::string &name)
    {
        char in[2048], out[64];
        strcpy(in, name.c_str());
        memset(out, 'x', sizeof out);
        return object->GetResourceName(in, out);
    }
    std::string volumeOf(const std::string &name)
    {
        char in[2048], out[16];
        strcpy(in, name.c_str());
        return object->GetVolumeName(in, out);
    }
    // Converts with a canary after the buffer; returns the code and the text.
    std::pair<unsigned, std::string> convert(bool toSms, const std::string &in, unsigned long size)
    {
        std::string input = in;
        std::vector<char> out(size + 16, '#');
        const unsigned code = toSms ? object->NetWareToSMS(input.data(), out.data(), size)
                                    : object->SMSToNetWare(input.data(), out.data(), size);
        for (size_t i = size; i < out.size(); ++i)
            EXPECT_EQ(out[i], '#') << "written past the buffer: " << in;
        EXPECT_EQ(input, in) << "input changed";
        if (code != 0) {
            for (size_t i = 0; i < size; ++i)
                EXPECT_EQ(out[i], '#') << "written on failure: " << in;
            return {code, ""};
        }
        return {code, std::string(out.data())};
    }

    CKXSMS *object = nullptr;
};

TEST_F(Names, DirectoryResources)
{
    as(KXSMS_TSA_DIRECTORY, "ACME_TREE", "ACME_TREE");
    EXPECT_EQ(resourceOf("[Root]"), ".[Root]");
    EXPECT_EQ(resourceOf(".[Root]"), ".[Root]");
    EXPECT_EQ(resourceOf(".CN=Admin.O=Org.[Root]"), ".[Root]");
    EXPECT_EQ(resourceOf("Admin"), ".[Root]"); // no '=' at all
    EXPECT_EQ(resourceOf("Schema"), "Schema");
    EXPECT_EQ(resourceOf(".schema"), "Schema");
    EXPECT_EQ(resourceOf("acme_tree"), "ACME_TREE");
    EXPECT_EQ(resourceOf("=x"), "");
    EXPECT_EQ(resourceOf(".=x"), "");
    as(KXSMS_TSA_DIRECTORY, "ROOTRES", "TREE9");
    EXPECT_EQ(resourceOf("TREE9"), "ROOTRES"); // the target service resolves to the root resource
}

TEST_F(Names, FileSystemAndGroupWiseResources)
{
    as(KXSMS_TSA_FILE_SYSTEM, "/");
    EXPECT_EQ(resourceOf("/home/ann"), "/");
    EXPECT_EQ(resourceOf(""), "/");
    as(KXSMS_TSA_GROUPWISE, "GroupWise Mail Server");
    EXPECT_EQ(resourceOf("DOM1:\\dir"), "DOM1:");
    EXPECT_EQ(resourceOf("DOM1:dir/x"), "DOM1:");
    EXPECT_EQ(resourceOf("groupwise mail server"), "GroupWise Mail Server");
    EXPECT_EQ(resourceOf("abc"), "");
    // A prefix longer than the 64-byte resource buffer is cut to fit.
    const std::string longPrefix = std::string(100, 'D') + ":dir";
    EXPECT_EQ(resourceOf(longPrefix), std::string(63, 'D'));
}

TEST_F(Names, Volumes)
{
    as(KXSMS_TSA_FILE_SYSTEM, "/");
    EXPECT_EQ(volumeOf("VOL1:\\a"), "VOL1:");
    EXPECT_EQ(volumeOf("ABCDEFGHIJKLMNOPQ:\\a"), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(volumeOf("\\a"), "SYS:");
    as(KXSMS_TSA_GROUPWISE);
    EXPECT_EQ(volumeOf("DOM1:\\a"), "SYS:");
    as(KXSMS_TSA_DIRECTORY);
    EXPECT_EQ(volumeOf("VOL1:x"), "SYS:");
}

TEST_F(Names, MidString)
{
    char text[] = "abcdef";
    char out[16] = "unchanged";
    EXPECT_STREQ(object->MidString(text, 6, 0, out), "");
    EXPECT_STREQ(out, "unchanged");
    EXPECT_STREQ(object->MidString(text, -1, 2, out), "");
    EXPECT_STREQ(object->MidString(text, 2, 2, out), "cd");
    EXPECT_STREQ(object->MidString(text, 2, 0, out), "cdef");
    char abc[] = "abc";
    EXPECT_STREQ(object->MidString(abc, 3, 0, out), "");
    EXPECT_STREQ(object->MidString(text, 0, -5, out), ""); // a negative length copies nothing
}

struct Rewrite {
    short treeNameRoot;
    const char *separator;
    const char *in;
    const char *toTree;
    const char *toRoot;
};

class TreeNames : public Names, public ::testing::WithParamInterface<Rewrite> {};

TEST_P(TreeNames, RewriteBothWays)
{
    const Rewrite &r = GetParam();
    as(KXSMS_TSA_DIRECTORY, "TREE1", "TREE1");
    Peek::treeNameRoot(object) = r.treeNameRoot;
    strcpy(Peek::separator1(object), r.separator);
    char buffer[1024];
    strcpy(buffer, r.in);
    EXPECT_STREQ(object->RootToTreeName(buffer), r.toTree);
    strcpy(buffer, r.in);
    EXPECT_STREQ(object->TreeNameToRoot(buffer), r.toRoot);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TreeNames,
    ::testing::Values(Rewrite{0, ".", "O=Org.[Root].", "O=Org.[Root]", "O=Org.[Root]"},
                      Rewrite{1, ".", "O=Org.[Root].", "O=Org.T=TREE1", "O=Org.[Root]"},
                      Rewrite{1, ".", "CN=Admin.O=Org.[Root].", "CN=Admin.O=Org.T=TREE1", "CN=Admin.O=Org.[Root]"},
                      Rewrite{1, ".", ".[Root]", ".T=TREE1", ".[Root]"},
                      Rewrite{1, ".", ".CN=Admin.O=Org.T=TREE1", ".CN=Admin.O=Org.T=TREE1", ".CN=Admin.O=Org.[Root]"},
                      Rewrite{1, ".", ".O=Org.t=OTHER", ".O=Org.t=OTHER", ".O=Org.[Root]"}, // any tree name is accepted
                      Rewrite{1, ".", ".CN=a\\.[Root]", ".CN=a\\.[Root]", ".CN=a\\.[Root]"}, // escaped: not a separator
                      Rewrite{1, "", ".O=Org.[Root]", ".O=Org.[Root]", ".O=Org.[Root]"},     // no separator known
                      Rewrite{1, ".", "", "", ""}, Rewrite{1, ".", ".", "", ""},
                      Rewrite{0, ".", ".O=Org.T=TREE1", ".O=Org.T=TREE1", ".O=Org.T=TREE1"}));

TEST_F(Names, RewritesLeaveOtherTsaNamesAlone)
{
    as(KXSMS_TSA_FILE_SYSTEM, "/");
    Peek::treeNameRoot(object) = 1;
    strcpy(Peek::separator1(object), "/");
    char name[] = "/a/[Root]/";
    EXPECT_STREQ(object->RootToTreeName(name), "/a/[Root]/");
    EXPECT_STREQ(object->TreeNameToRoot(name), "/a/[Root]/");
    EXPECT_STREQ(object->AddRoot(name), "/a/[Root]/");
}

TEST_F(Names, TreeNameThatWouldOverflowIsNotRewritten)
{
    as(KXSMS_TSA_DIRECTORY, "T", std::string(255, 'T').c_str());
    Peek::treeNameRoot(object) = 1;
    strcpy(Peek::separator1(object), ".");
    std::string name = "." + std::string(900, 'a') + "=x.[Root]";
    char buffer[1024];
    strcpy(buffer, name.c_str());
    EXPECT_EQ(std::string(object->RootToTreeName(buffer)), name);
}

TEST_F(Names, AddRoot)
{
    as(KXSMS_TSA_DIRECTORY);
    for (auto [in, out] :
         std::vector<std::pair<const char *, const char *>>{{".O=Org", ".O=Org.[Root]"},
                                                            {".CN=Admin.O=Org.[Root]", ".CN=Admin.O=Org.[Root]"},
                                                            {".[Root]", ".[Root]"},
                                                            {".[ROOT]", ".[ROOT]"},
                                                            {"Schema", "Schema"},
                                                            {"O=Org.", "O=Org."},
                                                            {"CN=a\\.b", "CN=a\\.b"}}) {
        char buffer[64];
        strcpy(buffer, in);
        EXPECT_STREQ(object->AddRoot(buffer), out) << in;
    }
}

struct Conversion {
    KXSMS_TSA_TYPE type;
    const char *agent;
    const char *sms;
    const char *back;
};

class Conversions : public Names, public ::testing::WithParamInterface<Conversion> {};

TEST_P(Conversions, WorkedExamples)
{
    const Conversion &c = GetParam();
    as(c.type, "/", "TREE");
    EXPECT_EQ(convert(true, c.agent, 1024), std::make_pair(0u, std::string(c.sms)));
    EXPECT_EQ(convert(false, c.sms, 1024), std::make_pair(0u, std::string(c.back)));
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Conversions,
    ::testing::Values(
        Conversion{KXSMS_TSA_DIRECTORY, "O=Org", ".O=Org.[Root]", ".O=Org.[Root]"},
        Conversion{KXSMS_TSA_DIRECTORY, ".CN=Admin.O=Org.[Root]", ".CN=Admin.O=Org.[Root]", ".CN=Admin.O=Org.[Root]"},
        Conversion{KXSMS_TSA_DIRECTORY, "[Root]", ".[Root]", ".[Root]"},
        Conversion{KXSMS_TSA_DIRECTORY, "Schema", "Schema", "Schema"},
        Conversion{KXSMS_TSA_DIRECTORY, "O=Org.", ".O=Org.", ".O=Org."},
        Conversion{KXSMS_TSA_DIRECTORY, "CN=a\\.b", ".CN=a\\.b.[Root]", ".CN=a\\.b.[Root]"},
        Conversion{KXSMS_TSA_DIRECTORY, "", ".", "."},
        Conversion{KXSMS_TSA_GROUPWISE, "DOM1:\\dir\\sub", "DOM1:dir/sub", "DOM1:\\dir\\sub"},
        Conversion{KXSMS_TSA_GROUPWISE, "DOM1:\\", "DOM1:", "DOM1:"},
        Conversion{KXSMS_TSA_GROUPWISE, "GroupWise Mail Server", "GroupWise Mail Server", "GroupWise Mail Server"},
        Conversion{KXSMS_TSA_GROUPWISE, "DOM1:dir\\x", "DOM1:dir\\x", "DOM1:\\dir\\x"},
        Conversion{KXSMS_TSA_GROUPWISE, "DOM1:\\dir\\sub\\", "DOM1:dir/sub/", "DOM1:\\dir\\sub\\"},
        Conversion{KXSMS_TSA_FILE_SYSTEM, "/a\\b:c", "/a\\b:c", "/a\\b:c"},
        Conversion{KXSMS_TSA_FILE_SYSTEM, "", "", ""}));

TEST_F(Names, GroupWiseSmsNamesBackToAgentForm)
{
    as(KXSMS_TSA_GROUPWISE);
    EXPECT_EQ(convert(false, "DOM1:/dir/sub", 1024).second, "DOM1:\\dir\\sub");
    EXPECT_EQ(convert(false, "GroupWise Mail Server/", 1024).second, "GroupWise Mail Server");
    EXPECT_EQ(convert(false, "a//", 1024).second, "a");
}

struct SizeBoundary {
    KXSMS_TSA_TYPE type;
    bool toSms;
    const char *in;
    unsigned long fails;  // largest size that fails
    unsigned long passes; // smallest size that converts
};

class SizeBoundaries : public Names, public ::testing::WithParamInterface<SizeBoundary> {};

TEST_P(SizeBoundaries, ResultMustFitWithItsTerminator)
{
    const SizeBoundary &b = GetParam();
    as(b.type, "/", "TREE");
    EXPECT_EQ(convert(b.toSms, b.in, b.fails).first, KXSMS_ERR_BAD_ARGUMENTS) << b.in;
    EXPECT_EQ(convert(b.toSms, b.in, b.passes).first, 0u) << b.in;
    EXPECT_EQ(convert(b.toSms, b.in, 0).first, KXSMS_ERR_BAD_ARGUMENTS) << b.in;
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizeBoundaries,
                         ::testing::Values(SizeBoundary{KXSMS_TSA_DIRECTORY, true, "Schema", 7, 8},
                                           SizeBoundary{KXSMS_TSA_DIRECTORY, true, "O=Org", 13, 14}, // ".O=Org.[Root]"
                                           SizeBoundary{KXSMS_TSA_DIRECTORY, false, ".O=Org", 13, 14},
                                           SizeBoundary{KXSMS_TSA_DIRECTORY, true, ".[Root]", 8,
                                                        9}, // length + 1 must be less
                                           SizeBoundary{KXSMS_TSA_FILE_SYSTEM, true, "/abc", 4, 5},
                                           SizeBoundary{KXSMS_TSA_FILE_SYSTEM, false, "/abc", 4, 5},
                                           SizeBoundary{KXSMS_TSA_GROUPWISE, true, "D:\\ab", 4, 5}, // "D:ab"
                                           SizeBoundary{KXSMS_TSA_GROUPWISE, false, "D:ab", 5, 6},  // "D:\ab"
                                           SizeBoundary{KXSMS_TSA_GROUPWISE, true, "Dab", 3, 4}));

TEST_F(Names, OtherTsaTypesAreNotSupported)
{
    as(static_cast<KXSMS_TSA_TYPE>(3));
    EXPECT_EQ(convert(true, "x", 1024).first, KXSMS_ERR_OS_NOT_SUPPORTED);
    EXPECT_EQ(convert(false, "x", 1024).first, KXSMS_ERR_OS_NOT_SUPPORTED);
}

TEST_F(Names, GroupWiseAgentFormLongerThanTheWorkBufferIsRefused)
{
    as(KXSMS_TSA_GROUPWISE);
    const std::string sms = "DOM1:" + std::string(1020, 'd');
    EXPECT_EQ(convert(false, sms, 4096).first, KXSMS_ERR_BAD_ARGUMENTS);
}

TEST_F(Names, CharacterHelpers)
{
    char text[16];
    char slash[] = "/";
    char none[] = "";
    strcpy(text, "a//");
    EXPECT_STREQ(KXSMSTruncateTrailingCharacters(text, slash), "a");
    strcpy(text, "//");
    EXPECT_STREQ(KXSMSTruncateTrailingCharacters(text, slash), "");
    strcpy(text, "a/");
    EXPECT_STREQ(KXSMSTruncateTrailingCharacters(text, none), "a/");
    strcpy(text, "a\\b\\c");
    EXPECT_STREQ(KXSMSReplaceSeparators(text, '\\', '/'), "a/b/c");
    EXPECT_STREQ(KXSMSReplaceSeparators(text, '/', '/'), "a/b/c");
    EXPECT_STREQ(KXSMSReplaceSeparators(text, '\0', 'x'), "a/b/c");
    EXPECT_EQ(KXSMSReplaceSeparators(nullptr, 'a', 'b'), nullptr);
    EXPECT_EQ(KXSMSTruncateTrailingCharacters(nullptr, slash), nullptr);
}

// Random agent paths of each TSA type: converting to SMS form and back is
// stable, and no conversion writes outside the given size.
TEST_F(Names, RandomPathsConvertStablyWithinTheirBuffers)
{
    std::mt19937 random(20261207);
    const std::string alphabet = "ab.=\\/:[]RootSchema \xC3\xA9";
    for (KXSMS_TSA_TYPE type : {KXSMS_TSA_DIRECTORY, KXSMS_TSA_FILE_SYSTEM, KXSMS_TSA_GROUPWISE}) {
        as(type, "/", "TREE");
        for (int i = 0; i < 3000; ++i) {
            std::string path;
            const size_t length = random() % 40;
            for (size_t j = 0; j < length; ++j)
                path += alphabet[random() % alphabet.size()];
            const unsigned long size = 1 + random() % 60;
            auto [code, sms] = convert(true, path, size);
            if (code != 0)
                continue;
            // A round trip can normalise a name once more (GroupWise drops a
            // '\' or '/' next to the ':'); after that the name is a fixed point.
            std::string agent = sms;
            std::vector<std::string> rounds;
            for (int round = 0; round < 3; ++round) {
                auto [backCode, back] = convert(false, round == 0 ? sms : convert(true, agent, 1024).second, 1024);
                ASSERT_EQ(backCode, 0u) << path;
                agent = back;
                rounds.push_back(agent);
            }
            EXPECT_EQ(rounds[2], rounds[1]) << "unstable for " << path;
        }
    }
}

} // namespace
