#include "StandInConfig.h"

#include <cstdio>
#include <cstdlib>

#include "Files.h"

namespace testsupport {

std::string tomlString(const std::string &text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(byte));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string fileSystemTsaConfig(const std::filesystem::path &root, const std::filesystem::path &archiveState,
                                const std::string &keys)
{
    std::string toml = "[[tsa]]\ntype = \"Linux File System\"\n" + keys;
    if (!keys.empty() && keys.back() != '\n')
        toml += '\n';
    if (!archiveState.empty())
        toml += "archive_state = " + tomlString(archiveState.string()) + "\n";
    return toml + "[[tsa.resource]]\nname = \"/\"\npath = " + tomlString(root.string()) + "\n";
}

void useStandInConfig(const std::filesystem::path &file, const std::string &toml)
{
    writeFile(file, toml);
    setenv("SMSEMU_CONFIG", file.c_str(), 1);
}

} // namespace testsupport
