// Escape-aware searches in NDS names.
#include <ostream>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

struct SearchCase {
    bool reverse;
    const char *text;
    char character;
    int index;
    bool ignoreEscapes;
    int expected;
};

void PrintTo(const SearchCase &c, std::ostream *os)
{
    *os << (c.reverse ? "NDSstrrchr(" : "NDSstrchr(") << quoted(c.text) << ", " << quoted(std::string(1, c.character)) << ", " << c.index
        << (c.ignoreEscapes ? ", true)" : ", false)");
}

class NdsSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(NdsSearch, FindsOutsideEscapes)
{
    const SearchCase &c = GetParam();
    const int found = c.reverse ? NDSstrrchr(c.text, c.character, c.index, c.ignoreEscapes)
                                : NDSstrchr(c.text, c.character, c.index, c.ignoreEscapes);
    EXPECT_EQ(found, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NdsSearch,
    testing::Values(SearchCase{false, "CN=a\\.b.O=x", '.', 0, false, 7}, SearchCase{false, "CN=a\\.b", '.', 0, true, 5},
                    SearchCase{true, "CN=a\\.b.O=x", '.', 99, false, 7}, SearchCase{false, "a.b", '.', 9, false, -1},
                    SearchCase{true, "a:b:c", ':', 2, false, -1}, SearchCase{true, "a:b:c", ':', 4, false, 3},
                    SearchCase{false, "a.b", '.', -5, false, 1}, SearchCase{false, "x\\=y=z", '=', 0, false, 4},
                    SearchCase{true, "x\\=y=z", '=', 3, false, -1}, SearchCase{true, "a.b\\.c", '.', 99, false, 1},
                    SearchCase{true, "a.b\\.c", '.', 99, true, 4}, SearchCase{true, "a.b.c", '.', -1, false, -1},
                    // escapes only matter for '.' and '='
                    SearchCase{false, "a\\:b:", ':', 0, false, 2}, SearchCase{true, "a\\\\.b", '.', 99, false, 3},
                    // a start inside an escape reads from there
                    SearchCase{false, "a\\.b.c", '.', 2, false, 2}, SearchCase{false, "ab\\", '.', 0, false, -1},
                    SearchCase{true, "ab\\", '.', 2, false, -1}, SearchCase{false, "abc", '\0', 0, true, -1}));

TEST(NdsSearch, NullOrEmptyTextGivesMinusOne)
{
    for (bool ignore : {false, true}) {
        EXPECT_EQ(NDSstrchr(nullptr, '.', 0, ignore), -1);
        EXPECT_EQ(NDSstrchr("", '.', 0, ignore), -1);
        EXPECT_EQ(NDSstrrchr(nullptr, '.', 0, ignore), -1);
        EXPECT_EQ(NDSstrrchr("", '.', 0, ignore), -1);
    }
}

} // namespace
