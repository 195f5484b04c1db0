// How the GroupWise TSA's names map onto the file-system TSA that serves its
// domains. Each domain resource "DOM1:" is the file-system resource "/DOM1"
// over the same folder, so
//
//   "DOM1:"  "DOM1:/"   <->  "/DOM1"
//   "DOM1:dir/sub"      <->  "/DOM1/dir/sub"
//
// Domains match ignoring case and come out as configured; one '/' right
// after the ':' is accepted. What lies below is the file system's to check
// (confinement included).
#pragma once

#include "requester/Config.h"

#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

// The domains of a GroupWise TSA as file-system resources ("/DOM1" over the
// domain's folder, with its name spaces).
std::vector<ResourceConfig> domainResources(const std::vector<ResourceConfig> &domains);

// A GroupWise data-set name as a file-system one; false when it names no
// configured domain.
bool toFileSystemName(const std::vector<ResourceConfig> &domains, std::string_view name, std::string &out);

// A file-system name under a domain's resource as a GroupWise one; false
// when it lies under none.
bool toGroupWiseName(const std::vector<ResourceConfig> &domains, std::string_view name, std::string &out);

} // namespace smsemu
