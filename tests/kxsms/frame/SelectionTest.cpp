// Selection by names and patterns, and names written for people.
#include <gtest/gtest.h>

#include "frame/Selection.h"
#include "io/Text.h"

using namespace kxsms;

namespace {

struct Case {
    std::vector<std::string> paths;
    std::vector<std::string> excludes;
    KXSMS_TSA_TYPE tsa;
    const char *name;
    bool taken;
};

TEST(Selection, TakesWhatIsAtOrBelowAPathAndNotExcluded)
{
    const KXSMS_TSA_TYPE fs = KXSMS_TSA_FILE_SYSTEM, gw = KXSMS_TSA_GROUPWISE, dir = KXSMS_TSA_DIRECTORY;
    const std::vector<Case> table = {
        {{}, {}, fs, "/a/b", true},
        {{"/a"}, {}, fs, "/a/b", true},
        {{"/a"}, {}, fs, "/ab", false},             // a prefix of the text is not a parent
        {{"a/"}, {}, fs, "/a/b", true},             // tar's form: no leading '/', a trailing one
        {{"/a\nb"}, {}, fs, "/a\nb", true},         // taken literally
        {{"/a\nb"}, {}, fs, "/a\\x0ab", false},
        {{}, {"*.o"}, fs, "/src/x.o", false},
        {{}, {"*.o"}, fs, "/src/x.o.c", true},
        {{}, {"cache"}, fs, "/home/ann/cache/f", false}, // a parent's component
        {{}, {"cache"}, fs, "/home/ann/cached", true},
        {{}, {"/srv/cache/*"}, fs, "/srv/cache/a/b", false},
        {{}, {"/srv/cache/*"}, fs, "/srv/cache", true},
        {{}, {"/srv/c*"}, fs, "/srv/cache/a", false}, // a parent matches: its subtree goes too
        {{}, {"/srv/cache"}, fs, "/srv/cache/a", false},
        {{}, {"/srv/cache"}, fs, "/srv/cachet", true},
        {{}, {"[ab].txt"}, fs, "/x/b.txt", false},
        {{}, {"*.tmp"}, gw, "DOM1:\\dir\\x.tmp", false},
        {{"DOM1:\\dir"}, {}, gw, "DOM1:\\dir\\x", true},
        {{}, {"*.O=Acme.[Root]"}, dir, ".CN=Bob.O=ACME.[Root]", false},
        {{}, {".O=Acme.[Root]"}, dir, ".CN=Bob.O=Acme.[Root]", false},
    };
    for (const Case &c : table) {
        Selection selection(c.paths, c.excludes, c.tsa);
        EXPECT_EQ(selection.takes(c.name), c.taken) << c.name;
    }
}

TEST(Selection, ReportsThePathsThatTookNothingAndKeepsExactNamesApart)
{
    Selection selection({"/a", "/b"}, {"/x/y", "*.o", "tmp"}, KXSMS_TSA_FILE_SYSTEM);
    EXPECT_TRUE(selection.takes("/a/1"));
    EXPECT_EQ(selection.unused(), std::vector<std::string>{"/b"});
    EXPECT_EQ(selection.exactExcludes(), std::vector<std::string>{"/x/y"});
    EXPECT_TRUE(selection.hasPatterns());
}

TEST(Text, NamesReadBackOneWay)
{
    EXPECT_EQ(printable("a\nb", NameStyle::FileSystem), "a\\x0ab");
    EXPECT_EQ(printable("a\\x0ab", NameStyle::FileSystem), "a\\\\x0ab");
    EXPECT_EQ(printable("bad\xff", NameStyle::FileSystem), "bad\\xff");
    EXPECT_EQ(printable("caf\xc3\xa9", NameStyle::FileSystem), "caf\xc3\xa9");     // UTF-8 stays as it is
    EXPECT_EQ(printable("\xc0\xaf", NameStyle::FileSystem), "\\xc0\\xaf");         // an overlong '/'
    EXPECT_EQ(printable("\xed\xa0\x80", NameStyle::FileSystem), "\\xed\\xa0\\x80"); // a surrogate
    EXPECT_EQ(printable("\xe2\x82", NameStyle::FileSystem), "\\xe2\\x82");         // cut short
    EXPECT_EQ(printable("DOM1:\\dir", NameStyle::Backslashed), "DOM1:\\dir");
    EXPECT_EQ(counted(1, "data set"), "1 data set");
    EXPECT_EQ(counted(0, "data set"), "0 data sets");
    EXPECT_EQ(counted(2, "byte"), "2 bytes");
}

} // namespace
