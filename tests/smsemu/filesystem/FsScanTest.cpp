// Scans of the file-system TSA over real directories: order, what each data
// set is reported as, time ranges, selection lists, names and the records'
// lifetime.
#include "filesystem/FsFixture.h"

#include <ctime>

#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>

namespace smsemutest {
namespace {

class FsScans : public FsTsa {
protected:
    void SetUp() override
    {
        FsTsa::SetUp();
        file("/d/b.txt", "bee");
        file("/d/a.txt", "alpha");
        file("/d/B.txt", "upper");
        file("/d/sub/z", "z");
        file("/d/sub/deeper/y", std::string(5000, 'y'));
        makeDir("data/d/empty");
        fs::create_symlink("a.txt", real("/d/link"));
        file("/top");
    }
};

TEST_F(FsScans, OneLevelAndWholeSubtreeInByteOrderParentsFirst)
{
    EXPECT_EQ(namesOf(scan("/d", 1)),
              (std::vector<std::string>{"/d", "/d/B.txt", "/d/a.txt", "/d/b.txt", "/d/empty", "/d/link", "/d/sub"}));
    EXPECT_EQ(namesOf(scan("/d", 0)),
              (std::vector<std::string>{"/d", "/d/B.txt", "/d/a.txt", "/d/b.txt", "/d/empty", "/d/link", "/d/sub",
                                        "/d/sub/deeper", "/d/sub/deeper/y", "/d/sub/z"}));
    // A file has no children; the root is named by the resource.
    EXPECT_EQ(namesOf(scan("/d/a.txt", 1)), (std::vector<std::string>{"/d/a.txt"}));
    EXPECT_EQ(namesOf(scan("/", 1, nullptr, nullptr, nullptr, NWSM_TSA_DEFINED_RESOURCE)),
              (std::vector<std::string>{"/", "/d", "/top"}));
    // A trailing '/' is ignored.
    EXPECT_EQ(namesOf(scan("/d/sub/", 1)), (std::vector<std::string>{"/d/sub", "/d/sub/deeper", "/d/sub/z"}));
}

TEST_F(FsScans, WhatEachDataSetIsReportedAs)
{
    ASSERT_EQ(chmod(real("/d/b.txt").c_str(), 0444), 0);
    std::map<std::string, Found> by;
    for (const Found &f : scan("/d", 1))
        by[f.name] = f;
    const NWSM_SCAN_INFORMATION &file = by["/d/a.txt"].info;
    EXPECT_EQ(file.primaryDataStreamSize, 5u);
    EXPECT_EQ(file.totalStreamsDataSize, 1u);
    EXPECT_EQ(file.parentFlag, 0);
    EXPECT_EQ(file.attributes & (NWSM_ATTR_DIRECTORY | NWSM_ATTR_READ_ONLY), 0u);
    EXPECT_NE(file.attributes & NWSM_ATTR_ARCHIVE, 0u) << "never backed up";
    EXPECT_EQ(file.creatorNameSpaceNumber, NWSM_NAME_SPACE_NFS);
    EXPECT_EQ(by["/d/a.txt"].types, (std::vector<UINT32>{0, 2}));
    EXPECT_NE(by["/d/b.txt"].info.attributes & NWSM_ATTR_READ_ONLY, 0u);

    const NWSM_SCAN_INFORMATION &folder = by["/d/sub"].info;
    EXPECT_EQ(folder.parentFlag, 1);
    EXPECT_NE(folder.attributes & NWSM_ATTR_DIRECTORY, 0u);
    EXPECT_EQ(folder.primaryDataStreamSize, 0u);
    const NWSM_SCAN_INFORMATION &link = by["/d/link"].info;
    EXPECT_NE(link.attributes & NWSM_ATTR_SYMLINK, 0u);
    EXPECT_EQ(link.parentFlag, 0);
    EXPECT_EQ(link.primaryDataStreamSize, 0u);

    // Times packed in local time; creation never after modification.
    struct stat info;
    ASSERT_EQ(stat(real("/d/a.txt").c_str(), &info), 0);
    std::tm local{};
    localtime_r(&info.st_mtime, &local);
    UINT32 packed = NWSMPackDateTime(static_cast<UINT16>(local.tm_year + 1900), static_cast<UINT16>(local.tm_mon + 1),
                                     static_cast<UINT16>(local.tm_mday), static_cast<UINT16>(local.tm_hour),
                                     static_cast<UINT16>(local.tm_min), static_cast<UINT16>(local.tm_sec));
    EXPECT_EQ(file.modifiedDateAndTime, packed);
    EXPECT_LE(file.createDateAndTime, file.modifiedDateAndTime);
    EXPECT_NE(file.accessDateAndTime, 0u);
}

TEST_F(FsScans, LargeFilesReportTheirSizeInBlocks)
{
    const int fd = open(real("/big").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (5LL << 30) + 1), 0);
    close(fd);
    const Found big = scan("/big", 1).front();
    EXPECT_EQ(big.info.primaryDataStreamSize, 0u);
    EXPECT_EQ(big.info.totalStreamsDataSize, ((5ull << 30) / 4096) + 1); // rounded up
    // Exactly 4 GiB no longer fits the primary size.
    ASSERT_EQ(truncate(real("/big").c_str(), 4LL << 30), 0);
    EXPECT_EQ(scan("/big", 1).front().info.primaryDataStreamSize, 0u);
    ASSERT_EQ(truncate(real("/big").c_str(), (4LL << 30) - 1), 0);
    EXPECT_EQ(scan("/big", 1).front().info.primaryDataStreamSize, 0xFFFFFFFFu);
}

TEST_F(FsScans, ModifiedTimeRangeAppliesToFilesOnly)
{
    setTimes(real("/d/a.txt"), 1500000000);
    setTimes(real("/d/sub"), 1500000000);
    for (const char *name : {"/d/b.txt", "/d/B.txt", "/d/sub/z", "/d/sub/deeper/y", "/d/link"})
        setTimes(real(name), 1700000000);
    auto packed = [](time_t t) {
        std::tm local{};
        localtime_r(&t, &local);
        return NWSMPackDateTime(static_cast<UINT16>(local.tm_year + 1900), static_cast<UINT16>(local.tm_mon + 1),
                                static_cast<UINT16>(local.tm_mday), static_cast<UINT16>(local.tm_hour),
                                static_cast<UINT16>(local.tm_min), static_cast<UINT16>(local.tm_sec));
    };
    NWSM_SCAN_CONTROL c = control(0);
    c.firstModifiedDateAndTime = packed(1600000000);
    EXPECT_EQ(namesOf(scan("/d", 0, &c)),
              (std::vector<std::string>{"/d", "/d/B.txt", "/d/b.txt", "/d/empty", "/d/link", "/d/sub", "/d/sub/deeper",
                                        "/d/sub/deeper/y", "/d/sub/z"}));
    c.firstModifiedDateAndTime = 0;
    c.lastModifiedDateAndTime = packed(1600000000);
    EXPECT_EQ(namesOf(scan("/d", 0, &c)),
              (std::vector<std::string>{"/d", "/d/a.txt", "/d/empty", "/d/sub", "/d/sub/deeper"}));
    // Bounds are inclusive, to the two seconds of the packed form.
    c.firstModifiedDateAndTime = c.lastModifiedDateAndTime = packed(1500000000);
    c.scanType = 1;
    EXPECT_EQ(namesOf(scan("/d", 1, &c)), (std::vector<std::string>{"/d", "/d/a.txt", "/d/empty", "/d/sub"}));
}

TEST_F(FsScans, SelectionListExclusions)
{
    struct Case {
        std::vector<std::pair<UINT32, std::string>> entries; // selection type, name
        std::vector<std::string> expected;
        CCODE begin;
    };
    const std::vector<Case> cases = {
        {{{NWSM_PARENT_TO_BE_EXCLUDED, "/d/sub"}},
         {"/d", "/d/B.txt", "/d/a.txt", "/d/b.txt", "/d/empty", "/d/link"},
         0},
        {{{NWSM_CHILD_TO_BE_EXCLUDED, "/d/a.txt"}, {NWSM_CHILD_TO_BE_EXCLUDED, "/d/sub/deeper/y"}},
         {"/d", "/d/B.txt", "/d/b.txt", "/d/empty", "/d/link", "/d/sub", "/d/sub/deeper", "/d/sub/z"},
         0},
        {{{NWSM_PARENT_TO_BE_EXCLUDED, "/d/sub/deeper/"}, {NWSM_CHILD_TO_BE_EXCLUDED, "/d/link"}},
         {"/d", "/d/B.txt", "/d/a.txt", "/d/b.txt", "/d/empty", "/d/sub", "/d/sub/z"},
         0},
        {{{NWSM_TSA_DEFINED_RESOURCE_EXC, "/"}}, {}, NWSMTS_DATA_SET_EXCLUDED},
        {{{NWSM_PARENT_TO_BE_EXCLUDED, "/d"}}, {}, NWSMTS_DATA_SET_EXCLUDED},
        {{{NWSM_CHILD_TO_BE_EXCLUDED, "/elsewhere"}},
         {"/d", "/d/B.txt", "/d/a.txt", "/d/b.txt", "/d/empty", "/d/link", "/d/sub", "/d/sub/deeper", "/d/sub/deeper/y",
          "/d/sub/z"},
         0},
    };
    for (const Case &c : cases) {
        NWSM_SELECTION_LIST *list = nullptr;
        NWSM_NAME_HANDLE handle = nullptr;
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            const auto &[type, name] = c.entries[i];
            UINT32 space = type == NWSM_TSA_DEFINED_RESOURCE_EXC ? NWSM_TSA_DEFINED_RESOURCE : 258u;
            char *text = const_cast<char *>(name.c_str());
            char *slash = const_cast<char *>("/");
            ASSERT_EQ(i == 0 ? NWSMPutFirstName(&list, space, type, 0, slash, slash, text, &handle)
                             : NWSMPutNextName(&list, &handle, space, type, 0, slash, slash, text),
                      0u);
        }
        ASSERT_EQ(NWSMCloseName(&handle), 0u);
        CCODE begin = 0;
        EXPECT_EQ(namesOf(scan("/d", 0, nullptr, list, &begin)), c.expected) << c.entries.front().second;
        EXPECT_EQ(begin, c.begin);
        // Starting below an excluded parent is excluded too.
        if (c.entries.front().first == NWSM_PARENT_TO_BE_EXCLUDED && c.entries.front().second == "/d") {
            scan("/d/sub/z", 1, nullptr, list, &begin);
            EXPECT_EQ(begin, NWSMTS_DATA_SET_EXCLUDED);
        }
        std::free(list);
    }
}

TEST_F(FsScans, StartsThatCannotBeScanned)
{
    fs::create_symlink(dir_ / "outside", real("/escape"));
    std::ofstream(dir_ / "outside" / "secret") << "s";
    struct Case {
        std::string name;
        CCODE code;
    };
    for (const Case &c : {Case{"/missing", NWSMTS_NO_DATA_SETS_FOUND}, Case{"/d/missing/x", NWSMTS_NO_DATA_SETS_FOUND},
                          Case{"/d/../top", NWSMTS_INVALID_PATH}, Case{"/d/./a.txt", NWSMTS_INVALID_PATH},
                          Case{"/d//a.txt", NWSMTS_INVALID_PATH}, Case{"d/a.txt", NWSMTS_INVALID_PATH},
                          Case{"/escape/secret", NWSMTS_INVALID_PATH}, Case{"/top/x", NWSMTS_INVALID_PATH},
                          Case{"/" + std::string(1023, 'n'), NWSMTS_INVALID_DATA_SET_NAME}}) {
        CCODE begin = 0;
        if (c.name.size() > NWSM_MAX_NAME) {
            // Longer than a name list can hold: built by hand.
            NWSM_DATA_SET_NAME_LIST *list = oneName("/x");
            std::string_view longName = c.name;
            std::size_t size = sizeof(NWSM_DATA_SET_NAME_LIST) + offsetof(NWSM_NAME_ENTRY, name) + longName.size() + 8;
            auto *block = static_cast<NWSM_DATA_SET_NAME_LIST *>(std::calloc(1, size));
            block->bufferSize = block->usedSize = static_cast<UINT32>(size & ~std::size_t{7});
            block->nameCount = 1;
            auto *entry = reinterpret_cast<NWSM_NAME_ENTRY *>(block + 1);
            entry->entrySize = static_cast<UINT32>(block->usedSize - sizeof(NWSM_DATA_SET_NAME_LIST));
            entry->nameSpaceType = 2;
            entry->nameLength = static_cast<UINT16>(longName.size());
            std::memcpy(entry->name, longName.data(), longName.size());
            NWSM_SCAN_CONTROL control = FsTsa::control(1);
            UINT32 sequence = 0;
            NWSM_SCAN_INFORMATION *info = nullptr;
            NWSM_DATA_SET_NAME_LIST *names = nullptr;
            begin = NWSMTSScanDataSetBegin(connection, block, &control, nullptr, &sequence, &info, &names);
            std::free(block);
            std::free(list);
        } else {
            scan(c.name, 1, nullptr, nullptr, &begin);
        }
        EXPECT_EQ(begin, c.code) << c.name;
    }
    // The link itself is a data set; what it points at is not reached.
    EXPECT_EQ(namesOf(scan("/escape", 0)), (std::vector<std::string>{"/escape"}));
    EXPECT_EQ(smsemuOpenScans(), 0);
}

TEST_F(FsScans, UtfEightNamesAndNameSpacesOfTheResource)
{
    NWSM_SCAN_CONTROL c = control(1);
    c.returnNameSpaceType = static_cast<INT32>(NWSM_RETURN_UTF8_NAMES);
    const auto all = scan("/d", 1, &c);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().types, (std::vector<UINT32>{256, 258}));
    // The root as a resource-level name and as a data-set name alike.
    EXPECT_EQ(namesOf(scan("/", 1, nullptr, nullptr, nullptr, NWSM_TSA_DEFINED_RESOURCE)),
              namesOf(scan("/", 1, nullptr, nullptr, nullptr, 258)));
}

TEST_F(FsScans, RecordsAreReusedAndScansEndCleanly)
{
    NWSM_DATA_SET_NAME_LIST *list = oneName("/d");
    NWSM_SCAN_CONTROL c = control(0);
    UINT32 first = 0, second = 0;
    NWSM_SCAN_INFORMATION *info = nullptr, *firstInfo = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr, *firstNames = nullptr;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &first, &firstInfo, &firstNames), 0u);
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &second, &info, &names), 0u);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(smsemuOpenScans(), 2);
    // The same records, refilled, step after step.
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(NWSMTSScanNextDataSet(connection, &first, &info, &names), 0u);
        EXPECT_EQ(info, firstInfo);
    }
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &first, &info, &names), 0u);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(NWSMTSScanNextDataSet(connection, &first, &info, &names), NWSMTS_INVALID_SEQUENCE_NUMBER);
    // Releasing the target service releases the other scan.
    ASSERT_EQ(NWSMTSReleaseTargetService(&connection), 0u);
    EXPECT_EQ(smsemuOpenScans(), 0);
    std::free(list);
}

struct Position {
    std::string name;
    CCODE open;
    UINT32 size;
};

class FsPositions : public FsScans {
protected:
    // Opens the position a scan stands on for backup and closes it again.
    static CCODE openAt(UINT32 connection, UINT32 sequence)
    {
        UINT32 handle = 0;
        CCODE rc = NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle);
        if (rc == 0) {
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
        }
        return rc;
    }

    // Every position of a whole-subtree scan, with what opening it answers.
    static std::vector<Position> positions(UINT32 connection, const std::string &start, UINT32 scanType = 0)
    {
        NWSM_DATA_SET_NAME_LIST *list = oneName(start);
        NWSM_SCAN_CONTROL c = control(scanType);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        std::vector<Position> all;
        CCODE rc = NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names);
        std::free(list);
        while (rc == 0) {
            Found f = found(info, names);
            all.push_back({f.name, openAt(connection, sequence), f.info.primaryDataStreamSize});
            rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
        }
        EXPECT_EQ(rc, NWSMTS_NO_MORE_DATA_SETS);
        return all;
    }
};

TEST_F(FsPositions, NamesTooLongAreReportedOnTheirDirectoryAfterTheRest)
{
    // /d/long/<250>/<250>/<250>/<250>: 1011 characters; entries of 12 and more do not fit.
    std::string deepest = "/d/long";
    for (int i = 0; i < 4; ++i)
        deepest += "/" + std::string(250, static_cast<char>('p' + i));
    ASSERT_EQ(deepest.size(), 1011u);
    file(deepest + "/short");
    file(deepest + "/" + std::string(20, 'x'));
    file(deepest + "/" + std::string(30, 'y') + "/inside");
    file("/d/long/z-after");

    const std::vector<Position> all = positions(connection, "/d/long");
    std::vector<std::string> names;
    for (const Position &p : all)
        names.push_back(p.name);
    std::vector<std::string> expected = {"/d/long"};
    std::string at = "/d/long";
    for (int i = 0; i < 4; ++i)
        expected.push_back(at += "/" + std::string(250, static_cast<char>('p' + i)));
    expected.push_back(deepest + "/short");
    expected.push_back(deepest); // the report, after the rest of its directory
    expected.push_back("/d/long/z-after");
    ASSERT_EQ(names, expected);
    for (const Position &p : all) {
        const bool report = &p == &all[6];
        EXPECT_EQ(p.open, report ? NWSMTS_OVERFLOW : 0u) << p.name;
        if (report) {
            EXPECT_EQ(p.size, 3u) << "the file, the directory and what it holds are left out";
        }
    }
}

// Entries removed after their directory was listed are given all the same,
// and opening them says they are gone; the directory whose contents changed
// under the scan is stood on again after them, with DATA_SET_IN_USE.
TEST_F(FsPositions, EntriesThatVanishAreNamedAndTheirDirectoryReported)
{
    NWSM_DATA_SET_NAME_LIST *list = oneName("/d");
    NWSM_SCAN_CONTROL c = control(0);
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names), 0u);
    std::free(list);
    ASSERT_EQ(NWSMTSScanNextDataSet(connection, &sequence, &info, &names), 0u); // /d/B.txt; /d is listed
    fs::remove(real("/d/a.txt"));
    fs::remove_all(real("/d/sub"));
    std::vector<Position> rest;
    while (NWSMTSScanNextDataSet(connection, &sequence, &info, &names) == 0)
        rest.push_back({found(info, names).name, openAt(connection, sequence), 0});
    const std::vector<std::pair<std::string, CCODE>> expected = {
        {"/d/a.txt", NWSMTS_NO_DATA_SETS_FOUND}, {"/d/b.txt", 0},
        {"/d/empty", 0},
        {"/d/link", 0},
        {"/d/sub", NWSMTS_NO_DATA_SETS_FOUND},   {"/d", NWSMTS_DATA_SET_IN_USE},
    };
    ASSERT_EQ(rest.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rest[i].name, expected[i].first);
        EXPECT_EQ(rest[i].open, expected[i].second) << rest[i].name;
    }
    EXPECT_EQ(smsemuOpenScans(), 0);
}

// A directory this process may not list (run as an unprivileged user): it is
// given with its metadata, then reported with the cause; the scan goes on.
TEST_F(FsPositions, UnreadableDirectoryIsGivenThenReportedAndTheScanGoesOn)
{
    const passwd *nobody = getpwnam("nobody");
    if (nobody == nullptr || geteuid() != 0)
        GTEST_SKIP() << "needs root to act as nobody";
    file("/d/sub/unreadable/secret", "s");
    file("/d/sub/unstatable/x", "x");
    fs::permissions(real("/d/sub/unreadable"), fs::perms(0700));
    fs::permissions(real("/d/sub/unstatable"), fs::perms(0744)); // listed, but not searched
    for (fs::path up = real("/d/sub"); up != dir_.parent_path(); up = up.parent_path())
        fs::permissions(up, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const UINT32 id = nobody->pw_uid, group = nobody->pw_gid;
    const UINT32 tsa = connection;
    EXPECT_EXIT(
        {
            if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 || setresuid(id, id, id) != 0)
                std::_Exit(3);
            std::vector<Position> all = positions(tsa, "/d/sub");
            std::string seen;
            for (const Position &p : all)
                seen += p.name + "=" + std::to_string(p.open) + " ";
            const std::string want =
                "/d/sub=0 /d/sub/deeper=0 /d/sub/deeper/y=0 /d/sub/unreadable=0 "
                "/d/sub/unreadable=" +
                std::to_string(NWSMTS_NO_SEARCH_PRIVILEGES) +
                " /d/sub/unstatable=0 /d/sub/unstatable/x=" + std::to_string(NWSMTS_NO_SEARCH_PRIVILEGES) +
                " /d/sub/z=0 ";
            if (seen != want) {
                std::fprintf(stderr, "got  %s\nwant %s\n", seen.c_str(), want.c_str());
                std::_Exit(1);
            }
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

class NumberedNameSpaces : public FsTsa {
protected:
    std::string nameSpaces() const override { return "[300, 7, \"DOS\"]"; }
};

TEST_F(NumberedNameSpaces, NamesCarryTheConfiguredTypes)
{
    file("/f");
    const Found f = scan("/f", 1).front();
    EXPECT_EQ(f.types, (std::vector<UINT32>{300, 7, 0}));
    EXPECT_EQ(f.info.creatorNameSpaceNumber, 300u);
    STRING_BUFFER *first = nullptr;
    EXPECT_EQ(NWSMTSGetNameSpaceTypeInfo(connection, 300, nullptr, &first, nullptr), 0u);
    EXPECT_STREQ(first->string, "/");
    std::free(first);
    EXPECT_EQ(NWSMTSGetNameSpaceTypeInfo(connection, 556, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(NWSMTSGetNameSpaceTypeInfo(connection, 8, nullptr, nullptr, nullptr), NWSMTS_INVALID_NAME_SPACE_TYPE);
}

} // namespace
} // namespace smsemutest

namespace smsemutest {
namespace {

// A bind mount of a folder of the same file system at /d/mnt: only the mount
// tells it apart (the device is the same).
TEST_F(FsPositions, OneFileSystemGivesAMountPointAndReportsItInsteadOfEnteringIt)
{
    file("/d/mnt/hidden", "under the mount");
    fs::create_directories(dir_ / "other/inner");
    std::ofstream(dir_ / "other/inner/x") << "x";
    if (geteuid() != 0 || mount((dir_ / "other").c_str(), real("/d/mnt").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts need root and a system that allows them";
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{real("/d/mnt")};

    auto seen = [](const std::vector<Position> &all) {
        std::string text;
        for (const Position &p : all)
            if (p.name.rfind("/d/mnt", 0) == 0 || p.name == "/d/sub/z")
                text += p.name + "=" + std::to_string(p.open) + " ";
        return text;
    };
    EXPECT_EQ(seen(positions(connection, "/d", NWSM_SCAN_TYPE_ONE_FILE_SYSTEM)),
              "/d/mnt=0 /d/mnt=" + std::to_string(NWSMTS_DATA_SET_EXCLUDED) + " /d/sub/z=0 ");
    EXPECT_EQ(seen(positions(connection, "/d/mnt", NWSM_SCAN_TYPE_ONE_FILE_SYSTEM)),
              "/d/mnt=0 /d/mnt/inner=0 /d/mnt/inner/x=0 ")
        << "the start is entered";
    EXPECT_EQ(seen(positions(connection, "/d")), "/d/mnt=0 /d/mnt/inner=0 /d/mnt/inner/x=0 /d/sub/z=0 ")
        << "without the bit every mount is entered";
}

} // namespace
} // namespace smsemutest
