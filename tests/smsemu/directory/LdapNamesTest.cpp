// Typed names and DNs both ways, LDIF records and the codes of the server's
// answers: the parts of the directory TSA over an LDAP server that need no
// server.
#include "directory/LdapCodes.h"
#include "directory/LdapNames.h"
#include "directory/Ldif.h"
#include "directory/DirectoryNames.h"

#include <gtest/gtest.h>

#include <ldap.h>

namespace smsemutest {
namespace {

using smsemu::LdapAttribute;

// The DN of a typed name as the TSA is given it.
std::string dnOf(const std::string &typed)
{
    smsemu::DirectoryName parsed;
    std::string dn;
    if (!smsemu::parseDirectoryName(typed, "ACME_TREE", parsed) || parsed.kind != smsemu::EntryKind::Object ||
        !smsemu::dnOfComponents(parsed.components, dn))
        return "(refused)";
    return dn;
}

std::string typedOf(const std::string &dn)
{
    std::vector<std::string> components;
    if (!smsemu::componentsOfDn(dn, components))
        return "(refused)";
    std::string name;
    for (const std::string &component : components)
        name += "." + component;
    return name + ".[Root]";
}

struct NamePair {
    const char *typed;
    const char *dn;
};

class LdapNameMapping : public ::testing::TestWithParam<NamePair> {};

TEST_P(LdapNameMapping, GoesBothWaysAndBack)
{
    const NamePair &pair = GetParam();
    EXPECT_EQ(dnOf(pair.typed), pair.dn);
    EXPECT_EQ(typedOf(pair.dn), pair.typed);
    // What the server gives back names the same entry again.
    EXPECT_EQ(dnOf(typedOf(pair.dn)), pair.dn);
}

INSTANTIATE_TEST_SUITE_P(StandInLdapNames, LdapNameMapping,
                         ::testing::Values(NamePair{".CN=Admin.OU=Staff.O=Acme.[Root]", "cn=Admin,ou=Staff,o=Acme"},
                                           NamePair{".CN=Smith, John.O=Acme.[Root]", "cn=Smith\\2C John,o=Acme"},
                                           NamePair{".CN=a\\+b.O=Acme.[Root]", "cn=a\\2Bb,o=Acme"},
                                           NamePair{".CN=dotted\\.name.O=Acme.[Root]", "cn=dotted.name,o=Acme"},
                                           NamePair{".CN=x\\=y.O=Acme.[Root]", "cn=x\\3Dy,o=Acme"},
                                           NamePair{".CN=back\\\\slash.O=Acme.[Root]", "cn=back\\5Cslash,o=Acme"},
                                           NamePair{".CN=\\#hash.O=Acme.[Root]", "cn=\\23hash,o=Acme"},
                                           NamePair{".CN= spaced .O=Acme.[Root]", "cn=\\20spaced\\20,o=Acme"},
                                           NamePair{".CN=John+UID=jd.O=Acme.[Root]", "cn=John+uid=jd,o=Acme"},
                                           NamePair{".CN=J\xC3\xBCrgen.O=Acme.[Root]", "cn=J\xC3\xBCrgen,o=Acme"},
                                           NamePair{".CN=nul\\00byte.O=Acme.[Root]", "cn=nul\\00byte,o=Acme"},
                                           NamePair{".CN=#04024869.O=Acme.[Root]", "cn=#04024869,o=Acme"},
                                           NamePair{".DC=example.DC=com.[Root]", "dc=example,dc=com"}));

TEST(StandInLdapNames, TypedNamesReadEscapesAndCaseAsGiven)
{
    // Types in any case; a backslash before two hexadecimal digits is a byte.
    EXPECT_EQ(dnOf(".cn=Admin.o=Acme.[Root]"), "cn=Admin,o=Acme");
    EXPECT_EQ(dnOf("CN=Admin.O=Acme.[Root]."), "cn=Admin,o=Acme");
    EXPECT_EQ(dnOf(".CN=Ann\\2C Smith.O=Acme.[Root]"), "cn=Ann\\2C Smith,o=Acme");
    EXPECT_EQ(dnOf(".CN=Admin.O=Acme.T=ACME_TREE"), "cn=Admin,o=Acme");
}

TEST(StandInLdapNames, NamesThatAreNoDnAreRefused)
{
    for (const char *typed :
         {".Admin.O=Acme.[Root]", ".=x.O=Acme.[Root]", ".C N=x.O=Acme.[Root]", ".CN=x+.O=Acme.[Root]",
          ".CN=\xFF.O=Acme.[Root]", ".CN=#zz.O=Acme.[Root]", ".CN=x\\.O=Acme.[Root]\\"})
        EXPECT_EQ(dnOf(typed), "(refused)") << typed;
    std::vector<std::string> components;
    EXPECT_FALSE(smsemu::componentsOfDn("cn=x;;o=y", components));
}

TEST(StandInLdapNames, LoginNamesAreTypedNamesOrDns)
{
    std::string dn;
    ASSERT_TRUE(smsemu::dnOfLoginName("cn=admin,o=Acme", "ACME_TREE", dn));
    EXPECT_EQ(dn, "cn=admin,o=Acme");
    ASSERT_TRUE(smsemu::dnOfLoginName(".CN=admin.O=Acme.[Root]", "ACME_TREE", dn));
    EXPECT_EQ(dn, "cn=admin,o=Acme");
    ASSERT_TRUE(smsemu::dnOfLoginName("CN=admin.O=Acme", "ACME_TREE", dn));
    EXPECT_EQ(dn, "cn=admin,o=Acme");
    ASSERT_TRUE(smsemu::dnOfLoginName("cn=Smith\\, J,o=Acme", "ACME_TREE", dn));
    EXPECT_EQ(dn, "cn=Smith\\2C J,o=Acme");
    EXPECT_FALSE(smsemu::dnOfLoginName("admin", "ACME_TREE", dn));
    EXPECT_FALSE(smsemu::dnOfLoginName("cn=a,,o=b", "ACME_TREE", dn));
}

TEST(StandInLdapNames, KeysCompareIgnoringCaseAndSpelling)
{
    std::string a, b, base;
    ASSERT_TRUE(smsemu::dnKey("CN=Admin, O=Acme", a));
    ASSERT_TRUE(smsemu::dnKey("cn=admin,o=acme", b));
    ASSERT_TRUE(smsemu::dnKey("o=Acme", base));
    EXPECT_EQ(a, b);
    EXPECT_TRUE(smsemu::isWithinBase(a, base));
    EXPECT_TRUE(smsemu::isWithinBase(base, base));
    EXPECT_EQ(smsemu::parentDnKey(a), base);
    std::string other;
    ASSERT_TRUE(smsemu::dnKey("cn=x,o=NotAcme", other));
    EXPECT_FALSE(smsemu::isWithinBase(other, base));
    ASSERT_TRUE(smsemu::dnKey("cn=x\\,o=Acme", other)); // one RDN whose value ends in ",o=Acme"
    EXPECT_FALSE(smsemu::isWithinBase(other, base));
}

TEST(StandInLdapLdif, RecordsKeepEveryByte)
{
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    const std::vector<LdapAttribute> attributes{{"objectClass", {"top", "inetOrgPerson"}},
                                                {"cn", {"J\xC3\xBCrgen", " leading", "trailing ", ":colon", "<"}},
                                                {"jpegPhoto", {binary, ""}},
                                                {"userCertificate;binary", {std::string("\x30\x82\x00\x0A", 4)}}};
    const std::string dn = "cn=J\xC3\xBCrgen,o=Acme";
    const std::string text = smsemu::ldifRecord(dn, attributes);
    EXPECT_EQ(text.rfind("dn:: ", 0), 0u) << "a DN that is not ASCII is written in base64";
    EXPECT_NE(text.find("objectClass: inetOrgPerson\n"), std::string::npos) << text;
    std::string readDn;
    std::vector<LdapAttribute> read;
    ASSERT_TRUE(smsemu::parseLdifRecord(text, readDn, read));
    EXPECT_EQ(readDn, dn);
    ASSERT_EQ(read.size(), attributes.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].name, attributes[i].name);
        EXPECT_EQ(read[i].values, attributes[i].values) << attributes[i].name;
    }
}

TEST(StandInLdapLdif, ReadsFoldedLinesAndCommentsAndRefusesWhatIsNotOneRecord)
{
    std::string dn;
    std::vector<LdapAttribute> read;
    ASSERT_TRUE(
        smsemu::parseLdifRecord("# a comment\ndn: cn=a,o=Acme\ncn: a\ndescription: long\n  line\ncn: b\n", dn, read));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].values, (std::vector<std::string>{"a", "b"})) << "an attribute written twice is one";
    EXPECT_EQ(read[1].values, (std::vector<std::string>{"long line"}));
    for (const char *bad : {"", "cn: a\n", "dn: cn=a,o=Acme\n", "dn: cn=a,o=Acme\njpegPhoto:< file:///etc/passwd\n",
                            "dn: cn=a,o=Acme\ncn: a\n\ndn: cn=b,o=Acme\ncn: b\n", "dn: cn=a,o=Acme\nno colon\n",
                            "dn: cn=a,o=Acme\ncn:: !!!\n", "dn: cn=a,o=Acme\ndn: cn=b,o=Acme\n"})
        EXPECT_FALSE(smsemu::parseLdifRecord(bad, dn, read)) << bad;
}

TEST(StandInLdapCodes, ServerAnswersMapByMeaning)
{
    using smsemu::LdapStep;
    using smsemu::smsCodeOf;
    struct Row {
        int ldap;
        LdapStep step;
        CCODE sms;
    };
    const Row rows[] = {
        {LDAP_NO_SUCH_OBJECT, LdapStep::Scan, NWSMTS_NO_DATA_SETS_FOUND},
        {LDAP_NO_SUCH_OBJECT, LdapStep::Restore, NWSMTS_NO_DATA_SETS_FOUND},
        {LDAP_INSUFFICIENT_ACCESS, LdapStep::Backup, NWSMTS_NO_SEARCH_PRIVILEGES},
        {LDAP_INSUFFICIENT_ACCESS, LdapStep::Login, NWSMTS_LOGIN_DENIED},
        {LDAP_INVALID_CREDENTIALS, LdapStep::Login, NWSMTS_LOGIN_DENIED},
        {LDAP_ALREADY_EXISTS, LdapStep::Restore, NWSMTS_DATA_SET_ALREADY_EXISTS},
        {LDAP_NOT_ALLOWED_ON_NONLEAF, LdapStep::Delete, NWSMTS_DELETE_ERR},
        {LDAP_SIZELIMIT_EXCEEDED, LdapStep::Scan, NWSMTS_SCAN_ERROR},
        {LDAP_TIMELIMIT_EXCEEDED, LdapStep::Backup, NWSMTS_READ_ERROR},
        {LDAP_SERVER_DOWN, LdapStep::Restore, smsemu::kTransportFailure},
        {LDAP_TIMEOUT, LdapStep::Scan, smsemu::kTransportFailure},
        {LDAP_BUSY, LdapStep::Backup, smsemu::kServerNotReady},
        {LDAP_OBJECT_CLASS_VIOLATION, LdapStep::Restore, NWSMTS_WRITE_ERROR},
        {LDAP_INVALID_DN_SYNTAX, LdapStep::Restore, NWSMTS_INVALID_PATH},
        {LDAP_UNWILLING_TO_PERFORM, LdapStep::Delete, NWSMTS_DELETE_ERR},
    };
    for (const Row &row : rows)
        EXPECT_EQ(smsCodeOf(row.ldap, row.step), row.sms) << ldap_err2string(row.ldap);
}

} // namespace
} // namespace smsemutest
