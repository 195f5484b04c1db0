// Path object lifecycle, component list and accessors.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "PathObjectHelpers.h"

extern "C" int netwarepath_from_c(void);

TEST(PathObject, LifecycleInHostStorage)
{
    NETWARE_PATH_OBJECT storage;
    memset(&storage, 0x5A, sizeof storage);
    NetWarePathConstruct(&storage);
    EXPECT_EQ(NetWarePathGetSeparator(&storage), '\\');
    EXPECT_EQ(storage.top, nullptr);
    ASSERT_EQ(NetWarePathSetNativePath(&storage, "SRV1\\SYS:\\DIR", 0), 1);
    NetWarePathDestruct(&storage);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&storage);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof storage, [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(netwarepath_from_c(), 1);
    EXPECT_EQ(NetWarePathGetSeparator(nullptr), '\0');
    EXPECT_EQ(NetWarePathRemoveComponent(nullptr), 0);
}

TEST(ComponentList, InsertAddAndFreeKeepBothLinksConsistent)
{
    PathObject path;
    auto a = writable("A"), b = writable("B"), c = writable("C");
    ASSERT_EQ(NetWarePathInsertComponentAtTop(path, b.data()), 1);
    EXPECT_EQ(path->top, path->bottom);
    NetWarePathInsertComponentAtTop(path, a.data());
    NetWarePathAddComponentToBottom(path, c.data());
    EXPECT_EQ(path.components(), (Names{"A", "B", "C"}));
    NetWarePathFreeNetWareComponent(path, path->top->next);
    EXPECT_EQ(path.components(), (Names{"A", "C"}));
    EXPECT_TRUE(path.listIsConsistent());

    PathObject other; // a component of another object is left alone
    ASSERT_EQ(NetWarePathSetNativePath(other, "SYS:\\B", 0), 1);
    NetWarePathFreeNetWareComponent(path, other->bottom);
    EXPECT_EQ(other.components(), (Names{"SYS:", "B"}));

    NetWarePathFreeNetWareComponent(path, path->bottom);
    NetWarePathFreeNetWareComponent(path, path->top);
    EXPECT_TRUE(path->top == nullptr && path->bottom == nullptr);
}

TEST(ComponentList, ComponentTextOf1023IsTheLongestAccepted)
{
    auto longest = writable(std::string(1023, 'x')), tooLong = writable(std::string(1024, 'x'));
    NETWARE_PATH_COMPONENT *component = NetWarePathAllocateNetWareComponent(longest.data());
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(strlen(component->name), 1023u);
    free(component);
    PathObject path;
    EXPECT_EQ(NetWarePathInsertComponentAtTop(path, tooLong.data()), 0);
    EXPECT_EQ(path->top, nullptr);
}

TEST(Accessors, ComponentGettersCheckIndexAndSize)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "SRV1\\SYS:\\PUBLIC", 0), 1);
    char buffer[16] = "junk";
    EXPECT_STREQ(NetWarePathGetNativeComponent(path, 3, buffer, sizeof buffer), "");
    EXPECT_STREQ(buffer, "");
    EXPECT_STREQ(NetWarePathGetComponent(path, 2, buffer, 6), ""); // "PUBLIC" needs 7
    EXPECT_EQ(NetWarePathGetComponent(path, 2, buffer, 7), buffer);
    EXPECT_STREQ(NetWarePathGetNativeComponent(path, 2, buffer, 0), ""); // size 0 writes nothing
    EXPECT_STREQ(NetWarePathGetEncodedComponent(path, -1, buffer, 0), "");
    EXPECT_STREQ(buffer, "PUBLIC");
}

// The path getters copy only when the text and its NUL fit, and otherwise
// leave the buffer untouched; this holds for the encoded form as well.
TEST(Accessors, PathGettersNeedRoomForTheTerminator)
{
    PathObject path;
    ASSERT_EQ(NetWarePathSetNativePath(path, "SYS:\\PUBLIC", 0), 1);
    using Getter = char *(*)(const NETWARE_PATH_OBJECT *, char *, uint32_t);
    for (Getter get : {NetWarePathGetNativePath, NetWarePathGetEncodedPath, NetWarePathGetTopDownPath}) {
        char buffer[16];
        const std::string expected = get(path, buffer, sizeof buffer);
        const auto length = static_cast<uint32_t>(expected.size());
        memset(buffer, '#', sizeof buffer);
        EXPECT_STREQ(get(path, buffer, length), "");
        EXPECT_EQ(buffer[length], '#');
        EXPECT_EQ(get(path, buffer, length + 1), buffer);
    }
    EXPECT_EQ(path.encoded(), "\\SYS:\\PUBLIC");
}
