// kxsms end to end: options that shape a job: a dry run without an archive,
// --strip-components on restore, --one-file-system on backup.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <sys/mount.h>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

TEST_F(KxsmsProgram, DryRunBackupNeedsNoArchive)
{
    const Result dry = kxsms({"backup", "-n", "/tree", "--exclude", "sub"});
    EXPECT_EQ(dry.status, 0) << context(dry);
    EXPECT_NE(dry.out.find("/tree/a.txt\n"), std::string::npos) << context(dry);
    EXPECT_EQ(dry.out.find("/tree/sub"), std::string::npos) << context(dry);

    const Result none = kxsms({"backup", "/tree"});
    EXPECT_EQ(none.status, 2) << context(none);
    EXPECT_NE(none.err.find("kxsms: backup: --file is required"), std::string::npos) << context(none);
    EXPECT_FALSE(fs::exists(dir_ / "a.kxa"));
}

struct Strip {
    const char *name;
    std::vector<std::string> arguments;        // after "restore -f a.kxa --to /r"
    std::vector<std::string> restored, absent; // below data_/r
};

class StripComponents : public KxsmsProgram, public ::testing::WithParamInterface<Strip> {};

TEST_P(StripComponents, LeadingComponentsAreLeftOut)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    std::vector<std::string> arguments = {"restore", "-f", "a.kxa", "--to", "/r"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const Result result = kxsms(arguments);
    ASSERT_EQ(result.status, 0) << context(result);
    for (const std::string &name : GetParam().restored)
        EXPECT_TRUE(fs::exists(fs::symlink_status(data_ / "r" / name))) << name << "\n" << context(result);
    for (const std::string &name : GetParam().absent)
        EXPECT_FALSE(fs::exists(fs::symlink_status(data_ / "r" / name))) << name << "\n" << context(result);
    if (!GetParam().restored.empty() && GetParam().restored.front() == "a.txt") {
        EXPECT_EQ(readFile(data_ / "r/a.txt"), "alpha\n");
        EXPECT_EQ(fs::read_symlink(data_ / "r/link"), "a.txt");
        EXPECT_EQ(fs::status(data_ / "r/sub/b.txt").permissions() & fs::perms::all, fs::perms(0640));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, StripComponents,
    ::testing::Values(
        Strip{"one", {"--strip-components", "1"}, {"a.txt", "link", "sub/deeper/c.txt", "empty"}, {"tree"}},
        Strip{"two_below_a_path",
              {"--strip-components", "2", "/tree/sub"},
              {"b.txt", "deeper/c.txt"},
              {"tree", "sub", "a.txt"}},
        Strip{"zero", {"--strip-components", "0"}, {"tree/a.txt"}, {"a.txt"}},
        Strip{"more_than_any_name", {"--strip-components", "9"}, {}, {"tree", "a.txt", "c.txt"}},
        Strip{"dry_run", {"-n", "--strip-components", "1"}, {}, {"a.txt", "tree"}}),
    [](const ::testing::TestParamInfo<Strip> &tested) { return std::string(tested.param.name); });

TEST_F(KxsmsProgram, StripComponentsIsRefusedWithoutATargetOrANumber)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{"--in-place", "--strip-components", "1"},
          std::vector<std::string>{"--to", "/r", "--strip-components", "x"},
          std::vector<std::string>{"--to", "/r", "--strip-components", "-1"},
          std::vector<std::string>{"--to", "/r", "--strip-components", "99999"}}) {
        std::vector<std::string> line = {"restore", "-f", "a.kxa"};
        line.insert(line.end(), arguments.begin(), arguments.end());
        const Result result = kxsms(line);
        EXPECT_EQ(result.status, 2) << context(result);
        EXPECT_NE(result.err.find("--strip-components"), std::string::npos) << context(result);
    }
    EXPECT_FALSE(fs::exists(data_ / "r"));
}

TEST_F(KxsmsProgram, StripComponentsDryRunNamesTheTargets)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    const Result result = kxsms({"restore", "-n", "-f", "a.kxa", "--to", "/r", "--strip-components", "1"});
    ASSERT_EQ(result.status, 0) << context(result);
    EXPECT_NE(result.out.find("restore /r/sub/b.txt\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("/r/tree"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("restore /r\n"), std::string::npos) << result.out;
}

// A bind mount at data_/tree/mnt of a folder outside the resource (the same
// file system: only the mount tells it apart), undone at the end.
class OneFileSystem : public KxsmsProgram {
protected:
    void SetUp() override
    {
        KxsmsProgram::SetUp();
        writeFile(dir_ / "other/inside.txt", "mounted\n");
        writeFile(dir_ / "other/deep/more.txt", "more\n");
        fs::create_directories(data_ / "tree/mnt");
        fs::create_directories(data_ / "tree/zz");
        writeFile(data_ / "tree/zz/after.txt", "after the mount\n");
        if (geteuid() != 0 || mount((dir_ / "other").c_str(), (data_ / "tree/mnt").c_str(), nullptr, MS_BIND,
                                    nullptr) != 0)
            problem_ = "bind mounts need root and a system that allows them";
        else
            mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            umount2((data_ / "tree/mnt").c_str(), MNT_DETACH);
        KxsmsProgram::TearDown();
    }
    std::string problem_;
    bool mounted_ = false;
};

TEST_F(OneFileSystem, MountPointsBelowAPathAreSavedButNotEntered)
{
    if (!problem_.empty())
        GTEST_SKIP() << problem_;
    const Result result = kxsms({"backup", "-x", "/tree", "-f", "a.kxa"});
    ASSERT_EQ(result.status, 0) << context(result);
    const std::string notice = "kxsms: /tree/mnt: on a different file system; not dumped\n";
    const size_t at = result.err.find(notice);
    EXPECT_NE(at, std::string::npos) << context(result);
    EXPECT_EQ(result.err.find(notice, at + 1), std::string::npos) << "named once\n" << context(result);
    const std::vector<std::string> names = archivedNames("a.kxa");
    const std::set<std::string> unique(names.begin(), names.end());
    EXPECT_EQ(unique.size(), names.size());
    EXPECT_TRUE(unique.count("/tree/mnt")) << "the mount point itself is saved";
    EXPECT_TRUE(unique.count("/tree/zz/after.txt")) << "the scan goes on after it";
    EXPECT_FALSE(unique.count("/tree/mnt/inside.txt"));
    EXPECT_FALSE(unique.count("/tree/mnt/deep"));

    // A mount point given as the path is entered; without -x every mount is.
    ASSERT_EQ(kxsms({"backup", "-x", "/tree/mnt", "-f", "b.kxa"}).status, 0);
    EXPECT_EQ(archivedNames("b.kxa").size(), 4u);
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "c.kxa"}).status, 0);
    const std::vector<std::string> all = archivedNames("c.kxa");
    EXPECT_NE(std::find(all.begin(), all.end(), "/tree/mnt/deep/more.txt"), all.end());
}

TEST_F(OneFileSystem, DryRunNamesTheMountPointOnce)
{
    if (!problem_.empty())
        GTEST_SKIP() << problem_;
    const Result result = kxsms({"backup", "-n", "--one-file-system", "/tree"});
    ASSERT_EQ(result.status, 0) << context(result);
    EXPECT_NE(result.err.find("/tree/mnt: on a different file system; not dumped"), std::string::npos)
        << context(result);
    size_t count = 0;
    for (size_t at = result.out.find("/tree/mnt\n"); at != std::string::npos; at = result.out.find("/tree/mnt\n", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << result.out;
    EXPECT_EQ(result.out.find("inside.txt"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("/tree/zz/after.txt"), std::string::npos) << result.out;
}

} // namespace
