// Writing results to standard output.
#include "frame/Results.h"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <sodium.h>

#include "io/Text.h"

namespace kxsms {

namespace {

bool g_readerGone = false;

// Notes a write to standard output that failed because its reader went away.
void noteFailure()
{
    if (ferror(stdout) != 0 && errno == EPIPE)
        g_readerGone = true;
}

std::string dump(const nlohmann::json &value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

void bufferResults()
{
    static char buffer[1 << 16];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

void writeLine(std::string_view text)
{
    if (g_readerGone)
        return;
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size() || fputc('\n', stdout) == EOF)
        noteFailure();
}

bool readerGone()
{
    return g_readerGone;
}

std::string longLine(bool parent, uint64_t size, int64_t modified, std::string_view name, NameStyle style)
{
    return fmt::format("{} {:>12} {} {}", parent ? 'd' : '-', size, formatTime(modified), printable(name, style));
}

nlohmann::json nameJson(std::string_view name)
{
    nlohmann::json element = {{"name", name}};
    try {
        // The strict dump throws on bytes that are not UTF-8.
        (void)element.dump();
    } catch (const nlohmann::json::type_error &) {
        std::string encoded(sodium_base64_encoded_len(name.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
        sodium_bin2base64(encoded.data(), encoded.size(), reinterpret_cast<const unsigned char *>(name.data()),
                          name.size(), sodium_base64_VARIANT_ORIGINAL);
        encoded.resize(strlen(encoded.c_str()));
        element["name_base64"] = encoded;
    }
    return element;
}

JsonArray::JsonArray()
{
    fputc('[', stdout);
}

JsonArray::~JsonArray()
{
    if (!g_readerGone && fputs(first_ ? "]\n" : "\n]\n", stdout) == EOF)
        noteFailure();
}

void JsonArray::add(const nlohmann::json &element)
{
    if (g_readerGone)
        return;
    fputs(first_ ? "\n" : ",\n", stdout);
    first_ = false;
    const std::string text = dump(element);
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size())
        noteFailure();
}

void writeJson(const nlohmann::json &value)
{
    writeLine(dump(value));
}

bool flushResults()
{
    if (!g_readerGone && fflush(stdout) != 0)
        noteFailure();
    return g_readerGone || ferror(stdout) == 0;
}

} // namespace kxsms
