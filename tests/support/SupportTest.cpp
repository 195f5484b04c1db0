// The shared test helpers: what they promise where tests rely on it.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "Environment.h"
#include "Files.h"
#include "StandInConfig.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// Makes a tree with folders that their owner may not write or enter, drops
// the TempDir and reports whether the folder is gone (0) or not (1).
int leavesNoTreeBehind()
{
    fs::path kept;
    {
        TempDir dir("kxsms-support");
        kept = dir.path();
        writeFile(dir / "locked/inner/file", "x");
        writeFile(dir / "closed/file", "y");
        chmod((dir / "locked/inner").c_str(), 0500);
        chmod((dir / "locked").c_str(), 0500);
        chmod((dir / "closed").c_str(), 0);
    }
    return fs::exists(kept) ? 1 : 0;
}

TEST(TestSupportTempDir, RemovesFoldersItsOwnerMayNotWriteOrEnter)
{
    if (geteuid() != 0) {
        EXPECT_EQ(leavesNoTreeBehind(), 0);
        return;
    }
    // Permissions do not hold for root: the tree is made and removed by an
    // unprivileged user, for whom they do.
    const struct passwd *nobody = getpwnam("nobody");
    if (nobody == nullptr)
        GTEST_SKIP() << "no user nobody to run as";
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(2);
        try {
            _exit(leavesNoTreeBehind());
        } catch (const std::exception &) {
            _exit(3);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "nobody may not make a folder in " << fs::temp_directory_path();
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the folder was left behind, 2: could not become nobody";
}

TEST(TestSupportTempDir, IsPrivateAndBelowTheTemporaryFolder)
{
    TempDir dir("kxsms-support");
    EXPECT_EQ(dir.path().parent_path(), fs::temp_directory_path());
    EXPECT_EQ(dir.path().filename().string().rfind("kxsms-support-", 0), 0u);
    EXPECT_EQ(fs::status(dir.path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(dir / "a/b", (dir.path() / "a/b").string());
}

TEST(TestSupportTempDir, ReportsAFolderItCannotMake)
{
    ScopedEnv tmp("TMPDIR", "/nonexistent/kxsms-support");
    EXPECT_THROW(TempDir("kxsms-support"), std::exception);
}

TEST(TestSupportFiles, WritesThroughNewFoldersAndReadsBack)
{
    TempDir dir;
    const std::string bytes("one\ntwo\0three\n", 14);
    writeFile(dir / "a/b/c.bin", bytes);
    EXPECT_EQ(readFile(dir / "a/b/c.bin"), bytes);
    writeFile(dir / "a/b/c.bin", "short");
    EXPECT_EQ(readFile(dir / "a/b/c.bin"), "short") << "a write replaces the content";
    writeFile(dir / "lines", "x\n\ny");
    EXPECT_EQ(readLines(dir / "lines"), (std::vector<std::string>{"x", "", "y"}));
    EXPECT_EQ(readFile(dir / "missing"), "");
    EXPECT_TRUE(readLines(dir / "missing").empty());
    EXPECT_THROW(writeFile(dir / "a/b/c.bin/under-a-file", "x"), std::exception);
}

TEST(TestSupportFiles, SetsTheTimesOfALinkNotOfItsTarget)
{
    TempDir dir;
    writeFile(dir / "target", "t");
    fs::create_symlink("target", dir / "link");
    setFileTimes(dir / "target", 1500000000);
    setFileTimes(dir / "link", 1600000000, 500);
    struct stat target, link;
    ASSERT_EQ(stat((dir / "target").c_str(), &target), 0);
    ASSERT_EQ(lstat((dir / "link").c_str(), &link), 0);
    EXPECT_EQ(target.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(link.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(link.st_mtim.tv_nsec, 500);
    EXPECT_THROW(setFileTimes(dir / "missing", 0), std::exception);
}

TEST(TestSupportEnvironment, ScopedVariablesComeBackAsTheyWere)
{
    unsetenv("KXSMS_SUPPORT_A");
    setenv("KXSMS_SUPPORT_B", "before", 1);
    {
        ScopedEnv a("KXSMS_SUPPORT_A", "set");
        ScopedEnv b("KXSMS_SUPPORT_B", nullptr);
        EXPECT_STREQ(getenv("KXSMS_SUPPORT_A"), "set");
        EXPECT_EQ(getenv("KXSMS_SUPPORT_B"), nullptr);
    }
    EXPECT_EQ(getenv("KXSMS_SUPPORT_A"), nullptr);
    EXPECT_STREQ(getenv("KXSMS_SUPPORT_B"), "before");
    unsetenv("KXSMS_SUPPORT_B");
}

struct Quoted {
    const char *text;
    const char *toml;
};

class TestSupportToml : public ::testing::TestWithParam<Quoted> {};

TEST_P(TestSupportToml, StringsAreQuotedAndEscaped)
{
    EXPECT_EQ(tomlString(GetParam().text), GetParam().toml);
}

INSTANTIATE_TEST_SUITE_P(Texts, TestSupportToml,
                         ::testing::Values(Quoted{"", R"("")"}, Quoted{"/tmp/a b", R"("/tmp/a b")"},
                                           Quoted{R"(C:\x)", R"("C:\\x")"}, Quoted{R"(say "hi")", R"("say \"hi\"")"},
                                           Quoted{"tab\there", R"("tab\u0009here")"},
                                           Quoted{"line\nnext\x7f", R"("line\u000Anext\u007F")"},
                                           Quoted{"caf\xC3\xA9", "\"caf\xC3\xA9\""}));

TEST(TestSupportStandInConfig, FileSystemTsaTables)
{
    EXPECT_EQ(fileSystemTsaConfig("/data", "/state/a.sqlite"),
              "[[tsa]]\ntype = \"Linux File System\"\narchive_state = \"/state/a.sqlite\"\n"
              "[[tsa.resource]]\nname = \"/\"\npath = \"/data\"\n");
    EXPECT_EQ(fileSystemTsaConfig("/d\"q", "", "users = { admin = \"secret\" }"),
              "[[tsa]]\ntype = \"Linux File System\"\nusers = { admin = \"secret\" }\n"
              "[[tsa.resource]]\nname = \"/\"\npath = \"/d\\\"q\"\n");

    TempDir dir;
    ScopedEnv config("SMSEMU_CONFIG", nullptr);
    useStandInConfig(dir / "conf/smsemu.toml", "[host]\n");
    EXPECT_EQ(readFile(dir / "conf/smsemu.toml"), "[host]\n");
    EXPECT_STREQ(getenv("SMSEMU_CONFIG"), (dir / "conf/smsemu.toml").c_str());
}

} // namespace
