// Data-set name lists, selection lists, name lookups and the trailing-separator
// rule of libsmsut.
#include "SmsEmuFixture.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace smsemutest {
namespace {

using NameLists = SmsEmu;

std::vector<const NWSM_NAME_ENTRY *> entries(const NWSM_DATA_SET_NAME_LIST *list)
{
    std::vector<const NWSM_NAME_ENTRY *> out;
    const auto *base = reinterpret_cast<const unsigned char *>(list);
    std::size_t offset = sizeof(NWSM_DATA_SET_NAME_LIST);
    for (UINT32 i = 0; i < list->nameCount; ++i) {
        EXPECT_EQ(offset % 8, 0u);
        const auto *entry = reinterpret_cast<const NWSM_NAME_ENTRY *>(base + offset);
        out.push_back(entry);
        offset += entry->entrySize;
    }
    EXPECT_EQ(offset, list->usedSize);
    EXPECT_LE(list->usedSize, list->bufferSize);
    return out;
}

struct OneName {
    UINT32 type;
    UINT32 selection;
    INT16 reverse;
    const char *first;
    const char *second;
    const char *name;
};

void PrintTo(const OneName &n, std::ostream *os)
{
    *os << n.type << " \"" << n.name << "\"";
}

class OneNameRoundTrip : public SmsEmu, public ::testing::WithParamInterface<OneName> {};

TEST_P(OneNameRoundTrip, PutThenGetGivesTheSameRecord)
{
    const OneName &p = GetParam();
    NWSM_DATA_SET_NAME_LIST *list = nullptr;
    ASSERT_EQ(NWSMPutOneName(&list, p.type, p.selection, p.reverse, const_cast<char *>(p.first),
                             const_cast<char *>(p.second), const_cast<char *>(p.name)),
              0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->nameCount, 1u);
    EXPECT_EQ(list->flags, 0u);
    auto all = entries(list);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_STREQ(all[0]->separator1, p.first != nullptr ? p.first : "");
    EXPECT_STREQ(all[0]->separator2, p.second != nullptr ? p.second : "");

    NWSM_DATA_SET_NAME one{};
    ASSERT_EQ(NWSMGetOneName(list, &one), 0u);
    EXPECT_EQ(one.nameSpaceType, p.type);
    EXPECT_EQ(one.selectionType, p.selection);
    EXPECT_EQ(one.reverseOrder, p.reverse);
    EXPECT_EQ(one.nameLength, std::strlen(p.name));
    EXPECT_STREQ(one.name, p.name);

    NWSM_DATA_SET_NAME typed{};
    ASSERT_EQ(NWSMGetDataSetName(list, p.type, &typed), 0u);
    EXPECT_EQ(typed.name, one.name); // points into the list
    EXPECT_EQ(NWSMGetDataSetName(list, p.type + 1, &typed), NWSMTS_NO_MORE_NAMES);
    std::free(list);
}

INSTANTIATE_TEST_SUITE_P(NameSpaces, OneNameRoundTrip,
                         ::testing::Values(OneName{0, 0, 0, "/", "/", "/home/ann/a.txt"},
                                           OneName{2, 16, 0, "/", "/", "/srv/x"},
                                           OneName{4, 4, 1, ":", "/", "DOM1:dir/sub"},
                                           OneName{256, 0, 0, ".", ".", ".CN=Ädmin.O=Acme.[Root]"},
                                           OneName{NWSM_TSA_DEFINED_RESOURCE, 2, 0, nullptr, nullptr, "ACME_TREE"},
                                           OneName{0, 0, -1, "", "", ""}));

TEST_F(NameLists, SelectionListOfManyNamesGrowsInOneBlock)
{
    NWSM_SELECTION_LIST *list = nullptr;
    NWSM_NAME_HANDLE handle = nullptr;
    const int count = 5000;
    auto nameOf = [](int i) {
        return "/data/set/" + std::string(static_cast<std::size_t>(i % 97), 'x') + std::to_string(i);
    };
    std::string first = nameOf(0);
    ASSERT_EQ(NWSMPutFirstName(&list, 2, NWSM_CHILD_TO_BE_EXCLUDED, 0, const_cast<char *>("/"), const_cast<char *>("/"),
                               first.data(), &handle),
              0u);
    EXPECT_EQ(handle, static_cast<void *>(&list));
    for (int i = 1; i < count; ++i) {
        std::string name = nameOf(i);
        UINT32 type = i % 3 == 0 ? NWSM_TSA_DEFINED_RESOURCE : 2;
        ASSERT_EQ(NWSMPutNextName(&list, &handle, type, NWSM_PARENT_TO_BE_EXCLUDED, 0, const_cast<char *>("/"),
                                  const_cast<char *>("/"), name.data()),
                  0u)
            << i;
    }
    ASSERT_EQ(NWSMCloseName(&handle), 0u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(list->flags & NWSM_NAME_LIST_CLOSED, NWSM_NAME_LIST_CLOSED);
    ASSERT_EQ(list->nameCount, static_cast<UINT32>(count));
    auto all = entries(list);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(all[static_cast<std::size_t>(i)]->name, nameOf(i)) << i;
    EXPECT_LT(list->bufferSize, 2 * list->usedSize + 512); // grown geometrically, not wildly

    NWSM_DATA_SET_NAME resource{};
    ASSERT_EQ(NWSMGetDataSetName(list, NWSM_TSA_DEFINED_RESOURCE, &resource), 0u);
    EXPECT_EQ(resource.name, nameOf(3));
    std::free(list); // one block
}

TEST_F(NameLists, ClosedListsAndMissingHandlesRefuseNames)
{
    NWSM_SELECTION_LIST *list = nullptr;
    NWSM_NAME_HANDLE handle = nullptr;
    char name[] = "/a";
    ASSERT_EQ(NWSMPutFirstName(&list, 0, 16, 0, nullptr, nullptr, name, &handle), 0u);
    NWSM_NAME_HANDLE kept = handle;
    ASSERT_EQ(NWSMCloseName(&handle), 0u);
    EXPECT_EQ(NWSMPutNextName(&list, &kept, 0, 16, 0, nullptr, nullptr, name), NWSMTS_INVALID_SELECTION_LIST);
    EXPECT_EQ(NWSMPutNextName(&list, &handle, 0, 16, 0, nullptr, nullptr, name), NWSMTS_INVALID_SELECTION_LIST);
    EXPECT_EQ(NWSMPutNextName(&list, nullptr, 0, 16, 0, nullptr, nullptr, name), NWSMTS_INVALID_SELECTION_LIST);
    EXPECT_EQ(NWSMCloseName(&handle), NWSMTS_INVALID_SELECTION_LIST); // already closed
    EXPECT_EQ(NWSMCloseName(nullptr), NWSMTS_INVALID_SELECTION_LIST);
    EXPECT_EQ(list->nameCount, 1u);

    // A list whose header does not add up is not written into.
    NWSM_NAME_HANDLE open = &list;
    list->flags = 0;
    list->usedSize = 8;
    EXPECT_EQ(NWSMPutNextName(&list, &open, 0, 16, 0, nullptr, nullptr, name), NWSMTS_INVALID_SELECTION_LIST);
    list->usedSize = list->bufferSize + 8;
    EXPECT_EQ(NWSMPutNextName(&list, &open, 0, 16, 0, nullptr, nullptr, name), NWSMTS_INVALID_SELECTION_LIST);
    std::free(list);
}

TEST_F(NameLists, LongAndMissingNamesAreRefusedAndLeaveTheListAlone)
{
    std::string longest(NWSM_MAX_NAME, 'n');
    std::string tooLong(NWSM_MAX_NAME + 1, 'n');
    NWSM_DATA_SET_NAME_LIST *list = reinterpret_cast<NWSM_DATA_SET_NAME_LIST *>(0x1);
    EXPECT_EQ(NWSMPutOneName(&list, 0, 0, 0, nullptr, nullptr, tooLong.data()), NWSMTS_INVALID_DATA_SET_NAME);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(NWSMPutOneName(&list, 0, 0, 0, nullptr, nullptr, nullptr), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMPutOneName(nullptr, 0, 0, 0, nullptr, nullptr, longest.data()), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMPutOneName(&list, 0, 0, 0, const_cast<char *>("////"), nullptr, longest.data()),
              NWSMTS_INVALID_PARAMETER);
    ASSERT_EQ(NWSMPutOneName(&list, 0, 0, 0, nullptr, nullptr, longest.data()), 0u);
    NWSM_DATA_SET_NAME one{};
    ASSERT_EQ(NWSMGetOneName(list, &one), 0u);
    EXPECT_EQ(one.nameLength, NWSM_MAX_NAME);
    std::free(list);

    NWSM_SELECTION_LIST *selection = nullptr;
    NWSM_NAME_HANDLE handle = nullptr;
    EXPECT_EQ(NWSMPutFirstName(&selection, 0, 16, 0, nullptr, nullptr, tooLong.data(), &handle),
              NWSMTS_INVALID_DATA_SET_NAME);
    EXPECT_EQ(selection, nullptr);
    EXPECT_EQ(handle, nullptr);
    ASSERT_EQ(NWSMPutFirstName(&selection, 0, 16, 0, nullptr, nullptr, longest.data(), &handle), 0u);
    NWSM_SELECTION_LIST *before = selection;
    UINT32 used = selection->usedSize;
    EXPECT_EQ(NWSMPutNextName(&selection, &handle, 0, 16, 0, nullptr, nullptr, tooLong.data()),
              NWSMTS_INVALID_DATA_SET_NAME);
    EXPECT_EQ(NWSMPutNextName(&selection, &handle, 0, 16, 0, nullptr, nullptr, nullptr), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(selection, before);
    EXPECT_EQ(selection->usedSize, used);
    EXPECT_EQ(selection->nameCount, 1u);
    std::free(selection);
}

TEST_F(NameLists, LookupsInEmptyOrMissingListsFindNoName)
{
    NWSM_DATA_SET_NAME name{};
    EXPECT_EQ(NWSMGetOneName(nullptr, &name), NWSMTS_NO_MORE_NAMES);
    EXPECT_EQ(NWSMGetDataSetName(nullptr, 0, &name), NWSMTS_NO_MORE_NAMES);
    NWSM_DATA_SET_NAME_LIST empty{sizeof(NWSM_DATA_SET_NAME_LIST), sizeof(NWSM_DATA_SET_NAME_LIST), 0, 0};
    EXPECT_EQ(NWSMGetOneName(&empty, &name), NWSMTS_NO_MORE_NAMES);
    // A damaged list (count says one, no room for it) is not read past its end.
    NWSM_DATA_SET_NAME_LIST damaged{sizeof(NWSM_DATA_SET_NAME_LIST), sizeof(NWSM_DATA_SET_NAME_LIST), 1, 0};
    EXPECT_EQ(NWSMGetOneName(&damaged, &name), NWSMTS_NO_MORE_NAMES);
    EXPECT_EQ(NWSMGetOneName(&empty, nullptr), NWSMTS_INVALID_PARAMETER);
}

TEST_F(NameLists, FreeFunctionsReleaseAndClear)
{
    EXPECT_EQ(NWSMFreeNameList(nullptr), NWSMTS_INVALID_PARAMETER);
    NWSM_NAME_LIST *none = nullptr;
    EXPECT_EQ(NWSMFreeNameList(&none), 0u);
    EXPECT_EQ(NWSMFreeString(nullptr), NWSMTS_INVALID_PARAMETER);
    auto *string = static_cast<STRING_BUFFER *>(std::malloc(sizeof(STRING_BUFFER) + 4));
    EXPECT_EQ(NWSMFreeString(&string), 0u);
    EXPECT_EQ(string, nullptr);
    EXPECT_EQ(NWSMFreeString(&string), 0u);
}

struct Strip {
    UINT32 type;
    const char *in;
    const char *out;
    int removedAt; // -1: nothing removed
};

void PrintTo(const Strip &s, std::ostream *os)
{
    *os << s.type << " \"" << s.in << "\"";
}

class StripEndSeparator : public SmsEmu, public ::testing::WithParamInterface<Strip> {};

TEST_P(StripEndSeparator, RemovesOneSeparatorButNeverTheWholeName)
{
    const Strip &p = GetParam();
    std::string name = p.in;
    char *removed = reinterpret_cast<char *>(0x1);
    char *result = NWSMStripEndSeparator(p.type, name.data(), &removed);
    EXPECT_EQ(result, name.data());
    EXPECT_STREQ(result, p.out);
    if (p.removedAt < 0)
        EXPECT_EQ(removed, nullptr);
    else
        EXPECT_EQ(removed, name.data() + p.removedAt);
}

INSTANTIATE_TEST_SUITE_P(Rules, StripEndSeparator,
                         ::testing::Values(Strip{0, "/a/b/", "/a/b", 4}, Strip{0, "/", "/", -1},
                                           Strip{2, "\\", "\\", -1}, Strip{0, "a\\", "a", 1}, Strip{2, "a//", "a/", 2},
                                           Strip{0, "a:", "a:", -1}, Strip{1, "a:", "a", 1},
                                           Strip{257, "vol:", "vol", 3}, Strip{1, "a/", "a", 1}, Strip{0, "", "", -1},
                                           Strip{0, "abc", "abc", -1}, Strip{0xFFFFFFFE, "DOM1:/", "DOM1:", 5},
                                           Strip{4, "x.", "x.", -1}));

TEST_F(NameLists, StripEndSeparatorTakesNullArguments)
{
    EXPECT_EQ(NWSMStripEndSeparator(0, nullptr, nullptr), nullptr);
    char *removed = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(NWSMStripEndSeparator(0, nullptr, &removed), nullptr);
    EXPECT_EQ(removed, nullptr);
    char name[] = "/a/";
    EXPECT_STREQ(NWSMStripEndSeparator(0, name, nullptr), "/a");
}

} // namespace
} // namespace smsemutest
