// Parsing paths into components, the built text forms, and editing.
#include <string>

#include <gtest/gtest.h>

#include "PathObjectHelpers.h"

namespace {

enum Call { Native, Encoded };

int setPath(PathObject &path, Call call, const std::string &text, int type)
{
    return call == Native ? NetWarePathSetNativePath(path, text.c_str(), type)
                          : NetWarePathSetEncodedPath(path, text.c_str(), type);
}

struct ParseCase {
    Call call;
    std::string input;
    Names components; // none: the path is invalid
    std::string native = "";
    std::string encoded = "";
    bool resource = false;
    int typeAfterFailure = 0;
};

ParseCase invalid(Call call, const std::string &input, int typeAfter = 0)
{
    return ParseCase{call, input, {}, "", "", false, typeAfter};
}

// Parses into an object that holds another path, which a failure must clear.
void expectParsed(const ParseCase &c, int type)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "SRV1\\SYS:\\DIR", 0), 1);
    const int result = setPath(path, c.call, c.input, type);
    if (c.components.empty()) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(path.isEmpty());
        EXPECT_EQ(NetWarePathGetPathType(path), c.typeAfterFailure);
        return;
    }
    ASSERT_EQ(result, 1);
    EXPECT_EQ(path.components(), c.components);
    EXPECT_EQ(path.native(), c.native);
    EXPECT_EQ(path.encoded(), c.encoded);
    EXPECT_EQ(NetWarePathGetPathType(path), type);
    EXPECT_EQ(NetWarePathIsResourceObject(path), c.resource);
    EXPECT_TRUE(path.listIsConsistent());
}

class FileSystemPaths : public testing::TestWithParam<ParseCase> {};

// The native and the encoded setter accept file-system paths alike.
TEST_P(FileSystemPaths, ParseWithEitherSetter)
{
    for (Call call : {Native, Encoded}) {
        ParseCase c = GetParam();
        c.call = call;
        expectParsed(c, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileSystemPaths,
    testing::Values(ParseCase{Native, "SYS:/PUBLIC/", {"SYS:", "PUBLIC"}, "SYS:\\PUBLIC", "\\SYS:\\PUBLIC"},
                    ParseCase{
                        Native, "SRV1\\SYS:\\DIR", {"SRV1", "SYS:", "DIR"}, "SRV1\\SYS:\\DIR", "\\SRV1\\SYS:\\DIR"},
                    ParseCase{Native, "SYS:", {"SYS:"}, "SYS:", "\\SYS:"},
                    ParseCase{Native, "\\SY:", {"SY:"}, "SY:", "\\SY:"},
                    ParseCase{Native, "VOL1:\\A:B", {"VOL1:", "A:B"}, "VOL1:\\A:B", "\\VOL1:\\A:B"},
                    ParseCase{Native, "BINDERY", {"Bindery"}, "Bindery", "\\Bindery", true},
                    ParseCase{Native,
                              "\\Server Specific Info\\",
                              {"Server Specific Info"},
                              "Server Specific Info",
                              "\\Server Specific Info",
                              true},
                    invalid(Native, "C:\\DIR"), invalid(Native, "S:\\X"), invalid(Native, "SYS:DIR"),
                    invalid(Native, "SYS:\\\\DIR"), invalid(Native, "PUBLIC\\DIR"), invalid(Native, "Bindery\\X"),
                    invalid(Native, "\\\\SYS:\\X"), invalid(Native, "SYS:\\DIR\\\\"), // still ends in a separator
                    invalid(Native, "ab"), invalid(Native, "SYS:\\" + std::string(1019, 'x')),
                    invalid(Native, "SYS:\\" + std::string(1018, 'x')))); // fits, but not with a leading '\\'

class NdsPaths : public testing::TestWithParam<ParseCase> {};

TEST_P(NdsPaths, Parse)
{
    expectParsed(GetParam(), 1);
}

const Names kAdmin{"[Root]", "O=Org", "CN=Admin"};
const Names kEscaped{"[Root]", "O=Org", "CN=a\\.b"};
const std::string kAdminNative = "CN=Admin.O=Org.[Root]", kAdminEncoded = ".[Root].O=Org.CN=Admin";

INSTANTIATE_TEST_SUITE_P(
    Table, NdsPaths,
    testing::Values(
        ParseCase{Native, "CN=Admin.O=Org", kAdmin, kAdminNative, kAdminEncoded},
        ParseCase{Native, ".CN=Admin.O=Org.[ROOT].", kAdmin, kAdminNative, kAdminEncoded},
        ParseCase{Native, "[Root]", {"[Root]"}, "[Root]", ".[Root]"},
        ParseCase{Native, "schema", {"Schema"}, "Schema", ".Schema", true},
        ParseCase{Native, "CN=a\\.b.O=Org", kEscaped, "CN=a\\.b.O=Org.[Root]", ".[Root].O=Org.CN=a\\2e\\b"},
        ParseCase{Native,
                  "CN=a\\\\.O=Org",
                  {"[Root]", "O=Org", "CN=a\\\\"},
                  "CN=a\\\\.O=Org.[Root]",
                  ".[Root].O=Org.CN=a\\5c\\"},
        invalid(Native, "O=Org.Users"), invalid(Native, "CN=A..O=Org"), invalid(Native, "CN=A..", 1),
        invalid(Native, "Schema."), invalid(Native, "[Root].O=Org"),
        invalid(Native, "CN=a.O=x\\"), // a lone backslash would escape the next separator
        invalid(Native, "ab", 1), invalid(Encoded, "", 1), invalid(Native, "CN=" + std::string(1021, 'x'), 1),
        invalid(Native, "CN=" + std::string(1013, 'x'), 1), // fits, but not with ".[Root]."
        ParseCase{Encoded, kAdminEncoded, kAdmin, kAdminNative, kAdminEncoded},
        ParseCase{Encoded, "O=Org.CN=Admin", kAdmin, kAdminNative, kAdminEncoded},
        ParseCase{Encoded, ".[Root].O=Org.CN=a\\2e\\b", kEscaped, "CN=a\\.b.O=Org.[Root]", ".[Root].O=Org.CN=a\\2e\\b"},
        ParseCase{Encoded, "[ROOT]", {"[Root]"}, "[Root]", ".[Root]"},
        // a name that ends in an escape is still split from the next one
        ParseCase{Encoded,
                  ".[Root].O=a\\2e\\.CN=b",
                  {"[Root]", "O=a\\.", "CN=b"},
                  "CN=b.O=a\\..[Root]",
                  ".[Root].O=a\\2e\\.CN=b"},
        // the character after a leading "[Root]" is taken as the separator, whatever it is
        ParseCase{Encoded, "[Root]CN=Admin", {"[Root]", "N=Admin"}, "N=Admin.[Root]", ".[Root].N=Admin"},
        // a name that does not decode becomes an empty component
        ParseCase{Encoded, ".[Root].O=Org.CN=a\\2e", {"[Root]", "O=Org", ""}, ".O=Org.[Root]", ".[Root].O=Org."},
        invalid(Encoded, ".[Root].O=Org.CN=a\\0\\"), // decoding stops early
        invalid(Encoded, ".[Root].O=Org.CN\\3d\\a"), // the only '=' is escaped
        invalid(Encoded, ".[Root].O=Org..CN=A"), invalid(Encoded, ".[Root].[Root]")));

TEST(ParsePaths, NullTextAndLongestFormsThatFit)
{
    PathObject path;
    EXPECT_EQ(NetWarePathSetNativePath(path, nullptr, 1), 0);
    EXPECT_EQ(NetWarePathGetPathType(path), 1);
    // The encoded forms gain a leading '\' and ".[Root]." respectively.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("\\SYS:\\" + std::string(1017, 'x')).c_str(), 0), 1);
    EXPECT_EQ(path.encoded().size(), 1023u);
    ASSERT_EQ(NetWarePathSetTopDownPath(path, (".[Root].CN=" + std::string(1012, 'x')).c_str(), 1), 1);
    EXPECT_EQ(path.encoded().size(), 1023u);
}

TEST(BuildPaths, BuildersReportOverflowByTheirResult)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=a\\.b.O=Org", 1), 1);
    char buffer[NETWARE_PATH_BUFFER];
    EXPECT_STREQ(NetWarePathBuildBottomUpPath(path, buffer, true), ".CN=a\\2e\\b.O=Org.[Root]");
    EXPECT_STREQ(NetWarePathBuildTopDownPath(path, buffer, false), "[Root].O=Org.CN=a\\.b");

    auto name = writable(std::string(600, 'y'));
    NetWarePathAddComponentToBottom(path, name.data());
    NetWarePathAddComponentToBottom(path, name.data());
    EXPECT_NE(NetWarePathBuildNativePath(path, buffer), buffer);
    EXPECT_STREQ(buffer, "");

    NetWarePathClearPath(path);
    EXPECT_EQ(NetWarePathBuildEncodedPath(path, buffer), buffer);
    EXPECT_STREQ(buffer, "\\");
}

enum Edit { Append, AppendEncoded, Remove };

struct EditCase {
    int type;
    std::string before;
    Edit edit;
    std::string text;
    int result;
    std::string after; // native form; "" when the object ends up empty
    int typeAfter;
};

class EditPaths : public testing::TestWithParam<EditCase> {};

TEST_P(EditPaths, RebuildAndReparse)
{
    const EditCase &c = GetParam();
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, c.before.c_str(), c.type), 1);
    const int result = c.edit == Remove          ? NetWarePathRemoveComponentFromBottom(path)
                       : c.edit == AppendEncoded ? NetWarePathAppendEncodedComponent(path, c.text.c_str())
                                                 : NetWarePathAppendNativeComponent(path, c.text.c_str());
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(path.native(), c.after);
    EXPECT_EQ(NetWarePathGetPathType(path), c.typeAfter);
    EXPECT_EQ(path.isEmpty(), c.after.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditPaths,
    testing::Values(EditCase{1, "O=Org.[Root]", Append, "OU=Sales", 1, "OU=Sales.O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", Remove, "", 1, "[Root]", 1},
                    EditCase{1, "[Root]", Remove, "", 0, "", 1},
                    EditCase{1, "O=Org.[Root]", Append, "CN=a.b", 0, "", 0},
                    EditCase{0, "SYS:\\PUBLIC", Append, "DIR", 1, "SYS:\\PUBLIC\\DIR", 0},
                    EditCase{0, "SRV1\\SYS:", Remove, "", 0, "", 0}, EditCase{0, "SYS:", Remove, "", 0, "", 0},
                    EditCase{0, "Bindery", Append, "X", 0, "", 0},
                    EditCase{1, "O=Org.[Root]", Append, "", 1, "O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", AppendEncoded, "CN=a\\2e\\b", 1, "CN=a\\.b.O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", AppendEncoded, "CN=a\\2e", 1, "O=Org.[Root]", 1}, // appended as ""
                    EditCase{1, "O=Org.[Root]", AppendEncoded, "CN=a\\0\\", 0, "", 1},
                    EditCase{1, "O=Org.[Root]", Append, "CN=a\\", 0, "", 1},
                    EditCase{0, "SYS:\\A", Append, "B\\", 1, "SYS:\\A\\B", 0},
                    // A component of 1024 characters or more is not added; the unchanged
                    // path is re-parsed.
                    EditCase{0, "SYS:\\A", Append, std::string(1024, 'x'), 1, "SYS:\\A", 0},
                    EditCase{0, "SYS:\\A", AppendEncoded, std::string(1024, 'x'), 1, "SYS:\\A", 0},
                    EditCase{1, "O=Org.[Root]", Append, "CN=" + std::string(1021, 'x'), 1, "O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", AppendEncoded, "CN=" + std::string(1021, 'x'), 1, "O=Org.[Root]", 1},
                    EditCase{0, "SYS:\\A", Append, std::string(1023, 'x'), 0, "", 0}, // stored, path too long
                    EditCase{1, "O=Org.[Root]", Append, "CN=" + std::string(1010, 'x'), 0, "", 1}));

TEST(EditPaths, NullTextOrEmptyObjectChangesNothing)
{
    PathObject path;
    EXPECT_EQ(NetWarePathAppendComponentToBottom(path, "SYS:"), 0);
    EXPECT_EQ(NetWarePathRemoveComponent(path), 0);
    EXPECT_TRUE(path.isEmpty());
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=A.O=B", 1), 1);
    EXPECT_EQ(NetWarePathAppendEncodedComponent(path, nullptr), 0);
    EXPECT_EQ(path.native(), "CN=A.O=B.[Root]");
}

} // namespace
