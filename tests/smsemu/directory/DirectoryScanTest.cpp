// Scans of the directory TSA: what each start yields at one level and over
// its subtree, the names in both top-of-tree forms, scan information, and
// selection lists.
#include "directory/DirectoryFixture.h"

namespace smsemutest {
namespace {

using Names = std::vector<std::string>;

const Names kSchemaNames{".CN=Top.Schema",
                         ".CN=Country.Schema",
                         ".CN=Locality.Schema",
                         ".CN=Organization.Schema",
                         ".CN=OrganizationalUnit.Schema",
                         ".CN=domain.Schema",
                         ".CN=User.Schema",
                         ".CN=Group.Schema",
                         ".CN=Printer.Schema"};

// Names of the Acme tree, in the root form, tree order.
const Names kTree{".[Root]",
                  ".O=Acme.[Root]",
                  ".OU=Sales.O=Acme.[Root]",
                  ".CN=Bob.OU=Sales.O=Acme.[Root]",
                  ".CN=Admin.O=Acme.[Root]",
                  ".CN=a\\.b.O=Acme.[Root]",
                  ".OU=Empty.O=Acme.[Root]"};

Names inForm(Names names, bool treeForm)
{
    if (treeForm)
        for (std::string &name : names)
            if (name.size() >= 6 && name.compare(name.size() - 6, 6, "[Root]") == 0)
                name.replace(name.size() - 6, 6, "T=ACME_TREE");
    return names;
}

// A name as the root form writes it.
std::string rootForm(std::string name)
{
    const std::string tree = "T=ACME_TREE";
    if (name.size() >= tree.size() && name.compare(name.size() - tree.size(), tree.size(), tree) == 0)
        name.replace(name.size() - tree.size(), tree.size(), "[Root]");
    return name;
}

Names concat(std::initializer_list<Names> parts)
{
    Names out;
    for (const Names &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct ScanCase {
    const char *start;
    bool oneLevel;
    Names expected; // root form
};

class StandInDirectoryScans : public Directory, public ::testing::WithParamInterface<const char *> {
protected:
    bool treeForm() const { return std::string(GetParam()) == "tree"; }
};

TEST_P(StandInDirectoryScans, EachStartYieldsItselfThenWhatItHolds)
{
    useDirectory(kAcmeStore, GetParam());
    const std::vector<ScanCase> cases{
        {"ACME_TREE", true, {"ACME_TREE", ".[Root]", "Schema"}},
        {"ACME_TREE", false, concat({{"ACME_TREE"}, kTree, {"Schema"}, kSchemaNames})},
        {".[Root]", true, {".[Root]", ".O=Acme.[Root]"}},
        {".[Root]", false, kTree},
        {".O=Acme.[Root]",
         true,
         {".O=Acme.[Root]", ".OU=Sales.O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]", ".CN=a\\.b.O=Acme.[Root]",
          ".OU=Empty.O=Acme.[Root]"}},
        {".OU=Sales.O=Acme.[Root]", false, {".OU=Sales.O=Acme.[Root]", ".CN=Bob.OU=Sales.O=Acme.[Root]"}},
        {".CN=Bob.OU=Sales.O=Acme.[Root]", true, {".CN=Bob.OU=Sales.O=Acme.[Root]"}},
        {".OU=Empty.O=Acme.[Root]", false, {".OU=Empty.O=Acme.[Root]"}},
        {"Schema", true, concat({{"Schema"}, kSchemaNames})},
        {".CN=User.Schema", false, {".CN=User.Schema"}},
    };
    for (const ScanCase &c : cases) {
        Names expected = inForm(c.expected, treeForm());
        std::string start = c.start;
        EXPECT_EQ(scanNames(start, c.oneLevel), expected) << start << (c.oneLevel ? " one level" : " subtree");
        // The other top-of-tree form names the same start.
        std::string other = inForm({start}, !treeForm())[0];
        EXPECT_EQ(scanNames(other, c.oneLevel), expected) << other;
    }
}

TEST_P(StandInDirectoryScans, NamesMatchIgnoringCaseWithEscapesResolved)
{
    useDirectory(kAcmeStore, GetParam());
    std::string bob = inForm({".CN=Bob.OU=Sales.O=Acme.[Root]"}, treeForm())[0];
    std::string printer = inForm({".CN=a\\.b.O=Acme.[Root]"}, treeForm())[0];
    for (const char *name : {".cn=BOB.ou=sales.o=ACME.[root]", "CN=Bob.OU=Sales.O=Acme.[Root].",
                             ".C\\N=B\\ob.OU=Sales.O=Acme.t=acme_tree", "cn=bob.ou=sales.o=acme.T=ACME_TREE"})
        EXPECT_EQ(scanNames(name), Names{bob}) << name;
    for (const char *name : {".CN=A\\.B.O=Acme.[Root]", ".cn=a\\.b.o=acme.T=Acme_Tree"})
        EXPECT_EQ(scanNames(name), Names{printer}) << name;
    for (const char *name : {"acme_tree", "SCHEMA", ".schema", "[Root]", "T=ACME_TREE"})
        EXPECT_FALSE(scanNames(name, true).empty()) << name;
    // The forms the module hands its host name the same data sets.
    EXPECT_EQ(scanNames(".ACME_TREE.[Root]", true), scanNames("ACME_TREE", true));
    EXPECT_EQ(scanNames(".CN=Organization.Schema.[Root]"), scanNames(".CN=Organization.Schema"));
    EXPECT_FALSE(scanNames(".CN=Organization.Schema").empty());
}

TEST_P(StandInDirectoryScans, ANameThatIsNotThereIsNotFound)
{
    useDirectory(kAcmeStore, GetParam());
    for (const char *name : {".CN=Carol.O=Acme.[Root]", ".O=Acme", ".O=Acme.T=OTHER_TREE", ".CN=a.b.O=Acme.[Root]",
                             ".CN=Bob..O=Acme.[Root]", "..[Root]", ".", "", "OTHER_TREE", ".CN=Nothing.Schema",
                             ".CN=User.OU=x.Schema", ".[Root].[Root]"}) {
        CCODE rc = 0;
        EXPECT_TRUE(scan(name, false, nullptr, &rc).empty()) << name;
        EXPECT_EQ(rc, NWSMTS_NO_DATA_SETS_FOUND) << name;
    }
    EXPECT_EQ(smsemuOpenScans(), 0);
}

TEST_P(StandInDirectoryScans, InformationTellsContainersSizesAndNoTimes)
{
    useDirectory(kAcmeStore, GetParam());
    std::vector<DirectoryFound> all = scan("ACME_TREE");
    ASSERT_EQ(all.size(), 1 + kTree.size() + 1 + kSchemaNames.size());
    std::map<std::string, bool> parents;
    for (const DirectoryFound &f : all) {
        parents[rootForm(f.name)] = f.parent;
        EXPECT_EQ(f.times, 0u) << f.name;
        EXPECT_EQ(f.nameSpace, 0u) << f.name;
        EXPECT_EQ((f.attributes & NWSM_ATTR_DIRECTORY) != 0, f.parent) << f.name;
        EXPECT_NE(f.attributes & NWSM_ATTR_ARCHIVE, 0u) << f.name; // never backed up
        // The size is that of the data set's backup stream.
        std::string stream;
        ASSERT_EQ(backup(f.name, stream), 0u) << f.name;
        EXPECT_EQ(f.size, stream.size()) << f.name;
        EXPECT_EQ(f.blocks, (stream.size() + 4095) / 4096) << f.name;
    }
    // Containers: resources, the top, objects with children or of a
    // container class (OU=Empty has no children).
    for (const char *parent :
         {"ACME_TREE", "Schema", ".[Root]", ".O=Acme.[Root]", ".OU=Sales.O=Acme.[Root]", ".OU=Empty.O=Acme.[Root]"})
        EXPECT_TRUE(parents[parent]) << parent;
    for (const char *leaf : {".CN=Bob.OU=Sales.O=Acme.[Root]", ".CN=a\\.b.O=Acme.[Root]", ".CN=User.Schema"})
        EXPECT_FALSE(parents[leaf]) << leaf;

    for (const DirectoryFound &f :
         scan("ACME_TREE", true, nullptr, nullptr, static_cast<INT32>(NWSM_RETURN_UTF8_NAMES)))
        EXPECT_EQ(f.nameSpace, 256u) << f.name;
}

TEST_P(StandInDirectoryScans, AnObjectDeletedDuringAScanIsPassedOver)
{
    useDirectory(kAcmeStore, GetParam());
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin(".O=Acme.[Root]", true, sequence, info, names), 0u);
    ASSERT_EQ(remove(".CN=Admin.O=Acme.[Root]"), 0u);
    Names seen;
    CCODE rc = 0;
    while (rc == 0) {
        seen.push_back(rootForm(describe(info, names).name));
        rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
    }
    EXPECT_EQ(rc, NWSMTS_NO_MORE_DATA_SETS);
    EXPECT_EQ(seen, (Names{".O=Acme.[Root]", ".OU=Sales.O=Acme.[Root]", ".CN=a\\.b.O=Acme.[Root]",
                           ".OU=Empty.O=Acme.[Root]"}));
}

INSTANTIATE_TEST_SUITE_P(RootForms, StandInDirectoryScans, ::testing::Values("[Root]", "tree"));

// ---- Selection lists ----------------------------------------------------------

struct Exclusion {
    const char *name;
    UINT32 nameSpace;
    UINT32 selectionType;
};

struct SelectionCase {
    std::vector<Exclusion> excluded;
    const char *start;
    Names expected;
};

class DirectorySelection : public Directory, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(DirectorySelection, LeavesOutWhatTheListNames)
{
    useDirectory();
    const SelectionCase &c = GetParam();
    NWSM_SELECTION_LIST *list = nullptr;
    NWSM_NAME_HANDLE handle = nullptr;
    for (std::size_t i = 0; i < c.excluded.size(); ++i) {
        char *name = const_cast<char *>(c.excluded[i].name);
        if (i == 0)
            ASSERT_EQ(NWSMPutFirstName(&list, c.excluded[i].nameSpace, c.excluded[i].selectionType, 0, nullptr, nullptr,
                                       name, &handle),
                      0u);
        else
            ASSERT_EQ(NWSMPutNextName(&list, &handle, c.excluded[i].nameSpace, c.excluded[i].selectionType, 0, nullptr,
                                      nullptr, name),
                      0u);
    }
    ASSERT_EQ(NWSMCloseName(&handle), 0u);
    CCODE rc = 0;
    Names found;
    for (const DirectoryFound &f : scan(c.start, false, list, &rc))
        found.push_back(f.name);
    if (c.expected.empty()) {
        EXPECT_EQ(rc, NWSMTS_DATA_SET_EXCLUDED);
    }
    EXPECT_EQ(found, c.expected);
    std::free(list);
}

constexpr UINT32 kResource = NWSM_TSA_DEFINED_RESOURCE_EXC;
constexpr UINT32 kParent = NWSM_PARENT_TO_BE_EXCLUDED;
constexpr UINT32 kChild = NWSM_CHILD_TO_BE_EXCLUDED;
constexpr UINT32 kRootSpace = NWSM_DIRECTORY_ROOT;
constexpr UINT32 kResourceSpace = NWSM_TSA_DEFINED_RESOURCE;

INSTANTIATE_TEST_SUITE_P(
    Cases, DirectorySelection,
    ::testing::Values(
        // A parent goes with everything below it; the names may be in either form and any case.
        SelectionCase{
            {{".OU=Sales.O=Acme.[Root]", kRootSpace, kParent}},
            ".O=Acme.[Root]",
            {".O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]", ".CN=a\\.b.O=Acme.[Root]", ".OU=Empty.O=Acme.[Root]"}},
        SelectionCase{
            {{".cn=admin.o=acme.T=ACME_TREE", 0, kChild}, {".CN=A\\.b.O=Acme.[Root]", 0, kChild}},
            ".O=Acme.[Root]",
            {".O=Acme.[Root]", ".OU=Sales.O=Acme.[Root]", ".CN=Bob.OU=Sales.O=Acme.[Root]", ".OU=Empty.O=Acme.[Root]"}},
        // A child exclusion of a container leaves it out alone.
        SelectionCase{{{".OU=Sales.O=Acme.[Root]", 0, kChild}}, ".OU=Sales.O=Acme.[Root]", {}},
        SelectionCase{{{".OU=Sales.O=Acme.[Root]", 0, kChild}},
                      ".[Root]",
                      {".[Root]", ".O=Acme.[Root]", ".CN=Bob.OU=Sales.O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]",
                       ".CN=a\\.b.O=Acme.[Root]", ".OU=Empty.O=Acme.[Root]"}},
        // Resources: the schema and the top with all they hold, the tree resource alone.
        SelectionCase{{{"Schema", kResourceSpace, kResource}, {".[Root]", kResourceSpace, kResource}},
                      "ACME_TREE",
                      {"ACME_TREE"}},
        SelectionCase{
            {{"ACME_TREE", kResourceSpace, kResource}, {"Schema", kResourceSpace, kResource}}, "ACME_TREE", {}},
        SelectionCase{{{"ACME_TREE", kResourceSpace, kResource}},
                      ".OU=Sales.O=Acme.[Root]",
                      {".OU=Sales.O=Acme.[Root]", ".CN=Bob.OU=Sales.O=Acme.[Root]"}},
        SelectionCase{{{".CN=User.Schema", 0, kChild}, {".CN=Printer.Schema", 0, kParent}},
                      "Schema",
                      {"Schema", ".CN=Top.Schema", ".CN=Country.Schema", ".CN=Locality.Schema",
                       ".CN=Organization.Schema", ".CN=OrganizationalUnit.Schema", ".CN=domain.Schema",
                       ".CN=Group.Schema"}},
        // A start inside an excluded parent or resource is itself excluded.
        SelectionCase{{{".O=Acme.[Root]", 0, kParent}}, ".CN=Bob.OU=Sales.O=Acme.[Root]", {}},
        SelectionCase{{{".[Root]", kResourceSpace, kResource}}, ".CN=Bob.OU=Sales.O=Acme.[Root]", {}},
        SelectionCase{{{"Schema", kResourceSpace, kResource}}, ".CN=User.Schema", {}},
        // Names that name nothing, or other selection types, exclude nothing.
        SelectionCase{
            {{".CN=Nobody.O=Acme.[Root]", 0, kParent}, {"garbage", 0, kChild}, {".OU=Sales.O=Acme.[Root]", 0, 1}},
            ".OU=Sales.O=Acme.[Root]",
            {".OU=Sales.O=Acme.[Root]", ".CN=Bob.OU=Sales.O=Acme.[Root]"}}));

} // namespace
} // namespace smsemutest
