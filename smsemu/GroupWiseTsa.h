// The GroupWise TSA ("GroupWise System"): the resource "GroupWise Mail Server"
// and resources such as "DOM1:", each backed by a directory; data-set names
// are "DOM1:dir/sub". It registers its target service, resources, name spaces
// and naming rules; its data operations are not served yet.
#pragma once

#include "Tsa.h"

namespace smsemu {

class GroupWiseTsa : public Tsa {
public:
    explicit GroupWiseTsa(const TsaConfig &config) : Tsa(config) {}

    std::vector<std::string> resourceNames() const override;
    CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const override;
    Separators separators() const override { return {":", "/"}; }
    CCODE separateName(std::string_view name, std::string &parent, std::string &child) const override;
    CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const override;
};

} // namespace smsemu
