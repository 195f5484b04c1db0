// A logged-in object on the stand-in's directory TSA over a small
// organisation, with the helpers of the file-system harness (scans, backups,
// restores by agent path). The parameter is the TSA's top-of-tree form.
#ifndef KXSMS_TESTS_AGENT_DIRECTORY_HARNESS_H
#define KXSMS_TESTS_AGENT_DIRECTORY_HARNESS_H

#include "Harness.h"
#include "Peek.h"

namespace harness {

inline const char *kAcmeTree = R"({"objects": [
  {"dn": ".O=Acme.[Root]", "class": "Organization", "attributes": {"description": ["The Acme company"]}},
  {"dn": ".OU=Sales.O=Acme.[Root]", "class": "OrganizationalUnit"},
  {"dn": ".CN=Bob.OU=Sales.O=Acme.[Root]", "class": "User", "attributes": {"mail": ["bob@acme.example"]}},
  {"dn": ".CN=Admin.O=Acme.[Root]", "class": "User",
   "attributes": {"mail": ["admin@acme.example"], "telephoneNumber": ["1", "2"]}},
  {"dn": ".OU=Empty.O=Acme.[Root]", "class": "OrganizationalUnit"}
]})";

class DirectoryTsa : public FileSystemTsa, public ::testing::WithParamInterface<const char *> {
protected:
    void SetUp() override
    {
        testsupport::writeFile(dir / "tree.json", kAcmeTree);
        FileSystemTsa::SetUp();
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        ASSERT_EQ(object->Connect(KXSMS_TSA_DIRECTORY, user.data(), &password), 0u);
        object->SetScanStartTime(kStart);
        clearLog();
        clearTrace();
    }
    std::string fsConfig() const override
    {
        return FileSystemTsa::fsConfig() + "[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\n" +
               "root_form = \"" + GetParam() + "\"\nstore = " + testsupport::tomlString(dir / "tree.json") + "\n";
    }
    bool treeForm() const { return std::string(GetParam()) == "tree"; }
    std::string store() const { return testsupport::readFile(dir / "tree.json"); }

    static constexpr long kStart = 1700000000;
};

} // namespace harness

#endif
