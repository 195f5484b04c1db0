// Encoding and decoding of components, and the small text helpers.
#include <cstring>
#include <string>

#include <ostream>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string encode(const std::string &text, int type = NETWARE_PATH_TYPE_NDS, int size = 1024)
{
    char buffer[1024] = "untouched";
    return EncodeComponent(text.c_str(), type, buffer, size);
}

std::string decode(const std::string &text, int type = NETWARE_PATH_TYPE_NDS, int size = 1024)
{
    char buffer[1024] = "untouched";
    return DecodeComponent(text.c_str(), type, buffer, size);
}

struct CodingCase {
    std::string native;
    std::string encoded;
    bool decodesBack;
};

void PrintTo(const CodingCase &c, std::ostream *os)
{
    *os << quoted(c.native) << " <-> " << quoted(c.encoded);
}

class EscapeEncoding : public testing::TestWithParam<CodingCase> {};

TEST_P(EscapeEncoding, EncodesAndDecodesBack)
{
    const CodingCase &c = GetParam();
    EXPECT_EQ(encode(c.native), c.encoded);
    EXPECT_EQ(decode(c.encoded), c.decodesBack ? c.native : "");
}

INSTANTIATE_TEST_SUITE_P(
    Nds, EscapeEncoding,
    testing::Values(CodingCase{"CN=Admin", "CN=Admin", true}, CodingCase{"CN=a\\.b", "CN=a\\2e\\b", true},
                    CodingCase{"OU=x\\=y", "OU=x\\3d\\y", true}, CodingCase{"CN=a\\\\b", "CN=a\\5c\\b", true},
                    CodingCase{"CN=\\\tx", "CN=\\9\\x", true},
                    CodingCase{"CN=\\\xE9", "CN=\\ffffffe9\\", true},
                    CodingCase{"CN=x\\", "CN=x\\", false}, // a trailing backslash escapes nothing
                    CodingCase{"caf\xE9=\\\x80", "caf\xE9=\\ffffff80\\", true}));

struct DecodeCase {
    std::string encoded;
    std::string decoded;
};

void PrintTo(const DecodeCase &c, std::ostream *os)
{
    *os << quoted(c.encoded) << " -> " << quoted(c.decoded);
}

class EscapeDecoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(EscapeDecoding, GivesTheNativeText)
{
    EXPECT_EQ(decode(GetParam().encoded), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(Nds, EscapeDecoding,
                         testing::Values(DecodeCase{"O=x\\41\\\\42\\", "O=x\\A\\B"}, DecodeCase{"a\\zz\\b", "a\\"},
                                         DecodeCase{"a\\0\\b", "a\\"}, DecodeCase{"a\\\\b\\c", "a\\"},
                                         DecodeCase{"a\\zz\\b\\c", ""}, DecodeCase{"a\\2e", ""},
                                         DecodeCase{"a\\", ""}, DecodeCase{"a\\100\\b", "a\\"},
                                         DecodeCase{"a\\2E\\b", "a\\.b"}));

TEST(ComponentCoding, OtherPathTypesCopyUnchanged)
{
    for (int type : {0, 2, -1}) {
        EXPECT_EQ(encode("a\\2e\\b", type), "a\\2e\\b");
        EXPECT_EQ(decode("a\\2e\\b", type), "a\\2e\\b");
        EXPECT_EQ(decode("a\\", type), "a\\");
    }
}

TEST(ComponentCoding, DestinationMustHoldResultAndTerminator)
{
    // "CN=a\2e\b" has 9 characters.
    EXPECT_EQ(encode("CN=a\\.b", 1, 10), "CN=a\\2e\\b");
    char buffer[16] = "untouched";
    EXPECT_STREQ(EncodeComponent("CN=a\\.b", 1, buffer, 9), "");
    EXPECT_STREQ(buffer, "untouched");
    for (int size : {0, -1, -1024}) {
        EXPECT_STREQ(EncodeComponent("abc", 0, buffer, size), "");
        EXPECT_STREQ(DecodeComponent("abc", 1, buffer, size), "");
    }
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_STREQ(EncodeComponent(nullptr, 1, buffer, 16), "");
    EXPECT_STREQ(DecodeComponent("abc", 1, nullptr, 16), "");
}

TEST(ComponentCoding, ResultsBeyond1023CharactersAreRefused)
{
    // 300 escapes of two characters grow to four each: 1200 characters.
    std::string escapes;
    for (int i = 0; i < 300; ++i)
        escapes += "\\.";
    std::vector<char> big(4096, '#');
    EXPECT_STREQ(EncodeComponent(escapes.c_str(), 1, big.data(), 4096), "");
    EXPECT_EQ(big[0], '#');
    EXPECT_STREQ(DecodeComponent(std::string(1024, 'a').c_str(), 1, big.data(), 4096), "");
    EXPECT_EQ(std::string(EncodeComponent(std::string(1023, 'a').c_str(), 0, big.data(), 4096)).size(), 1023u);
}

TEST(ComponentCoding, SourceMayBeTheDestination)
{
    char buffer[32] = "CN=a\\.b";
    EXPECT_STREQ(EncodeComponent(buffer, 1, buffer, sizeof buffer), "CN=a\\2e\\b");
    EXPECT_STREQ(DecodeComponent(buffer, 1, buffer, sizeof buffer), "CN=a\\.b");
}

TEST(ComponentCoding, ObjectWrappersUseTheObjectsType)
{
    PathObject nds;
    ASSERT_EQ(NetWarePathSetNativePath(nds, "CN=a\\.b.O=Org", 1), 1);
    char buffer[32];
    auto source = writable("x\\.y");
    EXPECT_STREQ(NetWarePathEncodeComponent(nds, source.data(), buffer, 32), "x\\2e\\y");
    EXPECT_STREQ(NetWarePathEncodeComponent(nullptr, source.data(), buffer, 32), "x\\.y");
    auto encoded = writable("x\\2e\\y");
    EXPECT_STREQ(NetWarePathDecodeComponent(nds, encoded.data(), buffer, 32), "x\\.y");
    EXPECT_STREQ(NetWarePathGetEncodedComponent(nds, 2, buffer, 32), "CN=a\\2e\\b");
    EXPECT_STREQ(NetWarePathGetEncodedComponent(nds, 2, buffer, 10), "CN=a\\2e\\b");
    EXPECT_STREQ(NetWarePathGetEncodedComponent(nds, 2, buffer, 9), "");
    EXPECT_STREQ(buffer, "");
    EXPECT_STREQ(NetWarePathGetEncodedComponent(nds, 3, buffer, 32), "");
}

TEST(TextHelpers, CharToHexString)
{
    char buffer[16] = "untouched";
    EXPECT_STREQ(CharToHexString(0, buffer, 16), "");
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_STREQ(CharToHexString(9, buffer, 16), "9");
    EXPECT_STREQ(CharToHexString(static_cast<signed char>(0xE9), buffer, 16), "ffffffe9");
    EXPECT_STREQ(CharToHexString(0x7F, buffer, 2), ""); // two digits need three bytes
    EXPECT_STREQ(CharToHexString(0x7F, buffer, 3), "7f");
    EXPECT_STREQ(CharToHexString(0x7F, buffer, -1), "");
    EXPECT_STREQ(CharToHexString(0x7F, nullptr, 16), "");
}

TEST(TextHelpers, HexStringToChar)
{
    struct {
        const char *text;
        int value;
    } cases[] = {{"0", 0},       {"zz", 0},         {"", 0},           {"2e", 0x2E},
                 {" 0x41", 0x41}, {"41zz", 0x41},    {"ffffffe9", static_cast<int>(0xFFFFFFE9u)},
                 {"1ff", 0x1FF}, {"123456789abcdef0123", -1}, {"-1", -1}};
    for (const auto &c : cases) {
        auto text = writable(c.text);
        EXPECT_EQ(HexStringToChar(text.data()), c.value) << c.text;
    }
    EXPECT_EQ(HexStringToChar(nullptr), 0);
}

TEST(TextHelpers, FindChar)
{
    auto text = writable("a:b:c");
    EXPECT_EQ(FindChar(text.data(), ':', 0), 1);
    EXPECT_EQ(FindChar(text.data(), ':', 2), 3);
    EXPECT_EQ(FindChar(text.data(), ':', 4), -1);
    EXPECT_EQ(FindChar(text.data(), ':', 5), -1);
    EXPECT_EQ(FindChar(text.data(), ':', -1), -1);
    EXPECT_EQ(FindChar(text.data(), '\0', 0), -1);
    EXPECT_EQ(FindChar(nullptr, ':', 0), -1);
}

TEST(TextHelpers, MidString)
{
    auto text = writable("abcdef");
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(MidString(text.data(), 6, 2, buffer), ""); // start at the end
    EXPECT_EQ(buffer[0], '#');
    EXPECT_STREQ(MidString(text.data(), -1, 2, buffer), "");
    EXPECT_STREQ(MidString(text.data(), 1, -2, buffer), "");
    EXPECT_EQ(buffer[0], '#');
    EXPECT_STREQ(MidString(text.data(), 2, 0, buffer), "cdef"); // 0: the rest
    EXPECT_STREQ(MidString(text.data(), 1, 3, buffer), "bcd");
    EXPECT_EQ(buffer[4], '\0'); // earlier output is overwritten up to the terminator
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(MidString(text.data(), 4, 5, buffer), "ef");
    for (int i = 2; i <= 5; ++i)
        EXPECT_EQ(buffer[i], '\0') << i; // padded to the length, then terminated
    EXPECT_EQ(buffer[6], '#');
    std::vector<char> big(2048, '#');
    EXPECT_STREQ(MidString(text.data(), 0, 1024, big.data()), "");
    EXPECT_EQ(big[0], '#');
}

} // namespace
