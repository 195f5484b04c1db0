// Over-long texts, runs of escapes, high bytes, and a randomised check that
// every path the parsers accept rebuilds into text forms that parse back to
// the same object.
#include <algorithm>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "PathObjectHelpers.h"

namespace {

TEST(HostileInput, FourThousandCharacterTextsAreRefusedOrNotAdded)
{
    for (const std::string &text :
         {"SYS:\\" + std::string(4000, 'x'), "CN=" + repeat("\\.", 2000), "." + std::string(3999, '\xE9')}) {
        for (int type : {0, 1}) {
            PathObject path;
            EXPECT_EQ(NetWarePathSetNativePath(path, text.c_str(), type), 0);
            EXPECT_EQ(NetWarePathSetEncodedPath(path, text.c_str(), type), 0);
            ASSERT_EQ(NetWarePathSetNativePath(path, type == 0 ? "SYS:\\A" : "CN=A", type), 1);
            // Too long to be stored: not added, the path re-parsed as it was.
            const std::string before = path.native();
            EXPECT_EQ(NetWarePathAppendEncodedComponent(path, text.c_str()), 1);
            EXPECT_EQ(NetWarePathAppendNativeComponent(path, text.c_str()), 1);
            EXPECT_EQ(path.native(), before);
        }
        std::vector<char> out(8192, '#');
        EXPECT_STREQ(DecodeComponent(text.c_str(), 1, out.data(), 8192), "");
        EXPECT_STREQ(MidString(writable(text).data(), 1, 0, out.data()), "");
        EXPECT_EQ(out[0], '#');
        EXPECT_EQ(NDSstrrchr(text.c_str(), '.', 1 << 30, true), static_cast<int>(text.rfind('.')));
    }
}

TEST(HostileInput, EscapesThatGrowPastTheEncodedForm)
{
    PathObject path;
    // Escaped dots grow from two characters to four: 200 fit, 300 do not.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\.", 200)).c_str(), 1), 1);
    EXPECT_EQ(path.encoded(), ".[Root].CN=" + repeat("\\2e\\", 200));
    EXPECT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\.", 300)).c_str(), 1), 0);
    EXPECT_EQ(NetWarePathGetPathType(path), 1);
    // An escaped high byte grows to ten characters: 101 fit, 102 do not.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\\xE9", 101)).c_str(), 1), 1);
    EXPECT_EQ(path.encoded().size(), 8u + 3 + 101 * 10);
    EXPECT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\\xE9", 102)).c_str(), 1), 0);
    // Unescaped high bytes pass unchanged.
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=\xC3\xA9t\xE9.O=\xFF", 1), 1);
    EXPECT_EQ(path.encoded(), ".[Root].O=\xFF.CN=\xC3\xA9t\xE9");
}

// Texts from a fixed pseudo-random sequence: the same on every run.
class Texts {
public:
    std::string next()
    {
        static const char alphabet[] = ".==\\\\..//:CNOa2e0[]Rot\xE9\x01 S";
        static const char *const prefixes[] = {"", "", ".[Root].", "SYS:\\", "CN=x.", "[Root]"};
        std::string text = prefixes[draw() % 6];
        for (uint32_t length = draw() % 24; length > 0; --length)
            text += alphabet[draw() % (sizeof alphabet - 1)];
        return text;
    }
    uint32_t draw() { return (m_state = m_state * 1664525u + 1013904223u) >> 8; }

private:
    uint32_t m_state = 12345;
};

testing::AssertionResult rebuildsTheSame(const PathObject &path)
{
    const int type = NetWarePathGetPathType(path);
    PathObject fromNative, fromEncoded;
    NetWarePathSetNativePath(fromNative, path.native().c_str(), type);
    NetWarePathSetEncodedPath(fromEncoded, path.encoded().c_str(), type);
    for (const PathObject *other : {&fromNative, &fromEncoded}) {
        if (!path.listIsConsistent() || other->components() != path.components() || other->native() != path.native() ||
            other->encoded() != path.encoded() ||
            NetWarePathIsResourceObject(*other) != NetWarePathIsResourceObject(path))
            return testing::AssertionFailure() << "native " << path.native() << ", encoded " << path.encoded();
    }
    return testing::AssertionSuccess();
}

TEST(HostileInput, AcceptedPathsRebuildIntoTheSameObject)
{
    Texts texts;
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = texts.next();
        for (int setter = 0; setter < 4; ++setter) {
            PathObject path;
            const int type = setter & 1;
            if ((setter < 2 ? NetWarePathSetNativePath(path, text.c_str(), type)
                            : NetWarePathSetEncodedPath(path, text.c_str(), type)) == 0) {
                ASSERT_TRUE(path.isEmpty()) << text;
                continue;
            }
            ++accepted;
            // An encoded name that does not decode is kept as an empty
            // component, whose text forms cannot name it: no round trip then.
            const auto names = path.components();
            if (std::find(names.begin(), names.end(), "") != names.end())
                continue;
            ASSERT_TRUE(rebuildsTheSame(path)) << "input " << text << ", setter " << setter;

            // An edit gives another valid path or leaves the object empty.
            const std::string extra = texts.next();
            const uint32_t edit = texts.draw() % 3;
            const int edited = edit == 0   ? NetWarePathRemoveComponent(path)
                               : edit == 1 ? NetWarePathAppendNativeComponent(path, extra.c_str())
                                           : NetWarePathAppendEncodedComponent(path, extra.c_str());
            ASSERT_TRUE(edited != 0 || path.isEmpty()) << text << " edit " << edit << " " << extra;
            ASSERT_TRUE(rebuildsTheSame(path)) << text << " edit " << edit << " " << extra;
        }
    }
    EXPECT_GT(accepted, 2000); // the generator reaches the interesting paths
}

} // namespace
