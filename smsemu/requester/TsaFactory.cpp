// The TSA types behind the interface of Tsa.h. The build lets this file, and
// no other of the requester, include the TSA folders.
#include "requester/Tsa.h"

#include "directory/DirectoryStore.h"
#include "directory/DirectoryTsa.h"
#include "directory/LdapTsa.h"
#include "filesystem/ArchiveStateStore.h"
#include "filesystem/FileSystemTsa.h"
#include "groupwise/GroupWiseTsa.h"

namespace smsemu {

std::unique_ptr<Tsa> createTsa(const TsaConfig &config)
{
    switch (config.kind) {
    case TsaKind::FileSystem:
        return std::make_unique<FileSystemTsa>(config);
    case TsaKind::Directory:
        if (!config.ldapUri.empty())
            return std::make_unique<LdapTsa>(config);
        return std::make_unique<DirectoryTsa>(config);
    case TsaKind::GroupWise:
        return std::make_unique<GroupWiseTsa>(config);
    }
    return nullptr;
}

bool checkStoreOf(const TsaConfig &config, std::string &problem)
{
    if (config.kind != TsaKind::Directory)
        return true;
    if (!config.ldapUri.empty())
        return checkLdapSettings(config, problem);
    return checkDirectoryStore(config.store, DirectoryNaming{config.targetService, config.treeNameRoot}, problem);
}

std::filesystem::path defaultArchiveStateFile(const std::string &tsaName)
{
    return defaultArchiveStatePath(tsaName);
}

} // namespace smsemu
