// Over-long texts, runs of escapes, high bytes, and a randomised check that
// every path the parsers accept rebuilds into text forms that parse back to
// the same object.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string repeat(const std::string &unit, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += unit;
    return text;
}

TEST(HostileInput, FourThousandCharacterTextsAreRefused)
{
    const std::vector<std::string> texts = {
        "SYS:\\" + std::string(4000, 'x'), "CN=" + repeat("\\.", 2000), std::string(4000, '\\'),
        repeat("CN=a.", 800), "." + std::string(3999, '\xE9')};
    for (const std::string &text : texts) {
        for (int type : {0, 1}) {
            PathObject path;
            EXPECT_EQ(NetWarePathSetNativePath(path, text.c_str(), type), 0);
            EXPECT_EQ(NetWarePathSetEncodedPath(path, text.c_str(), type), 0);
            EXPECT_TRUE(path.isEmpty());
            ASSERT_EQ(NetWarePathSetNativePath(path, type == 0 ? "SYS:\\A" : "CN=A", type), 1);
            EXPECT_EQ(NetWarePathAppendEncodedComponent(path, text.c_str()), 0);
            EXPECT_TRUE(path.isEmpty());
        }
        std::vector<char> out(8192, '#');
        EXPECT_STREQ(EncodeComponent(text.c_str(), 1, out.data(), 8192), "");
        EXPECT_STREQ(DecodeComponent(text.c_str(), 1, out.data(), 8192), "");
        auto copy = writable(text);
        EXPECT_STREQ(MidString(copy.data(), 1, 0, out.data()), "");
        EXPECT_EQ(out[0], '#');
        EXPECT_GE(FindChar(copy.data(), text.back(), 3000), 3000);
        EXPECT_EQ(NDSstrrchr(text.c_str(), '.', 1 << 30, true), static_cast<int>(text.rfind('.')));
    }
}

TEST(HostileInput, EscapesThatGrowPastTheEncodedForm)
{
    PathObject path;
    // 200 escaped dots: 403 characters native, 803 encoded.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\.", 200)).c_str(), 1), 1);
    EXPECT_EQ(path.encoded(), ".[Root].CN=" + repeat("\\2e\\", 200));
    // 300 of them fit natively (603) but not encoded (1203).
    EXPECT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\.", 300)).c_str(), 1), 0);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_EQ(NetWarePathGetPathType(path), 1);

    // A high byte grows from two characters to ten: 101 escapes fit, 102 do not.
    ASSERT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\\xE9", 101)).c_str(), 1), 1);
    EXPECT_EQ(path.encoded().size(), 8u + 3 + 101 * 10);
    const std::string encoded = path.encoded();
    PathObject again;
    ASSERT_EQ(NetWarePathSetEncodedPath(again, encoded.c_str(), 1), 1);
    EXPECT_EQ(again.components(), path.components());
    EXPECT_EQ(NetWarePathSetNativePath(path, ("CN=" + repeat("\\\xE9", 102)).c_str(), 1), 0);
    EXPECT_TRUE(path.isEmpty());
}

TEST(HostileInput, UnescapedHighBytesPassUnchanged)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=\xC3\xA9t\xE9.O=\xFF", 1), 1);
    EXPECT_EQ(path.encoded(), ".[Root].O=\xFF.CN=\xC3\xA9t\xE9");
    ASSERT_EQ(NetWarePathSetNativePath(path, "V\xE9L:\\\xFF\xFE", 0), 1);
    EXPECT_EQ(path.components(), (std::vector<std::string>{"V\xE9L:", "\xFF\xFE"}));
}

// A small deterministic generator: the same texts on every run.
class Texts {
public:
    explicit Texts(uint32_t seed) : m_state(seed) {}
    std::string next()
    {
        static const char alphabet[] = {'.', '.', '=', '=', '\\', '\\', '/', ':', 'C', 'N', 'O', 'a', '2',
                                        'e', '0', '[', ']', 'R', 'o', 't', '\xE9', '\x01', ' ', 'S'};
        std::string text;
        const uint32_t length = draw() % 24;
        for (uint32_t i = 0; i < length; ++i)
            text += alphabet[draw() % sizeof alphabet];
        // Now and then a familiar prefix, so that more texts get past the first checks.
        static const char *const prefixes[] = {"", "", ".[Root].", "SYS:\\", "CN=x.", "[Root]"};
        return prefixes[draw() % 6] + text;
    }
    uint32_t draw()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }

private:
    uint32_t m_state;
};

void expectRebuildsTheSame(const PathObject &path)
{
    ASSERT_TRUE(path.listIsConsistent());
    const int type = NetWarePathGetPathType(path);
    const std::vector<std::string> components = path.components();
    PathObject fromNative, fromEncoded;
    ASSERT_EQ(NetWarePathSetNativePath(fromNative, path.native().c_str(), type), 1) << path.native();
    ASSERT_EQ(NetWarePathSetEncodedPath(fromEncoded, path.encoded().c_str(), type), 1) << path.encoded();
    for (const PathObject *other : {&fromNative, &fromEncoded}) {
        EXPECT_EQ(other->components(), components);
        EXPECT_EQ(other->native(), path.native());
        EXPECT_EQ(other->encoded(), path.encoded());
        EXPECT_EQ(NetWarePathIsResourceObject(*other), NetWarePathIsResourceObject(path));
    }
}

TEST(HostileInput, AcceptedPathsRebuildIntoTheSameObject)
{
    Texts texts(12345);
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = texts.next();
        for (int setter = 0; setter < 4; ++setter) {
            PathObject path;
            const int type = setter & 1;
            const int result = setter < 2 ? NetWarePathSetNativePath(path, text.c_str(), type)
                                          : NetWarePathSetEncodedPath(path, text.c_str(), type);
            if (result == 0) {
                ASSERT_TRUE(path.isEmpty()) << text;
                continue;
            }
            ++accepted;
            expectRebuildsTheSame(path);
            if (HasFatalFailure() || HasNonfatalFailure())
                FAIL() << "input: " << text << " setter " << setter;

            // An edit either gives another valid path or leaves the object empty.
            const std::string extra = texts.next();
            const int edited = texts.draw() % 3 == 0 ? NetWarePathRemoveComponent(path)
                             : texts.draw() % 2     ? NetWarePathAppendNativeComponent(path, extra.c_str())
                                                    : NetWarePathAppendEncodedComponent(path, extra.c_str());
            if (edited == 0) {
                ASSERT_TRUE(path.isEmpty()) << text << " + " << extra;
            } else {
                expectRebuildsTheSame(path);
            }
            if (HasFatalFailure() || HasNonfatalFailure())
                FAIL() << "input: " << text << " edit: " << extra;
        }
    }
    EXPECT_GT(accepted, 2000); // the generator reaches the interesting paths
}

} // namespace
