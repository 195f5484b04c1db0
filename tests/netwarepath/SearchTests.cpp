// Escape-aware searches in NDS names.
#include <gtest/gtest.h>

#include "NetWarePath.h"

namespace {

struct SearchCase {
    bool reverse;
    const char *text;
    int character;
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

// The character is an int: a value outside the character range is no
// character of the text, whatever its low byte; a byte above 0x7F is found
// by its char and by its unsigned char value.
INSTANTIATE_TEST_SUITE_P(
    CharacterValues, NdsSearch,
    testing::Values(
        SearchCase{false, "a\\.b.c", '.' + 256, 0, false, -1}, SearchCase{true, "a\\.b.c", '.' + 256, 99, false, -1},
        SearchCase{false, "x\\=y=z", '=' + 256, 0, false, -1}, SearchCase{true, "x=y", '=' - 256, 99, true, -1},
        SearchCase{false, "a.b", '.' + 512, 0, true, -1}, SearchCase{false, "a\xE9z", 0xE9, 0, false, 1},
        SearchCase{false, "a\xE9z", -23, 0, false, 1}, SearchCase{true, "\xE9q\xE9z", 0xE9, 99, false, 2},
        SearchCase{false, "a\xE9z", 0xE9 + 256, 0, false, -1}, SearchCase{false, "a\xE9z", -23 - 256, 0, false, -1},
        SearchCase{false, "a.b", 0, 0, false, -1}, SearchCase{false, "a.b", 1 << 30, 0, false, -1},
        SearchCase{true, "a.b", -(1 << 30), 99, false, -1}));

} // namespace
