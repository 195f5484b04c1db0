// Escape-aware searches in NDS names.
#include <gtest/gtest.h>

#include "NetWarePath.h"

namespace {

struct SearchCase {
    bool reverse;
    const char *text;
    char character;
    int index;
    bool ignoreEscapes;
    int expected;
};

class NdsSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(NdsSearch, FindsOutsideEscapes)
{
    const SearchCase &c = GetParam();
    EXPECT_EQ(c.reverse ? NDSstrrchr(c.text, c.character, c.index, c.ignoreEscapes)
                        : NDSstrchr(c.text, c.character, c.index, c.ignoreEscapes),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NdsSearch,
    testing::Values(SearchCase{false, "CN=a\\.b.O=x", '.', 0, false, 7}, SearchCase{false, "CN=a\\.b", '.', 0, true, 5},
                    SearchCase{true, "CN=a\\.b.O=x", '.', 99, false, 7}, SearchCase{false, "a.b", '.', 9, false, -1},
                    SearchCase{true, "a:b:c", ':', 2, false, -1}, SearchCase{true, "a:b:c", ':', 4, false, 3},
                    SearchCase{false, "a.b", '.', -5, false, 1}, SearchCase{false, "x\\=y=z", '=', 0, false, 4},
                    SearchCase{true, "x\\=y=z", '=', 3, false, -1}, SearchCase{true, "a.b\\.c", '.', 99, false, 1},
                    SearchCase{true, "a.b\\.c", '.', 99, true, 4}, SearchCase{true, "a.b.c", '.', -1, false, -1},
                    SearchCase{false, "a\\:b:", ':', 0, false, 2}, SearchCase{true, "a\\\\.b", '.', 99, false, 3},
                    SearchCase{false, "a\\.b.c", '.', 2, false, 2}, SearchCase{true, "ab\\", '.', 2, false, -1},
                    SearchCase{false, "", '.', 0, false, -1}, SearchCase{true, "", '.', 0, true, -1},
                    SearchCase{false, nullptr, '.', 0, false, -1}, SearchCase{true, nullptr, '.', 0, false, -1}));

} // namespace
