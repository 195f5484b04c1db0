// Selection by names and patterns.
#include <gtest/gtest.h>

#include "frame/Selection.h"

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
        {{"/a"}, {}, fs, "/ab", false},     // a prefix of the text is not a parent
        {{"a/"}, {}, fs, "/a/b", true},     // tar's form: no leading '/', a trailing one
        {{"/a\nb"}, {}, fs, "/a\nb", true}, // taken literally
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

} // namespace
