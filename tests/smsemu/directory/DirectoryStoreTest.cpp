// Reading the directory TSA's store: what it accepts, and how a store it
// cannot use is reported (the TSA is then not listed).
#include "directory/DirectoryFixture.h"

namespace smsemutest {
namespace {

class DirectoryStore : public Directory {
protected:
    // Configures the store; true when the directory TSA is listed.
    bool listed(const std::string &store)
    {
        write("tree.json", store);
        useConfig("[host]\nname = \"srv1\"\n[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\n"
                  "store = \"tree.json\"\nusers = { admin = \"secret\" }\n");
        NWSM_NAME_LIST *list = nullptr;
        CCODE rc = NWSMListTSAs(const_cast<char *>("srv1"), &list);
        if (rc != 0)
            return false;
        return names(list) == std::vector<std::string>{"srv1.Directory"};
    }
};

TEST_F(DirectoryStore, AcceptsTheDocumentedForms)
{
    // Objects in any order, a string for one value, the tree-name form, the
    // top given a class, an empty store.
    ASSERT_TRUE(listed(R"({"objects": [
      {"dn": ".CN=Ann.OU=Dev.O=Acme.T=ACME_TREE", "class": "User", "attributes": {"mail": "ann@acme.example"}},
      {"dn": "OU=Dev.O=Acme.[Root].", "class": "OrganizationalUnit", "attributes": {}},
      {"dn": ".O=Acme.[ROOT]", "class": "Organization"},
      {"dn": ".[Root]", "class": "Top", "attributes": {"description": ["the tree"]}}
    ]})"));
    EXPECT_EQ(std::string(smsemuLastConfigError()), "");
    connection = loggedIn("srv1.Directory", "ACME_TREE");
    EXPECT_EQ(scanNames(".[Root]"), (std::vector<std::string>{".[Root]", ".O=Acme.[Root]", ".OU=Dev.O=Acme.[Root]",
                                                              ".CN=Ann.OU=Dev.O=Acme.[Root]"}));
    for (const char *store : {"{}", R"({"objects": []})", " { \"objects\" : [ ] } \n"})
        EXPECT_TRUE(listed(store)) << store;
}

struct Hostile {
    const char *what;
    std::string store;
    std::string reported;     // found in the problem
    size_t attributeSize = 0; // > 0: the store is one object with an attribute this long, made in the test
};

std::string objects(const std::string &items)
{
    return "{\"objects\": [" + items + "]}";
}

class HostileStores : public DirectoryStore, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileStores, AreReportedAndTheTsaIsNotListed)
{
    const Hostile &c = GetParam();
    const std::string store = c.attributeSize == 0
                                  ? c.store
                                  : objects("{\"dn\": \".O=A.[Root]\", \"class\": \"X\", \"attributes\": {\"a\": \"" +
                                            std::string(c.attributeSize, 'v') + "\"}}");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(listed(store)) << c.what;
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string problem = smsemuLastConfigError();
    EXPECT_NE(problem.find("smsemu.toml:6: "), std::string::npos) << problem;
    const std::string storeFile = (dir_ / "tree.json").string() + ":";
    EXPECT_NE(problem.find(storeFile), std::string::npos) << problem;
    EXPECT_NE(problem.find(c.reported), std::string::npos) << c.what << "\n  problem: " << problem;
    EXPECT_NE(problem.find("this TSA is not listed"), std::string::npos) << problem;
    EXPECT_NE(err.find(c.reported), std::string::npos) << err;
}

const std::string kOk = R"({"dn": ".O=Acme.[Root]", "class": "Organization"})";

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileStores,
    ::testing::Values(
        Hostile{"syntax", "{\"objects\": [\n  {\"dn\": \".O=A.[Root]\",\n   \"class\" \"Organization\"}\n]}",
                "tree.json:3:25: not valid JSON: parse error at line 3, column 25"},
        Hostile{"empty file", "", "tree.json:1:1: not valid JSON"},
        Hostile{"number beyond a double", R"({"objects": [], "n": 1e999})", "tree.json: not valid JSON"},
        Hostile{"not an object", "[]", ": the store must be a JSON object"},
        Hostile{"unknown key", R"({"objects": [], "schema": []})", ": unknown key \"schema\""},
        Hostile{"objects not an array", R"({"objects": {}})", ": \"objects\" must be an array"},
        Hostile{"object not an object", objects(kOk + ", 5"), ": objects[1]: must be an object"},
        Hostile{"no dn", objects(R"({"class": "User"})"), ": objects[0]: \"dn\" must be a string"},
        Hostile{"unknown key of an object", objects(R"({"dn": ".O=A.[Root]", "class": "X", "acl": []})"),
                ": objects[0] (\".O=A.[Root]\"): unknown key \"acl\""},
        Hostile{"no top", objects(R"({"dn": ".O=A", "class": "X"})"),
                ": objects[0] (\".O=A\"): \"dn\" does not name an object of the tree"},
        Hostile{"another tree", objects(R"({"dn": ".O=A.T=ELSEWHERE", "class": "X"})"), ": objects[0]"},
        Hostile{"empty component", objects(R"({"dn": ".O=A..[Root]", "class": "X"})"), ": objects[0]"},
        Hostile{"a class definition", objects(R"({"dn": ".CN=User.Schema", "class": "X"})"), ": objects[0]"},
        Hostile{"NUL in a name", objects(R"({"dn": ".O=A\u0000.[Root]", "class": "X"})"),
                ": objects[0] (\".O=A\\u0000.[Root]\")"},
        Hostile{"no class", objects(R"({"dn": ".O=A.[Root]"})"), ": objects[0] (\".O=A.[Root]\"): \"class\" must"},
        Hostile{"empty class", objects(R"({"dn": ".O=A.[Root]", "class": ""})"),
                "\"class\" must be a string of 1 to 255"},
        Hostile{"long class", objects("{\"dn\": \".O=A.[Root]\", \"class\": \"" + std::string(256, 'c') + "\"}"),
                "\"class\" must be a string of 1 to 255 characters"},
        Hostile{"huge object", "", ": objects[0] (\".O=A.[Root]\"): the object is larger than 16777216 bytes",
                16u << 20},
        Hostile{"attributes not an object", objects(R"({"dn": ".O=A.[Root]", "class": "X", "attributes": []})"),
                "\"attributes\" must be an object"},
        Hostile{"attribute value", objects(R"({"dn": ".O=A.[Root]", "class": "X", "attributes": {"n": [1]}})"),
                "attribute \"n\" must be a string or an array of strings"},
        Hostile{"used twice", objects(kOk + R"(, {"dn": ".o=ACME.T=acme_tree", "class": "Y"})"),
                ": objects[1] (\".o=ACME.T=acme_tree\"): the name is used twice"},
        Hostile{"used twice, escapes",
                objects(R"({"dn": ".O=A\\B.[Root]", "class": "X"}, {"dn": ".O=AB.[Root]", "class": "X"})"),
                "the name is used twice"},
        Hostile{"top twice", objects(R"({"dn": ".[Root]", "class": "X"}, {"dn": "[Root]", "class": "X"})"),
                "the name is used twice"},
        Hostile{"no container", objects(kOk + R"(, {"dn": ".CN=X.OU=Gone.O=Acme.[Root]", "class": "User"})"),
                ": objects[1] (\".CN=X.OU=Gone.O=Acme.[Root]\"): its container \".OU=Gone.O=Acme.[Root]\" is not "
                "in the store"},
        Hostile{"name too long", objects("{\"dn\": \".O=" + std::string(1020, 'a') + ".[Root]\", \"class\": \"X\"}"),
                "the name is longer than 1023 characters"},
        Hostile{"deep nesting", std::string(100000, '[') + std::string(100000, ']'),
                ": the store must be a JSON object"}));

TEST_F(DirectoryStore, NamesLongerInTheTreeFormAreRefusedThere)
{
    // 1020 characters in the root form, 1025 with ".T=ACME_TREE".
    std::string store = objects("{\"dn\": \".O=" + std::string(1010, 'a') + ".[Root]\", \"class\": \"X\"}");
    EXPECT_TRUE(listed(store));
    write("tree.json", store);
    useConfig("[host]\nname = \"srv1\"\n[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\n"
              "root_form = \"tree\"\nstore = \"tree.json\"\n");
    EXPECT_NE(std::string(smsemuLastConfigError()).find("longer than 1023"), std::string::npos);
}

} // namespace
} // namespace smsemutest
