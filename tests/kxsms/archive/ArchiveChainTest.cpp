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
