// The support library's INI reader (KXLIB_CONFIG, where the module finds
// nIgnoreSMSError): any text, read for a key in a section with and without
// a focus. It must not crash, and a value it finds is trimmed and part of
// the text.
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fuzzsupport::ScratchFolder folder;
    const std::filesystem::path file = folder.write("kxlib.conf", data, size);
    const std::string text(reinterpret_cast<const char *>(data), size);
    kxlib::IniQuery queries[] = {{"focus/Kelvane", {}}, {"Kelvane", {}}, {"", {}}};
    kxlib::findIniValues(file.c_str(), "nIgnoreSMSError", queries);
    for (const kxlib::IniQuery &query : queries) {
        if (!query.value)
            continue;
        const std::string &value = *query.value;
        fuzzsupport::require(value.empty() || (value.front() != ' ' && value.back() != ' '));
        fuzzsupport::require(text.find(value) != std::string::npos);
    }
    return 0;
}
