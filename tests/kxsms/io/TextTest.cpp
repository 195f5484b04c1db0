// Names, counts and sizes written for people.
#include <gtest/gtest.h>

#include <vector>

#include "io/Text.h"

using namespace kxsms;

namespace {

TEST(Text, NamesReadBackOneWay)
{
    EXPECT_EQ(printable("a\nb", NameStyle::FileSystem), "a\\x0ab");
    EXPECT_EQ(printable("a\\x0ab", NameStyle::FileSystem), "a\\\\x0ab");
    EXPECT_EQ(printable("bad\xff", NameStyle::FileSystem), "bad\\xff");
    EXPECT_EQ(printable("caf\xc3\xa9", NameStyle::FileSystem), "caf\xc3\xa9");      // UTF-8 stays as it is
    EXPECT_EQ(printable("\xc0\xaf", NameStyle::FileSystem), "\\xc0\\xaf");          // an overlong '/'
    EXPECT_EQ(printable("\xed\xa0\x80", NameStyle::FileSystem), "\\xed\\xa0\\x80"); // a surrogate
    EXPECT_EQ(printable("\xe2\x82", NameStyle::FileSystem), "\\xe2\\x82");          // cut short
    EXPECT_EQ(printable("DOM1:\\dir", NameStyle::Backslashed), "DOM1:\\dir");
    EXPECT_EQ(counted(1, "data set"), "1 data set");
    EXPECT_EQ(counted(0, "data set"), "0 data sets");
    EXPECT_EQ(counted(2, "byte"), "2 bytes");
}

TEST(Text, SizesAndRates)
{
    const std::vector<std::pair<uint64_t, std::string>> table = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {12900000, "12.3 MiB"},
        {4ull << 30, "4.0 GiB"},
        {3ull << 60, "3072.0 PiB"},
    };
    for (const auto &[bytes, text] : table)
        EXPECT_EQ(formatBytes(bytes), text) << bytes;
    EXPECT_EQ(formatRate(3u << 20, 2.0), "1.5 MiB/s");
    EXPECT_EQ(formatRate(100, 0.0), "-") << "no time has passed";
}

} // namespace
