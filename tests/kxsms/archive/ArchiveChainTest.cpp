// Which archives given together are one chain, and what is said when they
// are not.
#include <gtest/gtest.h>

#include <functional>

#include "archive/ArchiveChain.h"

namespace {

using kxsms::ChainLink;
namespace format = kxsms::format;

ChainLink link(const std::string &label, uint64_t id, int64_t started, uint32_t flags = 0)
{
    ChainLink made;
    made.label = label;
    made.headerIntact = true;
    made.recordIntact = true;
    made.header.version = format::c_Version;
    made.header.tsaType = 1;
    made.header.flags = flags;
    made.header.archiveId = id;
    made.header.created = started / 1000000000;
    made.record.paths = {"/srv", "/etc"};
    made.record.startedNanoseconds = started;
    return made;
}

// A full backup and two incrementals, each started a little later.
std::vector<ChainLink> goodChain()
{
    return {link("full", 1, 1700000000000000000), link("inc1", 2, 1700000000000000100, format::c_HeaderIncremental),
            link("inc2", 3, 1700000000000000200, format::c_HeaderIncremental)};
}

struct Broken {
    const char *name;
    std::function<void(std::vector<ChainLink> &)> change;
    const char *message; // empty: still one chain
};

class ChainCheck : public ::testing::TestWithParam<Broken> {};

TEST_P(ChainCheck, TellsWhyArchivesAreNotOneChain)
{
    std::vector<ChainLink> links = goodChain();
    GetParam().change(links);
    const std::optional<std::string> why = kxsms::chainRefusal(links);
    if (std::string(GetParam().message).empty()) {
        EXPECT_FALSE(why) << *why;
    } else {
        ASSERT_TRUE(why);
        EXPECT_NE(why->find(GetParam().message), std::string::npos) << *why;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChainCheck,
    ::testing::Values(
        Broken{"Whole", [](auto &) {}, ""},
        Broken{"PathsInAnotherOrder",
               [](auto &l) {
                   l[2].record.paths = {"/etc", "/srv"};
               },
               ""},
        Broken{"OneArchiveOfAnyKind",
               [](auto &l) {
                   l.resize(1);
                   l[0].header.version = 1;
                   l[0].recordIntact = false;
               },
               ""},
        Broken{"SameSecondLaterNanosecond", [](auto &l) { l[1].header.created = l[0].header.created; }, ""},
        Broken{"FirstFormat", [](auto &l) { l[0].header.version = 1; },
               "full: archive format version 1 does not list what a backup passed over"},
        Broken{"HeaderDamaged", [](auto &l) { l[1].headerIntact = false; }, "inc1: its header is damaged"},
        Broken{"RecordDamaged", [](auto &l) { l[2].recordIntact = false; }, "inc2: its backup record is damaged"},
        Broken{"Since", [](auto &l) { l[1].header.flags |= format::c_HeaderPartial; },
               "inc1: a backup with --since lists only what it saved"},
        Broken{"OtherTsa", [](auto &l) { l[2].header.tsaType = 0; },
               "inc2 holds data of the directory TSA, full of the file-system TSA"},
        Broken{"OtherPaths", [](auto &l) { l[1].record.paths = {"/srv"}; },
               "inc1 backs up /srv, full backs up /srv, /etc: the archives are not one chain"},
        Broken{"GivenTwice", [](auto &l) { l[2] = l[1]; }, "inc1 and inc1 are the same archive"},
        Broken{"OutOfOrder", [](auto &l) { std::swap(l[1], l[2]); }, "inc1 was started before inc2"},
        Broken{"SameStart", [](auto &l) { l[2].record.startedNanoseconds = l[1].record.startedNanoseconds; },
               "inc2 was started before inc1"}),
    [](const ::testing::TestParamInfo<Broken> &tested) { return std::string(tested.param.name); });

} // namespace

namespace {

// Links that meet: each incremental follows an archive before it; one that
// follows an archive not given is named, with that archive's id.
TEST(ChainGap, NamesTheFirstIncrementalThatFollowsAnArchiveNotInTheChain)
{
    std::vector<ChainLink> links = goodChain();
    links[1].record.followsId = 1;
    links[2].record.followsId = 2;
    EXPECT_FALSE(kxsms::chainGap(links));
    links[2].record.followsId = 1; // a chain may skip an archive that cleared nothing
    EXPECT_FALSE(kxsms::chainGap(links));
    links[2].record.followsId = 0; // nothing recorded (no state, an older kxsms)
    EXPECT_FALSE(kxsms::chainGap(links));

    links[2].record.followsId = 0xabcdef;
    links[2].record.followsStartedNanoseconds = 1700000000000000150;
    const std::optional<std::string> gap = kxsms::chainGap(links);
    ASSERT_TRUE(gap);
    EXPECT_EQ(gap->find("inc2 follows archive 0000000000abcdef made at "), 0u) << *gap;
    EXPECT_NE(gap->find(", which is not in the chain"), std::string::npos) << *gap;
    links.erase(links.begin() + 1); // the middle one left out
    links[1].record.followsId = 2;
    EXPECT_TRUE(kxsms::chainGap(links));
}

// A file's identity as read from its stream's header.
format::Identity fileIdentity()
{
    format::Identity file;
    file.kind = 1;
    file.exact = true;
    file.hasChangeTime = true;
    file.mode = 0644;
    file.uid = 1000;
    file.gid = 100;
    file.size = 13;
    file.mtimeSeconds = 1700000000;
    file.mtimeNanoseconds = 5;
    file.ctimeSeconds = 1700000001;
    file.ctimeNanoseconds = 7;
    return file;
}

// What tells one version of a data set from another, field by field; an
// archive that records no identity (before format 3) matches anything.
TEST(SameVersion, ComparesEveryFieldBothRecord)
{
    const format::Identity listed = fileIdentity();
    EXPECT_TRUE(kxsms::sameVersion(listed, listed));
    const std::vector<std::pair<const char *, std::function<void(format::Identity &)>>> changes = {
        {"kind", [](auto &i) { i.kind = 3; }},
        {"mode", [](auto &i) { i.mode = 0600; }},
        {"owner", [](auto &i) { i.uid = 0; }},
        {"group", [](auto &i) { i.gid = 0; }},
        {"size", [](auto &i) { i.size = 3; }},
        {"mtime", [](auto &i) { i.mtimeSeconds -= 1; }},
        {"mtime ns", [](auto &i) { i.mtimeNanoseconds += 1; }},
        {"ctime", [](auto &i) { i.ctimeSeconds += 1; }},
        {"ctime ns", [](auto &i) { i.ctimeNanoseconds += 1; }},
    };
    for (const auto &[what, change] : changes) {
        format::Identity saved = listed;
        change(saved);
        EXPECT_FALSE(kxsms::sameVersion(listed, saved)) << what;
    }
    format::Identity noChangeTime = listed;
    noChangeTime.hasChangeTime = false;
    noChangeTime.ctimeSeconds = 0;
    EXPECT_TRUE(kxsms::sameVersion(listed, noChangeTime)) << "a change time only one side has";
    EXPECT_TRUE(kxsms::sameVersion(listed, format::Identity{})) << "an archive of format 2";
    EXPECT_TRUE(kxsms::sameVersion(format::Identity{}, listed));
}

// A name of an inode with several names: a hard link (no size) where the
// backup had saved the inode under another name, a file where it had not.
TEST(SameVersion, AFileAndAHardLinkToItAreOneVersionWhenTheInodeAgrees)
{
    const format::Identity file = fileIdentity();
    format::Identity link = file;
    link.kind = 4;
    link.size = 0;
    EXPECT_TRUE(kxsms::sameVersion(file, link));
    EXPECT_TRUE(kxsms::sameVersion(link, file));
    const std::vector<std::pair<const char *, std::function<void(format::Identity &)>>> changes = {
        {"mode", [](auto &i) { i.mode = 0600; }},
        {"mtime", [](auto &i) { i.mtimeSeconds += 1; }},
        {"ctime", [](auto &i) { i.ctimeNanoseconds += 1; }},
        {"a directory", [](auto &i) { i.kind = 2; }},
    };
    for (const auto &[what, change] : changes) {
        format::Identity other = link;
        change(other);
        EXPECT_FALSE(kxsms::sameVersion(file, other)) << what;
    }
    format::Identity longer = file;
    longer.size += 1;
    EXPECT_FALSE(kxsms::sameVersion(file, longer)) << "two files compare their sizes";
}

} // namespace
