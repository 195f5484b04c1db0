// The stand-in's configuration: a TOML file named by SMSEMU_CONFIG, or, without
// one, this machine with one file-system TSA over "/". The README describes the
// file; every problem found is reported on stderr and kept.
#pragma once

#include "SMSAPI.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace smsemu {

enum class TsaKind { FileSystem, Directory, GroupWise };

// The resource every GroupWise TSA lists first.
inline constexpr const char *kGroupWiseMailServer = "GroupWise Mail Server";

// "Linux File System", "Directory", "GroupWise System".
const char *tsaTypeName(TsaKind kind);

// Where the file-system TSA keeps archive flags (archive_flag): in its state
// store beside the data, or in an extended attribute of each file.
enum class ArchiveFlagKind { Store, Xattr };

struct ResourceConfig {
    std::string name;
    std::filesystem::path path;     // directory holding the resource's data sets
    std::vector<UINT32> nameSpaces; // reported name spaces, in order
};

struct TsaConfig {
    TsaKind kind = TsaKind::FileSystem;
    std::string name;
    std::string targetService;
    bool utf8Names = true;
    // Without a users table: peer authentication (the user the process runs
    // as, any password).
    bool peerAuthentication = true;
    std::map<std::string, std::string> users;
    std::vector<ResourceConfig> resources;                // file system and GroupWise
    bool treeNameRoot = false;                            // directory: root_form = "tree"
    std::filesystem::path store;                          // directory: the object store (JSON)
    std::string ldapUri;                                  // directory: the LDAP server instead of a store
    std::string ldapBase;                                 // directory: the entries served lie below this DN
    std::chrono::seconds ldapTimeout{30};                 // directory: bound of each call to the server
    ArchiveFlagKind archiveFlag = ArchiveFlagKind::Store; // file system and GroupWise
    std::filesystem::path archiveState;                   // the state store's file; empty: the default place
};

struct Config {
    std::string host;
    std::vector<TsaConfig> tsas;       // the usable TSAs, in file order
    std::vector<std::string> problems; // every problem, as reported
};

// This machine's host name, full length.
std::string localHostName();

// The configuration without a file.
Config defaultConfig();

// Reads and checks a configuration file. Problems are collected, not printed.
Config readConfig(const std::string &file);

// The configuration SMSEMU_CONFIG names (or the default), with each problem
// written to stderr.
Config loadConfig();

} // namespace smsemu
