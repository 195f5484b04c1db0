// The list of commands.
#include "commands/Commands.h"

#include "commands/BackupCommand.h"
#include "commands/BrowseCommands.h"
#include "commands/DiffCommand.h"
#include "commands/KeyCommand.h"
#include "commands/ListCommand.h"
#include "commands/RestoreCommand.h"
#include "commands/RmCommand.h"
#include "commands/VerifyCommand.h"

namespace kxsms {

std::vector<std::unique_ptr<Command>> allCommands()
{
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<ResourcesCommand>());
    commands.push_back(std::make_unique<LsCommand>());
    commands.push_back(std::make_unique<InfoCommand>());
    commands.push_back(std::make_unique<BackupCommand>());
    commands.push_back(std::make_unique<RestoreCommand>());
    commands.push_back(std::make_unique<ListCommand>());
    commands.push_back(std::make_unique<VerifyCommand>());
    commands.push_back(std::make_unique<DiffCommand>());
    commands.push_back(std::make_unique<RmCommand>());
    commands.push_back(std::make_unique<KeyCommand>());
    return commands;
}

} // namespace kxsms
