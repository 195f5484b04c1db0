// The module's name rules on each TSA type: path conversion both ways, the
// resource, volume and tree-name operations and the character helpers, on
// any input and buffer size. Outputs carry guard bytes that must survive, and
// a conversion that fails must not write.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "KXSMS.h"

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

// Sets the fields a login would set.
struct Object : CKXSMS {
    void configure(KXSMS_TSA_TYPE type, short treeNameRoot, const std::string &root, const std::string &service,
                   const std::string &separator)
    {
        m_TSAType = type;
        m_TreeNameRoot = treeNameRoot;
        snprintf(m_TSARoot, sizeof m_TSARoot, "%s", root.c_str());
        snprintf(m_TargetServiceName, sizeof m_TargetServiceName, "%s", service.c_str());
        snprintf(m_Separator1, sizeof m_Separator1, "%s", separator.c_str());
    }
};

const char kGuard = '\x5a';

void convert(Object &object, bool toSms, const std::string &in, unsigned long size)
{
    std::string input = in;
    std::vector<char> out(size + 32, kGuard);
    const unsigned code = toSms ? object.NetWareToSMS(input.data(), out.data(), size)
                                : object.SMSToNetWare(input.data(), out.data(), size);
    require(input == in);
    for (size_t i = (code == 0 ? size : 0); i < out.size(); ++i)
        require(out[i] == kGuard);
    if (code == 0)
        require(strnlen(out.data(), size) < size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const KXSMS_TSA_TYPE type = static_cast<KXSMS_TSA_TYPE>(choice % 4);
    const std::string root = input.text();
    const std::string service = input.text();
    const std::string separator = input.text();
    const unsigned long bufferSize = input.byte() * 9;
    const std::string name = input.rest();

    static Object *object = new Object(); // one object: construction reads the debug switch file
    object->configure(type, (choice >> 2) & 1, root, service, separator);

    convert(*object, true, name, bufferSize);
    convert(*object, false, name, bufferSize);
    convert(*object, true, name, 1024);
    convert(*object, false, name, 1024);

    std::string copy = name;
    char resource[64 + 16];
    memset(resource, kGuard, sizeof resource);
    object->GetResourceName(copy.data(), resource);
    for (size_t i = 64; i < sizeof resource; ++i)
        require(resource[i] == kGuard);
    char volume[16 + 16];
    memset(volume, kGuard, sizeof volume);
    object->GetVolumeName(copy.data(), volume);
    for (size_t i = 16; i < sizeof volume; ++i)
        require(volume[i] == kGuard);

    bool isResource = false, isRoot = false;
    object->DataSetType(copy.data(), &isResource, &isRoot);
    require(!isRoot || isResource);

    // The rewrites work in place in a 1024-byte buffer (AddRoot needs 7 more).
    if (name.size() < 1024 - 8) {
        std::vector<char> buffer(1024 + 32, kGuard);
        memcpy(buffer.data(), name.c_str(), name.size() + 1);
        object->RootToTreeName(buffer.data());
        require(strnlen(buffer.data(), 1024) < 1024);
        object->TreeNameToRoot(buffer.data());
        require(strnlen(buffer.data(), 1024) < 1024);
        object->AddRoot(buffer.data());
        require(strnlen(buffer.data(), 1024) < 1024);
        for (size_t i = 1024; i < buffer.size(); ++i)
            require(buffer[i] == kGuard);

        memcpy(buffer.data(), name.c_str(), name.size() + 1);
        std::string characters = separator;
        KXSMSTruncateTrailingCharacters(buffer.data(), characters.data());
        KXSMSReplaceSeparators(buffer.data(), static_cast<char>(choice), static_cast<char>(choice >> 1));
        require(strnlen(buffer.data(), 1024) <= name.size());
    }

    const int start = static_cast<int>(static_cast<int8_t>(choice)) * 5;
    const int length = static_cast<int>(choice % 40);
    // The caller provides length + 1 bytes, or room for the rest of the text when length is 0.
    std::vector<char> out((length == 0 ? copy.size() : static_cast<size_t>(length)) + 1 + 32, kGuard);
    object->MidString(copy.data(), start, length, out.data());
    for (size_t i = out.size() - 32; i < out.size(); ++i)
        require(out[i] == kGuard);
    return 0;
}
