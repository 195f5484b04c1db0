// Backup, restore and delete through the module on the stand-in's directory
// TSA: round trips that leave the objects as they were, the fixed restore
// options, archive clearing, and deletion rules.
#include <cstring>
#include <map>

#include <nlohmann/json.hpp>

#include "DirectoryHarness.h"
#include "KXSMSErr.h"

namespace {

class DirectoryStreams : public harness::DirectoryTsa {};
using nlohmann::json;

// The store's objects by name: class and attributes.
std::map<std::string, json> objectsOf(const std::string &store)
{
    std::map<std::string, json> out;
    const json parsed = json::parse(store);
    for (const json &o : parsed["objects"])
        out[o["dn"]] = json{o["class"], o.value("attributes", json::object())};
    return out;
}

// The open-mode and name-list arguments of the last NWSMTSOpenDataSetForRestore.
std::pair<std::string, std::string> openArguments(const std::vector<std::string> &trace)
{
    std::string line;
    for (const std::string &l : trace)
        if (l.rfind("NWSMTSOpenDataSetForRestore(", 0) == 0)
            line = l;
    // (connection, parent, list, mode, handle)
    std::vector<std::string> arguments;
    std::size_t at = line.find('(') + 1;
    for (int i = 0; i < 4 && at != std::string::npos; ++i) {
        std::size_t end = line.find(", ", at);
        arguments.push_back(line.substr(at, end - at));
        at = end == std::string::npos ? end : end + 2;
    }
    return arguments.size() == 4 ? std::make_pair(arguments[3], arguments[2]) : std::make_pair(line, line);
}

TEST_P(DirectoryStreams, BackupAndRestoreLeaveObjectsAsTheyWere)
{
    const std::string before = store();
    const std::vector<std::string> objects{".CN=Bob.OU=Sales.O=Acme.[Root]", "CN=Admin.O=Acme",
                                           ".OU=Empty.O=Acme.[Root]"};
    std::map<std::string, std::string> streams;
    for (const std::string &name : objects) {
        unsigned nameSpace = 99;
        ASSERT_EQ(backup(name, streams[name], 7, &nameSpace), 0u) << name;
        EXPECT_EQ(nameSpace, 256u) << "UTF-8 names: the name space of the name";
        EXPECT_EQ(streams[name].substr(0, 4), "KXFH");
    }
    for (const std::string &name : objects) {
        std::string path = name;
        ASSERT_EQ(object->DeleteDataSet(path.data()), 0u) << name;
    }
    EXPECT_EQ(objectsOf(store()).size(), 2u);
    // The host's options ask for a new name and no overwrite; the directory
    // TSA gets its fixed options and takes the name from the stream.
    for (const std::string &name : objects)
        ASSERT_EQ(restore(name, streams[name], true, false), 0u) << name;
    EXPECT_EQ(objectsOf(store()), objectsOf(before));
    for (const std::string &name : objects) {
        std::string again;
        ASSERT_EQ(backup(name, again), 0u);
        EXPECT_EQ(again, streams[name]) << name;
    }
    // Restoring over an existing object replaces it in place.
    ASSERT_EQ(restore(".CN=Admin.O=Acme.[Root]", streams[".CN=Bob.OU=Sales.O=Acme.[Root]"]), 0u);
    EXPECT_EQ(objectsOf(store()).size(), 5u);
    expectNothingOpen();
}

TEST_P(DirectoryStreams, RestoreTakesTheFixedOptions)
{
    useFaults("NWSMTSOpenDataSetForRestore@*=0xFFFDFFCC");
    for (const char *name : {"CN=New.O=Acme", ".CN=Admin.O=Acme.[Root]", "Schema", "[Root]"}) {
        std::string path = name;
        clearTrace();
        EXPECT_EQ(object->BeginRestore(path.data(), 4, false, KXSMS_TRUSTEE_OWNER, false, false, true),
                  KXSMS_ERR_OPEN_FAILED)
            << name;
        EXPECT_EQ(openArguments(traceLines()), std::make_pair(std::string("0x1"), std::string("NULL"))) << name;
        EXPECT_EQ(Peek::dataSetHandle(object), 0u);
    }
}

TEST_P(DirectoryStreams, BrokenStreamsFailTheRestoreAndChangeNothing)
{
    std::string stream;
    ASSERT_EQ(backup("CN=Admin.O=Acme", stream), 0u);
    const std::string before = store();
    struct Case {
        std::string what, stream;
        unsigned code;
    };
    for (const Case &c : {Case{"no header", "garbage!" + stream, KXSMS_ERR_DATA_CORRUPT},
                          Case{"cut short", stream.substr(0, stream.size() - 5), KXSMS_ERR_DATA_CORRUPT},
                          Case{"damaged", stream.substr(0, 40) + "#" + stream.substr(41), KXSMS_ERR_DATA_CORRUPT}}) {
        EXPECT_EQ(restore("CN=Admin.O=Acme", c.stream), c.code) << c.what;
        EXPECT_EQ(store(), before) << c.what;
        EXPECT_EQ(Peek::dataSetHandle(object), 0u);
    }
    // A stream naming an object whose container is gone.
    ASSERT_EQ(backup("CN=Bob.OU=Sales.O=Acme", stream), 0u);
    char bob[] = "CN=Bob.OU=Sales.O=Acme", sales[] = "OU=Sales.O=Acme";
    ASSERT_EQ(object->DeleteDataSet(bob), 0u);
    ASSERT_EQ(object->DeleteDataSet(sales), 0u);
    EXPECT_EQ(restore("CN=Bob.OU=Sales.O=Acme", stream), KXSMS_ERR_INVALID_SMS_PATH) << "Invalid path";
    expectNothingOpen();
}

TEST_P(DirectoryStreams, DeleteTakesLeavesAndRefusesTheRest)
{
    struct Case {
        const char *path;
        unsigned code;
    };
    for (Case c : {Case{"OU=Sales.O=Acme", KXSMS_ERR_DELETE_FAILED}, Case{"[Root]", KXSMS_ERR_DELETE_FAILED},
                   Case{"Schema", KXSMS_ERR_DELETE_FAILED}, Case{"CN=Nobody.O=Acme", KXSMS_ERR_DATA_NOT_FOUND},
                   Case{"CN=Bob.OU=Sales.O=Acme", 0u}, Case{"OU=Sales.O=Acme", 0u}}) {
        std::string path = c.path;
        EXPECT_EQ(object->DeleteDataSet(path.data()), c.code) << c.path;
    }
    EXPECT_EQ(objectsOf(store()).count(".OU=Sales.O=Acme.[Root]"), 0u);
    EXPECT_TRUE(logged("Delete data set failed for [Root], (fffdfff1) Error deleting data set.", "ERROR"));
    expectNothingOpen();
}

TEST_P(DirectoryStreams, ClearingTheArchiveBitHoldsUntilTheObjectChanges)
{
    auto archiveBit = [&](const char *name) {
        std::string path = name;
        bool archive = false;
        EXPECT_EQ(
            object->ScanDataSetInfo(path.data(), nullptr, 0, nullptr, 0, nullptr, &archive, nullptr, nullptr, nullptr),
            0u);
        return archive;
    };
    std::string admin, bob;
    ASSERT_EQ(backup("CN=Bob.OU=Sales.O=Acme", bob), 0u);
    object->SetClearArchiveBitFlag(true);
    ASSERT_EQ(backup("CN=Admin.O=Acme", admin), 0u);
    EXPECT_FALSE(archiveBit("CN=Admin.O=Acme"));
    EXPECT_TRUE(archiveBit("CN=Bob.OU=Sales.O=Acme"));
    ASSERT_EQ(restore("CN=Admin.O=Acme", bob), 0u) << "the stream names Bob: Bob is rewritten, as he was";
    EXPECT_FALSE(archiveBit("CN=Admin.O=Acme"));
    EXPECT_TRUE(archiveBit("CN=Bob.OU=Sales.O=Acme"));
}

INSTANTIATE_TEST_SUITE_P(RootForms, DirectoryStreams, ::testing::Values("[Root]", "tree"));

} // namespace
