// Soak of kxsms as a whole: in one process, as a long-lived host would, the
// commands back up a small tree with --clear-archive (a file changed each
// time, so that flags are cleared anew), verify the archive and restore it
// into a fresh folder, cycle after cycle. After a warm-up, open descriptors,
// resident memory and the size of the archive-flag store must stay flat.
// KXSMS_SOAK_CYCLES sets the number of cycles.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Environment.h"
#include "Files.h"
#include "ProcessUsage.h"
#include "StandInConfig.h"
#include "TempDir.h"
#include "commands/Commands.h"
#include "frame/CommandLine.h"
#include "frame/ModuleLog.h"

namespace {

namespace fs = std::filesystem;

using testsupport::c_Sanitized;
using testsupport::heapInUse;
using testsupport::openDescriptors;
using testsupport::residentKiB;

// 500 cycles (about 15 s here); a sanitizer build, several times slower and
// without the memory check, runs 60 unless KXSMS_SOAK_CYCLES says otherwise.
int cycles()
{
    const char *setting = std::getenv("KXSMS_SOAK_CYCLES");
    return setting != nullptr ? std::max(30, std::atoi(setting)) : c_Sanitized ? 60 : 500;
}

class KxsmsSoak : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::clearStandInEnvironment();
        setenv("KXSMS_PASSWORD", "", 1);
        unsetenv("KXSMS_LIBRARY");
        testsupport::useStandInConfig(dir_ / "smsemu.toml",
                                      testsupport::fileSystemTsaConfig(dir_.path() / "data", store_));
        for (int i = 0; i < 20; ++i)
            testsupport::writeFile(dir_.path() / "data/src" / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i)),
                                   std::string(static_cast<size_t>(500 * i + 1), static_cast<char>('a' + i)));
        fs::create_symlink("d0/f0", dir_.path() / "data/src/link");
        output_ = open((dir_ / "output").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(output_, 0);
        // As kxsms does once per process: the module's log kept in memory.
        kxsms::startModuleLog("", 0);
    }
    void TearDown() override
    {
        kxsms::finishModuleLog();
        close(output_);
    }

    // Runs one kxsms command line as the program does; its exit status. Its
    // output goes to a file, so that only the test's own lines are shown.
    int kxsms(std::vector<std::string> words)
    {
        words.insert(words.begin(), "kxsms");
        std::vector<const char *> argv;
        for (const std::string &word : words)
            argv.push_back(word.c_str());
        argv.push_back(nullptr);
        const auto commands = kxsms::allCommands();
        kxsms::ParsedCommandLine parsed;
        std::ostringstream out, err;
        int status =
            kxsms::parseCommandLine(static_cast<int>(words.size()), argv.data(), commands, parsed, out, err, 0);
        if (status >= 0)
            return status;
        parsed.command->takeLocalNames(parsed.globals, dir_.path().string());
        fflush(stdout);
        fflush(stderr);
        const int savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
        dup2(output_, STDOUT_FILENO);
        dup2(output_, STDERR_FILENO);
        status = parsed.command->run(parsed.globals);
        fflush(stdout);
        fflush(stderr);
        dup2(savedOut, STDOUT_FILENO);
        dup2(savedErr, STDERR_FILENO);
        close(savedOut);
        close(savedErr);
        return status;
    }

    void cycle(int i)
    {
        testsupport::writeFile(dir_.path() / "data/src/d1/changing", "cycle " + std::to_string(i));
        const std::string archive = dir_ / "a.kxa";
        ASSERT_EQ(kxsms({"backup", "/src", "-f", archive, "--clear-archive"}), 0) << "cycle " << i;
        ASSERT_EQ(kxsms({"verify", "-f", archive}), 0) << "cycle " << i;
        std::error_code ignored;
        fs::remove_all(dir_.path() / "data/out", ignored);
        ASSERT_EQ(kxsms({"restore", "-f", archive, "--to", "/out"}), 0) << "cycle " << i;
        ASSERT_EQ(testsupport::readFile(dir_.path() / "data/out/src/d1/changing"), "cycle " + std::to_string(i));
    }

    // The store's size as a reader sees it: its pages, the latest of them
    // still in the write-ahead log included (which SQLite copies back only
    // every thousand pages while the store stays open). Read in a child
    // process: SQLite keeps a descriptor of a file that another connection
    // of the same process holds locks on, which would count as ours.
    uintmax_t storeSize() const
    {
        int channel[2];
        if (pipe(channel) != 0)
            return 0;
        const pid_t child = fork();
        if (child == 0) {
            const uintmax_t size = storeSizeHere();
            _exit(write(channel[1], &size, sizeof size) == sizeof size ? 0 : 1);
        }
        close(channel[1]);
        uintmax_t size = 0;
        if (read(channel[0], &size, sizeof size) != sizeof size)
            size = 0;
        close(channel[0]);
        waitpid(child, nullptr, 0);
        return size;
    }
    uintmax_t storeSizeHere() const
    {
        sqlite3 *db = nullptr;
        uintmax_t size = 0;
        if (sqlite3_open_v2(store_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt *statement = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT page_count * page_size FROM pragma_page_count(), pragma_page_size()", -1,
                                   &statement, nullptr) == SQLITE_OK &&
                sqlite3_step(statement) == SQLITE_ROW)
                size = static_cast<uintmax_t>(sqlite3_column_int64(statement, 0));
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
        return size;
    }

    testsupport::TempDir dir_{"kxsms-soak"};
    fs::path store_ = dir_.path() / "state/archive.sqlite";
    int output_ = -1;
};

TEST_F(KxsmsSoak, BackupVerifyRestoreCyclesStayFlat)
{
    const int total = cycles();
    for (int i = 0; i < 20; ++i) { // warm up: caches, allocator pools, the store's pages
        cycle(i);
        if (HasFatalFailure())
            return;
    }
    const size_t descriptors = openDescriptors();
    const size_t resident = residentKiB();
    const uintmax_t store = storeSize();
    const size_t heap = heapInUse();
    for (int i = 20; i < total; ++i) {
        cycle(i);
        if (HasFatalFailure())
            return;
    }
    const size_t descriptorsAfter = openDescriptors();
    const size_t residentAfter = residentKiB();
    const uintmax_t storeAfter = storeSize();
    const size_t heapAfter = heapInUse();
    std::printf("kxsms soak: %d cycles of backup, verify and restore; descriptors %zu -> %zu; resident %zu KiB -> "
                "%zu KiB; heap in use %zu -> %zu bytes; state store %ju -> %ju bytes\n",
                total, descriptors, descriptorsAfter, resident, residentAfter, heap, heapAfter, store, storeAfter);
    EXPECT_EQ(descriptorsAfter, descriptors);
    EXPECT_EQ(storeAfter, store) << "the state store grew";
    // A leak shows exactly in the bytes malloc has handed out. Resident
    // memory is only a coarse check: the threads of each job take memory from
    // different malloc arenas, whose free pages go back lazily, so it moves
    // by a megabyte or so from run to run without growing.
    if (!c_Sanitized) {
        EXPECT_LT(heapAfter, heap + 64 * 1024) << "the heap in use grew by more than 64 KiB";
        EXPECT_LT(residentAfter, resident + 4096) << "resident memory grew by more than 4 MiB";
    }
}

} // namespace
