// Archives in memory for the archive tests: streams over byte vectors, a
// writer of sample members and a reader that collects what it finds.
#ifndef KXSMS_TESTS_KXSMS_ARCHIVESUPPORT_H
#define KXSMS_TESTS_KXSMS_ARCHIVESUPPORT_H

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "io/Streams.h"

namespace archive_test {

using Bytes = std::vector<unsigned char>;

class MemoryOutput : public kxsms::OutputStream {
public:
    void write(const void *data, size_t size) override
    {
        const auto *bytes = static_cast<const unsigned char *>(data);
        out.insert(out.end(), bytes, bytes + size);
    }
    void finish() override { finished = true; }
    Bytes out;
    bool finished = false;
};

// Hands out the bytes in pieces of at most step bytes, as a pipe may.
class MemoryInput : public kxsms::InputStream {
public:
    explicit MemoryInput(const Bytes &bytes, size_t step = SIZE_MAX) : bytes_(bytes), step_(step) {}
    size_t read(void *data, size_t size) override
    {
        const size_t n = std::min({size, bytes_.size() - position_, step_});
        if (n == 0)
            return 0;
        memcpy(data, bytes_.data() + position_, n);
        position_ += n;
        return n;
    }

private:
    const Bytes &bytes_;
    size_t step_;
    size_t position_ = 0;
};

struct Sample {
    std::string name;
    Bytes data;
    bool parent = false;
    bool complete = true;
};

// Data that does not compress to nothing and differs per seed.
inline Bytes pattern(size_t size, unsigned seed)
{
    Bytes data(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<unsigned char>((x >> 16) % 40 + 'a'); // letters: compressible but varied
    }
    return data;
}

// Where each member lies in an uncompressed archive.
struct Extent {
    size_t begin;
    size_t end;
};

inline kxsms::format::MemberDescriptor descriptorOf(const Sample &sample, unsigned index)
{
    kxsms::format::MemberDescriptor member;
    member.name = sample.name;
    member.tsaType = 1;
    member.nameSpace = 2 + index;
    member.parent = sample.parent;
    member.archive = index % 2 == 0;
    member.created = 1700000000 + index;
    member.modified = 1700000100 + index;
    member.accessed = 1700000200 + index;
    member.size = sample.data.size();
    return member;
}

// Writes the samples as an archive; blocks of blockSize bytes.
inline void writeArchive(kxsms::OutputStream &out, const std::vector<Sample> &samples,
                         std::vector<Extent> *extents = nullptr, const MemoryOutput *measure = nullptr,
                         size_t blockSize = 65536, bool stopped = false)
{
    kxsms::ArchiveWriter writer(out, 1, 0x1234567890ABCDEFull, 1700000000);
    unsigned index = 0;
    for (const Sample &sample : samples) {
        kxsms::format::MemberDescriptor member = descriptorOf(sample, index++);
        const size_t begin = measure ? measure->out.size() : 0;
        writer.beginMember(member);
        for (size_t at = 0; at < sample.data.size(); at += blockSize)
            writer.writeBlock(sample.data.data() + at, std::min(blockSize, sample.data.size() - at));
        writer.endMember(sample.complete);
        if (extents && measure)
            extents->push_back({begin, measure->out.size()});
    }
    writer.finish(stopped);
}

inline Bytes archiveOf(const std::vector<Sample> &samples, std::vector<Extent> *extents = nullptr)
{
    MemoryOutput out;
    writeArchive(out, samples, extents, &out);
    return out.out;
}

struct Found {
    kxsms::format::MemberDescriptor member;
    Bytes data;
    kxsms::ArchiveReader::MemberState state;
};

struct ReadResult {
    bool opened = false;
    std::vector<Found> members;
    std::vector<kxsms::ArchiveReader::Problem> problems;
    std::vector<std::string> streamDamage;
    bool endSeen = false;
    uint64_t problemCount = 0;

    const Found *find(const std::string &name) const
    {
        for (const Found &found : members)
            if (found.member.name == name)
                return &found;
        return nullptr;
    }
    bool mentions(const std::string &text) const
    {
        for (const auto &problem : problems)
            if (problem.what.find(text) != std::string::npos)
                return true;
        return false;
    }
};

inline ReadResult readArchive(kxsms::InputStream &raw, bool verify = true)
{
    ReadResult result;
    kxsms::ArchiveInput input(raw, [&](const std::string &what) { result.streamDamage.push_back(what); });
    kxsms::ArchiveReader reader(
        input, [&](const kxsms::ArchiveReader::Problem &problem) { result.problems.push_back(problem); }, verify);
    result.opened = reader.open();
    if (result.opened) {
        kxsms::format::MemberDescriptor member;
        while (reader.nextMember(member)) {
            Found found{member, {}, kxsms::ArchiveReader::MemberState::Intact};
            const unsigned char *data = nullptr;
            size_t size = 0;
            while (reader.readBlock(data, size)) {
                EXPECT_LE(size, 65536u);
                found.data.insert(found.data.end(), data, data + size);
            }
            found.state = reader.memberState();
            result.members.push_back(std::move(found));
        }
    }
    result.endSeen = reader.endSeen();
    result.problemCount = reader.problems();
    return result;
}

inline ReadResult readBytes(const Bytes &bytes, size_t step = SIZE_MAX, bool verify = true)
{
    MemoryInput input(bytes, step);
    return readArchive(input, verify);
}

} // namespace archive_test

#endif
