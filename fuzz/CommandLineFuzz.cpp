// The kxsms command line: any words, as a script or a user may give them,
// with every command and option, --since times among them. Parsing must not
// crash, and a command line it accepts names a command (or asks for help or
// the version, which it answers itself).
//
// Input: words separated by NUL bytes.
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "commands/Commands.h"
#include "frame/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words = {"kxsms"};
    std::string word;
    for (size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (!word.empty())
        words.push_back(word);
    std::vector<const char *> argv;
    for (const std::string &w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);

    // Built once: building it costs several times what a parse does. Each
    // parse starts from the options' values as defined.
    static const auto commands = kxsms::allCommands();
    static kxsms::CommandLineParser parser(commands);
    kxsms::ParsedCommandLine parsed;
    std::ostringstream out, err;
    const int status = parser.parse(static_cast<int>(words.size()), argv.data(), parsed, out, err, 1700000000);
    if (status < 0)
        fuzzsupport::require(parsed.command != nullptr || parsed.showVersion);
    else
        fuzzsupport::require(status == kxsms::c_ExitOk || status == kxsms::c_ExitStopped ||
                             status == kxsms::c_ExitSomeFailed);
    return 0;
}
