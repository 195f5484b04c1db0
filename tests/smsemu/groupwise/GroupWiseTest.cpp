// The GroupWise TSA: scans of "GroupWise Mail Server" and of domains, names
// in GroupWise form, streams that name their data set so, restores, deletes
// and confinement (the domains are served by the file-system TSA).
#include "directory/DirectoryFixture.h"
#include "StreamBytes.h"

#include <sys/stat.h>
#include <unistd.h>

namespace smsemutest {
namespace {

using Names = std::vector<std::string>;

class StandInGroupWise : public Directory {
protected:
    void SetUp() override
    {
        Directory::SetUp();
        write("dom1/a/f.txt", "first file");
        write("dom1/a/b/g.txt", "second");
        write("dom1/top.txt", "top");
        makeDir("dom1/empty");
        write("dom2/h.txt", "other domain");
        write("outside/secret.txt", "not in any domain");
        useConfig(R"([host]
name = "srv1"
[[tsa]]
type = "GroupWise System"
target_service = "gw1"
users = { admin = "secret" }
  [[tsa.resource]]
  name = "DOM1:"
  path = "dom1"
  [[tsa.resource]]
  name = "DOM2:"
  path = "dom2"
  name_spaces = ["NFS"]
)");
        connection = loggedIn("srv1.GroupWise System", "gw1");
    }

    std::string content(const std::string &path)
    {
        std::ifstream in(dir_ / path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The name in a stream's header.
    static std::string headerName(const std::string &stream)
    {
        std::size_t length = static_cast<unsigned char>(stream[10]) | static_cast<unsigned char>(stream[11]) << 8;
        // After the fixed part: 104 bytes in version 3 (with a change time), 88 in version 2.
        return stream.substr(stream[4] == 3 ? 104 : 88, length);
    }
};

TEST_F(StandInGroupWise, ServerScansGoThroughTheDomains)
{
    EXPECT_EQ(scanNames("GroupWise Mail Server", true), (Names{"GroupWise Mail Server", "DOM1:", "DOM2:"}));
    EXPECT_EQ(scanNames("groupwise mail server", false),
              (Names{"GroupWise Mail Server", "DOM1:", "DOM1:a", "DOM1:a/b", "DOM1:a/b/g.txt", "DOM1:a/f.txt",
                     "DOM1:empty", "DOM1:top.txt", "DOM2:", "DOM2:h.txt"}));
    std::vector<DirectoryFound> server = scan("GroupWise Mail Server", true);
    ASSERT_EQ(server.size(), 3u);
    EXPECT_EQ(server[0].nameSpace, NWSM_TSA_DEFINED_RESOURCE);
    EXPECT_TRUE(server[0].parent);
    EXPECT_TRUE(server[1].parent);
    EXPECT_EQ(server[1].nameSpace, 0u) << "DOM1: lists its names in DOS first";
    EXPECT_EQ(server[2].nameSpace, 2u);
}

TEST_F(StandInGroupWise, DomainScansAndTheirNames)
{
    struct Case {
        const char *start;
        bool oneLevel;
        Names expected;
    };
    for (const Case &c :
         {Case{"DOM1:", true, {"DOM1:", "DOM1:a", "DOM1:empty", "DOM1:top.txt"}},
          Case{"dom1:/a", false, {"DOM1:a", "DOM1:a/b", "DOM1:a/b/g.txt", "DOM1:a/f.txt"}},
          Case{"DOM1:a/", true, {"DOM1:a", "DOM1:a/b", "DOM1:a/f.txt"}}, Case{"DOM2:h.txt", false, {"DOM2:h.txt"}}})
        EXPECT_EQ(scanNames(c.start, c.oneLevel), c.expected) << c.start;

    // Each name comes in every name space of its domain, with ':' and '/'.
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin("DOM1:a/f.txt", false, sequence, info, names, nullptr, static_cast<INT32>(NWSM_RETURN_UTF8_NAMES)),
              0u);
    std::vector<std::pair<UINT32, std::string>> listed;
    NWSM_DATA_SET_NAME name{};
    for (UINT32 type : {256u, 260u}) {
        ASSERT_EQ(NWSMGetDataSetName(names, type, &name), 0u) << type;
        listed.emplace_back(type, name.name);
    }
    EXPECT_EQ(listed, (std::vector<std::pair<UINT32, std::string>>{{256, "DOM1:a/f.txt"}, {260, "DOM1:a/f.txt"}}));
    EXPECT_EQ(info->primaryDataStreamSize, std::strlen("first file"));
    EXPECT_EQ(info->parentFlag, 0);
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
}

TEST_F(StandInGroupWise, NamesOutsideTheDomainsAreRefused)
{
    ASSERT_EQ(symlink((dir_ / "outside").c_str(), (dir_ / "dom1/link").c_str()), 0);
    struct Case {
        const char *name;
        CCODE code;
    };
    for (Case c : {Case{"DOM3:a", NWSMTS_INVALID_PATH}, Case{"DOM1", NWSMTS_INVALID_PATH},
                   Case{"DOM1:../outside", NWSMTS_INVALID_PATH}, Case{"DOM1:a/../../outside", NWSMTS_INVALID_PATH},
                   Case{"DOM1:link/secret.txt", NWSMTS_INVALID_PATH}, Case{"DOM1:nothing", NWSMTS_NO_DATA_SETS_FOUND},
                   Case{"/DOM1/a", NWSMTS_INVALID_PATH}}) {
        CCODE rc = 0;
        EXPECT_TRUE(scan(c.name, false, nullptr, &rc).empty()) << c.name;
        EXPECT_EQ(rc, c.code) << c.name;
    }
    // A restore that names such a place, by its list or by its stream.
    std::string stream = handStream(HandHeader{1, 0644, 1600000000, 1, "DOM1:../escape.txt", ""}, {{0, "x"}});
    EXPECT_EQ(restore(stream), NWSMTS_INVALID_PATH);
    EXPECT_EQ(restore(stream, std::string("DOM1:link/secret.txt")), NWSMTS_INVALID_PATH);
    EXPECT_EQ(restore(stream, std::string("DOM9:x")), NWSMTS_INVALID_PATH);
    EXPECT_EQ(content("outside/secret.txt"), "not in any domain");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "escape.txt"));
}

TEST_F(StandInGroupWise, SelectionListsInGroupWiseForm)
{
    NWSM_SELECTION_LIST *list = nullptr;
    NWSM_NAME_HANDLE handle = nullptr;
    ASSERT_EQ(NWSMPutFirstName(&list, NWSM_TSA_DEFINED_RESOURCE, NWSM_TSA_DEFINED_RESOURCE_EXC, 0, nullptr, nullptr,
                               const_cast<char *>("dom2:"), &handle),
              0u);
    ASSERT_EQ(NWSMPutNextName(&list, &handle, 0, NWSM_PARENT_TO_BE_EXCLUDED, 0, nullptr, nullptr,
                              const_cast<char *>("DOM1:a/b")),
              0u);
    ASSERT_EQ(NWSMPutNextName(&list, &handle, 0, NWSM_CHILD_TO_BE_EXCLUDED, 0, nullptr, nullptr,
                              const_cast<char *>("DOM1:top.txt")),
              0u);
    ASSERT_EQ(NWSMCloseName(&handle), 0u);
    Names found;
    for (const DirectoryFound &f : scan("GroupWise Mail Server", false, list))
        found.push_back(f.name);
    EXPECT_EQ(found, (Names{"GroupWise Mail Server", "DOM1:", "DOM1:a", "DOM1:a/f.txt", "DOM1:empty"}));
    CCODE rc = 0;
    EXPECT_TRUE(scan("DOM2:h.txt", false, list, &rc).empty());
    EXPECT_EQ(rc, NWSMTS_DATA_SET_EXCLUDED);
    std::free(list);

    list = nullptr;
    ASSERT_EQ(NWSMPutFirstName(&list, NWSM_TSA_DEFINED_RESOURCE, NWSM_TSA_DEFINED_RESOURCE_EXC, 0, nullptr, nullptr,
                               const_cast<char *>("GroupWise Mail Server"), &handle),
              0u);
    EXPECT_TRUE(scan("GroupWise Mail Server", true, list, &rc).empty());
    EXPECT_EQ(rc, NWSMTS_DATA_SET_EXCLUDED);
    EXPECT_EQ(scanNames("DOM2:", true), (Names{"DOM2:", "DOM2:h.txt"})) << "without the list";
    std::free(list);
}

TEST_F(StandInGroupWise, StreamsNameTheirDataSetsInGroupWiseForm)
{
    std::string file, domain, server;
    ASSERT_EQ(backup("DOM1:a/f.txt", file, 5), 0u);
    EXPECT_EQ(headerName(file), "DOM1:a/f.txt");
    ASSERT_EQ(backup("DOM1:", domain), 0u);
    EXPECT_EQ(headerName(domain), "DOM1:");
    ASSERT_EQ(backup("GroupWise Mail Server", server, 3), 0u);
    EXPECT_EQ(server, handStream(HandHeader{2, 0, 0, 0, "GroupWise Mail Server", "", 2}, {}))
        << "a directory header and an empty trailer";

    // Restored by the stream's name: the file comes back with its content,
    // permission bits and modification time.
    struct stat before {};
    ASSERT_EQ(chmod((dir_ / "dom1/a/f.txt").c_str(), 0640), 0);
    ASSERT_EQ(backup("DOM1:a/f.txt", file), 0u);
    ASSERT_EQ(stat((dir_ / "dom1/a/f.txt").c_str(), &before), 0);
    ASSERT_EQ(remove("DOM1:a/f.txt"), 0u);
    ASSERT_FALSE(std::filesystem::exists(dir_ / "dom1/a/f.txt"));
    ASSERT_EQ(restore(file, std::nullopt, NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE | NWSM_RESTORE_TIMES, 3), 0u);
    struct stat after {};
    ASSERT_EQ(stat((dir_ / "dom1/a/f.txt").c_str(), &after), 0);
    EXPECT_EQ(content("dom1/a/f.txt"), "first file");
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);

    // Under another name, in another domain; the server's own stream changes nothing.
    ASSERT_EQ(restore(file, std::string("dom2:copies/f.txt")), 0u);
    EXPECT_EQ(content("dom2/copies/f.txt"), "first file");
    EXPECT_EQ(restore(server), 0u);
    EXPECT_EQ(restore(server, std::string("GroupWise Mail Server")), 0u);
}

// A hard link's stream names its first name in GroupWise form; restored in
// another place of another domain it links to the first name restored there.
TEST_F(StandInGroupWise, HardLinksNameTheirFirstNameInGroupWiseForm)
{
    std::filesystem::create_hard_link(dir_ / "dom1/a/f.txt", dir_ / "dom1/top-link");
    std::string first, link;
    ASSERT_EQ(backup("DOM1:a/f.txt", first), 0u);
    ASSERT_EQ(backup("DOM1:top-link", link), 0u);
    EXPECT_EQ(headerName(link), "DOM1:top-link");
    EXPECT_NE(link.find("DOM1:a/f.txt"), std::string::npos) << "the first name, in GroupWise form";
    EXPECT_EQ(link.find("KXFE"), std::string::npos) << "no data";

    // In place, from the stream's own names, the first name still there.
    std::filesystem::remove(dir_ / "dom1/top-link");
    ASSERT_EQ(restore(link), 0u);
    struct stat c {
    }, d{};
    ASSERT_EQ(stat((dir_ / "dom1/a/f.txt").c_str(), &c), 0);
    ASSERT_EQ(stat((dir_ / "dom1/top-link").c_str(), &d), 0);
    EXPECT_EQ(c.st_ino, d.st_ino);

    // Elsewhere: linked to the first name as restored there.
    ASSERT_EQ(restore(first, std::string("DOM2:r/DOM1/a/f.txt")), 0u);
    ASSERT_EQ(restore(link, std::string("DOM2:r/DOM1/top-link")), 0u);
    struct stat a {
    }, b{};
    ASSERT_EQ(stat((dir_ / "dom2/r/DOM1/a/f.txt").c_str(), &a), 0);
    ASSERT_EQ(stat((dir_ / "dom2/r/DOM1/top-link").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_nlink, 2u);
}

TEST_F(StandInGroupWise, BrokenStreamsChangeNothing)
{
    std::string file;
    ASSERT_EQ(backup("DOM1:top.txt", file), 0u);
    std::string server;
    ASSERT_EQ(backup("GroupWise Mail Server", server), 0u);
    struct Case {
        const char *what;
        std::string stream;
        std::optional<std::string> name;
        CCODE code;
    };
    const std::vector<Case> cases{
        {"empty", "", std::nullopt, NWSMTS_EXPECTING_HEADER},
        {"empty, named", "", std::string("DOM1:new.txt"), NWSMTS_EXPECTING_HEADER},
        {"no header", "garbage" + file, std::nullopt, NWSMTS_EXPECTING_HEADER},
        {"header cut", file.substr(0, 40), std::nullopt, NWSMTS_EXPECTING_HEADER},
        {"data cut", file.substr(0, file.size() - 21), std::string("DOM1:new.txt"), NWSMTS_EXPECTING_TRAILER},
        {"damaged data", file.substr(0, file.size() - 22) + "#" + file.substr(file.size() - 21), std::nullopt,
         NWSMTS_EXPECTING_TRAILER},
        {"the file-system name", handStream(HandHeader{1, 0644, 1600000000, 1, "/DOM1/new.txt", ""}, {{0, "x"}}),
         std::nullopt, NWSMTS_INVALID_PATH},
        {"server with data", handStream(HandHeader{1, 0644, 1600000000, 1, "GroupWise Mail Server", ""}, {{0, "x"}}),
         std::nullopt, NWSMTS_INVALID_DATA_SET},
        {"server cut", server.substr(0, server.size() - 1), std::nullopt, NWSMTS_EXPECTING_TRAILER},
        {"server and more", server + "x", std::nullopt, NWSMTS_EXPECTING_TRAILER},
    };
    for (const Case &c : cases)
        for (std::size_t block : {std::size_t(1), std::size_t(65536)}) {
            EXPECT_EQ(restore(c.stream, c.name, NWSM_OVERWRITE_DATA_SET, block), c.code) << c.what << " " << block;
            EXPECT_EQ(content("dom1/top.txt"), "top") << c.what;
            EXPECT_FALSE(std::filesystem::exists(dir_ / "dom1/new.txt")) << c.what;
        }
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(dir_ / "dom1"))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a", "empty", "top.txt"})) << "no temporary file is left";
}

TEST_F(StandInGroupWise, DeleteIsTheFileSystems)
{
    struct Case {
        const char *name;
        CCODE code;
    };
    for (Case c : {Case{"GroupWise Mail Server", NWSMTS_DELETE_ERR}, Case{"DOM1:", NWSMTS_DELETE_ERR},
                   Case{"DOM1:a", NWSMTS_DELETE_ERR}, Case{"DOM1:top.txt", 0}, Case{"DOM1:empty", 0}})
        EXPECT_EQ(remove(c.name), c.code) << c.name;
    EXPECT_EQ(scanNames("DOM1:", true), (Names{"DOM1:", "DOM1:a"}));
}

TEST_F(StandInGroupWise, DomainNamesHoldNoSeparators)
{
    makeDir("d");
    useConfig("[host]\nname = \"srv1\"\n[[tsa]]\ntype = \"GroupWise System\"\n[[tsa.resource]]\nname = \"A/B:\"\n"
              "path = \"d\"\n");
    EXPECT_NE(std::string(smsemuLastConfigError()).find("no '/' or '\\'"), std::string::npos);
}

} // namespace
} // namespace smsemutest
