// Backup, restore and delete on the directory TSA, broken restore streams,
// and the store file as other processes see it.
#include "DirectoryFixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <xxhash.h>

namespace smsemutest {
namespace {

using nlohmann::json;

std::uint32_t get32(const std::string &s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

// The header payload and data of a stream (checked for its framing).
std::pair<json, json> open(const std::string &stream)
{
    EXPECT_EQ(stream.substr(0, 4), "SMSH");
    std::uint32_t payload = get32(stream, 8);
    std::size_t data = 12 + payload;
    EXPECT_EQ(stream.substr(data, 4), "SMSD");
    std::uint32_t length = get32(stream, data + 4);
    EXPECT_EQ(stream.size(), 12 + payload + 12 + length + 20);
    EXPECT_EQ(stream.substr(data + 12 + length, 4), "SMST");
    return {json::parse(stream.substr(12, payload)), json::parse(stream.substr(data + 12, length))};
}

void put(std::string &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
}

// A stream such as a backup makes, from its parts (checksum included).
std::string makeStreamRaw(const std::string &payload, const std::string &data)
{
    std::string both = payload + data;
    std::string out = "SMSH";
    put(out, 1, 4);
    put(out, payload.size(), 4);
    out += payload + "SMSD";
    put(out, data.size(), 8);
    out += data + "SMST";
    put(out, data.size(), 8);
    put(out, XXH64(both.data(), both.size(), 0), 8);
    return out;
}

std::string makeStream(const json &header, const json &data) { return makeStreamRaw(header.dump(), data.dump()); }

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
    std::vector<Found> top = scan(".[Root]", true);
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
        {"unknown class definition", std::nullopt, ".CN=Robot.Schema", "class definition", 1, 0,
         NWSMTS_INVALID_PATH},
        {"unknown class definition, listed", ".CN=Robot.Schema", "", "class definition", 1, NWSMTS_INVALID_PATH, 0},
        {"object stream onto a resource", "Schema", ".CN=Y.O=Acme.[Root]", "object", 1, 0,
         NWSMTS_INVALID_DATA_SET},
        {"unknown type", std::nullopt, ".CN=Y.O=Acme.[Root]", "file", 1, 0, NWSMTS_INVALID_DATA_SET},
        {"name with a NUL", std::nullopt, std::string(".CN=Y\0.O=Acme.[Root]", 21), "object", 1, 0,
         NWSMTS_INVALID_PATH},
        {"name over 1023 characters", std::nullopt, ".CN=" + std::string(1020, 'x') + ".O=Acme.[Root]", "object", 1,
         0, NWSMTS_INVALID_PATH},
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
    const std::size_t payload = get32(good, 8);
    const std::size_t dataAt = 12 + payload + 12;

    struct Broken {
        std::string what;
        std::string stream;
        CCODE expected;
    };
    std::vector<Broken> cases{
        {"empty", "", NWSMTS_EXPECTING_HEADER},
        {"wrong tag", "XMSH" + good.substr(4), NWSMTS_EXPECTING_HEADER},
        {"wrong version", good.substr(0, 4) + std::string("\2\0\0\0", 4) + good.substr(8), NWSMTS_EXPECTING_HEADER},
        {"huge header", good.substr(0, 8) + std::string("\xff\xff\xff\x7f", 4) + good.substr(12),
         NWSMTS_EXPECTING_HEADER},
        {"header not JSON", makeStreamRaw("not json", "{}"), NWSMTS_EXPECTING_HEADER},
        {"header without a name", makeStream({{"type", "object"}}, {{"class", "User"}}), NWSMTS_EXPECTING_HEADER},
        {"data not JSON", makeStreamRaw(R"({"name":".CN=Z.O=Acme.[Root]","type":"object"})", "{oops"),
         NWSMTS_INVALID_DATA_SET},
        {"data without a class", makeStream({{"name", ".CN=Z.O=Acme.[Root]"}, {"type", "object"}}, {{"x", 1}}),
         NWSMTS_INVALID_DATA_SET},
        {"long class", makeStream({{"name", ".CN=Z.O=Acme.[Root]"}, {"type", "object"}},
                                  {{"class", std::string(256, 'c')}}),
         NWSMTS_INVALID_DATA_SET},
        {"data over 16 MiB", makeStream({{"name", ".CN=Z.O=Acme.[Root]"}, {"type", "object"}},
                                        {{"class", "User"}, {"attributes", {{"a", std::string(16u << 20, 'v')}}}}),
         NWSMTS_INVALID_DATA_SET},
        {"bad attribute", makeStream({{"name", ".CN=Z.O=Acme.[Root]"}, {"type", "object"}},
                                     {{"class", "User"}, {"attributes", {{"a", {1, 2}}}}}),
         NWSMTS_INVALID_DATA_SET},
        {"data changed", good.substr(0, dataAt) + "X" + good.substr(dataAt + 1), NWSMTS_EXPECTING_TRAILER},
        {"name changed", good.substr(0, 25) + "B" + good.substr(26), NWSMTS_EXPECTING_TRAILER},
        {"checksum changed", good.substr(0, good.size() - 1) + "\x01", NWSMTS_EXPECTING_TRAILER},
        {"no data tag", good.substr(0, 12 + payload) + "XMSD" + good.substr(12 + payload + 4),
         NWSMTS_EXPECTING_TRAILER},
        {"bytes after the trailer", good + "!", NWSMTS_EXPECTING_TRAILER},
    };
    for (std::size_t cut = 1; cut < good.size(); cut += cut < 40 ? 1 : 17)
        cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut),
                         cut < 12 + payload ? NWSMTS_EXPECTING_HEADER : NWSMTS_EXPECTING_TRAILER});
    for (const Broken &c : cases)
        for (std::size_t block : {c.stream.size() < 4096 ? std::size_t(1) : std::size_t(4093), std::size_t(65536)}) {
            EXPECT_EQ(restore(c.stream, std::nullopt, NWSM_OVERWRITE_DATA_SET, block), c.expected)
                << c.what << ", blocks of " << block;
            EXPECT_EQ(storeText(), before) << c.what;
        }
    // The good stream still restores.
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
    EXPECT_EQ(scanNames(".[Root]"),
              (std::vector<std::string>{".[Root]", ".O=Acme.[Root]", ".CN=Admin.O=Acme.[Root]",
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
        std::vector<Found> found = scan(name, true);
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
