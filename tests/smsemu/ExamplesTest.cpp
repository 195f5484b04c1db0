// The sample configuration in examples/ loads as it stands (paths relative to
// the file) and serves its three TSAs. Only reads: the files stay as shipped.
#include "directory/DirectoryFixture.h"

#include <pwd.h>
#include <unistd.h>

namespace smsemutest {
namespace {

class Examples : public Directory {};

TEST_F(Examples, ConfigurationListsThreeTsasWithoutProblems)
{
    std::string config = std::string(KXSMS_SOURCE_DIR) + "/examples/smsemu.toml";
    ScopedEnv env("SMSEMU_CONFIG", config.c_str());
    smsemuReset();
    EXPECT_EQ(std::string(smsemuLastConfigError()), "");
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    NWSM_NAME_LIST *list = nullptr;
    ASSERT_EQ(NWSMListTSAs(host, &list), 0u);
    std::string prefix = std::string(host) + ".";
    EXPECT_EQ(names(list), (std::vector<std::string>{prefix + "Linux File System", prefix + "Directory",
                                                     prefix + "GroupWise System"}));

    // The directory tree: the whole organisation, and its classes in the schema.
    std::string user = getpwuid(geteuid()) != nullptr ? getpwuid(geteuid())->pw_name : "root";
    connection = connect(prefix + "Directory");
    ASSERT_EQ(login(connection, "ACME_TREE", user, ""), 0u);
    std::vector<std::string> tree = scanNames(".[Root]");
    EXPECT_EQ(tree.size(), 9u);
    EXPECT_EQ(tree[1], ".O=Acme.[Root]");
    std::vector<std::string> schema = scanNames("Schema");
    EXPECT_EQ(schema.back(), ".CN=Computer.Schema");

    // The other two list their resources.
    UINT32 gw = connect(prefix + "GroupWise System");
    ASSERT_EQ(login(gw, host, user, ""), 0u);
    ASSERT_EQ(NWSMTSListTSResources(gw, &list), 0u);
    EXPECT_EQ(names(list), (std::vector<std::string>{"GroupWise Mail Server", "DOM1:"}));
    connection = gw;
    EXPECT_EQ(scanNames("GroupWise Mail Server").size(), 10u);
    EXPECT_EQ(scanNames("DOM1:po1/ofuser", true),
              (std::vector<std::string>{"DOM1:po1/ofuser", "DOM1:po1/ofuser/ann.txt", "DOM1:po1/ofuser/bob.txt"}));
    UINT32 fs = connect(prefix + "Linux File System");
    ASSERT_EQ(login(fs, host, user, ""), 0u);
    ASSERT_EQ(NWSMTSListTSResources(fs, &list), 0u);
    EXPECT_EQ(names(list), std::vector<std::string>{"/"});
    connection = fs;
    EXPECT_EQ(scanNames("/docs/notes", true),
              (std::vector<std::string>{"/docs/notes", "/docs/notes/meeting.txt", "/docs/notes/plans 2025.txt"}));
}

} // namespace
} // namespace smsemutest
