// Backup, restore and delete on the directory TSA, broken restore streams,
// and the store file as other processes see it.
#include "directory/DirectoryFixture.h"
#include "StreamBytes.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace smsemutest {
namespace {

using nlohmann::json;

std::uint64_t getLe(const std::string &s, std::size_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

// A directory stream taken apart (its framing checked): {"name", "type"} and
// the rest of the data.
std::pair<json, json> open(const std::string &stream)
{
    EXPECT_EQ(stream.substr(0, 4), "KXFH");
    std::size_t header = getLe(stream, 6, 2);
    std::size_t nameLength = getLe(stream, 10, 2);
    std::string name = stream.substr(88, nameLength); // after the fixed part of a version 2 header
    EXPECT_EQ(stream.substr(header, 4), "KXFE");
    EXPECT_EQ(getLe(stream, header + 4, 8), 0u);
    std::size_t length = getLe(stream, header + 12, 8);
    EXPECT_EQ(getLe(stream, 56, 8), length) << "the header's size";
    EXPECT_EQ(stream.size(), header + 20 + length + 20);
    EXPECT_EQ(stream.substr(header + 20 + length, 4), "KXFT");
    json data = json::parse(stream.substr(header + 20, length));
    json type = data["type"];
    data.erase("type");
    return {json{{"name", name}, {"type", type}}, data};
}

// A stream such as a backup makes, from its name and data text.
std::string makeStreamRaw(const std::string &name, const std::string &data, std::uint8_t kind = 1)
{
    HandHeader header;
    header.kind = kind;
    header.mode = 0;
    header.size = kind == 1 ? data.size() : 0;
    header.name = name;
    return handStream(header, kind == 1 ? std::vector<std::pair<std::uint64_t, std::string>>{{0, data}}
                                        : std::vector<std::pair<std::uint64_t, std::string>>{});
}

// The same from a header {"name", "type"} and the rest of the data.
std::string makeStream(const json &header, json data)
{
    if (header.contains("type"))
        data["type"] = header["type"];
    return makeStreamRaw(header.value("name", std::string()), data.dump());
}

class DirectoryData : public Directory {};

TEST_F(DirectoryData, BackupStreamCarriesNameClassAndAttributes)
{
    useDirectory(kAcmeStore, "tree");
    for (UINT32 block : {1u, 7u, 64u, 65536u}) {
        std::string stream;
        ASSERT_EQ(backup(".CN=Admin.O=Acme.[Root]", stream, block), 0u);
        auto [header, data] = open(stream);
        EXPECT_EQ(header, (json{{"name", ".CN=Admin.O=Acme.T=ACME_TREE"}, {"type", "object"}}));
        EXPECT_EQ(data, (json{{"class", "User"},
                              {"attributes", {{"mail", {"admin@acme.example"}}, {"telephoneNumber", {"1", "2"}}}}}));
    }
    std::string stream;
    ASSERT_EQ(backup("Schema", stream), 0u);
    EXPECT_EQ(open(stream).first["type"], "resource");
    ASSERT_EQ(backup(".CN=OrganizationalUnit.Schema", stream), 0u);
    EXPECT_EQ(open(stream).second["attributes"]["container"], json{"TRUE"});
}

TEST_F(DirectoryData, ReadsFillTheBufferUntilTheEnd)
{
    useDirectory();
    std::string whole;
    ASSERT_EQ(backup(".O=Acme.[Root]", whole), 0u);
    // A buffer of exactly the stream's length is filled; the next read is empty.
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin(".O=Acme.[Root]", true, sequence, info, names), 0u);
    UINT32 handle = 0;
    ASSERT_EQ(NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle), 0u);
    // The data set lives on when its scan ends.
    ASSERT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
    std::vector<UINT8> buffer(whole.size() + 10);
    UINT32 got = 0;
    ASSERT_EQ(NWSMTSReadDataSet(connection, handle, static_cast<UINT32>(whole.size()), &got, buffer.data()), 0u);
    EXPECT_EQ(got, whole.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), whole);
    ASSERT_EQ(NWSMTSReadDataSet(connection, handle, 10, &got, buffer.data()), 0u);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(NWSMTSWriteDataSet(connection, handle, 1, buffer.data()), NWSMTS_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
}

TEST_F(DirectoryData, RestoreRecreatesDeletedObjectsIdentically)
{
    useDirectory();
    std::string before = storeText();
    std::map<std::string, std::string> streams;
    for (const char *name : {".CN=Bob.OU=Sales.O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]", ".CN=a\\.b.O=Acme.[Root]",
                             ".OU=Empty.O=Acme.[Root]"})
        ASSERT_EQ(backup(name, streams[name]), 0u) << name;
    for (const auto &[name, stream] : streams)
        ASSERT_EQ(remove(name), 0u) << name;
    EXPECT_EQ(scanNames(".O=Acme.[Root]"), (std::vector<std::string>{".O=Acme.[Root]", ".OU=Sales.O=Acme.[Root]"}));
    // Without a name list the stream names the object; written a byte at a time too.
    std::size_t block = 1;
    for (const auto &[name, stream] : streams) {
        ASSERT_EQ(restore(stream, std::nullopt, NWSM_OVERWRITE_DATA_SET, block), 0u) << name;
        block = 65536;
    }
    for (const auto &[name, stream] : streams) {
        std::string again;
        ASSERT_EQ(backup(name, again), 0u);
        EXPECT_EQ(again, stream) << name;
    }
    // The store holds the same objects (containers first; order within one may differ).
    json was = json::parse(before), now = json::parse(storeText());
    auto byName = [](const json &store) {
        std::map<std::string, json> out;
        for (const json &o : store["objects"])
            out[o["dn"]] = {o["class"], o.value("attributes", json::object())};
        for (auto &[dn, o] : out)
            for (auto &[attribute, values] : o[1].items())
                if (values.is_string())
                    values = json::array({values});
        return out;
    };
    EXPECT_EQ(byName(now), byName(was));
}

TEST_F(DirectoryData, RestoreUnderANewNameAndReplacement)
{
    useDirectory(kAcmeStore, "tree");
    std::string admin;
    ASSERT_EQ(backup(".CN=Admin.O=Acme.[Root]", admin), 0u);
    // The name list wins over the stream's name; the top may be in either form.
    ASSERT_EQ(restore(admin, ".CN=Carol.OU=Sales.O=Acme.[Root]"), 0u);
    std::string carol;
    ASSERT_EQ(backup(".CN=Carol.OU=Sales.O=Acme.T=ACME_TREE", carol), 0u);
    EXPECT_EQ(open(carol).first["name"], ".CN=Carol.OU=Sales.O=Acme.T=ACME_TREE");
    EXPECT_EQ(open(carol).second, open(admin).second);

    // Replacing keeps the object's place, name spelling and children.
    json header{{"name", ".o=ACME.[Root]"}, {"type", "object"}};
    ASSERT_EQ(restore(makeStream(header, {{"class", "Organization"}, {"attributes", {{"l", "Here"}}}})), 0u);
    std::vector<DirectoryFound> top = scan(".[Root]", true);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[1].name, ".O=Acme.T=ACME_TREE");
    EXPECT_EQ(scan(".O=Acme.[Root]", true).size(), 5u);
    std::string acme;
    ASSERT_EQ(backup(".O=Acme.[Root]", acme), 0u);
    EXPECT_EQ(open(acme).second, (json{{"class", "Organization"}, {"attributes", {{"l", {"Here"}}}}}));

    // The top takes a class and attributes, and keeps them in the store.
    ASSERT_EQ(restore(makeStream({{"name", ".[Root]"}, {"type", "object"}},
                                 {{"class", "Top"}, {"attributes", {{"description", "the tree"}}}})),
              0u);
    EXPECT_NE(storeText().find("\"dn\": \".[Root]\""), std::string::npos);

    // Resources and known class definitions restore without a change.
    std::string before = storeText();
    for (const char *name : {"ACME_TREE", "Schema", ".CN=User.Schema"}) {
        std::string stream;
        ASSERT_EQ(backup(name, stream), 0u) << name;
        EXPECT_EQ(restore(stream), 0u) << name;
        EXPECT_EQ(restore(stream, std::string(name)), 0u) << name;
    }
    EXPECT_EQ(storeText(), before);
}

struct Refusal {
    const char *what;
    std::optional<std::string> name; // the open's name list
    std::string streamName;
    std::string type;
    UINT32 mode;
    CCODE atOpen; // 0: the open succeeds
    CCODE expected;
};

TEST_F(DirectoryData, RestoreRefusesWhatItCannotPlace)
{
    useDirectory();
    const std::vector<Refusal> cases{
        {"no container", std::nullopt, ".CN=X.OU=Nowhere.O=Acme.[Root]", "object", 1, 0, NWSMTS_INVALID_PATH},
        {"no container, listed", ".CN=X.OU=Nowhere.O=Acme.[Root]", ".CN=Y.O=Acme.[Root]", "object", 1,
         NWSMTS_INVALID_PATH, 0},
        {"not a name of the tree", ".CN=X.O=Acme", "", "object", 1, NWSMTS_INVALID_PATH, 0},
        {"other tree", std::nullopt, ".CN=X.O=Acme.T=ELSEWHERE", "object", 1, 0, NWSMTS_INVALID_PATH},
        {"empty component", std::nullopt, ".CN=X..O=Acme.[Root]", "object", 1, 0, NWSMTS_INVALID_PATH},
        {"exists, no overwrite", ".CN=Admin.O=Acme.[Root]", "", "object", 0, NWSMTS_DATA_SET_ALREADY_EXISTS, 0},
        {"exists, keep newer", std::nullopt, ".CN=Admin.O=Acme.[Root]", "object", NWSM_KEEP_NEWER_DATA_SET, 0,
         NWSMTS_DATA_SET_IS_OLDER},
        {"top, no overwrite", std::nullopt, ".[Root]", "object", 0, 0, NWSMTS_DATA_SET_ALREADY_EXISTS},
        {"unknown class definition", std::nullopt, ".CN=Robot.Schema", "class definition", 1, 0, NWSMTS_INVALID_PATH},
        {"unknown class definition, listed", ".CN=Robot.Schema", "", "class definition", 1, NWSMTS_INVALID_PATH, 0},
        {"object stream onto a resource", "Schema", ".CN=Y.O=Acme.[Root]", "object", 1, 0, NWSMTS_INVALID_DATA_SET},
        {"unknown type", std::nullopt, ".CN=Y.O=Acme.[Root]", "file", 1, 0, NWSMTS_INVALID_DATA_SET},
        {"name with a NUL", std::nullopt, std::string(".CN=Y\0.O=Acme.[Root]", 21), "object", 1, 0,
         NWSMTS_INVALID_PATH},
    };
    const std::string before = storeText();
    for (const Refusal &c : cases) {
        std::string stream =
            makeStream({{"name", c.streamName}, {"type", c.type}}, {{"class", "User"}, {"attributes", json::object()}});
        NWSM_DATA_SET_NAME_LIST *list = c.name ? nameList(*c.name) : nullptr;
        UINT32 handle = 0;
        CCODE rc = NWSMTSOpenDataSetForRestore(connection, 0, list, c.mode, &handle);
        std::free(list);
        EXPECT_EQ(rc, c.atOpen) << c.what;
        if (rc == 0) {
            EXPECT_EQ(NWSMTSWriteDataSet(connection, handle, static_cast<UINT32>(stream.size()),
                                         reinterpret_cast<UINT8 *>(stream.data())),
                      0u)
                << c.what;
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), c.expected) << c.what;
        }
        EXPECT_EQ(storeText(), before) << c.what;
        EXPECT_EQ(smsemuOpenDataSets(), 0) << c.what;
    }
}

// Broken streams: each answers the header or trailer code and changes nothing.
TEST_F(DirectoryData, BrokenStreamsLeaveTheStoreAlone)
{
    useDirectory();
    std::string good;
    ASSERT_EQ(backup(".CN=Admin.O=Acme.[Root]", good), 0u);
    ASSERT_EQ(remove(".CN=Admin.O=Acme.[Root]"), 0u);
    const std::string before = storeText();
    const std::size_t header = getLe(good, 6, 2);
    const std::size_t dataAt = header + 20;
    const std::string data = good.substr(dataAt, getLe(good, header + 12, 8));
    const std::string name = ".CN=Admin.O=Acme.[Root]";

    struct Broken {
        std::string what;
        std::string stream;
        CCODE expected;
    };
    std::vector<Broken> cases{
        {"empty", "", NWSMTS_EXPECTING_HEADER},
        {"wrong magic", "XXFH" + good.substr(4), NWSMTS_EXPECTING_HEADER},
        {"wrong version", good.substr(0, 4) + std::string("\3\0", 2) + good.substr(6), NWSMTS_EXPECTING_HEADER},
        {"header length too small", good.substr(0, 6) + std::string("\x10\0", 2) + good.substr(8),
         NWSMTS_EXPECTING_HEADER},
        {"name changed", good.substr(0, 88) + "X" + good.substr(89), NWSMTS_EXPECTING_HEADER},
        {"a directory's header", makeStreamRaw(name, data, 2), NWSMTS_EXPECTING_HEADER},
        {"data not JSON", makeStreamRaw(name, "{oops"), NWSMTS_INVALID_DATA_SET},
        {"data without a type", makeStreamRaw(name, R"({"class": "User"})"), NWSMTS_INVALID_DATA_SET},
        {"data without a class", makeStream({{"name", name}, {"type", "object"}}, {{"x", 1}}), NWSMTS_INVALID_DATA_SET},
        {"long class", makeStream({{"name", name}, {"type", "object"}}, {{"class", std::string(256, 'c')}}),
         NWSMTS_INVALID_DATA_SET},
        {"data over 16 MiB",
         makeStream({{"name", name}, {"type", "object"}},
                    {{"class", "User"}, {"attributes", {{"a", std::string(16u << 20, 'v')}}}}),
         NWSMTS_INVALID_DATA_SET},
        {"bad attribute",
         makeStream({{"name", name}, {"type", "object"}}, {{"class", "User"}, {"attributes", {{"a", {1, 2}}}}}),
         NWSMTS_INVALID_DATA_SET},
        {"data changed", good.substr(0, dataAt) + "X" + good.substr(dataAt + 1), NWSMTS_EXPECTING_TRAILER},
        {"checksum changed", good.substr(0, good.size() - 1) + "\x01", NWSMTS_EXPECTING_TRAILER},
        {"extent not at 0", good.substr(0, header + 4) + "\1" + good.substr(header + 5), NWSMTS_EXPECTING_TRAILER},
        {"unknown record", good.substr(0, header) + "KXFX" + good.substr(header + 4), NWSMTS_EXPECTING_TRAILER},
        {"short of its size", handStream(HandHeader{1, 0, 0, data.size() + 1, name, ""}, {{0, data}}),
         NWSMTS_EXPECTING_TRAILER},
        {"bytes after the trailer", good + "!", NWSMTS_EXPECTING_TRAILER},
        {"a hole between extents",
         handStream(HandHeader{1, 0, 0, data.size() + 1, name, ""}, {{0, data.substr(0, 5)}, {6, data.substr(5)}}),
         NWSMTS_EXPECTING_TRAILER},
        {"an attribute section", withRecords(HandHeader{1, 0, 0, 0, name, "", 2}, attributeRecord({{"user.a", "1"}})),
         NWSMTS_EXPECTING_TRAILER},
        {"a pad", withRecords(HandHeader{1, 0, 0, 0, name, "", 2}, handRecord("KXFP", 0, 0)), NWSMTS_EXPECTING_TRAILER},
    };
    for (std::size_t cut = 1; cut < good.size(); cut += cut < 40 ? 1 : 17)
        cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut),
                         cut < header ? NWSMTS_EXPECTING_HEADER : NWSMTS_EXPECTING_TRAILER});
    for (const Broken &c : cases)
        for (std::size_t block : {c.stream.size() < 4096 ? std::size_t(1) : std::size_t(4093), std::size_t(65536)}) {
            EXPECT_EQ(restore(c.stream, std::nullopt, NWSM_OVERWRITE_DATA_SET, block), c.expected)
                << c.what << ", blocks of " << block;
            EXPECT_EQ(storeText(), before) << c.what;
        }
    // The good stream still restores, and so does its data in two extents.
    EXPECT_EQ(
        restore(handStream(HandHeader{1, 0, 0, data.size(), name, ""}, {{0, data.substr(0, 5)}, {5, data.substr(5)}})),
        0u);
    EXPECT_EQ(restore(good), 0u);
}

TEST_F(DirectoryData, DeleteTakesLeavesOnly)
{
    useDirectory();
    struct Case {
        const char *name;
        CCODE expected;
    };
    for (Case c : {Case{".OU=Sales.O=Acme.[Root]", NWSMTS_DELETE_ERR}, Case{".[Root]", NWSMTS_DELETE_ERR},
                   Case{"ACME_TREE", NWSMTS_DELETE_ERR}, Case{"Schema", NWSMTS_DELETE_ERR},
                   Case{".CN=User.Schema", NWSMTS_DELETE_ERR}, Case{".CN=Bob.OU=Sales.O=Acme.[Root]", 0},
                   Case{".OU=Sales.O=Acme.[Root]", 0}, Case{".OU=Empty.O=Acme.[Root]", 0}})
        EXPECT_EQ(remove(c.name), c.expected) << c.name;
    EXPECT_EQ(scanNames(".[Root]"), (std::vector<std::string>{".[Root]", ".O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]",
                                                              ".CN=a\\.b.O=Acme.[Root]"}));

    // A data set deleted under a scan's feet: the delete at that position
    // finds nothing.
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin(".CN=Admin.O=Acme.[Root]", true, sequence, info, names), 0u);
    ASSERT_EQ(remove(".CN=Admin.O=Acme.[Root]"), 0u);
    EXPECT_EQ(NWSMTSDeleteDataSet(connection, sequence), NWSMTS_NO_DATA_SETS_FOUND);
    UINT32 handle = 0;
    EXPECT_EQ(NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle),
              NWSMTS_NO_DATA_SETS_FOUND);
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
}

TEST_F(DirectoryData, ArchiveFlagClearsUntilTheObjectChanges)
{
    useDirectory();
    auto archive = [&](const std::string &name) {
        std::vector<DirectoryFound> found = scan(name, true);
        return !found.empty() && (found[0].attributes & NWSM_ATTR_ARCHIVE) != 0;
    };
    std::string stream;
    ASSERT_EQ(backup(".CN=Admin.O=Acme.[Root]", stream), 0u);
    EXPECT_TRUE(archive(".CN=Admin.O=Acme.[Root]")) << "a backup alone does not clear it";
    ASSERT_EQ(backup(".CN=Admin.O=Acme.[Root]", stream, 65536, true), 0u);
    EXPECT_FALSE(archive(".CN=Admin.O=Acme.[Root]"));
    EXPECT_TRUE(archive(".CN=Bob.OU=Sales.O=Acme.[Root]"));
    // The same content restored: still archived; other content: set again.
    ASSERT_EQ(restore(stream), 0u);
    EXPECT_FALSE(archive(".CN=Admin.O=Acme.[Root]"));
    std::string bob;
    ASSERT_EQ(backup(".CN=Bob.OU=Sales.O=Acme.[Root]", bob), 0u);
    ASSERT_EQ(restore(bob, ".CN=Admin.O=Acme.[Root]"), 0u);
    EXPECT_TRUE(archive(".CN=Admin.O=Acme.[Root]"));
    // A zero flag sets it again.
    ASSERT_EQ(backup("Schema", stream, 65536, true), 0u);
    EXPECT_FALSE(archive("Schema"));
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin("Schema", true, sequence, info, names), 0u);
    UINT32 handle = 0;
    ASSERT_EQ(NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle), 0u);
    EXPECT_EQ(NWSMTSSetArchiveStatus(connection, handle, 0, 0), 0u);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
    EXPECT_TRUE(archive("Schema"));
}

// ---- The store file --------------------------------------------------------------

TEST_F(DirectoryData, EachChangeReplacesTheStoreFileWhole)
{
    useDirectory();
    chmod((dir_ / "tree.json").c_str(), 0640);
    struct stat before {};
    ASSERT_EQ(stat((dir_ / "tree.json").c_str(), &before), 0);
    ASSERT_EQ(remove(".CN=Bob.OU=Sales.O=Acme.[Root]"), 0u);
    struct stat after {};
    ASSERT_EQ(stat((dir_ / "tree.json").c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "renamed over, not written in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    // Nothing else is left in the folder.
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir_))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"smsemu.toml", "tree.json"}));
    // What was written reads back as the tree now is.
    json store = json::parse(storeText());
    EXPECT_EQ(store["objects"].size(), 5u);
    EXPECT_EQ(store["objects"][0]["dn"], ".O=Acme.[Root]") << "containers first";
}

TEST_F(DirectoryData, TheRewrittenStoreIsIndentedJsonInTreeOrder)
{
    // Written straight from the tree: the layout must stay the one people
    // and other tools read (two-space indents, every value an array),
    // strings escaped as JSON wants, and an empty tree still a store.
    useDirectory(R"({"objects": [{"dn": ".O=Acme.[Root]", "class": "Organization"}]})");
    ASSERT_EQ(restore(makeStream({{"name", ".CN=Q.O=Acme.[Root]"}, {"type", "object"}},
                                 {{"class", "User"},
                                  {"attributes", {{"none", json::array()}, {"odd", {"a\"b\\c", "\u00e9\t\x01"}}}}})),
              0u);
    EXPECT_EQ(storeText(), "{\n"
                           "  \"objects\": [\n"
                           "    {\n"
                           "      \"dn\": \".O=Acme.[Root]\",\n"
                           "      \"class\": \"Organization\"\n"
                           "    },\n"
                           "    {\n"
                           "      \"dn\": \".CN=Q.O=Acme.[Root]\",\n"
                           "      \"class\": \"User\",\n"
                           "      \"attributes\": {\n"
                           "        \"none\": [],\n"
                           "        \"odd\": [\n"
                           "          \"a\\\"b\\\\c\",\n"
                           "          \"\u00e9\\t\\u0001\"\n"
                           "        ]\n"
                           "      }\n"
                           "    }\n"
                           "  ]\n"
                           "}\n");
    ASSERT_EQ(remove(".CN=Q.O=Acme.[Root]"), 0u);
    ASSERT_EQ(remove(".O=Acme.[Root]"), 0u);
    EXPECT_EQ(storeText(), "{\n  \"objects\": []\n}\n");
}

TEST_F(DirectoryData, ChangesOfAnotherProcessAreSeen)
{
    useDirectory();
    // Another writer replaces the store: the next scan reads it.
    write("tree.json", R"({"objects": [{"dn": ".O=Other.[Root]", "class": "Organization"}]})");
    EXPECT_EQ(scanNames(".[Root]"), (std::vector<std::string>{".[Root]", ".O=Other.[Root]"}));

    // A store that no longer parses: reported, the scan fails, and it works
    // again once the file is mended.
    write("tree.json", "{\"objects\": [\n  {\"dn\": 5}\n]}");
    ::testing::internal::CaptureStderr();
    CCODE rc = 0;
    EXPECT_TRUE(scan(".[Root]", false, nullptr, &rc).empty());
    EXPECT_TRUE(scan(".[Root]", false, nullptr, &rc).empty());
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, NWSMTS_READ_ERROR);
    EXPECT_NE(err.find("tree.json: objects[0]: \"dn\" must be a string"), std::string::npos) << err;
    EXPECT_EQ(err.find("smsemu:"), err.rfind("smsemu:")) << "reported once: " << err;
    write("tree.json", kAcmeStore);
    EXPECT_EQ(scanNames(".[Root]", true), (std::vector<std::string>{".[Root]", ".O=Acme.[Root]"}));

    // Processes restoring at once each keep what the others wrote.
    std::string bob;
    ASSERT_EQ(backup(".CN=Bob.OU=Sales.O=Acme.[Root]", bob), 0u);
    std::vector<pid_t> children;
    for (int child = 0; child < 3; ++child) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            smsemuReset();
            connection = loggedIn("srv1.Directory", "ACME_TREE");
            bool ok = true;
            for (int i = 0; i < 15; ++i)
                ok = ok && restore(bob, ".CN=U" + std::to_string(child) + "_" + std::to_string(i) +
                                            ".OU=Sales.O=Acme.[Root]") == 0;
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(scanNames(".OU=Sales.O=Acme.[Root]", true).size(), 2u + 45u);
}

} // namespace
} // namespace smsemutest
