// The module on the stand-in's directory TSA, in both top-of-tree forms:
// login probe, root and named scans, one-data-set queries, path conversion,
// split and join, and filters.
#include <cstring>

#include "DirectoryHarness.h"
#include "KXSMSErr.h"

namespace {

using Names = std::vector<std::string>;
class DirectoryScans : public harness::DirectoryTsa {};

const Names kTree{".[Root]",
                  ".O=Acme.[Root]",
                  ".OU=Sales.O=Acme.[Root]",
                  ".CN=Bob.OU=Sales.O=Acme.[Root]",
                  ".CN=Admin.O=Acme.[Root]",
                  ".OU=Empty.O=Acme.[Root]"};

TEST_P(DirectoryScans, LoginProbesTheTopOfTreeForm)
{
    EXPECT_EQ(Peek::treeNameRoot(object), treeForm() ? 1 : 0);
    EXPECT_STREQ(Peek::tsaRoot(object), "ACME_TREE");
    EXPECT_STREQ(Peek::targetServiceName(object), "ACME_TREE");
    EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_DIRECTORY);
    std::vector<std::string> resources;
    ASSERT_EQ(object->GetTSAResources(resources), 0u);
    EXPECT_EQ(resources, (Names{"ACME_TREE", "Schema"}));
    expectNothingOpen();
}

TEST_P(DirectoryScans, RootScanGivesTheStartingResourceThenOnlyResources)
{
    std::vector<Entry> root = scanAll(nullptr);
    // The tree resource comes back in the agent form the module makes of
    // every directory name: a leading '.' and the top of the tree.
    EXPECT_EQ(namesOf(root), (Names{".ACME_TREE.[Root]", ".[Root]", "Schema"}));
    ASSERT_EQ(root.size(), 3u);
    EXPECT_EQ(root[0].child, "ACME_TREE");
    EXPECT_EQ(root[1].child, ".[Root]") << "a name without a parent is its own child name";
    EXPECT_EQ(root[2].child, "Schema");
    EXPECT_FALSE(root[0].parent) << "a resource that is not a root";
    EXPECT_TRUE(root[1].parent);
    EXPECT_FALSE(root[2].parent) << "a resource that is not a root";
    for (const Entry &e : root) {
        EXPECT_EQ(e.created, kStart);
        EXPECT_EQ(e.modified, kStart);
        EXPECT_EQ(e.accessed, kStart);
        EXPECT_TRUE(e.archive);
        EXPECT_GT(e.size, 40u) << "the length of the backup stream";
    }
    // Traversing, the root scan returns every data set, objects included.
    object->SetScanTraverse(true);
    Names all = namesOf(scanAll(nullptr));
    ASSERT_EQ(all.size(), 1 + kTree.size() + 1 + 8);
    EXPECT_EQ(Names(all.begin() + 1, all.begin() + 1 + static_cast<long>(kTree.size())), kTree);
    EXPECT_EQ(all[1 + kTree.size()], "Schema");
    EXPECT_EQ(all.back(), ".CN=Group.Schema.[Root]");
    expectNothingOpen();
}

TEST_P(DirectoryScans, NamedScansListChildrenOrTheWholeSubtree)
{
    struct Case {
        const char *path;
        bool traverse;
        Names expected;
    };
    const std::vector<Case> cases{
        {"O=Acme", false, {".OU=Sales.O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]", ".OU=Empty.O=Acme.[Root]"}},
        {".O=Acme.[Root]", true, Names(kTree.begin() + 1, kTree.end())},
        {"[Root]", false, {".O=Acme.[Root]"}},
        {"[Root]", true, kTree},
        {"OU=Sales.O=Acme", false, {".CN=Bob.OU=Sales.O=Acme.[Root]"}},
        {"ou=EMPTY.o=acme", false, {}},
        {"CN=Bob.OU=Sales.O=Acme", true, {".CN=Bob.OU=Sales.O=Acme.[Root]"}},
        {"Schema",
         false,
         {".CN=Top.Schema.[Root]", ".CN=Country.Schema.[Root]", ".CN=Locality.Schema.[Root]",
          ".CN=Organization.Schema.[Root]", ".CN=OrganizationalUnit.Schema.[Root]", ".CN=domain.Schema.[Root]",
          ".CN=User.Schema.[Root]", ".CN=Group.Schema.[Root]"}},
    };
    for (const Case &c : cases) {
        object->SetScanTraverse(c.traverse);
        EXPECT_EQ(namesOf(scanAll(c.path)), c.expected) << c.path << (c.traverse ? " traversing" : "");
    }
    object->SetScanTraverse(false);
    std::vector<Entry> children = scanAll("O=Acme");
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0].child, "OU=Sales");
    EXPECT_TRUE(children[0].parent);
    EXPECT_FALSE(children[1].parent);
    EXPECT_TRUE(children[2].parent) << "an organizational unit without children";

    unsigned code = 0;
    EXPECT_TRUE(scanAll("CN=Nobody.O=Acme", &code).empty());
    EXPECT_EQ(code, KXSMS_ERR_DATA_NOT_FOUND);
    EXPECT_TRUE(
        logged("NWSMTSScanDataSetBegin(.CN=Nobody.O=Acme.[Root]) returned (fffdfff2), No data sets found.", "ERROR"));
    expectNothingOpen();
}

struct Query {
    const char *path;
    const char *outPath;
    const char *child;
    bool parent;
};

TEST_P(DirectoryScans, OneDataSetQueriesAndTheWorkedExamples)
{
    const std::vector<Query> queries{
        {"O=Acme", ".O=Acme.[Root]", "O=Acme", true},
        {".CN=Admin.O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]", "CN=Admin", false},
        {"[Root]", ".[Root]", ".[Root]", true},
        {"Schema", "Schema", "Schema", false}, // SMS calls it a parent; a resource is not one
        {"OU=Empty.O=Acme", ".OU=Empty.O=Acme.[Root]", "OU=Empty", true},
        {"cn=bob.ou=sales.o=acme.[root]", ".CN=Bob.OU=Sales.O=Acme.[Root]", "CN=Bob", false},
    };
    for (const Query &q : queries) {
        std::string path = q.path;
        char out[1024] = "untouched", child[256] = "";
        bool parent = !q.parent, archive = false;
        long modified = 0, accessed = 0;
        unsigned long long size = 0;
        ASSERT_EQ(object->ScanDataSetInfo(path.data(), out, sizeof out, child, sizeof child, &parent, &archive,
                                          &modified, &accessed, &size),
                  0u)
            << q.path;
        EXPECT_STREQ(out, q.outPath) << q.path;
        EXPECT_STREQ(child, q.child) << q.path;
        EXPECT_EQ(parent, q.parent) << q.path;
        EXPECT_TRUE(archive) << q.path;
        EXPECT_EQ(modified, kStart) << q.path;
        EXPECT_GT(size, 0u) << q.path;
        bool isParent = !q.parent;
        EXPECT_EQ(object->IsDataSetParent(path.data(), &isParent), 0u);
        EXPECT_EQ(isParent, q.parent) << q.path;
        EXPECT_EQ(Peek::scanInformation(object), nullptr);
    }
    bool isParent = false;
    char empty[] = "";
    EXPECT_EQ(object->IsDataSetParent(empty, &isParent), 0u);
    EXPECT_TRUE(isParent);
    char missing[] = "CN=Nobody.O=Acme";
    EXPECT_EQ(object->IsDataSetParent(missing, &isParent), KXSMS_ERR_DATA_NOT_FOUND);
    expectNothingOpen();
}

TEST_P(DirectoryScans, SplitAndJoinThroughTheTsa)
{
    struct Split {
        const char *path, *parent, *child;
    };
    for (Split s : {Split{".CN=Admin.O=Acme.[Root]", ".O=Acme.[Root]", ".CN=Admin"},
                    Split{"CN=Bob.OU=Sales.O=Acme", ".OU=Sales.O=Acme.[Root]", ".CN=Bob"},
                    Split{"O=Acme", ".[Root]", ".O=Acme"}, Split{"CN=a\\.b.O=Acme", ".O=Acme.[Root]", ".CN=a\\.b"}}) {
        std::string path = s.path;
        char parent[1024] = "", child[256] = "";
        ASSERT_EQ(object->SeparateChildFromParent(path.data(), parent, sizeof parent, child, sizeof child), 0u)
            << s.path;
        EXPECT_STREQ(parent, s.parent) << s.path;
        EXPECT_STREQ(child, s.child) << s.path;
    }
    for (const char *single : {"[Root]", "Schema"}) {
        std::string path = single;
        char parent[1024] = "", child[256] = "";
        EXPECT_EQ(object->SeparateChildFromParent(path.data(), parent, sizeof parent, child, sizeof child),
                  KXSMS_ERR_BAD_ARGUMENTS)
            << single;
    }
    struct Join {
        const char *parent, *child, *joined;
    };
    for (Join j : {Join{".O=Acme.[Root]", "CN=Admin", ".CN=Admin.O=Acme.[Root]"},
                   Join{"O=Acme", ".CN=Admin", ".CN=Admin.O=Acme.[Root]"}, Join{"[Root]", "O=New", ".O=New.[Root]"}}) {
        std::string parent = j.parent, child = j.child;
        char joined[1024] = "";
        ASSERT_EQ(object->ConcatenateParentAndChild(parent.data(), child.data(), joined, sizeof joined), 0u)
            << j.parent;
        EXPECT_STREQ(joined, j.joined);
    }
}

TEST_P(DirectoryScans, FiltersLeaveOutParentsChildrenAndResources)
{
    object->SetScanTraverse(true);
    for (const char *filter : {"OU=Sales.O=Acme", ".CN=Admin.O=Acme.[Root]", "Schema"}) {
        std::string path = filter;
        ASSERT_EQ(object->AddScanFilter(path.data()), 0u) << filter;
    }
    ASSERT_EQ(object->EnableScanFilters(), 0u);
    EXPECT_EQ(namesOf(scanAll(nullptr)),
              (Names{".ACME_TREE.[Root]", ".[Root]", ".O=Acme.[Root]", ".OU=Empty.O=Acme.[Root]"}));
    unsigned code = 0;
    EXPECT_TRUE(scanAll("CN=Bob.OU=Sales.O=Acme", &code).empty());
    EXPECT_EQ(code, KXSMS_ERR_EXCLUDED_BY_TSA) << "an excluded start";
    object->ClearScanFilters();
    EXPECT_EQ(namesOf(scanAll("OU=Sales.O=Acme")),
              (Names{".OU=Sales.O=Acme.[Root]", ".CN=Bob.OU=Sales.O=Acme.[Root]"}));
    expectNothingOpen();
}

INSTANTIATE_TEST_SUITE_P(RootForms, DirectoryScans, ::testing::Values("[Root]", "tree"));

} // namespace
