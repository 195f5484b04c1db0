// Encoding and decoding of components, and the small text helpers.
#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "PathObjectHelpers.h"

namespace {

std::string encode(const std::string &text, int type = 1, int size = 1024)
{
    char buffer[1024] = "untouched";
    return EncodeComponent(text.c_str(), type, buffer, size);
}

std::string decode(const std::string &text, int type = 1)
{
    char buffer[1024] = "untouched";
    return DecodeComponent(text.c_str(), type, buffer, sizeof buffer);
}

using TextPair = std::pair<std::string, std::string>;

class EscapeEncoding : public testing::TestWithParam<TextPair> {};

TEST_P(EscapeEncoding, EncodesAndDecodesBack)
{
    EXPECT_EQ(encode(GetParam().first), GetParam().second);
    EXPECT_EQ(decode(GetParam().second), GetParam().first);
}

INSTANTIATE_TEST_SUITE_P(Nds, EscapeEncoding,
                         testing::Values(TextPair{"CN=Admin", "CN=Admin"}, TextPair{"CN=a\\.b", "CN=a\\2e\\b"},
                                         TextPair{"OU=x\\=y", "OU=x\\3d\\y"}, TextPair{"CN=a\\\\b", "CN=a\\5c\\b"},
                                         TextPair{"CN=\\\tx", "CN=\\9\\x"}, TextPair{"CN=\\\xE9", "CN=\\ffffffe9\\"},
                                         TextPair{"caf\xE9=\\\x80", "caf\xE9=\\ffffff80\\"}));

class EscapeDecoding : public testing::TestWithParam<TextPair> {};

TEST_P(EscapeDecoding, GivesTheNativeText)
{
    EXPECT_EQ(decode(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Nds, EscapeDecoding,
                         testing::Values(TextPair{"O=x\\41\\\\42\\", "O=x\\A\\B"}, TextPair{"a\\zz\\b", "a\\"},
                                         TextPair{"a\\0\\b", "a\\"}, TextPair{"a\\\\b\\c", "a\\"},
                                         TextPair{"a\\zz\\b\\c", ""}, TextPair{"a\\2e", ""}, TextPair{"a\\", ""},
                                         TextPair{"a\\100\\b", "a\\"}, TextPair{"a\\2E\\b", "a\\.b"}));

TEST(ComponentCoding, SizesTypesAndOverlap)
{
    EXPECT_EQ(encode("CN=x\\"), "CN=x\\"); // a backslash at the end escapes nothing
    EXPECT_EQ(encode("a\\.b", 0), "a\\.b");
    EXPECT_EQ(decode("a\\", 2), "a\\");
    EXPECT_EQ(encode("CN=a\\.b", 1, 10), "CN=a\\2e\\b"); // 9 characters
    for (int size : {9, 0, -1})
        EXPECT_EQ(encode("CN=a\\.b", 1, size), "");
    // Results past 1023 characters are refused whatever the destination's size.
    std::vector<char> big(4096, '#');
    EXPECT_STREQ(EncodeComponent(repeat("\\.", 300).c_str(), 1, big.data(), 4096), "");
    EXPECT_EQ(big[0], '#');

    char buffer[32] = "CN=a\\.b";
    EXPECT_STREQ(EncodeComponent(buffer, 1, buffer, sizeof buffer), "CN=a\\2e\\b");
    EXPECT_STREQ(DecodeComponent(buffer, 1, buffer, sizeof buffer), "CN=a\\.b");

    PathObject nds;
    ASSERT_EQ(NetWarePathSetNativePath(nds, "CN=a\\.b.O=Org", 1), 1);
    EXPECT_STREQ(NetWarePathGetEncodedComponent(nds, 2, buffer, 10), "CN=a\\2e\\b");
    EXPECT_STREQ(NetWarePathGetEncodedComponent(nds, 2, buffer, 9), "");
    EXPECT_STREQ(buffer, "");
    auto source = writable("x\\.y");
    EXPECT_STREQ(NetWarePathEncodeComponent(nds, source.data(), buffer, 32), "x\\2e\\y");
    EXPECT_STREQ(NetWarePathEncodeComponent(nullptr, source.data(), buffer, 32), "x\\.y");
}

TEST(TextHelpers, HexDigitsBothWays)
{
    char buffer[16] = "untouched";
    EXPECT_STREQ(CharToHexString(0, buffer, 16), "");
    EXPECT_STREQ(CharToHexString(0x7F, buffer, 2), ""); // two digits need three bytes
    EXPECT_STREQ(CharToHexString(0x7F, buffer, -1), "");
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_STREQ(CharToHexString(static_cast<signed char>(0xE9), buffer, 16), "ffffffe9");

    const std::pair<const char *, int> numbers[] = {{"0", 0},       {"zz", 0},         {" 0x41", 0x41},
                                                    {"41zz", 0x41}, {"ffffffe9", -23}, {"123456789abcdef0123", -1}};
    for (const auto &[text, value] : numbers)
        EXPECT_EQ(HexStringToChar(writable(text).data()), value) << text;
}

TEST(TextHelpers, FindCharAndMidString)
{
    auto text = writable("a:b:c");
    EXPECT_EQ(FindChar(text.data(), ':', 2), 3);
    EXPECT_EQ(FindChar(text.data(), ':', 5), -1);
    EXPECT_EQ(FindChar(text.data(), ':', -1), -1);

    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(MidString(text.data(), 5, 2, buffer), ""); // start at the end
    EXPECT_STREQ(MidString(text.data(), 1, 1024, buffer), "");
    EXPECT_EQ(buffer[0], '#');
    EXPECT_STREQ(MidString(text.data(), 2, 0, buffer), "b:c"); // 0: the rest
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(MidString(text.data(), 3, 4, buffer), ":c");
    EXPECT_EQ(std::string(buffer, 6), std::string(":c\0\0\0#", 6)); // padded, then terminated
}

} // namespace
