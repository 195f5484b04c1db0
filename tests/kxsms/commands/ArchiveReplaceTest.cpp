// A backup to the name of an existing archive: the new archive is written
// under a temporary name and takes the name only once whole, so a backup
// that fails (a full disk, a failing one) leaves the older archive byte for
// byte, no temporary file, no archive flag cleared, and exit 2 with the
// cause. Failures come from the system-call fault seam.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include "Preload.h"
#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

class ArchiveReplace : public KxsmsProgram {
protected:
    void SetUp() override
    {
        KxsmsProgram::SetUp();
        // Several MiB, so that the archive takes several writes.
        writeFile(data_ / "tree/large.bin", bigContent(5u << 20));
        fs::create_directories(dir_ / "arch");
    }

    // Data sets below /tree whose archive flag is set.
    std::set<std::string> flagged()
    {
        return flaggedBelow("/tree");
    }

    std::set<std::string> folderEntries(const fs::path &folder)
    {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    // kxsms with one system call on the files below arch/ failing.
    Result withFault(const std::string &fault, const std::vector<std::string> &arguments,
                     const std::string &environment = "")
    {
        return sh(kxsmsLine(arguments, environment + sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) +
                                           " SYSFAULTS_PROGRAM=kxsms SYSFAULTS_PATHS=" + quote((dir_ / "arch").string()) +
                                           " SYSFAULTS=" + fault + " "));
    }
};

TEST_F(ArchiveReplace, FailedBackupLeavesTheOlderArchiveAndNoTemporaryFile)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "arch/a.kxa"}).status, 0);
    const std::string older = readFile(dir_ / "arch/a.kxa");
    const std::set<std::string> flagsBefore = flagged();
    ASSERT_FALSE(flagsBefore.empty());
    struct Case {
        const char *fault;
        const char *cause;
    };
    for (const Case &c : {Case{"writev@3=ENOSPC", "No space left on device"},
                          Case{"writev@1=EIO", "Input/output error"}, Case{"fsync@1=EIO", "Input/output error"},
                          Case{"close@1=EDQUOT", "Disk quota exceeded"}, Case{"rename@1=EACCES", "Permission denied"}}) {
        for (const bool clear : {false, true}) {
            std::vector<std::string> arguments = {"backup", "/tree", "-f", "arch/a.kxa"};
            if (clear)
                arguments.push_back("--clear-archive");
            const Result r = withFault(c.fault, arguments);
            SCOPED_TRACE(std::string(c.fault) + (clear ? " --clear-archive" : ""));
            EXPECT_EQ(r.status, 2) << context(r);
            EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("arch/a.kxa"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("is left as it was"), std::string::npos) << r.err;
            EXPECT_TRUE(readFile(dir_ / "arch/a.kxa") == older) << "the older archive was changed";
            EXPECT_EQ(folderEntries(dir_ / "arch"), std::set<std::string>{"a.kxa"});
            EXPECT_EQ(flagged(), flagsBefore);
        }
    }
    // Without a fault the archive is replaced, and it reads whole.
    ASSERT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "arch/a.kxa"}).status, 0);
    EXPECT_EQ(kxsms({"verify", "-f", "arch/a.kxa"}).status, 0);
    EXPECT_EQ(folderEntries(dir_ / "arch"), std::set<std::string>{"a.kxa"});
    EXPECT_TRUE(flagged().empty());
}

// An encrypted archive's header is written over its place once the
// passphrase's key is derived: a failure there fails the job as any other
// write of the archive does.
TEST_F(ArchiveReplace, EncryptedBackupWhoseHeaderCannotBeWrittenLeavesTheOlderArchive)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "arch/a.kxa"}).status, 0);
    const std::string older = readFile(dir_ / "arch/a.kxa");
    const std::string passphrase = "KXSMS_PASSPHRASE=header-test ";
    for (const auto &[fault, cause] : {std::pair{"pwrite@1=ENOSPC", "No space left on device"},
                                       std::pair{"pwrite@1=EIO", "Input/output error"}}) {
        SCOPED_TRACE(fault);
        const Result r = withFault(fault, {"backup", "/tree", "--encrypt", "-f", "arch/a.kxa"}, passphrase);
        EXPECT_EQ(r.status, 2) << context(r);
        EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("is left as it was"), std::string::npos) << r.err;
        EXPECT_TRUE(readFile(dir_ / "arch/a.kxa") == older) << "the older archive was changed";
        EXPECT_EQ(folderEntries(dir_ / "arch"), std::set<std::string>{"a.kxa"});
    }
    const Result r = withFault("pwrite@2=EIO", {"backup", "/tree", "--encrypt", "-f", "arch/a.kxa"}, passphrase);
    ASSERT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(sh(kxsmsLine({"verify", "-f", "arch/a.kxa"}, passphrase)).status, 0);
}

// A backup that fails on a new name leaves nothing behind.
TEST_F(ArchiveReplace, FailedBackupToANewNameLeavesNothing)
{
    const Result r = withFault("writev@2=ENOSPC", {"backup", "/tree", "-f", "arch/new.kxa"});
    EXPECT_EQ(r.status, 2) << context(r);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no archive written"), std::string::npos) << r.err;
    EXPECT_TRUE(folderEntries(dir_ / "arch").empty());
}

// The replaced archive keeps its permissions; a symbolic link keeps pointing
// at the file it names, which is replaced.
TEST_F(ArchiveReplace, ReplacedArchiveKeepsPermissionsAndLinks)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "arch/a.kxa"}).status, 0);
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "arch/a.kxa").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a new archive is the user's alone";
    fs::permissions(dir_ / "arch/a.kxa", fs::perms(0640));
    fs::create_symlink("a.kxa", dir_ / "arch/latest.kxa");
    writeFile(data_ / "tree/a.txt", "changed\n");
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "arch/latest.kxa"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "arch/latest.kxa"));
    ASSERT_EQ(stat((dir_ / "arch/a.kxa").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(folderEntries(dir_ / "arch"), (std::set<std::string>{"a.kxa", "latest.kxa"}));
    ASSERT_EQ(kxsms({"restore", "-f", "arch/a.kxa", "--to", "/out"}).status, 0);
    EXPECT_EQ(readFile(data_ / "out/tree/a.txt"), "changed\n");
}

// A backup of the folder that holds its archive saves neither the archive
// being written nor the older one it replaces.
TEST_F(ArchiveReplace, NeitherArchiveIsSavedIntoTheNewOne)
{
    // The machine's own paths: the stand-in's default serves "/".
    unsetenv("SMSEMU_CONFIG");
    const std::string tree = (data_ / "tree").string(), archive = tree + "/self.kxa";
    for (int run = 0; run < 2; ++run) {
        const Result r = kxsms({"backup", tree, "-f", archive});
        ASSERT_EQ(r.status, 0) << context(r);
        // One notice, by the archive's own name, whether or not an older one is there.
        EXPECT_NE(r.err.find(archive + ": file is the archive; not dumped"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("not dumped"), r.err.rfind("not dumped")) << r.err;
        EXPECT_EQ(r.err.find(".kxsms-partial-"), std::string::npos) << r.err;
        const std::vector<std::string> names = archivedNames(archive);
        EXPECT_FALSE(names.empty());
        for (const std::string &name : names)
            EXPECT_EQ(name.find("self.kxa"), std::string::npos) << name;
    }
}

// A directory or a file not to be written over is refused before anything
// is saved; a device is written as before.
TEST_F(ArchiveReplace, RefusedNamesAndDevices)
{
    fs::create_directories(dir_ / "arch/dir.kxa");
    Result r = kxsms({"backup", "/tree", "-f", "arch/dir.kxa"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot create arch/dir.kxa: Is a directory"), std::string::npos) << r.err;
    writeFile(dir_ / "arch/ro.kxa", "kept\n");
    fs::permissions(dir_ / "arch/ro.kxa", fs::perms(0400));
    fs::permissions(dir_ / "arch", fs::perms(0777));
    // As nobody, through the copy of kxsms other users can run (the build
    // folder may be closed to them); skipped where there is none.
    const bool asNobody =
        geteuid() == 0 && getpwnam("nobody") != nullptr && kxsms_test::runKxsmsForOtherUsers(dir_).empty();
    r = asNobody ? sh("$AS_NOBODY " + kxsmsLine({"backup", "/tree", "-f", "arch/ro.kxa"})) : Result{};
    if (asNobody && r.err.find("setpriv") == std::string::npos) {
        EXPECT_EQ(r.status, 2) << context(r);
        EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
        EXPECT_EQ(readFile(dir_ / "arch/ro.kxa"), "kept\n");
    }
    r = kxsms({"backup", "/tree", "-f", "/dev/null"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(folderEntries(dir_ / "arch"), (std::set<std::string>{"dir.kxa", "ro.kxa"}));
}

// key generate writes its two files durably, or leaves neither: a failing
// write or sync of either names the file and its cause.
TEST_F(ArchiveReplace, KeyPairIsDurableOrNotWritten)
{
    for (const char *fault : {"write@1=ENOSPC", "fsync@1=EIO", "fsync@2=EIO", "fsync@3=EIO", "fsync@4=EIO"}) {
        SCOPED_TRACE(fault);
        const Result r = withFault(fault, {"key", "generate", "-o", "arch/vault", "--no-passphrase"});
        EXPECT_EQ(r.status, 2) << context(r);
        EXPECT_NE(r.err.find(std::string(fault).find("ENOSPC") != std::string::npos ? "No space left on device"
                                                                                     : "Input/output error"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("arch/vault."), std::string::npos) << r.err;
        EXPECT_TRUE(folderEntries(dir_ / "arch").empty());
    }
    EXPECT_EQ(kxsms({"key", "generate", "-o", "arch/vault", "--no-passphrase"}).status, 0);
    EXPECT_EQ(folderEntries(dir_ / "arch"), (std::set<std::string>{"vault.key", "vault.pub"}));
}

} // namespace
