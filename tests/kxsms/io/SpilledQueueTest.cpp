// The queue whose records past a count wait in a temporary file: every
// record comes back, in order, whether it waited in memory, in the file, or
// in memory because the file could not be made.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/SpilledQueue.h"

namespace {

using kxsms::SpilledQueue;

std::string recordOf(size_t i)
{
    // Sizes from empty to larger than a page, with bytes of every value.
    std::string record(i * 37 % 5000, '\0');
    for (size_t k = 0; k < record.size(); ++k)
        record[k] = static_cast<char>((i + k) & 0xFF);
    return record;
}

struct Filling {
    const char *name;
    size_t inMemory;
    size_t pushed;
    size_t popEvery; // pops one record after each this many pushes (0: none until the end)
    bool fileFolder; // TMPDIR is a folder that can hold the file
};

class SpilledQueueFilling : public ::testing::TestWithParam<Filling> {
protected:
    void SetUp() override
    {
        const char *old = getenv("TMPDIR");
        saved_ = old != nullptr ? old : "";
        hadOne_ = old != nullptr;
        setenv("TMPDIR", GetParam().fileFolder ? "/tmp" : "/nonexistent/folder", 1);
    }
    void TearDown() override
    {
        if (hadOne_)
            setenv("TMPDIR", saved_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    std::string saved_;
    bool hadOne_ = false;
};

TEST_P(SpilledQueueFilling, GivesEveryRecordBackInOrder)
{
    const Filling &f = GetParam();
    SpilledQueue queue(f.inMemory);
    std::vector<std::string> out;
    std::string record, error;
    for (size_t i = 0; i < f.pushed; ++i) {
        queue.push(recordOf(i));
        if (f.popEvery != 0 && i % f.popEvery == f.popEvery - 1) {
            ASSERT_EQ(queue.pop(record, error), SpilledQueue::Pop::Taken);
            out.push_back(record);
        }
    }
    EXPECT_EQ(queue.size(), f.pushed - out.size());
    for (SpilledQueue::Pop got; (got = queue.pop(record, error)) != SpilledQueue::Pop::Empty;) {
        ASSERT_EQ(got, SpilledQueue::Pop::Taken) << error;
        out.push_back(record);
    }
    EXPECT_TRUE(queue.empty());
    ASSERT_EQ(out.size(), f.pushed);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], recordOf(i)) << "record " << i;
    if (!f.fileFolder || f.pushed <= f.inMemory)
        EXPECT_EQ(queue.spilled(), 0u);
    else
        EXPECT_GT(queue.spilled(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Fillings, SpilledQueueFilling,
    ::testing::Values(Filling{"all_in_memory", 64, 50, 0, true}, Filling{"past_memory", 16, 500, 0, true},
                      Filling{"taken_while_pushed", 8, 600, 3, true}, Filling{"taken_half_as_fast", 4, 300, 2, true},
                      Filling{"no_file_can_be_made", 8, 200, 0, false}),
    [](const ::testing::TestParamInfo<Filling> &tested) { return std::string(tested.param.name); });

// Emptied, the file starts again: records pushed after come back, in order.
TEST(SpilledQueue, RefillsAfterItsFileWasEmptied)
{
    SpilledQueue queue(2);
    std::string record, error;
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < 10; ++i)
            queue.push(recordOf(i + 100 * static_cast<size_t>(round)));
        for (size_t i = 0; i < 10; ++i) {
            ASSERT_EQ(queue.pop(record, error), SpilledQueue::Pop::Taken);
            EXPECT_EQ(record, recordOf(i + 100 * static_cast<size_t>(round)));
        }
        EXPECT_EQ(queue.pop(record, error), SpilledQueue::Pop::Empty);
    }
}

} // namespace
