// The commands of kxsms. Each defines its options, help and examples next to
// its code (frame/CommandLine.h has the interface).
#ifndef KXSMS_TOOLS_COMMANDS_H
#define KXSMS_TOOLS_COMMANDS_H

#include <memory>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

// Every command, in the order --help lists them.
std::vector<std::unique_ptr<Command>> allCommands();

} // namespace kxsms

#endif
