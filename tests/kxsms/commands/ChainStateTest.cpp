// kxsms's own state: the last clearing run of each TSA and set of paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "commands/ChainState.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using kxsms::ChainState;
using kxsms::ClearingRun;

TEST(ChainState, KeepsTheLastClearingRunOfEachScope)
{
    testsupport::TempDir dir("kxsms-state");
    const ChainState state((dir.path() / "deep/kxsms/chains.sqlite").string());
    const std::string scope = ChainState::scopeOf(KXSMS_TSA_FILE_SYSTEM, {"/srv", "/etc"});
    std::string error;
    EXPECT_FALSE(state.lastClearing(scope, error)) << "nothing yet";
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::exists(state.file())) << "reading makes no file";

    ASSERT_TRUE(state.recordClearing(scope, ClearingRun{0xfeedface00000001ull, 100, "/b/full.kxa", false}, error))
        << error;
    ASSERT_TRUE(state.recordClearing(scope, ClearingRun{0xfeedface00000002ull, 200, "/b/inc.kxa", true}, error))
        << error;
    const std::string other = ChainState::scopeOf(KXSMS_TSA_FILE_SYSTEM, {"/srv"});
    ASSERT_TRUE(state.recordClearing(other, ClearingRun{7, 300, "-", false}, error)) << error;

    const auto last = state.lastClearing(ChainState::scopeOf(KXSMS_TSA_FILE_SYSTEM, {"/etc", "/srv"}), error);
    ASSERT_TRUE(last) << error;
    EXPECT_EQ(last->archiveId, 0xfeedface00000002ull) << "ids above 2^63 survive";
    EXPECT_EQ(last->startedNanoseconds, 200);
    EXPECT_EQ(last->archive, "/b/inc.kxa");
    EXPECT_TRUE(last->incremental);
    EXPECT_EQ(state.lastClearing(other, error)->archiveId, 7u);
    EXPECT_FALSE(state.lastClearing(ChainState::scopeOf(KXSMS_TSA_GROUPWISE, {"/srv"}), error)) << "another TSA";
    EXPECT_EQ((fs::status(dir.path() / "deep/kxsms").permissions() & fs::perms::all), fs::perms::owner_all);
}

TEST(ChainState, AStoreThatCannotBeMadeOrReadSaysWhere)
{
    testsupport::TempDir dir("kxsms-state");
    std::ofstream(dir.path() / "blocker") << "a file where a folder would be";
    std::string error;
    const ChainState blocked((dir.path() / "blocker/chains.sqlite").string());
    EXPECT_FALSE(blocked.recordClearing("scope", ClearingRun{1, 1, "-", false}, error));
    EXPECT_NE(error.find("blocker"), std::string::npos) << error;

    std::ofstream(dir.path() / "garbage.sqlite") << "not a database at all, but long enough to be read as one....";
    const ChainState garbage((dir.path() / "garbage.sqlite").string());
    EXPECT_FALSE(garbage.lastClearing("scope", error));
    EXPECT_NE(error.find("garbage.sqlite"), std::string::npos) << error;
}

} // namespace
