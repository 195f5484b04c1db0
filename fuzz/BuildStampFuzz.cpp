// The reader of the module's build stamp (kxsms --version): it walks the
// ELF file that KXSMS_LIBRARY may name, any file at all. Whatever the bytes,
// it must not crash or read outside the file, and a line it gives holds no
// newline and is no longer than the section it came from.
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "frame/BuildStamp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fuzzsupport::ScratchFolder folder;
    const std::filesystem::path file = folder.write("libKXSMS.so", data, size);
    std::string error;
    const std::optional<std::string> line = kxsms::readElfSectionLine(file.string(), "KxVersion", error, 256);
    if (line)
        fuzzsupport::require(line->find('\n') == std::string::npos && line->size() <= 256 && line->size() <= size);
    else
        fuzzsupport::require(!error.empty());
    return 0;
}
