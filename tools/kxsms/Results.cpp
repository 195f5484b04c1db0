// Writing results to standard output.
#include "Results.h"

#include <fmt/format.h>

#include "Text.h"

namespace kxsms {

namespace {

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
    fwrite(text.data(), 1, text.size(), stdout);
    fputc('\n', stdout);
}

std::string longLine(bool parent, uint64_t size, int64_t modified, std::string_view name)
{
    return fmt::format("{} {:>12} {} {}", parent ? 'd' : '-', size, formatTime(modified), printable(name));
}

JsonArray::JsonArray()
{
    fputc('[', stdout);
}

JsonArray::~JsonArray()
{
    fputs(first_ ? "]\n" : "\n]\n", stdout);
}

void JsonArray::add(const nlohmann::json &element)
{
    fputs(first_ ? "\n" : ",\n", stdout);
    first_ = false;
    const std::string text = dump(element);
    fwrite(text.data(), 1, text.size(), stdout);
}

void writeJson(const nlohmann::json &value)
{
    writeLine(dump(value));
}

bool flushResults()
{
    return fflush(stdout) == 0 && ferror(stdout) == 0;
}

} // namespace kxsms
