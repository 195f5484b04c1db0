// The directory TSA ("Directory"): objects named by typed distinguished names
// with a leading '.' ending in the top of the tree (".[Root]", or ".T=<tree>"
// in the tree-name form). Its target service is the tree; it lists the tree
// resource (named as the tree) and "Schema". It registers all that and its
// naming rules, and serves the one scan a login probe makes (the tree
// resource, one level); its object store is read by the data operations,
// which are not served yet.
#pragma once

#include "Tsa.h"

namespace smsemu {

class DirectoryTsa : public Tsa {
public:
    explicit DirectoryTsa(const TsaConfig &config) : Tsa(config) {}

    const std::string &treeName() const { return config().targetService; }
    // ".[Root]", or ".T=<tree>" in the tree-name form.
    std::string topOfTree() const;

    std::vector<std::string> resourceNames() const override;
    CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const override;
    Separators separators() const override { return {".", "."}; }
    CCODE separateName(std::string_view name, std::string &parent, std::string &child) const override;
    CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const override;

    CCODE beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan) override;
};

} // namespace smsemu
