// Which given paths cover others, where --to puts a member, and which member
// names an archive may not bring in.
#include <gtest/gtest.h>

#include "frame/PathRules.h"

using namespace kxsms;

namespace {

TEST(PathRules, NormalizedPaths)
{
    const std::vector<std::tuple<KXSMS_TSA_TYPE, std::string, std::string>> table = {
        {KXSMS_TSA_FILE_SYSTEM, "/usr//include/", "/usr/include"},
        {KXSMS_TSA_FILE_SYSTEM, "/", "/"},
        {KXSMS_TSA_FILE_SYSTEM, "///", "/"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a\\\\b\\", "DOM1:\\a\\b"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\", "DOM1:\\"},
        {KXSMS_TSA_DIRECTORY, "O=Org", ".O=Org.[Root]"},
        {KXSMS_TSA_DIRECTORY, ".CN=a.O=Org.[Root]", ".CN=a.O=Org.[Root]"},
        {KXSMS_TSA_DIRECTORY, "[Root]", ".[Root]"},
    };
    for (const auto &[tsa, path, expected] : table)
        EXPECT_EQ(normalizePath(path, tsa), expected) << path;
}

TEST(PathRules, Within)
{
    const std::vector<std::tuple<KXSMS_TSA_TYPE, std::string, std::string, bool>> table = {
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include", "/usr", true},
        {KXSMS_TSA_FILE_SYSTEM, "/usr", "/usr", true},
        {KXSMS_TSA_FILE_SYSTEM, "/usrx", "/usr", false},
        {KXSMS_TSA_FILE_SYSTEM, "/usr", "/usr/include", false},
        {KXSMS_TSA_FILE_SYSTEM, "/anything", "/", true},
        {KXSMS_TSA_FILE_SYSTEM, "/anything", "", true},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a\\b", "DOM1:\\a", true},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\ab", "DOM1:\\a", false},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a", "DOM1:", true},
        {KXSMS_TSA_GROUPWISE, "DOM2:\\a", "DOM1:", false},
        {KXSMS_TSA_DIRECTORY, ".CN=a.O=Org.[Root]", ".O=Org.[Root]", true},
        {KXSMS_TSA_DIRECTORY, ".cn=A.o=org.[root]", ".O=Org.[Root]", true},
        {KXSMS_TSA_DIRECTORY, ".CN=a\\.O=Org.[Root]", ".O=Org.[Root]", false}, // escaped '.'
        {KXSMS_TSA_DIRECTORY, ".CN=aO=Org.[Root]", ".O=Org.[Root]", false},
        {KXSMS_TSA_DIRECTORY, ".O=Org.[Root]", ".[Root]", true},
    };
    for (const auto &[tsa, inner, outer, expected] : table)
        EXPECT_EQ(isWithin(inner, outer, tsa), expected) << inner << " in " << outer;
}

TEST(PathRules, IndependentPathsDropCoveredOnesKeepingOrder)
{
    EXPECT_EQ(independentPaths({"/usr/include", "/usr", "/etc", "/usr/", "/etc/ssh", "/etc"}, KXSMS_TSA_FILE_SYSTEM),
              (std::vector<std::string>{"/usr", "/etc"}));
    EXPECT_EQ(independentPaths({"/a", "/b"}, KXSMS_TSA_FILE_SYSTEM), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(independentPaths({"/a/b", "/"}, KXSMS_TSA_FILE_SYSTEM), (std::vector<std::string>{"/"}));
    EXPECT_EQ(independentPaths({"O=Org", ".CN=x.O=Org.[Root]"}, KXSMS_TSA_DIRECTORY),
              (std::vector<std::string>{"O=Org"}));
}

TEST(PathRules, RefusedMemberNames)
{
    const std::vector<std::tuple<KXSMS_TSA_TYPE, std::string, bool>> table = {
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", false},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/..data/x", false},
        {KXSMS_TSA_FILE_SYSTEM, "/", false},
        {KXSMS_TSA_FILE_SYSTEM, "usr/include", true},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/../etc/passwd", true},
        {KXSMS_TSA_FILE_SYSTEM, "/..", true},
        {KXSMS_TSA_FILE_SYSTEM, std::string("/a\0/../b", 8), true},
        {KXSMS_TSA_FILE_SYSTEM, "", true},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a\\b", false},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a\\..\\b", true},
        {KXSMS_TSA_GROUPWISE, "DOM1:a/../../b", true},
        {KXSMS_TSA_GROUPWISE, "DOM1:..", true},
        {KXSMS_TSA_DIRECTORY, ".CN=..O=x.[Root]", false},
    };
    for (const auto &[tsa, name, refused] : table)
        EXPECT_EQ(refuseName(name, tsa).has_value(), refused) << name;
}

TEST(PathRules, Reroot)
{
    const std::vector<std::tuple<KXSMS_TSA_TYPE, std::string, std::string, std::string>> table = {
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", "/tmp/r", "/tmp/r/usr/include/a.h"},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", "/tmp/r/", "/tmp/r/usr/include/a.h"},
        {KXSMS_TSA_FILE_SYSTEM, "/", "/tmp/r", "/tmp/r"},
        {KXSMS_TSA_FILE_SYSTEM, "/etc", "/", "/etc"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\dir\\x", "DOM2:\\restore", "DOM2:\\restore\\DOM1\\dir\\x"},
        {KXSMS_TSA_GROUPWISE, "DOM1:", "DOM2:\\restore\\", "DOM2:\\restore\\DOM1"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a", "DOM2:", "DOM2:\\DOM1\\a"},
    };
    for (const auto &[tsa, name, dir, expected] : table) {
        std::string error;
        const auto result = reroot(name, dir, tsa, error);
        ASSERT_TRUE(result) << name << ": " << error;
        EXPECT_EQ(*result, expected);
    }
}

TEST(PathRules, RerootStripsLeadingComponents)
{
    // An empty expectation: nothing is left, so the member is not restored (and no error).
    const std::vector<std::tuple<KXSMS_TSA_TYPE, std::string, unsigned int, std::string>> table = {
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", 1, "/tmp/r/include/a.h"},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", 2, "/tmp/r/a.h"},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", 3, ""},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/a.h", 9, ""},
        {KXSMS_TSA_FILE_SYSTEM, "/usr", 1, ""},
        {KXSMS_TSA_FILE_SYSTEM, "/", 1, ""},
        {KXSMS_TSA_FILE_SYSTEM, "/usr/include/", 1, "/tmp/r/include/"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\dir\\x", 1, "DOM2:\\r\\dir\\x"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\dir\\x", 2, "DOM2:\\r\\x"},
        {KXSMS_TSA_GROUPWISE, "DOM1:", 1, ""},
    };
    for (const auto &[tsa, name, strip, expected] : table) {
        std::string error = "stale";
        const std::string dir = tsa == KXSMS_TSA_FILE_SYSTEM ? "/tmp/r" : "DOM2:\\r";
        const auto result = reroot(name, dir, tsa, error, strip);
        EXPECT_EQ(result.value_or(""), expected) << name << " strip " << strip;
        if (!result) {
            EXPECT_EQ(error, "") << name << " strip " << strip;
        }
    }
    std::string error;
    EXPECT_FALSE(reroot("/a/../b/c", "/tmp/r", KXSMS_TSA_FILE_SYSTEM, error, 1)) << "refused before stripping";
    EXPECT_FALSE(error.empty());
}

TEST(PathRules, RerootRefusals)
{
    const std::vector<std::tuple<KXSMS_TSA_TYPE, std::string, std::string>> table = {
        {KXSMS_TSA_FILE_SYSTEM, "/a/../../etc/passwd", "/tmp/r"},
        {KXSMS_TSA_FILE_SYSTEM, "relative/name", "/tmp/r"},
        {KXSMS_TSA_FILE_SYSTEM, "/a", "tmp/r"},
        {KXSMS_TSA_FILE_SYSTEM, "/a", "/tmp/../etc"},
        {KXSMS_TSA_FILE_SYSTEM, "/" + std::string(1020, 'x'), "/tmp/r"},
        {KXSMS_TSA_GROUPWISE, "GroupWise Mail Server", "DOM2:\\r"},
        {KXSMS_TSA_GROUPWISE, "DOM1:\\a", "noresource"},
        {KXSMS_TSA_DIRECTORY, ".CN=a.O=b.[Root]", ".O=c.[Root]"},
    };
    for (const auto &[tsa, name, dir] : table) {
        std::string error;
        EXPECT_FALSE(reroot(name, dir, tsa, error)) << name << " to " << dir;
        EXPECT_FALSE(error.empty());
    }
}

} // namespace

TEST(AbsoluteFileSystemPath, RelativeAndDottedPathsBecomeAbsolute)
{
    using kxsms::absoluteFileSystemPath;
    const std::vector<std::tuple<const char *, const char *, const char *>> cases = {
        {"data", "/home/ann", "/home/ann/data"},
        {"./data/", "/home/ann", "/home/ann/data"},
        {"../bob/x", "/home/ann", "/home/bob/x"},
        {"/etc//ssh/./sshd_config", "/home/ann", "/etc/ssh/sshd_config"},
        {"/a/b/../../..", "/", "/"},
        {".", "/", "/"},
        {"x", "/", "/x"},
    };
    for (const auto &[path, cwd, expected] : cases)
        EXPECT_EQ(absoluteFileSystemPath(path, cwd), expected) << path << " in " << cwd;
}
