#include "filesystem/StoredArchiveFlags.h"

#include "filesystem/HostLog.h"

#include <algorithm>
#include <cstdio>
#include <functional>


namespace smsemu {
namespace {

// A resource is known to its store by its name and its directory: two
// configurations that give one name to different directories do not share
// records.
std::vector<std::string> resourceKeys(const TsaConfig &config)
{
    std::vector<std::string> keys;
    for (const ResourceConfig &resource : config.resources)
        keys.push_back(resource.name + '\n' + resource.path.lexically_normal().string());
    return keys;
}

std::filesystem::path storeFile(const TsaConfig &config)
{
    return config.archiveState.empty() ? defaultArchiveStatePath(config.name) : config.archiveState;
}

std::int64_t nowNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Collects the keys of a whole-resource scan, then drops the records of
// files it did not meet.
class StoreSweep : public ArchiveFlags::Sweep {
public:
    StoreSweep(ArchiveStateStore &store, std::size_t resource, std::function<void(const std::string &)> report)
        : store_(store), resource_(resource), began_(nowNanoseconds()), report_(std::move(report))
    {
    }
    void met(const FsMeta &meta, std::string_view name) override
    {
        live_.push_back(ArchiveStateStore::keyHash(meta.device, meta.inode, ArchiveStateStore::nameHash(name)));
    }
    void end(bool complete) override
    {
        if (!complete)
            return;
        std::sort(live_.begin(), live_.end());
        std::string error;
        if (store_.prune(resource_, began_, live_, error) < 0)
            report_(error);
    }

private:
    ArchiveStateStore &store_;
    std::size_t resource_;
    std::int64_t began_;
    std::function<void(const std::string &)> report_;
    std::vector<std::uint64_t> live_;
};

} // namespace

StoredArchiveFlags::StoredArchiveFlags(const TsaConfig &config) : store_(storeFile(config), resourceKeys(config)) {}

bool StoredArchiveFlags::isSet(std::size_t resource, int, const char *, const FsMeta &meta, std::string_view name)
{
    return isSet(resource, meta, ArchiveStateStore::nameHash(name));
}

bool StoredArchiveFlags::isSet(std::size_t resource, const FsMeta &meta, std::uint64_t name)
{
    const std::optional<timespec> recorded = store_.recorded(resource, meta.device, meta.inode, name);
    return !recorded || !sameTime(*recorded, meta.ctime);
}

CCODE StoredArchiveFlags::clear(UINT32 connection, std::size_t resource, int, const FsMeta &backedUp,
                                std::string_view name)
{
    const std::uint64_t hash = ArchiveStateStore::nameHash(name);
    // A clear the store already holds is not written again, unless the
    // batch may undo it first (a set of the same data set).
    {
        std::lock_guard lock(mutex_);
        auto batch = pending_.find(connection);
        const bool mayUndo = batch != pending_.end() && batch->second.removals;
        if (!mayUndo && !isSet(resource, backedUp, hash))
            return 0;
    }
    return add(connection, ArchiveRecord{resource, backedUp.device, backedUp.inode, hash, backedUp.ctime, false});
}

CCODE StoredArchiveFlags::set(UINT32 connection, std::size_t resource, int, const FsMeta &backedUp,
                              std::string_view name)
{
    return add(connection, ArchiveRecord{resource, backedUp.device, backedUp.inode, ArchiveStateStore::nameHash(name),
                                         backedUp.ctime, true});
}

CCODE StoredArchiveFlags::add(UINT32 connection, ArchiveRecord record)
{
    std::string error;
    if (!store_.prepareWriting(error)) {
        report(error + "; archive flags stay set");
        std::lock_guard lock(mutex_);
        Batch &batch = pending_[connection];
        if (batch.problem.empty())
            batch.problem = std::move(error);
        return NWSMTS_SET_FILE_INFO_ERR;
    }
    std::lock_guard lock(mutex_);
    Batch &batch = pending_[connection];
    batch.records.push_back(record);
    batch.keys.insert(ArchiveStateStore::keyHash(record.device, record.inode, record.name) ^ record.resource);
    batch.removals = batch.removals || record.remove;
    return 0;
}

bool StoredArchiveFlags::holds(UINT32 connection, std::size_t resource, const FsMeta &meta, std::string_view name)
{
    const std::uint64_t key =
        ArchiveStateStore::keyHash(meta.device, meta.inode, ArchiveStateStore::nameHash(name)) ^ resource;
    std::lock_guard lock(mutex_);
    auto batch = pending_.find(connection);
    return batch != pending_.end() && batch->second.keys.count(key) != 0;
}

void StoredArchiveFlags::commit(UINT32 connection)
{
    store_.refresh();
    Batch batch;
    {
        std::lock_guard lock(mutex_);
        auto found = pending_.find(connection);
        if (found == pending_.end())
            return;
        batch = std::move(found->second);
        pending_.erase(found);
    }
    write(std::move(batch.records), std::move(batch.problem));
}

void StoredArchiveFlags::write(std::vector<ArchiveRecord> batch, std::string problem)
{
    if (problem.empty() && batch.empty())
        return;
    if (problem.empty() && store_.commit(batch, problem))
        return;
    report(problem + "; archive flags stay set");
    tellHost(store_.file().string(), problem);
}

std::unique_ptr<ArchiveFlags::Sweep> StoredArchiveFlags::sweep(std::size_t resource)
{
    if (!store_.exists())
        return nullptr;
    return std::make_unique<StoreSweep>(store_, resource, [this](const std::string &problem) { report(problem); });
}

void StoredArchiveFlags::report(const std::string &problem)
{
    {
        std::lock_guard lock(mutex_);
        if (problem == reported_)
            return;
        reported_ = problem;
    }
    std::fprintf(stderr, "smsemu: %s\n", problem.c_str());
}

} // namespace smsemu
