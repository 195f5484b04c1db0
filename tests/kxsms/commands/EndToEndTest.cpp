// kxsms end to end: the program itself, through the module, against the
// file-system TSA of the SMS stand-in over a temporary tree.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include <sys/xattr.h>

#include "archive/ArchiveSupport.h"
#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

// ---- round trips ----------------------------------------------------------

struct Trip {
    const char *name;
    const char *commandLine;
};

class RoundTrip : public KxsmsProgram, public ::testing::WithParamInterface<Trip> {};

TEST_P(RoundTrip, RestoredTreeEqualsTheOriginal)
{
    const Result result = sh(GetParam().commandLine);
    ASSERT_EQ(result.status, 0) << context(result);
    EXPECT_TRUE(fs::exists(data_ / "restored/tree/a.txt")) << context(result);
    EXPECT_EQ(describeTree(data_ / "restored/tree"), describeTree(data_ / "tree"));
    EXPECT_NE(result.err.find("restore: "), std::string::npos) << "a summary on stderr";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, RoundTrip,
    ::testing::Values(Trip{"file", "$KXSMS backup /tree -f a.kxa && $KXSMS restore -f a.kxa --to /restored"},
                      Trip{"zstd", "$KXSMS backup /tree --zstd -f a.kxa && $KXSMS restore -f a.kxa --to /restored"},
                      Trip{"pipe", "set -o pipefail; $KXSMS backup /tree -f - | $KXSMS restore -f - --to /restored"},
                      Trip{"pipe_zstd",
                           "set -o pipefail; $KXSMS backup --zstd /tree -f - | $KXSMS restore -f - --to /restored/"}),
    [](const ::testing::TestParamInfo<Trip> &tested) { return std::string(tested.param.name); });

TEST_F(KxsmsProgram, ZstdArchiveStartsWithAFrameAndVerifies)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "--zstd", "-f", "a.kxa"}).status, 0);
    const std::string archive = readFile(dir_ / "a.kxa");
    ASSERT_GE(archive.size(), 4u);
    EXPECT_EQ(archive.substr(0, 4), std::string("\x28\xB5\x2F\xFD"));
    const Result verified = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_EQ(verified.status, 0) << context(verified);
}

TEST_F(KxsmsProgram, OverlappingPathsStoreEachDataSetOnce)
{
    ASSERT_EQ(kxsms({"backup", "/tree/sub", "/tree", "/tree/sub/deeper", "/tree/", "-f", "a.kxa"}).status, 0);
    const std::vector<std::string> names = archivedNames("a.kxa");
    const std::set<std::string> unique(names.begin(), names.end());
    EXPECT_EQ(unique.size(), names.size());
    EXPECT_TRUE(unique.count("/tree/sub/deeper/c.txt"));
    EXPECT_TRUE(unique.count("/tree/a.txt"));
    // Parents come before their children.
    const auto position = [&](const std::string &name) { return std::find(names.begin(), names.end(), name); };
    EXPECT_LT(position("/tree/sub"), position("/tree/sub/b.txt"));
}

// ---- listings and JSON ----------------------------------------------------------

TEST_F(KxsmsProgram, JsonListingsParseAndAgreeWithTheTree)
{
    const Result ls = kxsms({"ls", "-r", "--json", "/tree"});
    ASSERT_EQ(ls.status, 0) << context(ls);
    std::map<std::string, json> byName;
    for (const json &entry : json::parse(ls.out))
        byName[entry["name"]] = entry;
    ASSERT_TRUE(byName.count("/tree/big.bin")) << ls.out;
    EXPECT_EQ(byName["/tree/big.bin"]["size"], 200000);
    EXPECT_EQ(byName["/tree/big.bin"]["parent"], false);
    EXPECT_EQ(byName["/tree/sub"]["parent"], true);
    EXPECT_EQ(byName["/tree/a.txt"]["modified"], 1600000000);
    EXPECT_TRUE(byName.count("/tree/sub/deeper/c.txt"));

    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    const Result list = kxsms({"list", "-f", "a.kxa", "--json"});
    ASSERT_EQ(list.status, 0) << context(list);
    const json members = json::parse(list.out);
    EXPECT_EQ(members.size(), byName.size());
    for (const json &member : members) {
        EXPECT_EQ(member["state"], "ok");
        ASSERT_TRUE(byName.count(member["name"])) << member;
        EXPECT_EQ(member["size"], byName[member["name"]]["size"]) << member;
    }

    const Result info = kxsms({"info", "--json", "/tree/a.txt"});
    ASSERT_EQ(info.status, 0) << context(info);
    const json described = json::parse(info.out);
    EXPECT_EQ(described["name"], "/tree/a.txt");
    EXPECT_EQ(described["child"], "a.txt");
    EXPECT_EQ(described["size"], 6);
}

TEST_F(KxsmsProgram, PlainAndLongListings)
{
    const Result plain = kxsms({"ls", "/tree/sub"});
    ASSERT_EQ(plain.status, 0) << context(plain);
    std::istringstream lines(plain.out);
    std::set<std::string> names;
    for (std::string line; std::getline(lines, line);)
        names.insert(line);
    EXPECT_EQ(names, (std::set<std::string>{"/tree/sub/b.txt", "/tree/sub/deeper"}));
    const Result longer = kxsms({"ls", "-l", "/tree/sub"});
    ASSERT_EQ(longer.status, 0) << context(longer);
    EXPECT_NE(longer.out.find("d "), std::string::npos);
    EXPECT_NE(longer.out.find(" 5 "), std::string::npos);
    const Result resources = kxsms({"resources"});
    EXPECT_EQ(resources.status, 0);
    EXPECT_EQ(resources.out, "/\n");
}

// ---- restore options ----------------------------------------------------------

TEST_F(KxsmsProgram, OverwriteModes)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    auto change = [&] {
        writeFile(data_ / "tree/a.txt", "changed later\n"); // newer than the archive's copy
        writeFile(data_ / "tree/sub/b.txt", "changed before\n");
        setTime(data_ / "tree/sub/b.txt", 1000000000); // older than the archive's copy
        fs::remove(data_ / "tree/sub/deeper/c.txt");
    };

    change();
    Result r = kxsms({"restore", "-f", "a.kxa", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(readFile(data_ / "tree/a.txt"), "changed later\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/b.txt"), "changed before\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/deeper/c.txt"), "gamma\n");

    change();
    r = kxsms({"restore", "-f", "a.kxa", "--in-place"}); // newer, the default in place
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(readFile(data_ / "tree/a.txt"), "changed later\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/b.txt"), "beta\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/deeper/c.txt"), "gamma\n");

    change();
    r = kxsms({"restore", "-f", "a.kxa", "--in-place", "--overwrite", "always"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(readFile(data_ / "tree/a.txt"), "alpha\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/b.txt"), "beta\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/deeper/c.txt"), "gamma\n");
}

// ---- backup selections ----------------------------------------------------------

TEST_F(KxsmsProgram, ExcludedDataSetsStayOut)
{
    const Result r = kxsms({"backup", "/tree", "--exclude", "/tree/sub", "--exclude", "/tree/a.txt", "-f", "a.kxa"});
    ASSERT_EQ(r.status, 0) << context(r);
    const std::vector<std::string> names = archivedNames("a.kxa");
    for (const std::string &name : names) {
        EXPECT_EQ(name.rfind("/tree/sub", 0), std::string::npos) << name;
        EXPECT_NE(name, "/tree/a.txt");
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "/tree/big.bin"), names.end());
}

TEST_F(KxsmsProgram, SinceKeepsParentsAndRecentData)
{
    const Result r = kxsms({"backup", "/tree", "--since", "2021-01-01", "-f", "a.kxa"});
    ASSERT_EQ(r.status, 0) << context(r);
    const std::vector<std::string> names = archivedNames("a.kxa");
    const std::set<std::string> unique(names.begin(), names.end());
    EXPECT_FALSE(unique.count("/tree/a.txt"));            // modified in September 2020
    EXPECT_FALSE(unique.count("/tree/sub/deeper/c.txt")); // modified in July 2017
    EXPECT_TRUE(unique.count("/tree/sub/deeper"));        // parents always
    EXPECT_TRUE(unique.count("/tree/big.bin"));
}

TEST_F(KxsmsProgram, IncrementalBackupsFollowTheArchiveFlag)
{
    if (setxattr(data_.c_str(), "user.kxsms-test", "1", 1, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here: the archive flag cannot be cleared";
    removexattr(data_.c_str(), "user.kxsms-test");

    // Files whose data was saved (the rest is listed as unchanged): parents
    // are always saved, and a symbolic link's archive flag is always set (it
    // has no extended attributes of its own).
    auto files = [&](const std::string &archive) {
        std::set<std::string> result;
        const Result listed = kxsms({"list", "-f", archive, "--json"});
        for (const json &member : json::parse(listed.out))
            if (!member["parent"].get<bool>() && member["name"] != "/tree/link" && member["listing"] == "saved")
                result.insert(member["name"].get<std::string>());
        return result;
    };

    ASSERT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "1.kxa"}).status, 0);
    EXPECT_TRUE(files("1.kxa").count("/tree/big.bin"));
    ASSERT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "2.kxa"}).status, 0);
    EXPECT_EQ(files("2.kxa"), std::set<std::string>{});
    EXPECT_FALSE(archivedNames("2.kxa").empty()) << "parents are always saved";

    writeFile(data_ / "tree/sub/b.txt", "changed\n");
    setTime(data_ / "tree/sub/b.txt", time(nullptr) + 5);
    ASSERT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "3.kxa"}).status, 0);
    EXPECT_EQ(files("3.kxa"), std::set<std::string>{"/tree/sub/b.txt"});
}

// ---- rm ----------------------------------------------------------------------

TEST_F(KxsmsProgram, RmDeletesOneDataSet)
{
    Result r = kxsms({"rm", "/tree/a.txt"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_FALSE(fs::exists(data_ / "tree/a.txt"));
    r = kxsms({"rm", "/tree/no-such-file"});
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("/tree/no-such-file"), std::string::npos);
}

// ---- damage and failures ----------------------------------------------------------

// Flips the byte `distance` bytes after the first `marker` in the file (a
// member's name, so the byte falls in its data); false when there is none.
bool flipByteAfter(const fs::path &file, const std::string &marker, size_t distance)
{
    std::string bytes = readFile(file);
    const size_t at = bytes.find(marker);
    if (at == std::string::npos || at + distance >= bytes.size())
        return false;
    bytes[at + distance] = static_cast<char>(bytes[at + distance] ^ 0x55);
    writeFile(file, bytes);
    return true;
}

TEST_F(KxsmsProgram, DamagedMemberIsSkippedAndTheRestRestored)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    ASSERT_TRUE(flipByteAfter(dir_ / "a.kxa", "/tree/big.bin", 5000));

    const Result verified = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_EQ(verified.status, 1) << context(verified);
    EXPECT_NE(verified.err.find("/tree/big.bin"), std::string::npos) << verified.err;
    EXPECT_NE(verified.err.find("; the archive is damaged\n"), std::string::npos) << verified.err;

    const Result restored = kxsms({"restore", "-f", "a.kxa", "--to", "/restored"});
    EXPECT_EQ(restored.status, 1) << context(restored);
    EXPECT_NE(restored.err.find("/tree/big.bin"), std::string::npos);
    EXPECT_FALSE(fs::exists(data_ / "restored/tree/big.bin"));
    EXPECT_EQ(readFile(data_ / "restored/tree/sub/deeper/c.txt"), "gamma\n");
    EXPECT_EQ(readFile(data_ / "restored/tree/block.bin"), std::string(65536, 'b'));
}

TEST_F(KxsmsProgram, MissingDataSetFailsTheJobButNotTheArchive)
{
    const Result r = kxsms({"backup", "/tree/sub", "/no/such/thing", "-f", "a.kxa"});
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("/no/such/thing"), std::string::npos);
    EXPECT_EQ(kxsms({"verify", "-f", "a.kxa"}).status, 0);
}

TEST_F(KxsmsProgram, CannotStartWithoutTheTsaOrWithAWrongPassword)
{
    Result r = kxsms({"--tsa", "gw", "ls"});
    EXPECT_EQ(r.status, 2) << context(r);
    EXPECT_NE(r.err.find("TSA not loaded"), std::string::npos) << r.err;

    useConfig("users = { tester = \"right\" }");
    writeFile(dir_ / "password", "wrong\n");
    r = kxsms({"-u", "tester", "--password-file", (dir_ / "password").string(), "ls", "/tree"});
    EXPECT_EQ(r.status, 2) << context(r);
    EXPECT_NE(r.err.find("Failed to login"), std::string::npos) << r.err;

    writeFile(dir_ / "password", "right\n");
    r = kxsms({"-u", "tester", "--password-file", (dir_ / "password").string(), "ls", "/tree/sub"});
    EXPECT_EQ(r.status, 0) << context(r);
    r = sh("KXSMS_PASSWORD=right $KXSMS -u tester ls /tree/sub");
    EXPECT_EQ(r.status, 0) << context(r);

    r = kxsms({"restore", "-f", "missing.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 2);
    writeFile(dir_ / "not-an-archive", "hello\n");
    r = kxsms({"restore", "-f", "not-an-archive", "--to", "/r"});
    EXPECT_EQ(r.status, 2) << context(r);
    EXPECT_NE(r.err.find("not a kxsms archive"), std::string::npos);
}

TEST_F(KxsmsProgram, ReadFaultMarksTheMemberIncomplete)
{
    setenv("SMSEMU_FAULTS", "NWSMTSReadDataSet@3=0xFFFDFFC6", 1);
    const Result r = kxsms({"backup", "/tree/big.bin", "-f", "a.kxa"});
    unsetenv("SMSEMU_FAULTS");
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("Failed to backup data"), std::string::npos) << r.err;
    // What the backup recorded is not damage: still exit 1, as data sets failed.
    const Result verified = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_EQ(verified.status, 1);
    EXPECT_NE(verified.err.find("incomplete"), std::string::npos) << verified.err;
    EXPECT_NE(verified.err.find("; the archive is undamaged, but its backup did not save everything whole"),
              std::string::npos)
        << verified.err;
    // Damage as well is damage.
    ASSERT_TRUE(flipByteAfter(dir_ / "a.kxa", "/tree/big.bin", 3000));
    const Result damaged = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("; the archive is damaged\n"), std::string::npos) << damaged.err;
}

// An archive whose member names try to leave the target: those members are
// refused, the others restored, and nothing is written outside.
TEST_F(KxsmsProgram, HostileMemberNamesAreRefused)
{
    ASSERT_EQ(kxsms({"backup", "/tree/sub/b.txt", "/tree/sub/deeper/c.txt", "/tree/a.txt", "-f", "a.kxa"}).status, 0);
    const std::string original = readFile(dir_ / "a.kxa");
    const std::vector<unsigned char> bytes(original.begin(), original.end());

    // Copy the archive member by member, renaming all but the last.
    archive_test::MemoryInput in(bytes);
    kxsms::ArchiveReader reader(in, nullptr);
    ASSERT_TRUE(reader.open());
    archive_test::MemoryOutput out;
    kxsms::ArchiveWriter writer(out, 1, 99, 0);
    const std::vector<std::string> names = {"/../escape", "relative/escape"};
    kxsms::format::MemberDescriptor member;
    for (size_t i = 0; reader.nextMember(member); ++i) {
        if (i < names.size())
            member.name = names[i];
        writer.beginMember(member);
        const unsigned char *data = nullptr;
        size_t size = 0;
        while (reader.readBlock(data, size))
            writer.writeBlock(data, size);
        writer.endMember(true);
    }
    writer.finish();
    writeFile(dir_ / "hostile.kxa", std::string(out.out.begin(), out.out.end()));

    for (const std::vector<std::string> &extra : {std::vector<std::string>{"--to", "/restored"}, {"--in-place"}}) {
        std::vector<std::string> arguments = {"restore", "-f", "hostile.kxa"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const Result r = kxsms(arguments);
        EXPECT_EQ(r.status, 1) << context(r);
        EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "escape"));
    EXPECT_FALSE(fs::exists(data_ / "escape"));
    EXPECT_FALSE(fs::exists(data_ / "restored/relative"));
    EXPECT_EQ(readFile(data_ / "restored/tree/a.txt"), "alpha\n");
}

TEST_F(KxsmsProgram, VersionShowsTheModuleStamp)
{
    const Result r = kxsms({"--version"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_NE(r.out.find("kxsms "), std::string::npos);
    EXPECT_NE(r.out.find("libKXSMS.so "), std::string::npos);
    EXPECT_NE(r.out.find("/"), std::string::npos);
}

} // namespace
