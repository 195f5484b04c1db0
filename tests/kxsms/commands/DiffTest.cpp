// kxsms diff end to end: an archive, or a chain, against the live tree
// after each kind of change.
#include <gtest/gtest.h>

#include <functional>

#include <unistd.h>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

TEST_F(KxsmsProgram, DiffOfAnUnchangedTreeFindsNothing)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    const Result result = kxsms({"diff", "-f", "a.kxa"});
    EXPECT_EQ(result.status, 0) << context(result);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("no differences"), std::string::npos) << context(result);
    const Result json = kxsms({"diff", "-f", "a.kxa", "--json"});
    EXPECT_EQ(json.status, 0) << context(json);
    EXPECT_EQ(json::parse(json.out), json::array());
}

struct Change {
    const char *name;
    std::function<void(const fs::path &data)> make;
    std::vector<std::string> lines; // each expected on stdout, among others
};

class DiffAfter : public KxsmsProgram, public ::testing::WithParamInterface<Change> {};

TEST_P(DiffAfter, EachDifferenceIsNamed)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    GetParam().make(data_);
    const Result result = kxsms({"diff", "-f", "a.kxa"});
    EXPECT_EQ(result.status, 1) << context(result);
    for (const std::string &line : GetParam().lines)
        EXPECT_NE(result.out.find(line + "\n"), std::string::npos) << line << "\n" << context(result);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DiffAfter,
    ::testing::Values(
        // Same size and time: only the bytes tell.
        Change{"content",
               [](const fs::path &data) {
                   writeFile(data / "tree/a.txt", "alphx\n");
                   setFileTime(data / "tree/a.txt", 1600000000);
               },
               {"changed /tree/a.txt: content"}},
        Change{"mode", [](const fs::path &data) { fs::permissions(data / "tree/sub/b.txt", fs::perms(0600)); },
               {"changed /tree/sub/b.txt: mode"}},
        Change{"size",
               [](const fs::path &data) {
                   writeFile(data / "tree/a.txt", "alpha and more\n");
                   setFileTime(data / "tree/a.txt", 1600000000);
               },
               {"changed /tree/a.txt: content, size"}},
        Change{"modification_time", [](const fs::path &data) { setFileTime(data / "tree/a.txt", 1600000002); },
               {"changed /tree/a.txt: modification time"}},
        Change{"link_target",
               [](const fs::path &data) {
                   fs::remove(data / "tree/link");
                   fs::create_symlink("sub/b.txt", data / "tree/link");
               },
               {"changed /tree/link: modification time, link target"}},
        Change{"kind",
               [](const fs::path &data) {
                   fs::remove(data / "tree/empty");
                   writeFile(data / "tree/empty", "");
               },
               {"changed /tree/empty: kind"}},
        Change{"owner",
               [](const fs::path &data) {
                   if (lchown((data / "tree/sub/deeper/c.txt").c_str(), 12345, 12345) != 0)
                       fs::remove(data / "tree/sub/deeper/c.txt"); // not root: seen as missing instead
               },
               {geteuid() == 0 ? "changed /tree/sub/deeper/c.txt: owner" : "missing /tree/sub/deeper/c.txt"}},
        Change{"missing", [](const fs::path &data) { fs::remove_all(data / "tree/sub"); },
               {"missing /tree/sub", "missing /tree/sub/b.txt", "missing /tree/sub/deeper/c.txt",
                "changed /tree: modification time"}},
        Change{"new",
               [](const fs::path &data) {
                   writeFile(data / "tree/new.txt", "new\n");
                   fs::create_directories(data / "tree/empty/newdir");
               },
               {"new /tree/new.txt", "new /tree/empty/newdir", "changed /tree/empty: modification time"}}),
    [](const ::testing::TestParamInfo<Change> &tested) { return std::string(tested.param.name); });

TEST_F(KxsmsProgram, DiffJsonGivesTheChangeAndItsFields)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    fs::permissions(data_ / "tree/a.txt", fs::perms(0600));
    setFileTime(data_ / "tree/a.txt", 1600000004);
    fs::remove(data_ / "tree/block.bin");
    setFileTime(data_ / "tree", 1600000000);
    const Result result = kxsms({"diff", "-f", "a.kxa", "--json"});
    EXPECT_EQ(result.status, 1) << context(result);
    std::map<std::string, json> found;
    for (const json &element : json::parse(result.out))
        found[element["name"].get<std::string>()] = element;
    ASSERT_TRUE(found.count("/tree/a.txt")) << result.out;
    EXPECT_EQ(found["/tree/a.txt"]["change"], "changed");
    EXPECT_EQ(found["/tree/a.txt"]["fields"], json::array({"mode", "modification time"}));
    ASSERT_TRUE(found.count("/tree/block.bin")) << result.out;
    EXPECT_EQ(found["/tree/block.bin"]["change"], "missing");
}

TEST_F(KxsmsProgram, DiffTakesPathsAndComparesOnlyBelowThem)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    writeFile(data_ / "tree/new.txt", "new\n");
    fs::permissions(data_ / "tree/sub/b.txt", fs::perms(0600));
    const Result sub = kxsms({"diff", "-f", "a.kxa", "/tree/sub"});
    EXPECT_EQ(sub.status, 1) << context(sub);
    EXPECT_EQ(sub.out, "changed /tree/sub/b.txt: mode\n") << context(sub);
    const Result deeper = kxsms({"diff", "-f", "a.kxa", "/tree/sub/deeper"});
    EXPECT_EQ(deeper.status, 0) << context(deeper);
    // Only here: new. Neither here nor in the archive: a mistake.
    EXPECT_EQ(kxsms({"diff", "-f", "a.kxa", "/tree/new.txt"}).out, "new /tree/new.txt\n");
    const Result nowhere = kxsms({"diff", "-f", "a.kxa", "/tree/nowhere", "/tree/a.txt"});
    EXPECT_EQ(nowhere.status, 2) << context(nowhere);
    EXPECT_NE(nowhere.err.find("kxsms: /tree/nowhere: neither in a.kxa nor here"), std::string::npos)
        << context(nowhere);
}

TEST_F(KxsmsProgram, DiffOfAChainTakesUnchangedDataFromEarlierArchives)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "full.kxa"}).status, 0);
    writeFile(data_ / "tree/a.txt", "alpha, second\n");
    const Result inc = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "inc.kxa"});
    ASSERT_EQ(inc.status, 0) << context(inc);
    const Result same = kxsms({"diff", "-f", "full.kxa", "-f", "inc.kxa"});
    EXPECT_EQ(same.status, 0) << context(same);
    EXPECT_EQ(same.out, "");
    // The full archive alone still holds the first a.txt.
    const Result older = kxsms({"diff", "-f", "full.kxa", "/tree/a.txt"});
    EXPECT_EQ(older.status, 1) << context(older);

    // The incremental alone knows of what it lists as unchanged only what the scan reported.
    const Result alone = kxsms({"diff", "-f", "inc.kxa"});
    EXPECT_EQ(alone.status, 0) << context(alone);

    // c.txt: listed as unchanged by inc.kxa, its data in full.kxa.
    writeFile(data_ / "tree/sub/deeper/c.txt", "gammx\n");
    setFileTime(data_ / "tree/sub/deeper/c.txt", 1500000000);
    const Result changed = kxsms({"diff", "-f", "full.kxa", "-f", "inc.kxa"});
    EXPECT_EQ(changed.status, 1) << context(changed);
    EXPECT_EQ(changed.out, "changed /tree/sub/deeper/c.txt: content\n") << context(changed);
    EXPECT_EQ(kxsms({"diff", "-f", "inc.kxa"}).status, 0) << "the listing cannot tell the content";
    setFileTime(data_ / "tree/sub/deeper/c.txt", 1500000100);
    const Result listed = kxsms({"diff", "-f", "inc.kxa"});
    EXPECT_EQ(listed.status, 1) << context(listed);
    EXPECT_EQ(listed.out, "changed /tree/sub/deeper/c.txt: modification time\n") << context(listed);
}

TEST_F(KxsmsProgram, DiffOfAHardLinkAloneComparesItsInode)
{
    fs::create_hard_link(data_ / "tree/a.txt", data_ / "tree/sub/second");
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    // Read alone, the second name is the whole file; in the archive it is a link to the first.
    const Result alone = kxsms({"diff", "-f", "a.kxa", "/tree/sub/second"});
    EXPECT_EQ(alone.status, 0) << context(alone);
    fs::permissions(data_ / "tree/a.txt", fs::perms(0600));
    const Result mode = kxsms({"diff", "-f", "a.kxa", "/tree/sub/second"});
    EXPECT_EQ(mode.out, "changed /tree/sub/second: mode\n") << context(mode);
    const Result all = kxsms({"diff", "-f", "a.kxa"});
    EXPECT_EQ(all.out, "changed /tree/a.txt: mode\nchanged /tree/sub/second: mode\n") << context(all);
}

TEST_F(KxsmsProgram, DiffThatCannotCompareExitsTwo)
{
    const Result none = kxsms({"diff", "-f", "absent.kxa"});
    EXPECT_EQ(none.status, 2) << context(none);
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "b.kxa"}).status, 0);
    const Result notAChain = kxsms({"diff", "-f", "b.kxa", "-f", "a.kxa"});
    EXPECT_EQ(notAChain.status, 2) << context(notAChain);
    // A data set that cannot be read is trouble, not a difference.
    const Result faulty =
        sh("SMSEMU_FAULTS='NWSMTSOpenDataSetForBackup@*=0xFFFDFFF5' " + kxsmsLine({"diff", "-f", "a.kxa"}));
    EXPECT_EQ(faulty.status, 2) << context(faulty);
    EXPECT_NE(faulty.err.find("kxsms: cannot read /tree/"), std::string::npos) << context(faulty);
    EXPECT_EQ(faulty.err.find(" 0 failed"), std::string::npos) << "the summary counts them\n" << context(faulty);
}

} // namespace
