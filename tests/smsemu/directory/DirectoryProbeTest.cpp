// The one directory scan the module's login probe makes: the tree resource at
// one level.
#include "SmsEmuFixture.h"

namespace smsemutest {
namespace {

struct Found {
    std::string name;
    UINT32 nameSpace;
    bool parent;
};

class DirectoryProbe : public SmsEmu, public ::testing::WithParamInterface<const char *> {
protected:
    bool treeForm() const { return std::string(GetParam()) == "tree"; }

    NWSM_DATA_SET_NAME_LIST *treeResource(const char *name = "ACME_TREE", UINT32 type = NWSM_TSA_DEFINED_RESOURCE)
    {
        NWSM_DATA_SET_NAME_LIST *list = nullptr;
        EXPECT_EQ(NWSMPutOneName(&list, type, 0, 0, nullptr, nullptr, const_cast<char *>(name)), 0u);
        return list;
    }

    static NWSM_SCAN_CONTROL oneLevel(INT32 returnNameSpace = -1)
    {
        NWSM_SCAN_CONTROL control{};
        control.bufferSize = 64;
        control.scanControlSize = 61;
        control.scanType = NWSM_SCAN_TYPE_ONE_LEVEL;
        control.scanChildNameSpaceType = -1;
        control.returnNameSpaceType = returnNameSpace;
        return control;
    }

    static Found describe(NWSM_SCAN_INFORMATION *info, NWSM_DATA_SET_NAME_LIST *names)
    {
        NWSM_DATA_SET_NAME name{};
        EXPECT_EQ(NWSMGetOneName(names, &name), 0u);
        EXPECT_EQ(info->bufferSize, sizeof(NWSM_SCAN_INFORMATION));
        return Found{name.name, name.nameSpaceType, info->parentFlag != 0};
    }

    std::vector<Found> scanAll(UINT32 connection, INT32 returnNameSpace)
    {
        NWSM_DATA_SET_NAME_LIST *start = treeResource();
        NWSM_SCAN_CONTROL control = oneLevel(returnNameSpace);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        std::vector<Found> found;
        EXPECT_EQ(NWSMTSScanDataSetBegin(connection, start, &control, nullptr, &sequence, &info, &names), 0u);
        std::free(start);
        EXPECT_NE(sequence, 0u);
        EXPECT_EQ(smsemuOpenScans(), 1);
        CCODE rc = 0;
        for (int guard = 0; rc == 0 && guard < 10; ++guard) {
            found.push_back(describe(info, names));
            rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
        }
        EXPECT_EQ(rc, NWSMTS_NO_MORE_DATA_SETS);
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(names, nullptr);
        EXPECT_EQ(smsemuOpenScans(), 0); // the end of the data sets ends the scan
        return found;
    }
};

TEST_P(DirectoryProbe, YieldsTheTreeTheTopOfTheTreeAndTheSchema)
{
    useFullConfig(GetParam());
    UINT32 connection = loggedIn("srv1.Directory", "ACME_TREE");
    std::string top = treeForm() ? ".T=ACME_TREE" : ".[Root]";
    for (INT32 returnNameSpace : {-1, static_cast<INT32>(NWSM_RETURN_UTF8_NAMES)}) {
        UINT32 type = returnNameSpace == -1 ? 0u : 256u;
        std::vector<Found> found = scanAll(connection, returnNameSpace);
        ASSERT_EQ(found.size(), 3u);
        EXPECT_EQ(found[0].name, "ACME_TREE");
        EXPECT_TRUE(found[0].parent);
        EXPECT_EQ(found[1].name, top);
        EXPECT_TRUE(found[1].parent);
        EXPECT_EQ(found[2].name, "Schema");
        EXPECT_TRUE(found[2].parent); // it holds the class definitions
        for (const Found &f : found)
            EXPECT_EQ(f.nameSpace, type);
    }
}

TEST_P(DirectoryProbe, TheProbeOfTheModuleTellsTheRootForm)
{
    useFullConfig(GetParam());
    UINT32 connection = loggedIn("srv1.Directory", "ACME_TREE");
    // As the module's login probe does: scan until a name holds ".[Root]" or
    // ".T=", then end the scan.
    NWSM_DATA_SET_NAME_LIST *start = treeResource();
    NWSM_SCAN_CONTROL control = oneLevel(static_cast<INT32>(NWSM_RETURN_UTF8_NAMES));
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, start, &control, nullptr, &sequence, &info, &names), 0u);
    std::free(start);
    int treeNameRoot = -1;
    for (;;) {
        NWSM_DATA_SET_NAME name{};
        ASSERT_EQ(NWSMGetOneName(names, &name), 0u);
        if (std::strstr(name.name, ".[Root]") != nullptr || std::strstr(name.name, ".T=") != nullptr) {
            treeNameRoot = std::strstr(name.name, ".T=") != nullptr ? 1 : 0;
            break;
        }
        ASSERT_EQ(NWSMTSScanNextDataSet(connection, &sequence, &info, &names), 0u);
    }
    EXPECT_EQ(treeNameRoot, treeForm() ? 1 : 0);
    ASSERT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(names, nullptr);
    EXPECT_EQ(smsemuOpenScans(), 0);
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), NWSMTS_INVALID_SEQUENCE_NUMBER);
}

TEST_P(DirectoryProbe, ScansEndWithTheirConnection)
{
    useFullConfig(GetParam());
    UINT32 connection = loggedIn("srv1.Directory", "ACME_TREE");
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    NWSM_SCAN_CONTROL one = oneLevel();
    // Two probes at once have their own sequences; the connection's release
    // ends both.
    NWSM_DATA_SET_NAME_LIST *start = treeResource("acme_tree");
    UINT32 first = 0, second = 0;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, start, &one, nullptr, &first, &info, &names), 0u);
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, start, &one, nullptr, &second, &info, &names), 0u);
    std::free(start);
    EXPECT_NE(first, second);
    EXPECT_EQ(smsemuOpenScans(), 2);
    ASSERT_EQ(NWSMTSReleaseTargetService(&connection), 0u);
    EXPECT_EQ(smsemuOpenScans(), 0);
}

INSTANTIATE_TEST_SUITE_P(RootForms, DirectoryProbe, ::testing::Values("[Root]", "tree"));

} // namespace
} // namespace smsemutest
