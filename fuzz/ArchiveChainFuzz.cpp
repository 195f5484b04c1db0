// The check that archives given together are one chain (a full backup, then
// incremental ones), over two to four archives the fuzzer puts together
// (ArchiveBuilder.h) and a reader opens, as a chain restore reads them. The
// check must not crash; what it accepts must be a chain (every header and
// backup record intact, format 2 or later, none partial, one TSA, the same
// paths, each started after the one before and a different archive); and
// archives made as a chain, with nothing wrong in them, must be accepted.
//
// Real chains are taken too (the seeds are chains kxsms wrote): archives
// laid one after another, each starting with the archive magic, their
// records' checksums made right again after the fuzzer changed them.
//
// Input: the number of archives, a byte whose bit 0 says they are made as a
// chain and bit 1 that the rest of the input is real archives; then each
// archive's choices, or the archives.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ArchiveBuilder.h"
#include "archive/ArchiveChain.h"
#include "archive/ArchiveReader.h"
#include "io/Streams.h"

namespace {

namespace format = kxsms::format;

std::vector<std::string> sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

// What a chain restore takes from an archive's reader.
kxsms::ChainLink linkOf(const std::vector<unsigned char> &bytes, size_t index)
{
    fuzzarchive::PieceInput raw(bytes.data(), bytes.size(), SIZE_MAX);
    kxsms::ArchiveInput input(raw, [](const std::string &) {});
    kxsms::ArchiveReader reader(input, [](const kxsms::ArchiveReader::Problem &) {});
    kxsms::ChainLink link;
    link.label = "archive " + std::to_string(index);
    if (reader.open()) {
        link.header = reader.header();
        link.headerIntact = reader.headerIntact();
        link.recordIntact = reader.backupRecordIntact();
        link.record = reader.backupRecord();
    }
    return link;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const size_t count = 2 + input.byte() % 3;
    const uint8_t how = input.byte();
    const bool asChain = (how & 1) != 0;
    const std::vector<std::string> paths = {"/src", "/etc"};
    std::vector<fuzzarchive::BuiltArchive> archives;
    std::vector<kxsms::ChainLink> links;
    const bool real = (how & 2) != 0;
    bool sound = !real;
    if (real) {
        const std::string rest = input.remaining();
        const std::string magic(format::c_ArchiveMagic, sizeof format::c_ArchiveMagic);
        for (size_t at = rest.find(magic); at != std::string::npos && links.size() < 8;) {
            const size_t next = rest.find(magic, at + magic.size());
            std::vector<unsigned char> bytes(
                rest.begin() + static_cast<std::ptrdiff_t>(at),
                next == std::string::npos ? rest.end() : rest.begin() + static_cast<std::ptrdiff_t>(next));
            fuzzarchive::repairArchive(bytes, false);
            links.push_back(linkOf(bytes, links.size()));
            at = next;
        }
    }
    for (size_t i = 0; !real && i < count; ++i) {
        const int64_t started = static_cast<int64_t>(1 + i) * 1000000000;
        archives.push_back(asChain ? fuzzarchive::buildArchive(input, &paths, started, i + 1)
                                   : fuzzarchive::buildArchive(input));
        const fuzzarchive::BuiltArchive &built = archives.back();
        links.push_back(linkOf(built.bytes, i));
        sound = sound && built.sound && built.hasRecord;
    }
    const auto refusal = kxsms::chainRefusal(links);
    if (refusal) {
        fuzzsupport::require(!refusal->empty());
    } else if (links.size() >= 2) {
        for (size_t i = 0; i < links.size(); ++i) {
            const kxsms::ChainLink &link = links[i];
            fuzzsupport::require(link.headerIntact && link.recordIntact && link.header.version >= 2 &&
                                 (link.header.flags & format::c_HeaderPartial) == 0);
            fuzzsupport::require(link.header.tsaType == links[0].header.tsaType &&
                                 sorted(link.record.paths) == sorted(links[0].record.paths));
            if (i > 0)
                fuzzsupport::require(link.record.startedNanoseconds > links[i - 1].record.startedNanoseconds &&
                                     link.header.archiveId != links[i - 1].header.archiveId);
        }
    }
    // Made as a chain with nothing wrong: one TSA, the same paths, times
    // that rise, no partial backup and archives that differ are accepted.
    if (asChain && sound) {
        bool chain = true;
        for (size_t i = 0; i < links.size(); ++i)
            chain = chain && links[i].header.tsaType == links[0].header.tsaType &&
                    (links[i].header.flags & format::c_HeaderPartial) == 0 &&
                    (i == 0 || links[i].header.archiveId != links[i - 1].header.archiveId);
        if (chain)
            fuzzsupport::require(!refusal);
    }
    return 0;
}
