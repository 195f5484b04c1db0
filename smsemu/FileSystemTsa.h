// The file-system TSA ("Linux File System"): data sets are absolute POSIX
// paths under the directories of its resources. It registers its target
// service, resources, name spaces and naming rules; scans, backup, restore and
// delete are not served yet.
#pragma once

#include "Tsa.h"

namespace smsemu {

class FileSystemTsa : public Tsa {
public:
    explicit FileSystemTsa(const TsaConfig &config) : Tsa(config) {}

    std::vector<std::string> resourceNames() const override;
    CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const override;
    Separators separators() const override { return {"/", "/"}; }
    CCODE separateName(std::string_view name, std::string &parent, std::string &child) const override;
    CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const override;
    bool hasCachingMode() const override { return true; }
};

} // namespace smsemu
