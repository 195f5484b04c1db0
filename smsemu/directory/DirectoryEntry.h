// One data set of the directory TSA: an object of the tree (the top of the
// tree included), one of its two resources, or a class definition of the
// schema. Objects and the top are kept in the store (DirectoryStore.h); the
// others are made by the TSA.
#pragma once

#include "directory/DirectoryNames.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace smsemu {

// Attribute name -> values, in name order.
using Attributes = std::map<std::string, std::vector<std::string>>;

struct DirectoryEntry {
    EntryKind kind = EntryKind::Object;
    std::string key;  // DirectoryNames.h
    std::string dn;   // objects and the top: the root form the store writes; others: their name
    std::string name; // the name the TSA gives it (tree-name form where configured)
    std::string objectClass;
    Attributes attributes;
    std::vector<std::shared_ptr<DirectoryEntry>> children; // objects and the top, in store order
    std::uint64_t streamSize = 0;                          // length of its backup stream
    std::uint64_t dataSize = 0;                            // length of the stream's data (class and attributes)
    std::uint64_t fingerprint = 0;                         // of its class and attributes: tells a changed entry
};

using EntryPtr = std::shared_ptr<DirectoryEntry>;

// The class of the top of the tree unless the store gives it another.
inline constexpr const char *kTopClass = "Top";

// Limits that keep every entry describable and restorable: a class name
// (which also names a class definition), and the data of one entry's stream.
inline constexpr std::size_t kMaxClassName = 255;
inline constexpr std::size_t kMaxEntryData = 16u << 20;

// Containers: the resources, the top, objects with children and objects of a
// container class.
bool isParent(const DirectoryEntry &entry);

// Attributes from their JSON form: an object whose values are a string or an
// array of strings. False, with what is wrong in `problem`, otherwise.
bool attributesFromJson(const nlohmann::json &json, Attributes &out, std::string &problem);
void attributesToJson(const Attributes &attributes, nlohmann::json &out);

} // namespace smsemu
