// The internal interface of a Target Service Agent. The requester (Requester.cpp)
// is written once against it; each TSA type (file system, directory, GroupWise)
// implements it. A TSA object is built from its configuration and shared by the
// connections made to it.
#pragma once

#include "requester/Config.h"
#include "SMSAPI.h"
#include "requester/ScanRecord.h"

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

struct Connection;

// The two separators a TSA reports for its name spaces.
struct Separators {
    const char *first;
    const char *second;
};

// What a scan begins with. The pointers are the caller's and valid only during
// the begin call: a scan copies what it keeps.
struct ScanRequest {
    const NWSM_DATA_SET_NAME_LIST *resourceName = nullptr;
    NWSM_SCAN_CONTROL control{}; // the caller's, or defaultScanControl() when none was given
    const NWSM_SELECTION_LIST *selectionList = nullptr;
};

// The scan control used when a scan begin passes none: the whole subtree, no
// time ranges, names in the TSA's own name space.
NWSM_SCAN_CONTROL defaultScanControl();

// The name space of the names a scan returns: 256 + base for UTF-8 when the
// scan control asks for it (returnNameSpaceType -6), else the base type.
UINT32 returnedNameSpace(const NWSM_SCAN_CONTROL &control, UINT32 base);

// One scan, named by its sequence number. It stands on a data set from its
// begin to its end; its record describes that data set.
class Scan {
public:
    virtual ~Scan() = default;
    // Moves to the next data set and describes it in the record;
    // NWSMTS_NO_MORE_DATA_SETS at the end.
    virtual CCODE next() = 0;
    ScanRecord &record() { return record_; }

protected:
    ScanRecord record_;
};

// A data set opened for backup or restore, named by its handle. It must not
// refer to the scan it was opened from: the scan may end first.
class DataSet {
public:
    virtual ~DataSet() = default;
    // Fills `buffer` with up to `size` bytes of the backup stream; a short or
    // empty read marks the end.
    virtual CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead);
    // Takes the next block of a restore stream.
    virtual CCODE write(const UINT8 *buffer, UINT32 size);
    virtual CCODE setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime);
    // Finishes the data set (a restore is committed here); it is released
    // whatever this returns.
    virtual CCODE close();
};

class Tsa {
public:
    explicit Tsa(TsaConfig config) : config_(std::move(config)) {}
    Tsa(const Tsa &) = delete;
    Tsa &operator=(const Tsa &) = delete;
    virtual ~Tsa() = default;

    const TsaConfig &config() const { return config_; }
    const std::string &name() const { return config_.name; }
    TsaKind kind() const { return config_.kind; }

    // ---- Target services, resources, names
    virtual std::vector<std::string> targetServices() const { return {config_.targetService}; }
    // Resource names in the order the TSA lists them; the first is its root.
    virtual std::vector<std::string> resourceNames() const = 0;
    // The name spaces of a resource (matched ignoring case), in the order they
    // are reported; an empty span when it has none. Non-zero: the code of the
    // name-space scan (NWSMTS_RESOURCE_NAME_NOT_FOUND, ...).
    virtual CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const = 0;
    virtual Separators separators() const = 0;
    // Whether NWSMTSGetNameSpaceTypeInfo answers for a type: 0-4, 256-260,
    // and any type number a resource of this TSA is configured with (also
    // plus 256, its UTF-8 form).
    bool describesNameSpace(UINT32 type) const;
    // Split a data-set name into parent and child, and join them again, by the
    // TSA's own naming rules (whatever name-space type the caller passes).
    virtual CCODE separateName(std::string_view name, std::string &parent, std::string &child) const = 0;
    virtual CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const = 0;
    // Whether the TSA has the caching-mode option (NWSM_OPTION_CACHING_MODE).
    virtual bool hasCachingMode() const { return false; }

    // ---- Login to the target service: 0, or NWSMTS_LOGIN_DENIED (or the
    // TSA's code of what kept it from checking). By default the users of the
    // configuration, or the process's own user (peer authentication).
    virtual CCODE login(Connection &connection, std::string_view user, std::string_view password);

    // ---- For TSAs whose resources are those of the configuration.
    // Their names, in the configured order.
    std::vector<std::string> configuredResourceNames() const;
    // The name spaces of a configured resource (matched ignoring case), or
    // NWSMTS_RESOURCE_NAME_NOT_FOUND.
    CCODE configuredNameSpaces(std::string_view resource, std::span<const UINT32> &types) const;

    // ---- Data operations; each answers NWSMTS_UNSUPPORTED_FUNCTION unless a
    // TSA serves it. On success the new scan stands on its first data set.
    virtual CCODE beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan);
    virtual CCODE openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet);
    // `parent`: the data set of the parent handle, null for none.
    virtual CCODE openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                                 UINT32 openMode, std::unique_ptr<DataSet> &dataSet);
    virtual CCODE deleteDataSet(Connection &connection, Scan &at);
    // The connection logs out of the target service (or is released); its
    // scans and data sets are released right after.
    virtual void loggingOut(Connection &connection);

private:
    TsaConfig config_;
};

// The name of the user the process runs as (effective user), or "".
std::string processUserName();

// The requester's one way to the TSA types (TsaFactory.cpp, the only file
// outside a TSA's folder that includes it).

// Builds the TSA of a configuration entry.
std::unique_ptr<Tsa> createTsa(const TsaConfig &config);
// Whether the data store of a configuration entry can be served (the JSON
// store of a directory TSA: readable, well formed, of that tree; its LDAP
// server instead: the URI and the base parse); the other types keep no such
// store. False, with the problem, when it cannot.
bool checkStoreOf(const TsaConfig &config, std::string &problem);
// The archive state store of a TSA of that name when the configuration names
// none.
std::filesystem::path defaultArchiveStateFile(const std::string &tsaName);

} // namespace smsemu
