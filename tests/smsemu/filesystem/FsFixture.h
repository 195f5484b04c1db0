// Set-up of the file-system TSA tests: a resource "/" over <dir>/data (with
// <dir>/outside beside it, which nothing may ever reach), a logged-in
// connection, and helpers for scans, backup streams and restores through the
// C API.
#pragma once

#include "SmsEmuFixture.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <optional>

namespace smsemutest {

namespace fs = std::filesystem;

struct Found {
    std::string name;
    NWSM_SCAN_INFORMATION info;
    std::vector<UINT32> types; // name-space types of the name list
};

struct RestoreResult {
    CCODE open = 0, write = 0, close = 0;
    // The first failure, or 0.
    CCODE code() const { return open != 0 ? open : write != 0 ? write : close; }
};

class FsTsa : public SmsEmu {
protected:
    void SetUp() override
    {
        SmsEmu::SetUp();
        makeDir("data");
        makeDir("outside");
        useConfig(config());
        connection = loggedIn("srv1.Linux File System", "srv1");
    }
    void TearDown() override
    {
        if (connection != 0)
            NWSMReleaseTSA(&connection);
        SmsEmu::TearDown();
    }
    virtual std::string config() const
    {
        return "[host]\nname = \"srv1\"\n[[tsa]]\ntype = \"Linux File System\"\nusers = { admin = \"secret\" }\n" +
               archiveKeys() + "[[tsa.resource]]\nname = \"/\"\npath = \"data\"\nname_spaces = " + nameSpaces() + "\n";
    }
    virtual std::string nameSpaces() const { return "[\"DOS\", \"NFS\"]"; }
    // The archive-flag keys of the TSA: a state store in the test's folder.
    virtual std::string archiveKeys() const { return "archive_state = \"state/archive.sqlite\"\n"; }

    std::string real(const std::string &name) const { return (dir_ / "data").string() + name; }
    void file(const std::string &name, const std::string &content = "")
    {
        fs::create_directories(fs::path(real(name)).parent_path());
        std::ofstream(real(name), std::ios::binary | std::ios::trunc) << content;
    }
    std::string content(const std::string &name) const
    {
        std::ifstream in(real(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void setTimes(const std::string &path, time_t seconds, long nanoseconds = 0)
    {
        testsupport::setFileTimes(path, seconds, nanoseconds);
    }
    // Returns once the file system stamps changes later than the change and
    // modification times of `name`. Its clock may move only every few
    // milliseconds, so a change made right after a backup can carry the very
    // times the backup saw and look like none; a test that makes a change
    // for the TSA to notice waits here first. It waits for the clock to
    // move, however long that takes on a busy machine, not for a time.
    void afterTimesOf(const std::string &name) const
    {
        struct stat target {};
        ASSERT_EQ(lstat(real(name).c_str(), &target), 0) << name;
        const fs::path probe = dir_ / "clock-probe"; // beside the resource, not in it
        std::ofstream(probe).put('x');
        auto later = [](const timespec &a, const timespec &b) {
            return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
        };
        struct stat now {};
        for (long tries = 0;; ++tries) {
            ASSERT_LT(tries, 100000000L) << "the file system's clock does not move";
            ASSERT_EQ(utimensat(AT_FDCWD, probe.c_str(), nullptr, 0), 0);
            ASSERT_EQ(stat(probe.c_str(), &now), 0);
            if (later(now.st_ctim, target.st_ctim) && later(now.st_mtim, target.st_mtim))
                break;
        }
        fs::remove(probe);
    }
    // Entries of a folder (names only).
    static std::vector<std::string> entries(const fs::path &folder)
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // A one-name list; type 0xFFFFFFFE for a resource name.
    static NWSM_DATA_SET_NAME_LIST *oneName(const std::string &name, UINT32 type = NWSM_NAME_SPACE_NFS)
    {
        NWSM_DATA_SET_NAME_LIST *list = nullptr;
        EXPECT_EQ(NWSMPutOneName(&list, type, 0, 0, const_cast<char *>("/"), const_cast<char *>("/"),
                                 const_cast<char *>(name.c_str())),
                  0u);
        return list;
    }
    static Found found(const NWSM_SCAN_INFORMATION *info, NWSM_DATA_SET_NAME_LIST *names)
    {
        Found f;
        f.info = *info;
        NWSM_DATA_SET_NAME name;
        EXPECT_EQ(NWSMGetOneName(names, &name), 0u);
        f.name = name.name;
        const auto *bytes = reinterpret_cast<const unsigned char *>(names);
        std::size_t at = sizeof(NWSM_DATA_SET_NAME_LIST);
        for (UINT32 i = 0; i < names->nameCount; ++i) {
            const auto *entry = reinterpret_cast<const NWSM_NAME_ENTRY *>(bytes + at);
            f.types.push_back(entry->nameSpaceType);
            at += entry->entrySize;
        }
        return f;
    }
    static NWSM_SCAN_CONTROL control(UINT32 scanType)
    {
        NWSM_SCAN_CONTROL c{};
        c.bufferSize = sizeof c;
        c.scanControlSize = 61;
        c.scanType = scanType;
        c.scanChildNameSpaceType = -1;
        c.returnNameSpaceType = -1;
        return c;
    }
    // A whole scan: the start first, then every next step until the end.
    std::vector<Found> scan(const std::string &start, UINT32 scanType = 0, NWSM_SCAN_CONTROL *custom = nullptr,
                            NWSM_SELECTION_LIST *selection = nullptr, CCODE *begin = nullptr,
                            UINT32 startType = NWSM_NAME_SPACE_NFS)
    {
        NWSM_DATA_SET_NAME_LIST *list = oneName(start, startType);
        NWSM_SCAN_CONTROL c = custom != nullptr ? *custom : control(scanType);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        std::vector<Found> all;
        CCODE rc = NWSMTSScanDataSetBegin(connection, list, &c, selection, &sequence, &info, &names);
        std::free(list);
        if (begin != nullptr)
            *begin = rc;
        else
            EXPECT_EQ(rc, 0u) << start;
        if (rc != 0)
            return all;
        all.push_back(found(info, names));
        for (int guard = 0; guard < 100000; ++guard) {
            rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
            if (rc != 0) {
                EXPECT_EQ(rc, NWSMTS_NO_MORE_DATA_SETS);
                EXPECT_EQ(info, nullptr);
                break;
            }
            all.push_back(found(info, names));
        }
        EXPECT_EQ(smsemuOpenScans(), 0) << "the end of the data sets ends the scan";
        return all;
    }
    static std::vector<std::string> namesOf(const std::vector<Found> &all)
    {
        std::vector<std::string> names;
        for (const Found &f : all)
            names.push_back(f.name);
        return names;
    }

    // Opens the data set a scan begin stands on for backup; the scan is ended.
    CCODE openBackup(const std::string &name, UINT32 &handle, UINT32 mode = NWSM_OPEN_FOR_BACKUP)
    {
        NWSM_DATA_SET_NAME_LIST *list = oneName(name);
        NWSM_SCAN_CONTROL c = control(1);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        CCODE rc = NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names);
        std::free(list);
        if (rc != 0)
            return rc;
        rc = NWSMTSOpenDataSetForBackup(connection, sequence, mode, &handle);
        EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
        return rc;
    }
    // The whole backup stream of a data set, read in blocks of `block` bytes.
    std::string backup(const std::string &name, UINT32 block = 65536, CCODE *code = nullptr)
    {
        UINT32 handle = 0;
        CCODE rc = openBackup(name, handle);
        std::string stream;
        std::vector<UINT8> buffer(block);
        while (rc == 0) {
            UINT32 got = 0;
            rc = NWSMTSReadDataSet(connection, handle, block, &got, buffer.data());
            if (rc != 0)
                break;
            stream.append(reinterpret_cast<char *>(buffer.data()), got);
            if (got < block)
                break;
        }
        if (handle != 0) {
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
        }
        if (code != nullptr)
            *code = rc;
        else
            EXPECT_EQ(rc, 0u) << name;
        return stream;
    }
    // Restores a stream under `name` (none: the stream's own name) in blocks.
    RestoreResult restore(const std::optional<std::string> &name, const std::string &stream,
                          UINT32 mode = NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE | NWSM_RESTORE_TIMES,
                          std::size_t block = 65536)
    {
        RestoreResult result;
        NWSM_DATA_SET_NAME_LIST *list = name ? oneName(*name) : nullptr;
        UINT32 handle = 0;
        result.open = NWSMTSOpenDataSetForRestore(connection, 0, list, mode, &handle);
        std::free(list);
        if (result.open != 0)
            return result;
        std::string copy = stream;
        for (std::size_t at = 0; at < copy.size() && result.write == 0; at += block) {
            UINT32 n = static_cast<UINT32>(std::min(block, copy.size() - at));
            result.write = NWSMTSWriteDataSet(connection, handle, n, reinterpret_cast<UINT8 *>(copy.data() + at));
        }
        result.close = NWSMTSCloseDataSet(connection, &handle);
        EXPECT_EQ(smsemuOpenDataSets(), 0);
        return result;
    }
    // Runs `job` in a child process that became "nobody", with the test's
    // folder and the resource's opened to it: the child's exit status (0
    // when the job returned 0), or -1 when it could not run or drop root.
    int asNobody(const std::function<int()> &job)
    {
        if (chmod(dir_.c_str(), 0777) != 0 || chmod(real("").c_str(), 0777) != 0)
            return -1;
        const pid_t child = fork();
        if (child < 0)
            return -1;
        if (child == 0) {
            const bool dropped = setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
            _exit(dropped ? job() : 99);
        }
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }
    // Logs out (directory times are applied) and in again.
    void relogin()
    {
        ASSERT_EQ(NWSMTSReleaseTargetService(&connection), 0u);
        ASSERT_EQ(login(connection, "srv1", "admin", "secret"), 0u);
    }

    UINT32 connection = 0;
};

} // namespace smsemutest
