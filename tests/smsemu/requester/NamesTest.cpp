// Name spaces, separators, and splitting and joining data-set names per TSA.
#include "SmsEmuFixture.h"

namespace smsemutest {
namespace {

class StandInNames : public SmsEmu {
protected:
    void SetUp() override
    {
        SmsEmu::SetUp();
        useFullConfig();
        fs_ = loggedIn("srv1.Linux File System", "srv1");
        dir_tsa_ = loggedIn("srv1.Directory", "ACME_TREE");
        gw_ = loggedIn("srv1.GroupWise System", "gw1");
    }

    UINT32 tsa(char kind) const { return kind == 'F' ? fs_ : kind == 'D' ? dir_tsa_ : gw_; }

    // Scans the name spaces of a resource: the types and names reported, and
    // the code that ended the scan.
    std::pair<std::vector<std::string>, CCODE> nameSpaces(UINT32 connection, const std::string &resource)
    {
        std::vector<std::string> found;
        UINT32 sequence = 0;
        for (;;) {
            UINT32 type = 0xEEEE;
            char name[64] = "untouched";
            CCODE rc =
                NWSMTSScanSupportedNameSpaces(connection, &sequence, const_cast<char *>(resource.c_str()), &type, name);
            if (rc != 0) {
                EXPECT_EQ(type, 0xEEEEu);
                return {found, rc};
            }
            found.push_back(std::to_string(type) + ":" + name);
            EXPECT_EQ(sequence, found.size());
        }
    }

    UINT32 fs_ = 0, dir_tsa_ = 0, gw_ = 0;
};

TEST_F(StandInNames, NameSpacesPerResourceInTheirConfiguredOrder)
{
    using V = std::vector<std::string>;
    struct Case {
        char tsa;
        const char *resource;
        V spaces;
        CCODE end;
    };
    const Case cases[] = {
        {'F', "/", V{"0:DOS", "2:NFS"}, NWSMTS_NO_MORE_NAMES},
        {'F', "/SRV", V{"2:NFS", "0:DOS", "1:MAC"}, NWSMTS_NO_MORE_NAMES},
        {'F', "/home", V{}, NWSMTS_RESOURCE_NAME_NOT_FOUND},
        {'G', "GroupWise Mail Server", V{}, NWSMTS_NO_MORE_NAMES},
        {'G', "dom1:", V{"0:DOS", "4:OS2/LONG"}, NWSMTS_NO_MORE_NAMES},
        {'G', "DOM2:", V{"2:NFS"}, NWSMTS_NO_MORE_NAMES},
        {'G', "DOM3:", V{}, NWSMTS_RESOURCE_NAME_NOT_FOUND},
        {'D', ".[Root]", V{}, NWSMTS_INVALID_NAME_SPACE_TYPE},
        {'D', "[Root]", V{}, NWSMTS_INVALID_NAME_SPACE_TYPE},
        {'D', ".O=Acme.[root]", V{}, NWSMTS_INVALID_NAME_SPACE_TYPE},
        {'D', "ACME_TREE", V{"0:DOS"}, NWSMTS_NO_MORE_NAMES},
        {'D', "schema", V{}, NWSMTS_NO_MORE_NAMES},
        {'D', "Other", V{}, NWSMTS_RESOURCE_NAME_NOT_FOUND},
    };
    for (const Case &c : cases) {
        auto [spaces, end] = nameSpaces(tsa(c.tsa), c.resource);
        EXPECT_EQ(spaces, c.spaces) << c.resource;
        EXPECT_EQ(end, c.end) << c.resource;
    }
}

TEST_F(StandInNames, SeparatorsPerTsaForKnownNameSpacesOnly)
{
    struct Case {
        char tsa;
        const char *first, *second;
    };
    for (const Case &c : {Case{'F', "/", "/"}, Case{'G', ":", "/"}, Case{'D', ".", "."}}) {
        for (UINT32 type : {0u, 1u, 2u, 4u, 256u, 258u, 260u}) {
            INT16 reverse = 5;
            STRING_BUFFER *first = nullptr, *second = nullptr;
            ASSERT_EQ(NWSMTSGetNameSpaceTypeInfo(tsa(c.tsa), type, &reverse, &first, &second), 0u) << type;
            EXPECT_EQ(reverse, 0);
            EXPECT_STREQ(first->string, c.first);
            EXPECT_EQ(first->size, std::strlen(c.first) + 1);
            EXPECT_STREQ(second->string, c.second);
            EXPECT_EQ(NWSMFreeString(&first), 0u);
            std::free(second);
        }
        for (UINT32 type : {5u, 255u, 261u, NWSM_TSA_DEFINED_RESOURCE, NWSM_DIRECTORY_ROOT}) {
            STRING_BUFFER *first = nullptr, *second = nullptr;
            INT16 reverse = 5;
            EXPECT_EQ(NWSMTSGetNameSpaceTypeInfo(tsa(c.tsa), type, &reverse, &first, &second),
                      NWSMTS_INVALID_NAME_SPACE_TYPE);
            EXPECT_EQ(first, nullptr);
            EXPECT_EQ(reverse, 5);
        }
    }
}

struct Split {
    char tsa;
    const char *name;
    const char *parent; // null: the split fails
    const char *child;
};

void PrintTo(const Split &s, std::ostream *os)
{
    *os << s.tsa << " \"" << s.name << "\"";
}

class SplitNames : public StandInNames, public ::testing::WithParamInterface<Split> {};

TEST_P(SplitNames, SeparateThenCatGivesTheNameBack)
{
    const Split &p = GetParam();
    for (UINT32 type : {0u, 2u, 260u, NWSM_TSA_DEFINED_RESOURCE, NWSM_DIRECTORY_ROOT}) {
        STRING_BUFFER *parent = nullptr, *child = nullptr;
        CCODE rc = NWSMTSSeparateDataSetName(tsa(p.tsa), type, const_cast<char *>(p.name), &parent, &child);
        if (p.parent == nullptr) {
            EXPECT_EQ(rc, NWSMTS_INVALID_DATA_SET_NAME) << p.name;
            EXPECT_EQ(parent, nullptr);
            EXPECT_EQ(child, nullptr);
            continue;
        }
        ASSERT_EQ(rc, 0u) << p.name;
        EXPECT_STREQ(parent->string, p.parent) << p.name;
        EXPECT_STREQ(child->string, p.child) << p.name;
        STRING_BUFFER *joined = nullptr;
        ASSERT_EQ(NWSMTSCatDataSetName(tsa(p.tsa), type, parent->string, child->string, 0, &joined), 0u);
        std::string expected = p.name;
        if (expected.size() > 1 && (expected.back() == '/' || (p.tsa == 'D' && expected.back() == '.')))
            expected.pop_back(); // a trailing separator does not come back
        EXPECT_EQ(std::string(joined->string), expected) << p.name;
        // The module frees the parent with NWSMFreeString and the child with free().
        EXPECT_EQ(NWSMFreeString(&parent), 0u);
        std::free(child);
        std::free(joined);
    }
}

INSTANTIATE_TEST_SUITE_P(
    PerTsa, SplitNames,
    ::testing::Values(Split{'F', "/a/b/c", "/a/b", "c"}, Split{'F', "/a", "/", "a"}, Split{'F', "/", nullptr, nullptr},
                      Split{'F', "", nullptr, nullptr}, Split{'F', "/a/b/", "/a", "b"},
                      Split{'F', "/a\\b:c/d e", "/a\\b:c", "d e"}, Split{'F', "a", "", "a"},
                      Split{'G', "DOM1:dir/sub", "DOM1:dir", "sub"}, Split{'G', "DOM1:dir", "DOM1:", "dir"},
                      Split{'G', "DOM1:", nullptr, nullptr}, Split{'G', "DOM1", nullptr, nullptr},
                      Split{'G', "GroupWise Mail Server", nullptr, nullptr}, Split{'G', "DOM1:a/b/c/", "DOM1:a/b", "c"},
                      Split{'D', ".CN=Admin.O=Acme.[Root]", ".O=Acme.[Root]", ".CN=Admin"},
                      Split{'D', ".O=Acme.[Root]", ".[Root]", ".O=Acme"},
                      Split{'D', ".CN=Admin.O=Acme.T=TREE", ".O=Acme.T=TREE", ".CN=Admin"},
                      Split{'D', ".O=Acme.T=TREE", ".T=TREE", ".O=Acme"},
                      Split{'D', ".CN=a\\.b.O=Acme.[Root]", ".O=Acme.[Root]", ".CN=a\\.b"},
                      Split{'D', ".CN=a\\\\.O=Acme.[Root]", ".O=Acme.[Root]", ".CN=a\\\\"},
                      Split{'D', ".CN=x.O=Acme.[Root].", ".O=Acme.[Root]", ".CN=x"},
                      Split{'D', ".[Root]", nullptr, nullptr}, Split{'D', ".T=TREE", nullptr, nullptr},
                      Split{'D', "Schema", nullptr, nullptr}, Split{'D', ".CN=a\\.b", nullptr, nullptr},
                      Split{'D', "..O=x", nullptr, nullptr}));

TEST_F(StandInNames, CatAcceptsEitherFormOfTheChild)
{
    struct Cat {
        char tsa;
        const char *parent, *child, *joined;
    };
    const Cat cases[] = {
        {'F', "/a", "b", "/a/b"},
        {'F', "/", "b", "/b"},
        {'F', "/a/", "/b", "/a/b"},
        {'G', "DOM1:", "dir", "DOM1:dir"},
        {'G', "DOM1:dir", "x", "DOM1:dir/x"},
        {'D', ".O=Acme.[Root]", "CN=Admin", ".CN=Admin.O=Acme.[Root]"},
        {'D', ".O=Acme.[Root]", ".CN=Admin", ".CN=Admin.O=Acme.[Root]"},
        {'D', ".T=TREE", "O=Acme", ".O=Acme.T=TREE"},
        {'D', "O=Acme.[Root]", "CN=a\\.b", ".CN=a\\.b.O=Acme.[Root]"},
    };
    for (const Cat &c : cases) {
        STRING_BUFFER *joined = nullptr;
        ASSERT_EQ(
            NWSMTSCatDataSetName(tsa(c.tsa), 0, const_cast<char *>(c.parent), const_cast<char *>(c.child), 0, &joined),
            0u)
            << c.parent << " + " << c.child;
        EXPECT_STREQ(joined->string, c.joined);
        NWSMFreeString(&joined);
    }
    const Cat refused[] = {
        {'F', "/a", "", ""}, {'G', "DOM1", "x", ""}, {'G', "DOM1:", "", ""}, {'D', ".[Root]", ".", ""}};
    for (const Cat &c : refused) {
        STRING_BUFFER *joined = nullptr;
        EXPECT_EQ(
            NWSMTSCatDataSetName(tsa(c.tsa), 0, const_cast<char *>(c.parent), const_cast<char *>(c.child), 0, &joined),
            NWSMTS_INVALID_DATA_SET_NAME)
            << c.parent << " + " << c.child;
        EXPECT_EQ(joined, nullptr);
    }
}

TEST_F(StandInNames, LengthBoundaries)
{
    std::string longest = "/" + std::string(NWSM_MAX_NAME - 3, 'a') + "/b"; // 1023
    std::string tooLong = longest + "c";
    STRING_BUFFER *parent = nullptr, *child = nullptr;
    ASSERT_EQ(NWSMTSSeparateDataSetName(fs_, 0, longest.data(), nullptr, &child), 0u);
    EXPECT_STREQ(child->string, "b");
    std::free(child);
    child = nullptr;
    EXPECT_EQ(NWSMTSSeparateDataSetName(fs_, 0, tooLong.data(), &parent, &child), NWSMTS_INVALID_DATA_SET_NAME);
    EXPECT_EQ(NWSMTSSeparateDataSetName(fs_, 0, nullptr, &parent, &child), NWSMTS_INVALID_PARAMETER);

    std::string half(NWSM_MAX_NAME - 2, 'p'); // + "/b"
    STRING_BUFFER *joined = nullptr;
    char b[] = "b";
    ASSERT_EQ(NWSMTSCatDataSetName(fs_, 0, half.data(), b, 0, &joined), 0u); // exactly 1023
    EXPECT_EQ(std::strlen(joined->string), static_cast<std::size_t>(NWSM_MAX_NAME));
    NWSMFreeString(&joined);
    half += 'p';
    EXPECT_EQ(NWSMTSCatDataSetName(fs_, 0, half.data(), b, 0, &joined), NWSMTS_OVERFLOW);
    EXPECT_EQ(NWSMTSCatDataSetName(fs_, 0, tooLong.data(), b, 0, &joined), NWSMTS_INVALID_DATA_SET_NAME);
    EXPECT_EQ(NWSMTSCatDataSetName(fs_, 0, b, tooLong.data(), 0, &joined), NWSMTS_INVALID_DATA_SET_NAME);
    EXPECT_EQ(NWSMTSCatDataSetName(fs_, 0, b, nullptr, 0, &joined), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(joined, nullptr);
}

} // namespace
} // namespace smsemutest
