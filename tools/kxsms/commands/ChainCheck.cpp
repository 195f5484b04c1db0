// Opening a chain, and the check that each data set it lists is held in the
// version listed.
#include "commands/ChainCheck.h"

#include <algorithm>

namespace kxsms {

bool openChain(const std::vector<std::string> &paths, Archives &archives, Progress &progress, bool verifyData)
{
    if (std::count(paths.begin(), paths.end(), "-") > 1) {
        progress.message("standard input (-) can be given once");
        return false;
    }
    for (const std::string &path : paths)
        if (!archives.emplace_back(std::make_unique<ArchiveSource>(path, progress, verifyData))->open())
            return false;
    return true;
}

std::vector<ChainLink> chainLinks(const Archives &archives)
{
    std::vector<ChainLink> links;
    links.reserve(archives.size());
    for (const auto &archive : archives)
        links.push_back(ChainLink{archive->label(), archive->reader().header(), archive->reader().headerIntact(),
                                  archive->reader().backupRecordIntact(), archive->reader().backupRecord()});
    return links;
}

void ChainCheck::listNewest(const format::MemberDescriptor &member)
{
    switch (member.listing) {
    case format::Listing::Saved:
        listing_[member.name] = Wanted{};
        break;
    case format::Listing::Unchanged:
        listing_[member.name] = Wanted{Want::Unchanged, member.identity};
        break;
    default:
        listing_[member.name] = Wanted{Want::NotSaved, member.identity};
        break;
    }
}

ChainCheck::Copy ChainCheck::offer(const format::MemberDescriptor &member)
{
    const auto found = listing_.find(member.name);
    if (found == listing_.end())
        return Copy::Unlisted;
    Wanted &wanted = found->second;
    if (wanted.want == Want::Done || member.listing != format::Listing::Saved)
        return Copy::Pass;
    // Only the version the newest archive lists: a copy of another (an
    // archive of the chain left out, another schedule's clearing run
    // between) never stands in for it.
    if (wanted.want == Want::Unchanged && !sameVersion(wanted.identity, member.identity)) {
        wanted.otherVersion = true;
        return Copy::Pass;
    }
    const Copy copy = wanted.want == Want::NotSaved ? Copy::Instead : Copy::Take;
    wanted.want = Want::Done;
    return copy;
}

size_t ChainCheck::report(const std::string &newestLabel, Progress &progress, NameStyle style)
{
    std::vector<std::string> names;
    for (const auto &[name, wanted] : listing_)
        if (wanted.want != Want::Done)
            names.push_back(name);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        const Wanted &wanted = listing_[name];
        if (wanted.otherVersion)
            progress.message(printable(name, style) + ": the chain lacks the archive that saved the version " +
                             newestLabel + " lists");
        else
            progress.message("cannot restore " + printable(name, style) + ": " + newestLabel +
                             (wanted.want == Want::Unchanged ? " lists it as unchanged"
                                                             : " lists it, but its backup could not save it") +
                             ", and no archive before it holds its data");
        progress.failed();
    }
    return names.size();
}

} // namespace kxsms
