#include "requester/Registry.h"

#include "core/NameMatch.h"
#include "core/SmsBuffers.h"

#include <cstring>

namespace smsemu {
namespace {

// Connections one process may hold at once.
constexpr std::size_t kConnectionMax = 4096;

// Callers that read the host name into a 48-byte buffer pass at most 47
// characters of it.
constexpr std::size_t kShortHostName = 47;

// The connection this thread used last, as of a generation of the registry.
// Held weakly: a released connection is not kept alive by it.
struct LastUsed {
    uint64_t generation = 0;
    UINT32 handle = 0;
    std::weak_ptr<Connection> connection;
};
thread_local LastUsed t_lastUsed;

} // namespace

// The registry lives until the process ends, so that calls made while the
// process exits (a host's static destructors) still find it.
Registry &Registry::instance()
{
    static Registry *registry = new Registry;
    return *registry;
}

Registry::Registry() = default;

void Registry::ensureLoadedLocked()
{
    if (!loaded_)
        loadLocked();
}

void Registry::loadLocked()
{
    loaded_ = true;
    config_ = loadConfig();
    tsas_.clear();
    for (const TsaConfig &tsa : config_.tsas)
        tsas_.push_back(createTsa(tsa));
}

void Registry::reset()
{
    std::map<UINT32, std::shared_ptr<Connection>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(connections_);
        generation_.fetch_add(1, std::memory_order_release);
        nextHandle_ = 1;
        loadLocked();
    }
    for (auto &[handle, connection] : dropped) {
        std::lock_guard lock(connection->mutex);
        connection->released = true;
        connection->logout();
    }
}

std::string Registry::lastConfigError()
{
    std::lock_guard lock(mutex_);
    ensureLoadedLocked();
    return config_.problems.empty() ? std::string() : config_.problems.back();
}

bool Registry::isThisHost(const char *hostName) const
{
    std::string_view asked(hostName);
    if (equalsIgnoringCase(asked, config_.host))
        return true;
    return asked.size() == kShortHostName && config_.host.size() > kShortHostName &&
           equalsIgnoringCase(asked, std::string_view(config_.host).substr(0, kShortHostName));
}

CCODE Registry::listTsas(const char *hostName, NWSM_NAME_LIST *&list)
{
    std::lock_guard lock(mutex_);
    ensureLoadedLocked();
    if (!isThisHost(hostName))
        return NWSMDR_NO_SUCH_TSA;
    if (tsas_.empty())
        return NWSMDR_TSA_NOT_LOADED;
    NameListBuilder names;
    for (const auto &tsa : tsas_)
        if (!names.add(tsa->name()))
            return NWSMDR_OUT_OF_MEMORY;
    list = names.take();
    return 0;
}

CCODE Registry::connect(const char *tsaName, UINT32 &handle)
{
    std::lock_guard lock(mutex_);
    ensureLoadedLocked();
    for (const auto &tsa : tsas_) {
        if (!equalsIgnoringCase(tsa->name(), tsaName))
            continue;
        if (connections_.size() >= kConnectionMax)
            return NWSMDR_NO_MORE_CONNECTIONS;
        UINT32 next = Connection::allocate(nextHandle_, connections_);
        if (next == 0)
            return NWSMDR_NO_MORE_CONNECTIONS;
        connections_.emplace(next, std::make_shared<Connection>(next, tsa));
        generation_.fetch_add(1, std::memory_order_release);
        handle = next;
        return 0;
    }
    return NWSMDR_NO_SUCH_TSA;
}

CCODE Registry::release(UINT32 handle)
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        auto found = connections_.find(handle);
        if (found == connections_.end())
            return NWSMDR_INVALID_CONNECTION;
        connection = std::move(found->second);
        connections_.erase(found);
        generation_.fetch_add(1, std::memory_order_release);
    }
    std::lock_guard lock(connection->mutex);
    connection->released = true;
    connection->logout();
    return 0;
}

CCODE Registry::open(UINT32 handle, bool needLogin, LockedConnection &locked)
{
    LastUsed &last = t_lastUsed;
    if (last.handle == handle && last.generation == generation_.load(std::memory_order_acquire))
        locked.connection_ = last.connection.lock();
    if (locked.connection_ == nullptr) {
        std::lock_guard lock(mutex_);
        auto found = connections_.find(handle);
        if (found == connections_.end())
            return NWSMTS_INVALID_CONNECTION_HANDLE;
        locked.connection_ = found->second;
        last.generation = generation_.load(std::memory_order_relaxed);
        last.handle = handle;
        last.connection = found->second;
    }
    // A connection released since it was found says so here.
    locked.lock_ = std::unique_lock(locked.connection_->mutex);
    if (locked.connection_->released)
        return NWSMTS_INVALID_CONNECTION_HANDLE;
    if (needLogin && !locked.connection_->loggedIn)
        return NWSMTS_NO_CONNECTION;
    return 0;
}

std::vector<std::shared_ptr<Connection>> Registry::snapshot()
{
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Connection>> all;
    for (const auto &[handle, connection] : connections_)
        all.push_back(connection);
    return all;
}

int Registry::openConnections()
{
    return static_cast<int>(snapshot().size());
}

int Registry::loggedInConnections()
{
    int n = 0;
    for (const auto &connection : snapshot()) {
        std::lock_guard lock(connection->mutex);
        n += connection->loggedIn ? 1 : 0;
    }
    return n;
}

int Registry::openScans()
{
    int n = 0;
    for (const auto &connection : snapshot()) {
        std::lock_guard lock(connection->mutex);
        n += static_cast<int>(connection->scans.size());
    }
    return n;
}

int Registry::openDataSets()
{
    int n = 0;
    for (const auto &connection : snapshot()) {
        std::lock_guard lock(connection->mutex);
        n += static_cast<int>(connection->dataSets.size());
    }
    return n;
}

} // namespace smsemu
