// The directory TSA over a real LDAP server (a slapd of the test's own):
// logins, scans in pages, streams with exact bytes, restores, deletes,
// archive flags, access controls, and a server that goes away.
#include "directory/LdapFixture.h"
#include "StreamBytes.h"

#include "directory/LdapCodes.h"
#include "directory/Ldif.h"
#include "requester/NameRules.h"

#include <algorithm>
#include <map>
#include <set>

namespace smsemutest {
namespace {

// The data (an LDIF record) of a backup stream of an object.
std::string streamData(const std::string &stream)
{
    const std::size_t start = stream.find("dn:");
    const std::size_t end = stream.rfind("KXFT");
    return start == std::string::npos || end == std::string::npos ? "" : stream.substr(start, end - start);
}

std::vector<smsemu::LdapAttribute> attributesOf(const std::string &stream)
{
    std::string dn;
    std::vector<smsemu::LdapAttribute> attributes;
    EXPECT_TRUE(smsemu::parseLdifRecord(streamData(stream), dn, attributes)) << stream;
    return attributes;
}

const std::vector<std::string> *valuesOf(const std::vector<smsemu::LdapAttribute> &attributes, const char *name)
{
    for (const smsemu::LdapAttribute &attribute : attributes)
        if (attribute.name == name)
            return &attribute.values;
    return nullptr;
}

// The records of a listing with the lines of each in order of their text:
// the same attributes and values, in whatever order the server keeps them.
std::vector<std::string> unordered(const std::string &ldif)
{
    std::vector<std::string> records = testsupport::sortedLdifRecords(ldif);
    for (std::string &record : records) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start <= record.size()) {
            std::size_t end = record.find('\n', start);
            lines.push_back(record.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        std::sort(lines.begin(), lines.end());
        record.clear();
        for (const std::string &line : lines)
            record += line + "\n";
    }
    return records;
}

// A directory object's stream around LDIF data of the test's own.
std::string objectStream(const std::string &name, const std::string &ldif)
{
    HandHeader header;
    header.kind = 1;
    header.mode = 0;
    header.mtime = 0;
    header.size = ldif.size();
    header.name = name;
    return handStream(header, {{0, ldif}});
}

class LdapServer : public LdapDirectory {};

TEST_F(LdapServer, LogsInByDnTypedNameOrTheProcessUser)
{
    useServer();
    struct Case {
        std::string user;
        std::string password;
        CCODE expected;
    };
    const Case cases[] = {
        {"cn=admin,o=Acme", "secret", 0},
        {".CN=admin.O=Acme.[Root]", "secret", 0},
        {"CN=admin.O=Acme", "secret", 0},
        {"uid=p10001,ou=People,o=Acme", "secret", NWSMTS_LOGIN_DENIED}, // its password is a hash of another
        {"cn=admin,o=Acme", "wrong", NWSMTS_LOGIN_DENIED},
        {"cn=admin,o=Acme", "", NWSMTS_LOGIN_DENIED}, // never an anonymous bind under a name
        {"cn=nobody,o=Acme", "secret", NWSMTS_LOGIN_DENIED},
        {testsupport::currentUserName(), "", 0}, // SASL EXTERNAL over the socket
        {"someone-else", "", NWSMTS_LOGIN_DENIED},
        {"", "", NWSMTS_LOGIN_DENIED},
    };
    for (const Case &c : cases)
        EXPECT_EQ(logIn(c.user, c.password), c.expected) << c.user;
}

TEST_F(LdapServer, UsersOfTheConfigurationAreCheckedBeforeTheServer)
{
    useServer({}, "users = { \"cn=admin,o=Acme\" = \"secret\" }\n");
    EXPECT_EQ(logIn("cn=admin,o=Acme", "secret"), 0u);
    EXPECT_EQ(logIn(testsupport::currentUserName(), ""), NWSMTS_LOGIN_DENIED) << "no peer login with users";
}

TEST_F(LdapServer, ScansGiveParentsBeforeChildrenInTheTypedForm)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    std::vector<DirectoryFound> found = scan("[Root]");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().name, ".[Root]");
    std::set<std::string> seen;
    std::size_t objects = 0;
    for (const DirectoryFound &f : found) {
        EXPECT_TRUE(seen.insert(f.name).second) << "given twice: " << f.name;
        if (f.name == ".[Root]" || f.name == ".O=Acme.[Root]")
            continue;
        std::string parent;
        std::string child;
        ASSERT_EQ(smsemu::separateDirectoryName(f.name, parent, child), 0u) << f.name;
        EXPECT_TRUE(seen.count(parent) != 0) << f.name << " before its container";
        ++objects;
    }
    const std::string listed = server->dump();
    const auto entries = static_cast<std::size_t>(
        std::count(listed.begin(), listed.end(), '\n') > 0 ? testsupport::sortedLdifRecords(listed).size() : 0);
    EXPECT_EQ(objects + 1, entries) << "every entry of the server once (the base counted apart)";
    for (const char *name : {".CN=Smith, John.OU=Special.O=Acme.[Root]", ".CN=a\\+b.OU=Special.O=Acme.[Root]",
                             ".CN=dotted\\.name.OU=Special.O=Acme.[Root]", ".CN=John+UID=jd.OU=Special.O=Acme.[Root]",
                             ".CN=\\#hash.OU=Special.O=Acme.[Root]",
                             ".CN=\xC3\x89l\xC3\xA8ve.OU=\xC3\x9Cnic\xC3\xB6"
                             "de.OU=Special.O=Acme.[Root]"})
        EXPECT_TRUE(seen.count(name) != 0) << name;

    // One level: the start and what it holds; containers are parents.
    std::vector<DirectoryFound> level = scan(".O=Acme.[Root]", true);
    ASSERT_EQ(level.size(), 6u);
    EXPECT_TRUE(level[0].parent);
    for (const DirectoryFound &f : level)
        EXPECT_TRUE(f.parent && (f.attributes & NWSM_ATTR_DIRECTORY) != 0) << f.name;
    std::vector<DirectoryFound> person = scan(".UID=p10003.OU=People.O=Acme.[Root]");
    ASSERT_EQ(person.size(), 1u);
    EXPECT_FALSE(person[0].parent);
    EXPECT_GT(person[0].size, 300u) << "the length of its stream";

    CCODE code = 0;
    EXPECT_TRUE(scan(".CN=nobody.O=Acme.[Root]", false, nullptr, &code).empty());
    EXPECT_EQ(code, NWSMTS_NO_DATA_SETS_FOUND);
    EXPECT_TRUE(scan(".O=Elsewhere.[Root]", false, nullptr, &code).empty());
    EXPECT_EQ(code, NWSMTS_NO_DATA_SETS_FOUND) << "outside the base";
}

TEST_F(LdapServer, TheTreeResourceAndSchemaAreTheModulesOwnAndTheTreeFormNamesTheTop)
{
    useServer({}, "", "tree");
    ASSERT_EQ(logIn(), 0u);
    std::vector<std::string> level = scanNames("ACME_TREE", true);
    EXPECT_EQ(level, (std::vector<std::string>{"ACME_TREE", ".T=ACME_TREE", "Schema"}));
    std::vector<std::string> below = scanNames(".T=ACME_TREE", true);
    EXPECT_EQ(below, (std::vector<std::string>{".T=ACME_TREE", ".O=Acme.T=ACME_TREE"}));
    EXPECT_EQ(scanNames(".O=Acme.[Root]", true).front(), ".O=Acme.T=ACME_TREE") << "either form is read";

    std::vector<std::string> schema = scanNames("Schema");
    EXPECT_EQ(schema.front(), "Schema");
    EXPECT_TRUE(std::find(schema.begin(), schema.end(), ".CN=inetOrgPerson.Schema") != schema.end());
    std::string stream;
    ASSERT_EQ(backup(".CN=inetOrgPerson.Schema", stream), 0u);
    EXPECT_NE(stream.find("2.16.840.1.113730.3.2.2"), std::string::npos) << "the server's definition";
    EXPECT_EQ(restore(stream), 0u) << "a class the server has restores without a change";
    std::string top;
    ASSERT_EQ(backup(".T=ACME_TREE", top), 0u);
    EXPECT_EQ(restore(top), 0u);
}

TEST_F(LdapServer, BackupStreamsHoldEveryUserAttributeByteForByte)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    std::string stream;
    ASSERT_EQ(backup(".UID=p10005.OU=People.O=Acme.[Root]", stream, 7), 0u) << "in blocks of 7 bytes";
    const auto attributes = attributesOf(stream);
    const std::string listed = server->dump("uid=p10005,ou=People,o=Acme");
    for (const char *name :
         {"objectClass", "uid", "cn", "sn", "mail", "userPassword", "jpegPhoto", "userCertificate;binary"})
        ASSERT_NE(valuesOf(attributes, name), nullptr) << name;
    EXPECT_EQ(valuesOf(attributes, "entryUUID"), nullptr) << "operational attributes are not saved";
    const std::string photo = valuesOf(attributes, "jpegPhoto")->front();
    EXPECT_EQ(photo.substr(0, 4), "\xFF\xD8\xFF\xE0");
    EXPECT_NE(photo.find('\0'), std::string::npos);
    // ldapsearch shows the same bytes, in base64.
    std::string again;
    std::vector<smsemu::LdapAttribute> fromServer;
    ASSERT_TRUE(smsemu::parseLdifRecord(listed, again, fromServer)) << listed;
    EXPECT_EQ(*valuesOf(fromServer, "jpegPhoto"), *valuesOf(attributes, "jpegPhoto"));
    EXPECT_EQ(*valuesOf(fromServer, "userCertificate;binary"), *valuesOf(attributes, "userCertificate;binary"));
}

TEST_F(LdapServer, RestoreAddsAnEntryThatIsGoneWithItsExactBytes)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    const std::string before = server->dump();
    std::map<std::string, std::string> streams;
    for (const char *name : {".OU=\xC3\x9Cnic\xC3\xB6"
                             "de.OU=Special.O=Acme.[Root]",
                             ".CN=\xC3\x89l\xC3\xA8ve.OU=\xC3\x9Cnic\xC3\xB6"
                             "de.OU=Special.O=Acme.[Root]",
                             ".CN=John+UID=jd.OU=Special.O=Acme.[Root]", ".UID=p10000.OU=People.O=Acme.[Root]"})
        ASSERT_EQ(backup(name, streams[name]), 0u) << name;
    ldap("ldapdelete", {"-r",
                        "ou=\xC3\x9Cnic\xC3\xB6"
                        "de,ou=Special,o=Acme",
                        "cn=John+uid=jd,ou=Special,o=Acme", "uid=p10000,ou=People,o=Acme"});

    // The child first: its container is not there yet.
    const std::string child = ".CN=\xC3\x89l\xC3\xA8ve.OU=\xC3\x9Cnic\xC3\xB6"
                              "de.OU=Special.O=Acme.[Root]";
    EXPECT_EQ(restore(streams[child], std::nullopt, 0), NWSMTS_NO_DATA_SETS_FOUND);
    for (const auto &[name, stream] : streams) {
        if (name != child) {
            EXPECT_EQ(restore(stream, std::nullopt, 0), 0u) << name;
        }
    }
    EXPECT_EQ(restore(streams[child], std::nullopt, 0, 5), 0u) << "in blocks of 5 bytes";
    EXPECT_EQ(testsupport::sortedLdifRecords(server->dump()), testsupport::sortedLdifRecords(before));
}

TEST_F(LdapServer, RestoreReplacesUserAttributesOnlyWithOverwrite)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    const std::string name = ".UID=p10003.OU=People.O=Acme.[Root]";
    const std::string dn = "uid=p10003,ou=People,o=Acme";
    std::string stream;
    ASSERT_EQ(backup(name, stream), 0u);
    const std::string saved = server->dump(dn);
    const std::string uuid = server->client("ldapsearch", {"-LLL", "-b", dn, "entryUUID"}).out;
    ldap("ldapmodify", {},
         "dn: " + dn +
             "\nchangetype: modify\nreplace: mail\nmail: changed@acme.example\n-\n"
             "add: description\ndescription: added later\n-\ndelete: jpegPhoto\n");
    const std::string changed = server->dump(dn);
    ASSERT_NE(changed, saved);

    EXPECT_EQ(restore(stream, name, 0), NWSMTS_DATA_SET_ALREADY_EXISTS);
    EXPECT_EQ(restore(stream, std::nullopt, 0), NWSMTS_DATA_SET_ALREADY_EXISTS) << "named by the stream";
    EXPECT_EQ(restore(stream, name, NWSM_KEEP_NEWER_DATA_SET), NWSMTS_DATA_SET_IS_OLDER);
    EXPECT_EQ(server->dump(dn), changed);
    EXPECT_EQ(restore(stream, name, NWSM_OVERWRITE_DATA_SET), 0u);
    EXPECT_EQ(unordered(server->dump(dn)), unordered(saved)) << "values and bytes as saved";
    EXPECT_EQ(server->client("ldapsearch", {"-LLL", "-b", dn, "entryUUID"}).out, uuid) << "the same entry";
    // Restored again unchanged: nothing to write.
    EXPECT_EQ(restore(stream, name, NWSM_OVERWRITE_DATA_SET), 0u);
}

TEST_F(LdapServer, RestoresTheServerRefusesFailWithTheirCause)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    std::string stream;
    ASSERT_EQ(backup(".UID=p10002.OU=People.O=Acme.[Root]", stream), 0u);
    // An entry the schema does not allow (a person needs a surname).
    const std::string bad = ".CN=bad.O=Acme.[Root]";
    testing::internal::CaptureStderr();
    EXPECT_EQ(restore(objectStream(bad, "dn: cn=bad,o=Acme\nobjectClass: person\ncn: bad\n")), NWSMTS_WRITE_ERROR);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(bad), std::string::npos) << said;
    EXPECT_NE(said.find("Object class violation"), std::string::npos) << said;
    EXPECT_EQ(restore(objectStream(bad, "dn: cn=bad,o=Acme\njpegPhoto:< file:///etc/passwd\n")),
              NWSMTS_INVALID_DATA_SET)
        << "a value from a file is never read";
    // Under another name the server adds the naming value itself.
    EXPECT_EQ(restore(stream, ".UID=other.OU=People.O=Acme.[Root]"), 0u);
    EXPECT_NE(server->dump("uid=other,ou=People,o=Acme").find("uid: other"), std::string::npos);
    EXPECT_EQ(restore(stream, ".UID=x.OU=Gone.O=Acme.[Root]"), NWSMTS_NO_DATA_SETS_FOUND) << "no container";
    EXPECT_EQ(restore(stream, ".UID=x.O=Elsewhere.[Root]"), NWSMTS_INVALID_PATH) << "outside the base";
    EXPECT_EQ(restore(stream, ".UID=x.C N=y.O=Acme.[Root]"), NWSMTS_INVALID_PATH);
    std::string classStream;
    ASSERT_EQ(backup(".CN=person.Schema", classStream), 0u);
    EXPECT_EQ(restore(classStream, ".CN=NoSuchClass.Schema"), NWSMTS_INVALID_PATH);
}

TEST_F(LdapServer, DeleteRemovesLeavesOnly)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(remove(".OU=D1.OU=Departments.O=Acme.[Root]"), NWSMTS_DELETE_ERR);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not empty"), std::string::npos);
    EXPECT_EQ(remove(".CN=Desk 0.OU=D1.OU=Departments.O=Acme.[Root]"), 0u);
    EXPECT_EQ(remove(".OU=Empty.O=Acme.[Root]"), 0u);
    for (const char *stays : {"[Root]", "ACME_TREE", "Schema", ".CN=person.Schema"})
        EXPECT_EQ(remove(stays), NWSMTS_DELETE_ERR) << stays;
    const std::string listed = server->dump();
    EXPECT_EQ(listed.find("cn=Desk 0,ou=D1"), std::string::npos);
    EXPECT_EQ(listed.find("ou=Empty"), std::string::npos);
    EXPECT_NE(listed.find("cn=Desk 1,ou=D1"), std::string::npos);
}

TEST_F(LdapServer, ArchiveFlagsAreKeptInTheStateStoreByEntry)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    const std::string name = ".UID=p10004.OU=People.O=Acme.[Root]";
    auto flagged = [&] { return (scan(name).front().attributes & NWSM_ATTR_ARCHIVE) != 0; };
    EXPECT_TRUE(flagged());
    std::string stream;
    ASSERT_EQ(backup(name, stream, 65536, true), 0u);
    EXPECT_FALSE(flagged()) << "cleared once read to the end";
    // Another process later: the record is in the store.
    NWSMReleaseTSA(&connection);
    connection = 0;
    smsemuReset();
    ASSERT_EQ(logIn(), 0u);
    EXPECT_FALSE(flagged());
    ldap("ldapmodify", {}, "dn: uid=p10004,ou=People,o=Acme\nchangetype: modify\nreplace: sn\nsn: Changed\n");
    EXPECT_TRUE(flagged()) << "any change sets it";
    ASSERT_EQ(backup(name, stream, 65536, true), 0u);
    EXPECT_FALSE(flagged());
    // A restored entry is a new entry.
    ldap("ldapdelete", {"uid=p10004,ou=People,o=Acme"});
    ASSERT_EQ(restore(stream), 0u);
    EXPECT_TRUE(flagged());
}

TEST_F(LdapServer, PagesGetPastASoftSizeLimitAndAHardOneIsNamed)
{
    people = 700;
    testsupport::SlapdOptions options;
    options.limits = "sizelimit size.soft=500 size.hard=unlimited";
    useServer(options);
    ASSERT_EQ(logIn("cn=Desk 0,ou=D0,ou=Departments,o=Acme", "desk"), NWSMTS_LOGIN_DENIED);
    ldap("ldappasswd", {"-s", "desk", "cn=Desk 0,ou=D0,ou=Departments,o=Acme"});
    ASSERT_EQ(logIn("cn=Desk 0,ou=D0,ou=Departments,o=Acme", "desk"), 0u);
    std::vector<DirectoryFound> found = scan(".OU=People.O=Acme.[Root]");
    EXPECT_EQ(found.size(), 701u) << "the container and all its 700 entries";

    // A hard limit: what came is given, and the container is named again.
    NWSMReleaseTSA(&connection);
    connection = 0;
    server->stop();
    testsupport::writeFile(server->folder() / "slapd.conf", [&] {
        std::string text = testsupport::readFile(server->folder() / "slapd.conf");
        const std::string soft = "sizelimit size.soft=500 size.hard=unlimited";
        text.replace(text.find(soft), soft.size(), "sizelimit 500");
        return text;
    }());
    server->start();
    ASSERT_EQ(logIn("cn=Desk 0,ou=D0,ou=Departments,o=Acme", "desk"), 0u);
    found = scan(".OU=People.O=Acme.[Root]");
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found.back().name, ".OU=People.O=Acme.[Root]") << "a report position";
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin(".OU=People.O=Acme.[Root]", false, sequence, info, names), 0u);
    CCODE rc = 0;
    std::string last;
    while (rc == 0) {
        last = describe(info, names).name;
        rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
        if (rc == 0 && describe(info, names).name == ".OU=People.O=Acme.[Root]")
            break;
    }
    ASSERT_EQ(rc, 0u);
    UINT32 handle = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle), NWSMTS_SCAN_ERROR);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Size limit exceeded"), std::string::npos);
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
}

TEST_F(LdapServer, EntriesTheAccessControlsHideAreNamed)
{
    testsupport::SlapdOptions options;
    options.access = "access to dn.children=\"ou=Special,o=Acme\" by dn.exact=\"cn=admin,o=Acme\" read by * none\n"
                     "access to attrs=userPassword by self write by anonymous auth by * none\n";
    useServer(options);
    ldap("ldappasswd", {"-s", "desk", "cn=Desk 0,ou=D0,ou=Departments,o=Acme"});
    ASSERT_EQ(logIn("cn=Desk 0,ou=D0,ou=Departments,o=Acme", "desk"), 0u);
    std::vector<DirectoryFound> found = scan(".O=Acme.[Root]");
    std::vector<std::string> special;
    for (const DirectoryFound &f : found)
        if (f.name.find("OU=Special") != std::string::npos)
            special.push_back(f.name);
    EXPECT_EQ(special, (std::vector<std::string>{".OU=Special.O=Acme.[Root]", ".OU=Special.O=Acme.[Root]"}))
        << "the container, then once more to report";
    EXPECT_GT(found.size(), 40u) << "the rest";
}

TEST_F(LdapServer, AServerThatGoesAwayFailsTheScanAndWhatFollowsWithoutAHang)
{
    useServer();
    ASSERT_EQ(logIn(), 0u);
    std::string stream;
    ASSERT_EQ(backup(".UID=p10001.OU=People.O=Acme.[Root]", stream), 0u);

    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(begin("[Root]", false, sequence, info, names), 0u);
    ASSERT_EQ(NWSMTSScanNextDataSet(connection, &sequence, &info, &names), 0u);
    ASSERT_EQ(describe(info, names).name, ".O=Acme.[Root]");
    server->stop(true);
    testing::internal::CaptureStderr();
    CCODE rc = 0;
    for (int guard = 0; rc == 0 && guard < 100; ++guard)
        rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names);
    EXPECT_EQ(rc, smsemu::kTransportFailure);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("connection lost"), std::string::npos);
    EXPECT_EQ(smsemuOpenScans(), 0);

    // Every later call fails at once the same way, a restore at its close.
    EXPECT_EQ(backup(".UID=p10001.OU=People.O=Acme.[Root]", stream), smsemu::kTransportFailure);
    UINT32 handle = 0;
    ASSERT_EQ(NWSMTSOpenDataSetForRestore(connection, 0, nullptr, NWSM_OVERWRITE_DATA_SET, &handle), 0u);
    EXPECT_EQ(NWSMTSWriteDataSet(connection, handle, static_cast<UINT32>(stream.size()),
                                 reinterpret_cast<UINT8 *>(stream.data())),
              0u);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), smsemu::kTransportFailure);
    EXPECT_EQ(logIn(), smsemu::kTransportFailure) << "a new login cannot reach it either";
}

TEST_F(LdapServer, ConfigurationsNameTheirProblems)
{
    struct Case {
        const char *keys;
        const char *problem;
    };
    const Case cases[] = {
        {"ldap_uri = \"ldapi://x\"\nldap_base = \"o=Acme\"\nstore = \"tree.json\"\n", "exclude each other"},
        {"ldap_uri = \"nonsense\"\nldap_base = \"o=Acme\"\n", "is not an LDAP URI"},
        {"ldap_uri = \"ldap://127.0.0.1:1\"\n", "ldap_base \"\" is not a distinguished name"},
        {"ldap_uri = \"ldap://127.0.0.1:1\"\nldap_base = \"o=A,,\"\n", "is not a distinguished name"},
        {"ldap_uri = \"ldap://127.0.0.1:1\"\nldap_base = \"o=Acme\"\nldap_timeout = 0\n", "ldap_timeout"},
        {"ldap_uri = \"\"\nldap_base = \"o=Acme\"\n", "ldap_uri must not be empty"},
    };
    write("tree.json", "{}");
    for (const Case &c : cases) {
        useConfig(std::string("[[tsa]]\ntype = \"Directory\"\n") + c.keys);
        EXPECT_NE(std::string(smsemuLastConfigError()).find(c.problem), std::string::npos)
            << c.keys << " -> " << smsemuLastConfigError();
        NWSM_NAME_LIST *list = nullptr;
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        EXPECT_NE(NWSMListTSAs(host, &list), 0u) << "not listed: " << c.keys;
        NWSMFreeNameList(&list);
    }
    // A server that is not there: the login says so.
    useConfig("[[tsa]]\ntype = \"Directory\"\nname = \"d\"\nldap_uri = \"ldap://127.0.0.1:1\"\nldap_base = "
              "\"o=Acme\"\nldap_timeout = 5\n");
    connection = connect("d");
    testing::internal::CaptureStderr();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(login(connection, host, "cn=admin,o=Acme", "secret"), smsemu::kTransportFailure);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("connection lost"), std::string::npos);
}

} // namespace
} // namespace smsemutest

namespace smsemutest {
namespace {

// examples/ldap: its configuration loads as it stands, and its entries serve.
TEST_F(LdapDirectory, TheExampleConfigurationAndEntriesWork)
{
    const std::string examples = std::string(KXSMS_SOURCE_DIR) + "/examples/ldap/";
    ScopedEnv env("SMSEMU_CONFIG", (examples + "smsemu.toml").c_str());
    smsemuReset();
    EXPECT_EQ(std::string(smsemuLastConfigError()), "");
    testsupport::SlapdOptions options;
    options.ldif = testsupport::readFile(examples + "acme.ldif");
    useServer(options);
    ASSERT_EQ(logIn(), 0u);
    std::vector<std::string> tree = scanNames("[Root]");
    EXPECT_EQ(tree.size(), 9u);
    EXPECT_TRUE(std::find(tree.begin(), tree.end(), ".CN=build\\.server.OU=Engineering.O=Acme.[Root]") != tree.end());
}

} // namespace
} // namespace smsemutest
