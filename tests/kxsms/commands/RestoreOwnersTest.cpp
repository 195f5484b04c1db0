// Owners, groups and modes of restored files, whatever the restoring
// process's umask: files whose owner and mode the system already gives a new
// file are restored without chown or chmod, so these check that every other
// file still gets exactly what the archive holds, file after file in one
// folder (owners that change from one file to the next), in a set-group-ID
// folder, and with the set-ID bits.
#include <sys/stat.h>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

// Owner, group and permission bits of every entry below root.
std::map<std::string, std::string> owners(const fs::path &root)
{
    std::map<std::string, std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat st;
        if (lstat(entry.path().c_str(), &st) != 0)
            continue;
        char what[64];
        std::snprintf(what, sizeof what, "%u:%u %04o", static_cast<unsigned>(st.st_uid),
                      static_cast<unsigned>(st.st_gid), static_cast<unsigned>(st.st_mode & 07777));
        entries[fs::relative(entry.path(), root).string()] = what;
    }
    return entries;
}

class RestoreOwners : public KxsmsProgram {
protected:
    struct Made {
        const char *name;
        uid_t uid;
        gid_t gid;
        mode_t mode;
    };
    void place(const Made &m)
    {
        const fs::path path = data_ / "tree" / m.name;
        writeFile(path, std::string("data of ") + m.name + "\n");
        ASSERT_EQ(chown(path.c_str(), m.uid, m.gid), 0) << m.name;
        ASSERT_EQ(chmod(path.c_str(), m.mode), 0) << m.name;
    }
};

TEST_F(RestoreOwners, EveryOwnerAndModeUnderEveryUmask)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving files to other users takes root";
    removeTree(data_ / "tree");
    fs::create_directories(data_ / "tree/sgid");
    ASSERT_EQ(chown((data_ / "tree/sgid").c_str(), 0, 4321), 0);
    ASSERT_EQ(chmod((data_ / "tree/sgid").c_str(), 02775), 0);
    const std::vector<Made> files = {
        // One folder, the modes a umask may or may not take bits from.
        {"modes/m0644", 0, 0, 0644}, {"modes/m0600", 0, 0, 0600}, {"modes/m0755", 0, 0, 0755},
        {"modes/m0666", 0, 0, 0666}, {"modes/m0444", 0, 0, 0444}, {"modes/m0000", 0, 0, 0000},
        {"modes/m0777", 0, 0, 0777}, {"modes/m0640", 0, 0, 0640},
        // Owners that change from one file to the next in one folder.
        {"owners/a-same", 0, 0, 0644}, {"owners/b-user", 1234, 0, 0644}, {"owners/c-same", 0, 0, 0644},
        {"owners/d-group", 0, 4321, 0640}, {"owners/e-same", 0, 0, 0600}, {"owners/f-both", 1234, 4321, 0600},
        {"owners/g-same", 0, 0, 0644},
        // A set-group-ID folder: new files take its group.
        {"sgid/a-folders-group", 0, 4321, 0644}, {"sgid/b-root", 0, 0, 0644}, {"sgid/c-folders-group", 0, 4321, 0644},
        {"sgid/d-user", 1234, 4321, 0644}, {"sgid/e-root", 0, 0, 0664},
        // Set-ID and sticky bits, given after the owner (chown clears them).
        {"special/setuid-root", 0, 0, 04755}, {"special/setuid-user", 1234, 0, 04755},
        {"special/setgid-group", 0, 4321, 02755}, {"special/sticky", 0, 0, 01644}, {"special/both", 1234, 4321, 06755},
    };
    for (const Made &m : files)
        place(m);
    const Result saved = kxsms({"backup", "/tree", "-f", "a.kxa"});
    ASSERT_EQ(saved.status, 0) << context(saved);
    const auto original = owners(data_ / "tree");
    for (const char *umask : {"022", "077", "002", "000", "027"}) {
        SCOPED_TRACE(std::string("umask ") + umask);
        const std::string to = std::string("r") + umask;
        const Result r = sh(std::string("umask ") + umask + " && \"$KXSMS\" restore -f a.kxa --to /" + to);
        ASSERT_EQ(r.status, 0) << context(r);
        EXPECT_EQ(owners(data_ / to / "tree"), original);
        EXPECT_EQ(temporaryFiles(data_ / to), std::set<std::string>{});
    }
}

} // namespace
