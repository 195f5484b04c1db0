#include "core/Trace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

namespace smsemu {

TraceFile::~TraceFile()
{
    close();
}

bool TraceFile::open(const std::string &path, std::string &problem)
{
    close();
    if (path.empty())
        return true;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        problem = fmt::format("cannot open trace file \"{}\": {}", path, std::strerror(errno));
        return false;
    }
    return true;
}

void TraceFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void TraceFile::write(std::string_view line) const
{
    if (fd_ < 0)
        return;
    // O_APPEND makes each write land whole at the end; a short write of a
    // line this small does not happen on a regular file.
    ssize_t written = ::write(fd_, line.data(), line.size());
    (void)written;
}

TraceLine::TraceLine(const char *function) : line_(function)
{
    line_ += '(';
}

void TraceLine::separate()
{
    if (!first_)
        line_ += ", ";
    first_ = false;
}

TraceLine &TraceLine::hex(std::uint64_t value)
{
    separate();
    fmt::format_to(std::back_inserter(line_), "0x{:x}", value);
    return *this;
}

TraceLine &TraceLine::text(const char *value)
{
    if (value == nullptr) {
        separate();
        line_ += "NULL";
        return *this;
    }
    return text(std::string_view(value));
}

namespace {

void appendQuoted(std::string &out, std::string_view value)
{
    out += '"';
    for (char c : value) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            fmt::format_to(std::back_inserter(out), "\\x{:02x}", u);
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

TraceLine &TraceLine::text(std::string_view value)
{
    separate();
    appendQuoted(line_, value);
    return *this;
}

TraceLine &TraceLine::pointer(const void *value)
{
    if (value == nullptr) {
        separate();
        line_ += "NULL";
        return *this;
    }
    return hex(reinterpret_cast<std::uintptr_t>(value));
}

TraceLine &TraceLine::valueAt(const UINT32 *value)
{
    if (value == nullptr)
        return pointer(nullptr);
    return hex(*value);
}

TraceLine &TraceLine::valueAt(const UINT16 *value)
{
    if (value == nullptr)
        return pointer(nullptr);
    return hex(*value);
}

TraceLine &TraceLine::valueAt(const INT16 *value)
{
    if (value == nullptr)
        return pointer(nullptr);
    return hex16(*value);
}

TraceLine &TraceLine::authentication(const void *block)
{
    separate();
    line_ += block == nullptr ? "NULL" : "<auth>";
    return *this;
}

std::string TraceLine::finish(std::string_view result)
{
    line_ += ") = ";
    line_ += result;
    line_ += '\n';
    return std::move(line_);
}

std::string TraceLine::endCode(CCODE rc)
{
    return finish(fmt::format("0x{:x}", rc));
}

std::string TraceLine::endValue(std::uint32_t value)
{
    return finish(fmt::format("0x{:x}", value));
}

std::string TraceLine::endText(const char *value)
{
    if (value == nullptr)
        return finish("NULL");
    std::string quoted;
    appendQuoted(quoted, value);
    return finish(quoted);
}

std::string TraceLine::endVoid()
{
    return finish("void");
}

} // namespace smsemu
