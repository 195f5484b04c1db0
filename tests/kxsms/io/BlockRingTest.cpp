#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>

#include "io/BlockRing.h"

namespace {

using kxsms::BlockRing;

struct Live {
    unsigned char *at;
    size_t filled;
    uint32_t span;
    unsigned char mark;
};

struct Filling {
    const char *name;
    size_t ringBlocks; // the ring's size, in blocks
    std::function<size_t(unsigned)> fill; // bytes the n-th block is filled with
    unsigned lag;         // blocks the writer keeps before it lets the oldest go
    unsigned unusedEvery; // every this many reservations is not filled (0: none)
};

constexpr size_t c_Block = 4096;

class BlockRingRun : public ::testing::TestWithParam<Filling> {};

// A reader fills blocks while a writer lets them go in order, `lag` behind
// (or as soon as the ring is full): no block ever overlaps one still held,
// each comes back with the bytes it was filled with, and what is held never
// exceeds the ring.
TEST_P(BlockRingRun, BlocksNeverOverlapWhatIsHeldAndComeBackWhole)
{
    const Filling &run = GetParam();
    BlockRing ring(run.ringBlocks * c_Block, c_Block);
    std::deque<Live> held;
    uint64_t released = 0;
    uint64_t heldBytes = 0;
    size_t mostHeld = 0;
    const auto letGoOldest = [&] {
        const Live oldest = held.front();
        held.pop_front();
        for (size_t i = 0; i < oldest.filled; ++i)
            ASSERT_EQ(oldest.at[i], oldest.mark) << "a block was overwritten while held";
        released += oldest.span;
        heldBytes -= oldest.span;
    };
    for (unsigned n = 0; n < 5000; ++n) {
        while (!ring.fits(released, ring.wanted())) {
            ASSERT_FALSE(held.empty()) << "an empty ring has no room for a block";
            letGoOldest();
        }
        unsigned char *block = ring.reserve();
        for (const Live &live : held)
            ASSERT_TRUE(block + c_Block <= live.at || live.at + live.filled <= block)
                << "block " << n << " overlaps one still held";
        if (run.unusedEvery != 0 && n % run.unusedEvery == 0)
            continue;
        const size_t filled = run.fill(n);
        const auto mark = static_cast<unsigned char>(n * 7 + 1);
        memset(block, mark, filled);
        const uint32_t span = ring.commit(filled);
        ASSERT_GE(span, filled);
        held.push_back({block, filled, span, mark});
        heldBytes += span;
        ASSERT_LE(heldBytes, ring.size());
        mostHeld = std::max(mostHeld, held.size());
        while (held.size() > run.lag)
            letGoOldest();
    }
    while (!held.empty())
        letGoOldest();
    EXPECT_TRUE(ring.fits(released, ring.size())) << "what was let go is the whole ring again";
    // Bounded in bytes: with small fills many more blocks are held at once
    // than whole blocks would fit.
    if (run.name == std::string("small_files")) {
        EXPECT_GT(mostHeld, run.ringBlocks * 4);
    }
}

size_t lcg(unsigned n)
{
    return (n * 1103515245u + 12345u) >> 8;
}

INSTANTIATE_TEST_SUITE_P(
    Fills, BlockRingRun,
    ::testing::Values(Filling{"whole_blocks", 8, [](unsigned) { return c_Block; }, 1000, 0},
                      Filling{"small_files", 8, [](unsigned) { return size_t{100}; }, 1000, 0},
                      Filling{"empty_blocks", 4, [](unsigned) { return size_t{0}; }, 1000, 0},
                      Filling{"mixed_sizes", 8, [](unsigned n) { return lcg(n) % (c_Block + 1); }, 1000, 0},
                      Filling{"odd_sizes_near_a_block", 5, [](unsigned n) { return c_Block - 1 - n % 97; }, 1000, 0},
                      Filling{"writer_close_behind", 8, [](unsigned n) { return lcg(n) % (c_Block + 1); }, 2, 0},
                      Filling{"some_not_filled", 6, [](unsigned n) { return lcg(n) % (c_Block + 1); }, 1000, 3}),
    [](const ::testing::TestParamInfo<Filling> &filling) { return std::string(filling.param.name); });

TEST(BlockRing, RefusesASizeThatCannotHoldTwoBlocks)
{
    EXPECT_THROW(BlockRing(c_Block, c_Block), std::bad_alloc);
    EXPECT_THROW(BlockRing(3 * c_Block + 1, c_Block), std::bad_alloc);
    EXPECT_THROW(BlockRing(4 * c_Block, 0), std::bad_alloc);
}

} // namespace
