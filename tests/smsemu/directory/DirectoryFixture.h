// A directory TSA over a small organisation, driven through the C API:
// scans, backups, restores and deletes by name.
#pragma once

#include "SmsEmuFixture.h"

#include <optional>

namespace smsemutest {

// The organisation most tests use: leaf first in each name, one escaped '.'.
inline const char *kAcmeStore = R"({"objects": [
  {"dn": ".OU=Sales.O=Acme.[Root]", "class": "OrganizationalUnit"},
  {"dn": ".O=Acme.[Root]", "class": "Organization", "attributes": {"description": ["The Acme company"]}},
  {"dn": ".CN=Bob.OU=Sales.O=Acme.[Root]", "class": "User", "attributes": {"mail": "bob@acme.example"}},
  {"dn": ".CN=Admin.O=Acme.[Root]", "class": "User",
   "attributes": {"mail": ["admin@acme.example"], "telephoneNumber": ["1", "2"]}},
  {"dn": ".CN=a\\.b.O=Acme.[Root]", "class": "Printer"},
  {"dn": ".OU=Empty.O=Acme.[Root]", "class": "OrganizationalUnit"}
]})";

struct DirectoryFound {
    std::string name;
    UINT32 nameSpace = 0;
    bool parent = false;
    UINT32 attributes = 0;
    UINT32 size = 0;
    UINT32 blocks = 0;
    UINT32 times = 0; // the three times OR-ed: 0 when none is set
};

class Directory : public SmsEmu {
protected:
    // A host "srv1" with one directory TSA over tree.json (`store`).
    void useDirectory(const std::string &store = kAcmeStore, const std::string &rootForm = "[Root]")
    {
        write("tree.json", store);
        useConfig(R"([host]
name = "srv1"
[[tsa]]
type = "Directory"
target_service = "ACME_TREE"
root_form = ")" + rootForm +
                  R"("
store = "tree.json"
users = { admin = "secret" }
)");
        connection = loggedIn("srv1.Directory", "ACME_TREE");
    }

    std::string storeText() const
    {
        std::ifstream in(dir_ / "tree.json", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static NWSM_DATA_SET_NAME_LIST *nameList(const std::string &name, UINT32 type = 0)
    {
        NWSM_DATA_SET_NAME_LIST *list = nullptr;
        EXPECT_EQ(NWSMPutOneName(&list, type, 0, 0, nullptr, nullptr, const_cast<char *>(name.c_str())), 0u);
        return list;
    }

    static NWSM_SCAN_CONTROL control(bool oneLevel, INT32 returnNameSpace = -1)
    {
        NWSM_SCAN_CONTROL c{};
        c.bufferSize = 64;
        c.scanControlSize = 61;
        c.scanType = oneLevel ? NWSM_SCAN_TYPE_ONE_LEVEL : 0;
        c.scanChildNameSpaceType = -1;
        c.returnNameSpaceType = returnNameSpace;
        return c;
    }

    static DirectoryFound describe(NWSM_SCAN_INFORMATION *info, NWSM_DATA_SET_NAME_LIST *names)
    {
        NWSM_DATA_SET_NAME name{};
        EXPECT_EQ(NWSMGetOneName(names, &name), 0u);
        return DirectoryFound{name.name,
                              name.nameSpaceType,
                              info->parentFlag != 0,
                              info->attributes,
                              info->primaryDataStreamSize,
                              info->totalStreamsDataSize,
                              info->accessDateAndTime | info->createDateAndTime | info->modifiedDateAndTime};
    }

    // Begins a scan of `name`; the caller ends it.
    CCODE begin(const std::string &name, bool oneLevel, UINT32 &sequence, NWSM_SCAN_INFORMATION *&info,
                NWSM_DATA_SET_NAME_LIST *&names, NWSM_SELECTION_LIST *selection = nullptr, INT32 returnNameSpace = -1)
    {
        NWSM_DATA_SET_NAME_LIST *start = nameList(name, name == "ACME_TREE" || name == "Schema" ? 0xFFFFFFFEu : 0u);
        NWSM_SCAN_CONTROL c = control(oneLevel, returnNameSpace);
        CCODE rc = NWSMTSScanDataSetBegin(connection, start, &c, selection, &sequence, &info, &names);
        std::free(start);
        return rc;
    }

    // A whole scan; `code` gets the begin's failure (the list is then empty).
    std::vector<DirectoryFound> scan(const std::string &name, bool oneLevel = false,
                                     NWSM_SELECTION_LIST *selection = nullptr, CCODE *code = nullptr,
                                     INT32 returnNameSpace = -1)
    {
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        std::vector<DirectoryFound> found;
        CCODE rc = begin(name, oneLevel, sequence, info, names, selection, returnNameSpace);
        if (code != nullptr)
            *code = rc;
        else
            EXPECT_EQ(rc, 0u) << name;
        for (int guard = 0; rc == 0 && guard < 10000; ++guard) {
            found.push_back(describe(info, names));
            rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
        }
        if (!found.empty()) {
            EXPECT_EQ(rc, NWSMTS_NO_MORE_DATA_SETS);
        }
        EXPECT_EQ(smsemuOpenScans(), 0);
        return found;
    }

    std::vector<std::string> scanNames(const std::string &name, bool oneLevel = false,
                                       NWSM_SELECTION_LIST *selection = nullptr)
    {
        std::vector<std::string> out;
        for (const DirectoryFound &f : scan(name, oneLevel, selection))
            out.push_back(f.name);
        return out;
    }

    // Backs up the data set a scan of `name` stands on first, reading in
    // blocks of `block` bytes; `clearArchive` sets its archive status after.
    CCODE backup(const std::string &name, std::string &stream, UINT32 block = 65536, bool clearArchive = false)
    {
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        if (CCODE rc = begin(name, true, sequence, info, names))
            return rc;
        UINT32 handle = 0;
        CCODE rc = NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle);
        stream.clear();
        std::vector<UINT8> buffer(block);
        while (rc == 0) {
            UINT32 got = 0;
            rc = NWSMTSReadDataSet(connection, handle, block, &got, buffer.data());
            EXPECT_LE(got, block);
            stream.append(reinterpret_cast<char *>(buffer.data()), got);
            if (got < block)
                break;
        }
        if (rc == 0 && clearArchive)
            rc = NWSMTSSetArchiveStatus(connection, handle, 1, 0);
        if (handle != 0) {
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
        }
        EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
        return rc;
    }

    // Restores a stream under `name` (or the stream's own name), writing in
    // blocks of `block` bytes; the first failure is returned.
    CCODE restore(const std::string &stream, std::optional<std::string> name = std::nullopt,
                  UINT32 mode = NWSM_OVERWRITE_DATA_SET, std::size_t block = 65536)
    {
        NWSM_DATA_SET_NAME_LIST *list = name ? nameList(*name) : nullptr;
        UINT32 handle = 0;
        CCODE rc = NWSMTSOpenDataSetForRestore(connection, 0, list, mode, &handle);
        std::free(list);
        if (rc != 0)
            return rc;
        CCODE first = 0;
        for (std::size_t at = 0; at < stream.size() && first == 0; at += block) {
            std::string part = stream.substr(at, block);
            first = NWSMTSWriteDataSet(connection, handle, static_cast<UINT32>(part.size()),
                                       reinterpret_cast<UINT8 *>(part.data()));
        }
        CCODE closed = NWSMTSCloseDataSet(connection, &handle);
        EXPECT_EQ(smsemuOpenDataSets(), 0);
        if (first != 0) {
            EXPECT_EQ(closed, first) << "a failed write is answered again at the close";
        }
        return first != 0 ? first : closed;
    }

    // Deletes the data set a scan of `name` stands on first.
    CCODE remove(const std::string &name)
    {
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        if (CCODE rc = begin(name, true, sequence, info, names))
            return rc;
        CCODE rc = NWSMTSDeleteDataSet(connection, sequence);
        EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
        return rc;
    }

    UINT32 connection = 0;
};

} // namespace smsemutest
