// Selection lists built from agent paths, and deletion of data sets.
#include <cstring>

#include "Harness.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

namespace fs = harness::fs;

class Filters : public harness::FileSystemTsa {
protected:
    void SetUp() override
    {
        FileSystemTsa::SetUp();
        file("/keep/a.txt", "a");
        file("/keep/b.txt", "b");
        file("/skip/c.txt", "c");
        file("/skip/deeper/d.txt", "d");
        object->ClearScanFilters();
        object->SetScanTraverse(true);
    }
    unsigned add(const char *name)
    {
        std::string path = name;
        return object->AddScanFilter(path.data());
    }
    // Name-space and selection-type arguments of the put calls, in order.
    std::vector<std::string> puts() const
    {
        std::vector<std::string> calls;
        for (const std::string &line : traceLines()) {
            if (line.rfind("NWSMPutFirstName(", 0) != 0 && line.rfind("NWSMPutNextName(", 0) != 0)
                continue;
            calls.push_back(line.substr(0, line.find('(')) + (line.find("0xfffffffe, 0x2,") != std::string::npos
                                                                  ? " resource"
                                                              : line.find(", 0x4, ") != std::string::npos  ? " parent"
                                                              : line.find(", 0x10, ") != std::string::npos ? " child"
                                                                                                           : " ?"));
        }
        return calls;
    }
};

TEST_F(Filters, EachKindOfNameGetsItsSelectionType)
{
    EXPECT_EQ(add("/skip"), 0u);
    EXPECT_EQ(add("/keep/b.txt"), 0u);
    EXPECT_EQ(add("/"), 0u);
    EXPECT_EQ(puts(), (std::vector<std::string>{"NWSMPutFirstName parent", "NWSMPutNextName child",
                                                "NWSMPutNextName resource"}));
    EXPECT_EQ(Peek::scanFilterCount(object), 3u);
    EXPECT_TRUE(logged("Putting /skip  (258 4 / /)", "ERROR"));
}

TEST_F(Filters, ScansPassOverExcludedDataSets)
{
    ASSERT_EQ(add("/skip"), 0u);
    ASSERT_EQ(add("/keep/b.txt"), 0u);
    // Not yet enabled: the scan sees everything.
    EXPECT_EQ(scanAll("/").size(), 8u);
    ASSERT_EQ(object->EnableScanFilters(), 0u);
    EXPECT_TRUE(logged("Closing Scan Filters", "DEBUG"));
    EXPECT_EQ(namesOf(scanAll("/")), (std::vector<std::string>{"/", "/keep", "/keep/a.txt"}));
    // The list is closed: more names are refused and nothing changes.
    EXPECT_EQ(add("/keep/a.txt"), 0xFFFFFFFFu);
    EXPECT_TRUE(logged("Attempt to add a scan filter when the selection list is ended", "ERROR"));
    EXPECT_EQ(object->EnableScanFilters(), 0u); // enabling again only sets the flag
    EXPECT_EQ(scanAll("/").size(), 3u);
    // Cleared: scans see everything, and the next name starts a new list.
    object->ClearScanFilters();
    EXPECT_EQ(scanAll("/").size(), 8u);
    clearTrace();
    EXPECT_EQ(add("/keep/a.txt"), 0u);
    EXPECT_EQ(puts(), (std::vector<std::string>{"NWSMPutFirstName child"}));
}

TEST_F(Filters, EmptyListEnablesNothing)
{
    EXPECT_EQ(object->EnableScanFilters(), 0u);
    EXPECT_FALSE(Peek::scanFiltersEnabled(object));
    scanAll("/");
    for (const std::string &line : traceLines()) {
        if (line.rfind("NWSMTSScanDataSetBegin(", 0) == 0) {
            EXPECT_NE(line.find(", NULL, "), std::string::npos) << line;
        }
    }
    object->ClearScanFilters(); // on an empty list: no effect
    EXPECT_EQ(Peek::selectionList(object), nullptr);
}

TEST_F(Filters, RefusedNamesDoNotCount)
{
    useFaults("NWSMPutFirstName@1=0xFFFDFFDA");
    EXPECT_EQ(add("/skip"), 0u);
    EXPECT_TRUE(logged("Put First/Next (0) Name failed, fffdffda", "ERROR"));
    EXPECT_EQ(Peek::scanFilterCount(object), 0u);
    EXPECT_EQ(add("/keep"), 0u);
    EXPECT_EQ(puts(), (std::vector<std::string>{"NWSMPutFirstName parent", "NWSMPutFirstName parent"}));
    EXPECT_EQ(Peek::scanFilterCount(object), 1u);
}

TEST_F(Filters, FailuresOfTheirOwn)
{
    EXPECT_EQ(add("/missing"), 0xFFFFFFFFu);
    EXPECT_TRUE(logged("Failed to determine if filter /missing is a parent", "ERROR"));
    EXPECT_EQ(object->AddScanFilter(nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    ASSERT_EQ(add("/skip"), 0u);
    useFaults("NWSMCloseName@1=0xFFFDFFDA");
    EXPECT_EQ(object->EnableScanFilters(), 0xFFFFFFFFu);
    EXPECT_TRUE(logged("Failed to close scan filters, " + std::to_string(static_cast<int>(0xFFFDFFDAu)) +
                           "(fffdffda) Invalid selection list.",
                       "ERROR"));
    EXPECT_FALSE(Peek::scanFiltersEnabled(object));
    EXPECT_FALSE(Peek::selectionListClosed(object));
    // A second try closes it.
    EXPECT_EQ(object->EnableScanFilters(), 0u);
    EXPECT_TRUE(Peek::scanFiltersEnabled(object));
}

class Deletion : public harness::FileSystemTsa {};

TEST_F(Deletion, FilesAndEmptyFolders)
{
    file("/f.txt", "x");
    folder("/empty");
    file("/full/x", "x");
    char f[] = "/f.txt", empty[] = "/empty", full[] = "/full";
    EXPECT_EQ(object->DeleteDataSet(f), 0u);
    EXPECT_FALSE(fs::exists(real("/f.txt")));
    EXPECT_EQ(object->DeleteDataSet(empty), 0u);
    EXPECT_FALSE(fs::exists(real("/empty")));
    EXPECT_EQ(object->DeleteDataSet(full), KXSMS_ERR_DELETE_FAILED);
    EXPECT_TRUE(logged("Delete data set failed for /full, (fffdfff1) Error deleting data set.", "ERROR"));
    EXPECT_TRUE(logged("Failed to delete data set /full, Failed to delete data.", "ERROR"));
    EXPECT_TRUE(fs::exists(real("/full/x")));
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    expectNothingOpen();
}

TEST_F(Deletion, MissingDataSetFailsInTheScanBegin)
{
    char missing[] = "/missing";
    EXPECT_EQ(object->DeleteDataSet(missing), KXSMS_ERR_DATA_NOT_FOUND);
    EXPECT_EQ(countCalls("NWSMTSDeleteDataSet"), 0u);
    EXPECT_TRUE(logged("NWSMTSScanDataSetBegin(/missing) returned (fffdfff2), No data sets found.", "ERROR"));
    clearTrace();
    EXPECT_EQ(object->DeleteDataSet(nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_TRUE(traceCalls().empty());
    object->Disconnect();
    EXPECT_EQ(object->DeleteDataSet(missing), KXSMS_ERR_BAD_ARGUMENTS);
    expectNothingOpen();
}

} // namespace
