// The module on the stand-in's GroupWise TSA: login, root and named scans,
// one-data-set queries and the worked examples of path conversion, split and
// join, filters, backup and restore round trips, the fixed restore options of
// "GroupWise Mail Server", and deletion.
#include <sys/stat.h>

#include <map>
#include <tuple>

#include "Harness.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

using Names = std::vector<std::string>;
namespace fs = harness::fs;

class GroupWise : public harness::FileSystemTsa {
protected:
    void SetUp() override
    {
        for (const char *folder : {"gw/dom1", "gw/dom2"})
            fs::create_directories(dir / folder);
        FileSystemTsa::SetUp();
        gw("dom1/a/f.txt", "first file");
        gw("dom1/a/b/g.txt", std::string(70000, 'g')); // more than one block
        gw("dom1/top.txt", "top");
        fs::create_directories(dir / "gw/dom1/empty");
        gw("dom2/h.txt", "other domain");
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        ASSERT_EQ(object->Connect(KXSMS_TSA_GROUPWISE, user.data(), &password), 0u);
        object->SetScanStartTime(kStart);
        clearLog();
        clearTrace();
    }
    std::string fsConfig() const override
    {
        return FileSystemTsa::fsConfig() + "[[tsa]]\ntype = \"GroupWise System\"\narchive_state = " +
               testsupport::tomlString(dir / "gw-archive.sqlite") + "\n[[tsa.resource]]\nname = \"DOM1:\"\n" +
               "path = " + testsupport::tomlString(dir / "gw/dom1") +
               "\n[[tsa.resource]]\nname = \"DOM2:\"\npath = " + testsupport::tomlString(dir / "gw/dom2") + "\n";
    }
    void gw(const std::string &name, const std::string &content) const
    {
        testsupport::writeFile(dir / ("gw/" + name), content);
    }

    // Every entry below a folder: kind, permission bits, modification time, content.
    using Snapshot = std::map<std::string, std::tuple<char, unsigned, long, std::string>>;
    Snapshot snapshot(const std::string &folder) const
    {
        Snapshot out;
        for (const auto &entry : fs::recursive_directory_iterator(dir / folder)) {
            struct stat st {};
            lstat(entry.path().c_str(), &st);
            bool directory = S_ISDIR(st.st_mode);
            out[fs::relative(entry.path(), dir / folder).string()] = std::make_tuple(
                directory ? 'd' : 'f', static_cast<unsigned>(st.st_mode & 07777), static_cast<long>(st.st_mtime),
                directory ? std::string() : testsupport::readFile(entry.path().string()));
        }
        return out;
    }

    static constexpr long kStart = 1700000000;
};

TEST_F(GroupWise, LoginListsTheMailServerFirst)
{
    EXPECT_STREQ(Peek::tsaRoot(object), "GroupWise Mail Server");
    EXPECT_EQ(Peek::treeNameRoot(object), 0);
    std::vector<std::string> resources;
    ASSERT_EQ(object->GetTSAResources(resources), 0u);
    EXPECT_EQ(resources, (Names{"GroupWise Mail Server", "DOM1:", "DOM2:"}));
}

TEST_F(GroupWise, RootScanGivesTheMailServerThenOnlyResources)
{
    std::vector<Entry> root = scanAll(nullptr);
    EXPECT_EQ(namesOf(root), (Names{"GroupWise Mail Server", "DOM1:", "DOM2:"}));
    ASSERT_EQ(root.size(), 3u);
    EXPECT_FALSE(root[0].parent) << "a resource that is not a root";
    EXPECT_TRUE(root[1].parent);
    for (const Entry &e : root)
        EXPECT_EQ(e.modified, kStart) << e.name;

    object->SetScanTraverse(true);
    EXPECT_EQ(namesOf(scanAll(nullptr)),
              (Names{"GroupWise Mail Server", "DOM1:", "DOM1:\\a", "DOM1:\\a\\b", "DOM1:\\a\\b\\g.txt",
                     "DOM1:\\a\\f.txt", "DOM1:\\empty", "DOM1:\\top.txt", "DOM2:", "DOM2:\\h.txt"}));
    expectNothingOpen();
}

TEST_F(GroupWise, NamedScansAndWhatTheyTell)
{
    // An even second: packed times keep seconds in steps of two.
    testsupport::setFileTimes(dir / "gw/dom1/a/f.txt", 1600000000);
    EXPECT_EQ(namesOf(scanAll("DOM1:\\a")), (Names{"DOM1:\\a\\b", "DOM1:\\a\\f.txt"}));
    EXPECT_EQ(namesOf(scanAll("dom1:\\")), (Names{"DOM1:\\a", "DOM1:\\empty", "DOM1:\\top.txt"}));
    object->SetScanTraverse(true);
    std::vector<Entry> a = scanAll("DOM1:\\a\\");
    EXPECT_EQ(namesOf(a), (Names{"DOM1:\\a", "DOM1:\\a\\b", "DOM1:\\a\\b\\g.txt", "DOM1:\\a\\f.txt"}));
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[3].child, "f.txt");
    EXPECT_FALSE(a[3].parent);
    EXPECT_EQ(a[3].size, 10u);
    EXPECT_EQ(a[2].size, 70000u);
    EXPECT_EQ(a[3].modified, 1600000000L);
    EXPECT_TRUE(a[3].archive);

    unsigned code = 0;
    EXPECT_TRUE(scanAll("DOM1:\\nothing", &code).empty());
    EXPECT_EQ(code, KXSMS_ERR_DATA_NOT_FOUND);
    EXPECT_TRUE(scanAll("DOM1:\\..\\dom2", &code).empty());
    EXPECT_EQ(code, KXSMS_ERR_INVALID_SMS_PATH) << "Invalid path";
    expectNothingOpen();
}

TEST_F(GroupWise, QueriesAndTheWorkedExamplesOfPathConversion)
{
    // A '\' right after the ':' separates; anywhere else it is part of a name.
    gw("dom1/dir\\x", "a backslash in its name");
    struct Query {
        const char *path, *outPath;
        bool parent;
    };
    for (Query q : {Query{"DOM1:\\a", "DOM1:\\a", true}, Query{"DOM1:\\a\\f.txt", "DOM1:\\a\\f.txt", false},
                    Query{"DOM1:\\", "DOM1:", true}, Query{"DOM1:", "DOM1:", true},
                    Query{"GroupWise Mail Server", "GroupWise Mail Server", false},
                    Query{"DOM1:dir\\x", "DOM1:\\dir\\x", false}}) {
        std::string path = q.path;
        char out[1024] = "untouched";
        bool parent = !q.parent;
        ASSERT_EQ(object->ScanDataSetInfo(path.data(), out, sizeof out, nullptr, 0, &parent, nullptr, nullptr, nullptr,
                                          nullptr),
                  0u)
            << q.path;
        EXPECT_STREQ(out, q.outPath);
        EXPECT_EQ(parent, q.parent) << q.path;
        bool isParent = !q.parent;
        ASSERT_EQ(object->IsDataSetParent(path.data(), &isParent), 0u);
        EXPECT_EQ(isParent, q.parent) << q.path;
    }
    expectNothingOpen();
}

TEST_F(GroupWise, SplitAndJoinThroughTheTsa)
{
    struct Split {
        const char *path, *parent, *child;
    };
    for (Split s : {Split{"DOM1:\\a\\f.txt", "DOM1:\\a", "f.txt"}, Split{"DOM1:\\a", "DOM1:", "a"},
                    Split{"DOM1:\\a\\b\\", "DOM1:\\a", "b"}}) {
        std::string path = s.path;
        char parent[1024] = "", child[256] = "";
        ASSERT_EQ(object->SeparateChildFromParent(path.data(), parent, sizeof parent, child, sizeof child), 0u)
            << s.path;
        EXPECT_STREQ(parent, s.parent);
        EXPECT_STREQ(child, s.child);
    }
    std::string root = "DOM1:\\";
    char parent[16] = "", child[16] = "";
    EXPECT_EQ(object->SeparateChildFromParent(root.data(), parent, sizeof parent, child, sizeof child),
              KXSMS_ERR_BAD_ARGUMENTS);

    struct Join {
        const char *parent, *child, *joined;
    };
    for (Join j : {Join{"DOM1:\\a", "f.txt", "DOM1:\\a\\f.txt"}, Join{"DOM1:", "a", "DOM1:\\a"},
                   Join{"DOM1:\\", "top.txt", "DOM1:\\top.txt"}}) {
        std::string p = j.parent, c = j.child;
        char joined[1024] = "";
        ASSERT_EQ(object->ConcatenateParentAndChild(p.data(), c.data(), joined, sizeof joined), 0u) << j.parent;
        EXPECT_STREQ(joined, j.joined);
    }
}

// The agent form is a character longer than the SMS form: a buffer that holds
// the SMS form but not the agent form is refused with a line, not passed over.
TEST_F(GroupWise, SplitAndJoinResultsThatDoNotFitTheirAgentFormAreLogged)
{
    struct Case {
        bool join;
        const char *first, *second;
        unsigned long size;
        unsigned code;
        const char *result, *line;
    };
    for (const Case &c : {Case{false, "DOM1:\\a\\f.txt", "", 7, KXSMS_ERR_BAD_ARGUMENTS, "", "DOM1:a"},
                          Case{false, "DOM1:\\a\\f.txt", "", 8, 0u, "DOM1:\\a", ""},
                          Case{true, "DOM1:\\a", "f.txt", 13, KXSMS_ERR_BAD_ARGUMENTS, "", "DOM1:a/f.txt"},
                          Case{true, "DOM1:\\a", "f.txt", 14, 0u, "DOM1:\\a\\f.txt", ""}}) {
        clearLog();
        std::string first = c.first, second = c.second;
        char out[64] = "", child[64] = "";
        const unsigned code = c.join ? object->ConcatenateParentAndChild(first.data(), second.data(), out, c.size)
                                     : object->SeparateChildFromParent(first.data(), out, c.size, child, sizeof child);
        EXPECT_EQ(code, c.code) << c.first << " " << c.size;
        EXPECT_STREQ(out, c.result) << c.first << " " << c.size;
        if (c.line[0] != '\0')
            EXPECT_TRUE(logged(std::string("Buffer too small for the name of ") + c.line + ".", "ERROR"));
        else
            EXPECT_TRUE(logMessages("ERROR").empty());
    }
}

TEST_F(GroupWise, FiltersLeaveOutWhatTheyName)
{
    object->SetScanTraverse(true);
    for (const char *filter : {"DOM1:\\a\\b", "DOM1:\\top.txt", "DOM2:"}) {
        std::string path = filter;
        ASSERT_EQ(object->AddScanFilter(path.data()), 0u) << filter;
    }
    ASSERT_EQ(object->EnableScanFilters(), 0u);
    EXPECT_EQ(namesOf(scanAll(nullptr)),
              (Names{"GroupWise Mail Server", "DOM1:", "DOM1:\\a", "DOM1:\\a\\f.txt", "DOM1:\\empty"}));
    object->ClearScanFilters();
    expectNothingOpen();
}

TEST_F(GroupWise, BackupAndRestoreGiveTheDomainBack)
{
    chmod((dir / "gw/dom1/a/f.txt").c_str(), 0600);
    chmod((dir / "gw/dom1/a").c_str(), 0750);
    // Times of the past, each its own, so that only a restore that applies
    // them gives them back.
    long when = 1000000000;
    std::vector<fs::path> entries;
    for (const auto &entry : fs::recursive_directory_iterator(dir / "gw/dom1"))
        entries.push_back(entry.path());
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        testsupport::setFileTimes(*it, when);
        when += 3600;
    }
    const Snapshot before = snapshot("gw/dom1");
    object->SetScanTraverse(true);
    Names names = namesOf(scanAll("DOM1:\\"));
    std::map<std::string, std::string> streams;
    for (const std::string &name : names)
        ASSERT_EQ(backup(name, streams[name], 4096), 0u) << name;
    std::string server;
    ASSERT_EQ(backup("GroupWise Mail Server", server), 0u);

    for (const auto &entry : fs::directory_iterator(dir / "gw/dom1"))
        fs::remove_all(entry.path());
    // Containers first (the order of the scan): each restores under its name.
    for (const std::string &name : names)
        ASSERT_EQ(restore(name, streams[name]), 0u) << name;
    ASSERT_EQ(restore("GroupWise Mail Server", server), 0u);
    object->Disconnect(); // folder times are set when the target service is released
    EXPECT_EQ(snapshot("gw/dom1"), before);
    expectNothingOpen();
}

std::pair<std::string, std::string> openArguments(const std::vector<std::string> &trace)
{
    std::string line;
    for (const std::string &l : trace)
        if (l.rfind("NWSMTSOpenDataSetForRestore(", 0) == 0)
            line = l;
    // (connection, parent, list, mode, handle)
    std::vector<std::string> arguments;
    std::size_t at = line.find('(') + 1;
    for (int i = 0; i < 4; ++i) {
        std::size_t end = line.find(", ", at);
        arguments.push_back(line.substr(at, end - at));
        at = end + 2;
    }
    return {arguments[3], arguments[2] == "NULL" ? "NULL" : "list"};
}

TEST_F(GroupWise, TheMailServerTakesTheFixedRestoreOptions)
{
    useFaults("NWSMTSOpenDataSetForRestore@*=0xFFFDFFCC");
    struct Case {
        const char *name;
        std::pair<std::string, std::string> expected;
    };
    for (Case c : {Case{"GroupWise Mail Server", {"0x1", "NULL"}}, Case{"DOM1:\\a", {"0x3101", "list"}},
                   Case{"DOM1:", {"0x3101", "list"}}}) {
        std::string path = c.name;
        clearTrace();
        EXPECT_EQ(object->BeginRestore(path.data(), 0, true, KXSMS_TRUSTEE_OWNER, false, false, true),
                  KXSMS_ERR_OPEN_FAILED)
            << c.name;
        EXPECT_EQ(openArguments(traceLines()), c.expected) << c.name;
    }
}

TEST_F(GroupWise, DeletionGoesToTheFileSystem)
{
    struct Case {
        const char *path;
        unsigned code;
    };
    for (Case c : {Case{"GroupWise Mail Server", KXSMS_ERR_DELETE_FAILED}, Case{"DOM1:\\", KXSMS_ERR_DELETE_FAILED},
                   Case{"DOM1:\\a", KXSMS_ERR_DELETE_FAILED}, Case{"DOM1:\\nothing", KXSMS_ERR_DATA_NOT_FOUND},
                   Case{"DOM1:\\top.txt", 0u}, Case{"DOM1:\\empty", 0u}}) {
        std::string path = c.path;
        EXPECT_EQ(object->DeleteDataSet(path.data()), c.code) << c.path;
    }
    EXPECT_FALSE(fs::exists(dir / "gw/dom1/top.txt"));
    EXPECT_FALSE(fs::exists(dir / "gw/dom1/empty"));
    EXPECT_TRUE(fs::exists(dir / "gw/dom1/a/f.txt"));
    expectNothingOpen();
}

} // namespace
