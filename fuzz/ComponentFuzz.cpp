// Component encoding and decoding, the text helpers and the NDS searches, on
// any bytes and any sizes. Destinations carry guard bytes that must survive.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "NetWarePath.h"
#include "NetWarePathOperations.h"

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

const char kGuard = '\x5a';

// A destination of `size` bytes followed by guard bytes.
struct Guarded {
    explicit Guarded(size_t length) : bytes(length + 32, kGuard), size(length) {}
    char *data() { return bytes.data(); }
    void check() const
    {
        for (size_t i = size; i < bytes.size(); ++i)
            require(bytes[i] == kGuard);
    }
    std::vector<char> bytes;
    size_t size;
};

// True when the last backslash of the text has nothing after it to escape.
bool endsInOpenEscape(const std::string &text)
{
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\\' && ++i == text.size())
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const int32_t type = choice & 1;
    const size_t destinationSize = input.byte() * 8 + (choice >> 4);
    std::string text = input.text();

    {
        Guarded out(destinationSize);
        const char *encoded = EncodeComponent(text.c_str(), type, out.data(), static_cast<int32_t>(destinationSize));
        out.check();
        if (encoded == out.data() && type == 1 && !endsInOpenEscape(text)) {
            // What encodes decodes back to the same text.
            Guarded back(1024);
            const char *decoded = DecodeComponent(encoded, 1, back.data(), 1024);
            back.check();
            require(decoded == back.data() && text == decoded);
        }
    }
    {
        Guarded out(destinationSize);
        DecodeComponent(text.c_str(), type, out.data(), static_cast<int32_t>(destinationSize));
        out.check();
    }
    {
        Guarded out(destinationSize);
        CharToHexString(static_cast<int>(static_cast<int8_t>(choice)), out.data(),
                        static_cast<int>(destinationSize) - 16);
        out.check();
        HexStringToChar(text.data());
    }
    {
        const int start = static_cast<int>(static_cast<int8_t>(input.byte())) * 37;
        const int length = static_cast<int>(input.byte()) - 8;
        FindChar(text.data(), input.byte(), start);
        if (length >= 0) {
            // A length of 0 asks for the rest of the text.
            Guarded out((length == 0 ? text.size() : static_cast<size_t>(length)) + 1);
            MidString(text.data(), start, length, out.data());
            out.check();
        }
    }
    for (int character : {int{'.'}, int{'='}, int{'\\'}, int{':'}, static_cast<int>(input.byte())}) {
        const bool ignore = input.byte() & 1;
        const int at = static_cast<int>(static_cast<int16_t>(input.byte() << 8 | input.byte()));
        const int first = NDSstrchr(text.c_str(), character, at, ignore);
        const int last = NDSstrrchr(text.c_str(), character, at, ignore);
        require(first < static_cast<int>(text.size()) && last < static_cast<int>(text.size()));
        require(first < 0 || text[static_cast<size_t>(first)] == static_cast<char>(character));
        require(last < 0 || text[static_cast<size_t>(last)] == static_cast<char>(character));
    }
    return 0;
}
