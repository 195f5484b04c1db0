// Path object lifecycle, component list and accessors.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"

extern "C" size_t netwarepath_c_layout(size_t *offsets);

TEST(PathObject, NewObjectIsEmptyFileSystemPath)
{
    PathObject path;
    ASSERT_NE(path.get(), nullptr);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_EQ(NetWarePathGetNumberOfComponents(path), 0);
    EXPECT_EQ(NetWarePathGetPathType(path), NETWARE_PATH_TYPE_FS);
    EXPECT_EQ(NetWarePathGetSeparator(path), '\\');
    EXPECT_FALSE(NetWarePathIsResourceObject(path));
}

TEST(PathObject, LayoutSeenFromCMatchesCxx)
{
    size_t offsets[8];
    EXPECT_EQ(netwarepath_c_layout(offsets), sizeof(NETWARE_PATH_OBJECT));
    EXPECT_EQ(offsets[0], offsetof(NETWARE_PATH_OBJECT, encodedPath));
    EXPECT_EQ(offsets[1], offsetof(NETWARE_PATH_OBJECT, pathType));
    EXPECT_EQ(offsets[2], offsetof(NETWARE_PATH_OBJECT, top));
    EXPECT_EQ(offsets[3], offsetof(NETWARE_PATH_OBJECT, bottom));
    EXPECT_EQ(offsets[4], offsetof(NETWARE_PATH_OBJECT, resourceObject));
    EXPECT_EQ(offsets[5], offsetof(NETWARE_PATH_COMPONENT, next));
    EXPECT_EQ(offsets[6], offsetof(NETWARE_PATH_COMPONENT, prev));
    EXPECT_EQ(offsets[7], sizeof(NETWARE_PATH_COMPONENT));
}

TEST(PathObject, HostStorageIsZeroAfterDestruct)
{
    NETWARE_PATH_OBJECT storage;
    memset(&storage, 0x5A, sizeof storage);
    NetWarePathConstruct(&storage);
    ASSERT_EQ(NetWarePathSetNativePath(&storage, "SRV1\\SYS:\\DIR", 0), 1);
    NetWarePathDestruct(&storage);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&storage);
    for (size_t i = 0; i < sizeof storage; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
    NetWarePathConstruct(&storage); // constructed again after its end
    EXPECT_EQ(NetWarePathSetNativePath(&storage, "CN=A.O=B", 1), 1);
    NetWarePathDestruct(&storage);
}

TEST(PathObject, NullObjectGivesNeutralResults)
{
    char buffer[8] = "x";
    NetWarePathDelete(nullptr);
    NetWarePathConstruct(nullptr);
    NetWarePathDestruct(nullptr);
    NetWarePathClearPath(nullptr);
    EXPECT_EQ(NetWarePathGetNumberOfComponents(nullptr), 0);
    EXPECT_EQ(NetWarePathGetPathType(nullptr), 0);
    EXPECT_EQ(NetWarePathGetSeparator(nullptr), '\0');
    EXPECT_FALSE(NetWarePathIsResourceObject(nullptr));
    EXPECT_STREQ(NetWarePathGetNativeComponent(nullptr, 0, buffer, sizeof buffer), "");
    EXPECT_STREQ(NetWarePathGetNativePath(nullptr, buffer, sizeof buffer), "");
    EXPECT_STREQ(buffer, "x");
    EXPECT_EQ(NetWarePathSetNativePath(nullptr, "SYS:\\X", 0), 0);
    EXPECT_EQ(NetWarePathAppendNativeComponent(nullptr, "X"), 0);
    EXPECT_EQ(NetWarePathRemoveComponent(nullptr), 0);
}

TEST(ComponentList, InsertAndAddKeepBothLinksConsistent)
{
    PathObject path;
    auto a = writable("A"), b = writable("B"), c = writable("C");
    ASSERT_EQ(NetWarePathInsertComponentAtTop(path, b.data()), 1);
    EXPECT_EQ(path->top, path->bottom);
    ASSERT_EQ(NetWarePathInsertComponentAtTop(path, a.data()), 1);
    ASSERT_EQ(NetWarePathAddComponentToBottom(path, c.data()), 1);
    EXPECT_EQ(path.components(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_TRUE(path.listIsConsistent());

    NetWarePathFreeNetWareComponent(path, path->top->next); // the middle one
    EXPECT_EQ(path.components(), (std::vector<std::string>{"A", "C"}));
    EXPECT_TRUE(path.listIsConsistent());
    NetWarePathFreeNetWareComponent(path, path->bottom);
    NetWarePathFreeNetWareComponent(path, path->top);
    EXPECT_EQ(path->top, nullptr);
    EXPECT_EQ(path->bottom, nullptr);

    ASSERT_EQ(NetWarePathAddComponentToBottom(path, a.data()), 1);
    EXPECT_EQ(path->top, path->bottom);
}

TEST(ComponentList, FreeingAComponentOfAnotherObjectDoesNothing)
{
    PathObject one, other;
    ASSERT_EQ(NetWarePathSetNativePath(one, "SYS:\\A", 0), 1);
    ASSERT_EQ(NetWarePathSetNativePath(other, "SYS:\\B", 0), 1);
    NetWarePathFreeNetWareComponent(one, other->bottom);
    EXPECT_EQ(other.components(), (std::vector<std::string>{"SYS:", "B"}));
    EXPECT_EQ(one.components(), (std::vector<std::string>{"SYS:", "A"}));
}

TEST(ComponentList, ComponentTextOf1023IsTheLongestAccepted)
{
    auto longest = writable(std::string(1023, 'x'));
    auto tooLong = writable(std::string(1024, 'x'));
    NETWARE_PATH_COMPONENT *component = NetWarePathAllocateNetWareComponent(longest.data());
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(strlen(component->name), 1023u);
    EXPECT_EQ(component->next, nullptr);
    EXPECT_EQ(component->prev, nullptr);
    free(component);
    EXPECT_EQ(NetWarePathAllocateNetWareComponent(tooLong.data()), nullptr);
    EXPECT_EQ(NetWarePathAllocateNetWareComponent(nullptr), nullptr);

    PathObject path;
    EXPECT_EQ(NetWarePathAddComponentToBottom(path, tooLong.data()), 0);
    EXPECT_EQ(NetWarePathInsertComponentAtTop(path, tooLong.data()), 0);
    EXPECT_EQ(path->top, nullptr);
}

TEST(Accessors, ComponentGetterChecksIndexAndSize)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "SRV1\\SYS:\\PUBLIC", 0), 1);
    char buffer[16];
    EXPECT_STREQ(NetWarePathGetComponent(path, 2, buffer, sizeof buffer), "PUBLIC");
    for (int index : {3, -1, 1000}) {
        strcpy(buffer, "junk");
        EXPECT_STREQ(NetWarePathGetNativeComponent(path, index, buffer, sizeof buffer), "");
        EXPECT_STREQ(buffer, "") << index;
    }
    strcpy(buffer, "junk");
    EXPECT_STREQ(NetWarePathGetNativeComponent(path, 2, buffer, 6), ""); // "PUBLIC" needs 7
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(NetWarePathGetNativeComponent(path, 2, buffer, 7), buffer);
    // A size of 0 writes nothing at all.
    strcpy(buffer, "junk");
    EXPECT_STREQ(NetWarePathGetNativeComponent(path, 2, buffer, 0), "");
    EXPECT_STREQ(NetWarePathGetEncodedComponent(path, 2, buffer, 0), "");
    EXPECT_STREQ(buffer, "junk");
}

// The path getters copy only when the text and its NUL fit, and otherwise
// leave the buffer untouched; this holds for the encoded form as well.
TEST(Accessors, PathGettersNeedRoomForTheTerminator)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "SYS:\\PUBLIC", 0), 1);
    using Getter = char *(*)(const NETWARE_PATH_OBJECT *, char *, uint32_t);
    for (Getter get : {NetWarePathGetNativePath, NetWarePathGetEncodedPath, NetWarePathGetTopDownPath}) {
        const std::string expected = get(path, std::vector<char>(64).data(), 64);
        std::vector<char> buffer(expected.size() + 2, '#');
        EXPECT_STREQ(get(path, buffer.data(), static_cast<uint32_t>(expected.size())), "");
        EXPECT_EQ(buffer[0], '#');
        EXPECT_EQ(buffer[expected.size()], '#');
        EXPECT_EQ(get(path, buffer.data(), static_cast<uint32_t>(expected.size() + 1)), buffer.data());
        EXPECT_EQ(expected, buffer.data());
        EXPECT_STREQ(get(path, buffer.data(), 0), "");
    }
    EXPECT_EQ(path.encoded(), "\\SYS:\\PUBLIC");
}

TEST(Accessors, SeparatorFollowsPathType)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "CN=Admin", 1), 1);
    EXPECT_EQ(NetWarePathGetSeparator(path), '.');
    path->pathType = 7;
    EXPECT_EQ(NetWarePathGetSeparator(path), '.');
    NetWarePathClearPath(path);
    EXPECT_EQ(NetWarePathGetSeparator(path), '\\');
}
