// Parsing paths into components, the built text forms, and editing.
#include <string>
#include <vector>

#include <ostream>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using Names = std::vector<std::string>;

enum class Call { Native, Encoded };

int setPath(PathObject &path, Call call, const std::string &text, int type)
{
    return call == Call::Native ? NetWarePathSetNativePath(path, text.c_str(), type)
                                : NetWarePathSetEncodedPath(path, text.c_str(), type);
}

struct ParseCase {
    Call call;
    std::string input;
    Names components; // empty: the path is invalid
    std::string native;
    std::string encoded;
    bool resource = false;
};

ParseCase invalidPath(Call call, const std::string &input)
{
    return ParseCase{call, input, {}, "", "", false};
}

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << (c.call == Call::Native ? "native " : "encoded ") << quoted(c.input);
}

void expectParsed(PathObject &path, int result, const ParseCase &c, int type)
{
    if (c.components.empty()) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(path.isEmpty());
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
    for (Call call : {Call::Native, Call::Encoded}) {
        PathObject path;
        expectParsed(path, setPath(path, call, GetParam().input, 0), GetParam(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileSystemPaths,
    testing::Values(
        ParseCase{Call::Native, "SYS:/PUBLIC/", {"SYS:", "PUBLIC"}, "SYS:\\PUBLIC", "\\SYS:\\PUBLIC"},
        ParseCase{Call::Native, "SRV1\\SYS:\\DIR", {"SRV1", "SYS:", "DIR"}, "SRV1\\SYS:\\DIR", "\\SRV1\\SYS:\\DIR"},
        ParseCase{Call::Native, "SYS:", {"SYS:"}, "SYS:", "\\SYS:"},
        ParseCase{Call::Native, "SY:", {"SY:"}, "SY:", "\\SY:"},
        ParseCase{Call::Native, "VOL1:\\A:B", {"VOL1:", "A:B"}, "VOL1:\\A:B", "\\VOL1:\\A:B"},
        ParseCase{Call::Native, "/SRV1/SYS:/A", {"SRV1", "SYS:", "A"}, "SRV1\\SYS:\\A", "\\SRV1\\SYS:\\A"},
        ParseCase{Call::Native, "bindery", {"Bindery"}, "Bindery", "\\Bindery", true},
        ParseCase{Call::Native, "BINDERY", {"Bindery"}, "Bindery", "\\Bindery", true},
        ParseCase{Call::Native, "\\Server Specific Info\\", {"Server Specific Info"}, "Server Specific Info",
                  "\\Server Specific Info", true},
        invalidPath(Call::Native, "C:\\DIR"), invalidPath(Call::Native, "S:\\X"),
        invalidPath(Call::Native, ":AB\\X"), invalidPath(Call::Native, "SYS:DIR"),
        invalidPath(Call::Native, "SYS:\\\\DIR"), invalidPath(Call::Native, "PUBLIC\\DIR"),
        invalidPath(Call::Native, "Bindery\\X"), invalidPath(Call::Native, "\\\\SYS:\\X"),
        invalidPath(Call::Native, "SYS:\\DIR\\\\"), // still ends in a separator
        invalidPath(Call::Native, "ab")));

class NdsPaths : public testing::TestWithParam<ParseCase> {};

TEST_P(NdsPaths, Parse)
{
    PathObject path;
    expectParsed(path, setPath(path, GetParam().call, GetParam().input, 1), GetParam(), 1);
}

const Names kAdmin{"[Root]", "O=Org", "CN=Admin"};
const Names kEscaped{"[Root]", "O=Org", "CN=a\\.b"};

INSTANTIATE_TEST_SUITE_P(
    Table, NdsPaths,
    testing::Values(
        ParseCase{Call::Native, "CN=Admin.O=Org", kAdmin, "CN=Admin.O=Org.[Root]", ".[Root].O=Org.CN=Admin"},
        ParseCase{Call::Native, ".CN=Admin.O=Org.[Root].", kAdmin, "CN=Admin.O=Org.[Root]",
                  ".[Root].O=Org.CN=Admin"},
        ParseCase{Call::Native, "CN=Admin.O=Org.[ROOT]", kAdmin, "CN=Admin.O=Org.[Root]",
                  ".[Root].O=Org.CN=Admin"},
        ParseCase{Call::Native, "[Root]", {"[Root]"}, "[Root]", ".[Root]"},
        ParseCase{Call::Native, "schema", {"Schema"}, "Schema", ".Schema", true},
        ParseCase{Call::Native, "CN=a\\.b.O=Org", kEscaped, "CN=a\\.b.O=Org.[Root]", ".[Root].O=Org.CN=a\\2e\\b"},
        ParseCase{Call::Native, "CN=a\\\\.O=Org", {"[Root]", "O=Org", "CN=a\\\\"}, "CN=a\\\\.O=Org.[Root]",
                  ".[Root].O=Org.CN=a\\5c\\"},
        invalidPath(Call::Native, "O=Org.Users"), invalidPath(Call::Native, "CN=A..O=Org"),
        invalidPath(Call::Native, "CN=A.."), invalidPath(Call::Native, "Schema."),
        invalidPath(Call::Native, "[Root].O=Org"), invalidPath(Call::Native, "CN=a.O=x\\"),
        ParseCase{Call::Encoded, ".[Root].O=Org.CN=Admin", kAdmin, "CN=Admin.O=Org.[Root]",
                  ".[Root].O=Org.CN=Admin"},
        ParseCase{Call::Encoded, "O=Org.CN=Admin", kAdmin, "CN=Admin.O=Org.[Root]", ".[Root].O=Org.CN=Admin"},
        ParseCase{Call::Encoded, ".[Root].O=Org.CN=a\\2e\\b", kEscaped, "CN=a\\.b.O=Org.[Root]",
                  ".[Root].O=Org.CN=a\\2e\\b"},
        ParseCase{Call::Encoded, "[ROOT]", {"[Root]"}, "[Root]", ".[Root]"},
        // A name that ends in an escape is still split from the next one.
        ParseCase{Call::Encoded, ".[Root].O=a\\2e\\.CN=b", {"[Root]", "O=a\\.", "CN=b"}, "CN=b.O=a\\..[Root]",
                  ".[Root].O=a\\2e\\.CN=b"},
        // "[Root]" not followed by a separator is no root prefix.
        ParseCase{Call::Encoded, "[Root]CN=Admin", {"[Root]", "[Root]CN=Admin"}, "[Root]CN=Admin.[Root]",
                  ".[Root].[Root]CN=Admin"},
        invalidPath(Call::Encoded, ".[Root].O=Org.CN=a\\2e"), // does not decode
        invalidPath(Call::Encoded, ".[Root].O=Org.CN=a\\0\\"), // decoding stops early
        invalidPath(Call::Encoded, ".[Root].O=Org.CN\\3d\\a"), // the only '=' is escaped
        invalidPath(Call::Encoded, ".[Root].O=Org..CN=A"), invalidPath(Call::Encoded, ".[Root].[Root]")));

struct FailureCase {
    int type;
    Call call;
    std::string input;
    int typeAfter;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << "type " << c.type << (c.call == Call::Native ? " native " : " encoded ") << quoted(c.input);
}

class InvalidPaths : public testing::TestWithParam<FailureCase> {};

TEST_P(InvalidPaths, LeaveAnEmptyObjectOfKnownType)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "SRV1\\SYS:\\DIR", 0), 1);
    EXPECT_EQ(setPath(path, GetParam().call, GetParam().input, GetParam().type), 0);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_EQ(NetWarePathGetPathType(path), GetParam().typeAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidPaths,
                         testing::Values(FailureCase{0, Call::Native, "ab", 0}, FailureCase{1, Call::Native, "ab", 1},
                                         FailureCase{1, Call::Encoded, "", 1}, FailureCase{1, Call::Native, "CN=A..", 1},
                                         FailureCase{0, Call::Native, "C:\\DIR", 0},
                                         FailureCase{0, Call::Native, "SYS:\\\\DIR", 0},
                                         FailureCase{1, Call::Native, "O=Org.Users", 0},
                                         FailureCase{1, Call::Native, "CN=A..O=Org", 0},
                                         FailureCase{1, Call::Encoded, ".[Root].O=Org.CN=a\\2e", 0},
                                         FailureCase{0, Call::Native, "SYS:\\" + std::string(1019, 'x'), 0},
                                         FailureCase{1, Call::Native, "CN=" + std::string(1021, 'x'), 1},
                                         // fits as text, but its native form would not
                                         FailureCase{1, Call::Native, "CN=" + std::string(1018, 'x'), 1},
                                         FailureCase{0, Call::Native, "SYS:\\" + std::string(1018, 'x'), 0}));

TEST(ParsePaths, NullTextIsInvalid)
{
    PathObject path;
    EXPECT_EQ(NetWarePathSetNativePath(path, nullptr, 1), 0);
    EXPECT_EQ(NetWarePathGetPathType(path), 1);
    EXPECT_EQ(NetWarePathSetTopDownPath(path, nullptr, 0), 0);
    EXPECT_TRUE(path.isEmpty());
}

TEST(ParsePaths, LongestFormsThatFit)
{
    PathObject path;
    // 1023 characters with a leading separator: the encoded form is exactly 1023.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("\\SYS:\\" + std::string(1017, 'x')).c_str(), 0), 1);
    EXPECT_EQ(path.encoded().size(), 1023u);
    // The encoded form gains ".[Root].": 1015 + 8 characters.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("CN=" + std::string(1012, 'x')).c_str(), 1), 1);
    EXPECT_EQ(path.encoded().size(), 1023u);
    EXPECT_EQ(NetWarePathSetNativePath(path, ("CN=" + std::string(1013, 'x')).c_str(), 1), 0);
    EXPECT_TRUE(path.isEmpty());
}

TEST(BuildPaths, BuildersReportOverflowByTheirResult)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=a\\.b.O=Org", 1), 1);
    char buffer[NETWARE_PATH_BUFFER];
    EXPECT_STREQ(NetWarePathBuildBottomUpPath(path, buffer, true), ".CN=a\\2e\\b.O=Org.[Root]");
    EXPECT_STREQ(NetWarePathBuildTopDownPath(path, buffer, false), "[Root].O=Org.CN=a\\.b");
    EXPECT_STREQ(NetWarePathBuildNativePath(path, buffer), "CN=a\\.b.O=Org.[Root]");
    EXPECT_EQ(NetWarePathBuildEncodedPath(path, buffer), buffer);

    // Components that together exceed the buffer.
    auto name = writable(std::string(600, 'y'));
    NetWarePathAddComponentToBottom(path, name.data());
    NetWarePathAddComponentToBottom(path, name.data());
    EXPECT_NE(NetWarePathBuildNativePath(path, buffer), buffer);
    EXPECT_STREQ(buffer, "");

    NetWarePathClearPath(path);
    EXPECT_EQ(NetWarePathBuildTopDownPath(path, buffer, false), buffer);
    EXPECT_STREQ(buffer, "");
    EXPECT_STREQ(NetWarePathBuildTopDownPath(path, buffer, true), "\\");
}

enum class Edit { Append, AppendEncoded, Remove };

struct EditCase {
    int type;
    std::string before;
    Edit edit;
    std::string text;
    int result;
    std::string after; // native form; "" when the object ends up empty
    int typeAfter;
};

void PrintTo(const EditCase &c, std::ostream *os)
{
    *os << quoted(c.before) << " edit " << static_cast<int>(c.edit) << " " << quoted(c.text);
}

class EditPaths : public testing::TestWithParam<EditCase> {};

TEST_P(EditPaths, RebuildAndReparse)
{
    const EditCase &c = GetParam();
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, c.before.c_str(), c.type), 1);
    int result = 0;
    switch (c.edit) {
    case Edit::Append:
        result = NetWarePathAppendNativeComponent(path, c.text.c_str());
        break;
    case Edit::AppendEncoded:
        result = NetWarePathAppendEncodedComponent(path, c.text.c_str());
        break;
    case Edit::Remove:
        result = NetWarePathRemoveComponentFromBottom(path);
        break;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(path.native(), c.after);
    EXPECT_EQ(NetWarePathGetPathType(path), c.typeAfter);
    if (c.after.empty()) {
        EXPECT_TRUE(path.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditPaths,
    testing::Values(EditCase{1, "O=Org.[Root]", Edit::Append, "OU=Sales", 1, "OU=Sales.O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", Edit::Remove, "", 1, "[Root]", 1},
                    EditCase{1, "[Root]", Edit::Remove, "", 0, "", 1},
                    EditCase{1, "O=Org.[Root]", Edit::Append, "CN=a.b", 0, "", 0},
                    EditCase{0, "SYS:\\PUBLIC", Edit::Append, "DIR", 1, "SYS:\\PUBLIC\\DIR", 0},
                    EditCase{0, "SRV1\\SYS:", Edit::Remove, "", 0, "", 0},
                    EditCase{0, "SYS:", Edit::Remove, "", 0, "", 0},
                    EditCase{0, "Bindery", Edit::Append, "X", 0, "", 0},
                    EditCase{1, "O=Org.[Root]", Edit::Append, "", 1, "O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", Edit::AppendEncoded, "CN=a\\2e\\b", 1, "CN=a\\.b.O=Org.[Root]", 1},
                    EditCase{1, "O=Org.[Root]", Edit::AppendEncoded, "CN=a\\2e", 0, "", 1},
                    EditCase{1, "O=Org.[Root]", Edit::AppendEncoded, "CN=a\\0\\", 0, "", 1},
                    EditCase{1, "O=Org.[Root]", Edit::Append, "CN=a\\", 0, "", 1},
                    EditCase{0, "SYS:\\A", Edit::Append, "B\\", 1, "SYS:\\A\\B", 0},
                    EditCase{0, "SYS:\\A", Edit::Append, std::string(1024, 'x'), 0, "", 0},
                    EditCase{1, "O=Org.[Root]", Edit::Append, "CN=" + std::string(1010, 'x'), 0, "", 1}));

TEST(EditPaths, NullTextOrEmptyObjectChangesNothing)
{
    PathObject path;
    EXPECT_EQ(NetWarePathAppendNativeComponent(path, "SYS:"), 0);
    EXPECT_EQ(NetWarePathRemoveComponent(path), 0);
    EXPECT_TRUE(path.isEmpty());
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=A.O=B", 1), 1);
    EXPECT_EQ(NetWarePathAppendEncodedComponent(path, nullptr), 0);
    EXPECT_EQ(path.native(), "CN=A.O=B.[Root]");
}

} // namespace
