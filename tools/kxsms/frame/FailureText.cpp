#include "frame/FailureText.h"

#include <cctype>
#include <strings.h>

namespace kxsms {

namespace {

bool isHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string_view withoutFinalDot(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    if (!text.empty() && text.back() == '.')
        text.remove_suffix(1);
    return text;
}

// "(%x) %s." or "(%x), %s." in one line, found from its end, since a path
// before it may hold anything.
std::optional<SmsCause> causeInLine(std::string_view line)
{
    for (size_t open = line.rfind('('); open != std::string_view::npos;
         open = open == 0 ? std::string_view::npos : line.rfind('(', open - 1)) {
        size_t end = open + 1;
        while (end < line.size() && isHex(line[end]))
            ++end;
        const size_t digits = end - open - 1;
        if (digits == 0 || digits > 8 || end >= line.size() || line[end] != ')')
            continue;
        size_t text = end + 1;
        if (text < line.size() && line[text] == ',')
            ++text;
        if (text >= line.size() || line[text] != ' ')
            continue;
        const uint32_t code =
            static_cast<uint32_t>(std::stoul(std::string(line.substr(open + 1, digits)), nullptr, 16));
        return SmsCause{code, std::string(withoutFinalDot(line.substr(text + 1)))};
    }
    constexpr std::string_view c_ScanNext = "Failed scan next data set, ";
    if (const size_t at = line.find(c_ScanNext); at != std::string_view::npos)
        return SmsCause{std::nullopt, std::string(withoutFinalDot(line.substr(at + c_ScanNext.size())))};
    return std::nullopt;
}

// What a code means in the words of the system's own errors, where it means
// one thing: the file-system TSA answers it for EACCES and EPERM.
std::string_view plainWords(uint32_t code)
{
    return code == c_SmsNoSearchPrivileges ? "Permission denied" : "";
}

} // namespace

std::optional<SmsCause> lastSmsCause(std::string_view lines)
{
    std::optional<SmsCause> last;
    while (!lines.empty()) {
        const size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        if (auto cause = causeInLine(line))
            last = std::move(cause);
        if (end == std::string_view::npos)
            break;
        lines.remove_prefix(end + 1);
    }
    return last;
}

std::string tsaDetail(std::string_view lines)
{
    constexpr std::string_view c_Marker = "smsemu: \"";
    std::string detail;
    while (!lines.empty()) {
        const size_t end = lines.find('\n');
        std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
        const size_t at = line.find(c_Marker);
        if (at == std::string_view::npos)
            continue;
        // The quoted name, its escapes passed over, then ": " and the words.
        size_t i = at + c_Marker.size();
        while (i < line.size() && line[i] != '"')
            i += line[i] == '\\' ? 2 : 1;
        if (i + 2 >= line.size() || line.compare(i, 3, "\": ") != 0)
            continue;
        detail += (detail.empty() ? "" : "; ") + std::string(withoutFinalDot(line.substr(i + 3)));
    }
    return detail;
}

std::string describeFailure(std::string_view moduleMessage, const std::optional<SmsCause> &cause,
                            std::string_view tsaWords)
{
    if (!tsaWords.empty())
        return std::string(tsaWords);
    std::string line(moduleMessage);
    if (!cause || cause->text.empty())
        return line;
    std::string detail;
    if (cause->text.size() != moduleMessage.size() ||
        strncasecmp(cause->text.data(), moduleMessage.data(), moduleMessage.size()) != 0)
        detail = cause->text;
    if (cause->code) {
        const std::string_view words = plainWords(*cause->code);
        if (!words.empty())
            detail += (detail.empty() ? "" : ": ") + std::string(words);
    }
    if (!detail.empty())
        line += " (" + detail + ")";
    return line;
}

std::string failureWords(std::string_view moduleMessage, std::string_view log)
{
    return describeFailure(moduleMessage, lastSmsCause(log), tsaDetail(log));
}

bool reportsOn(std::string_view name, std::string_view earlier)
{
    // Directory names end in what holds them: ".CN=a.O=b.[Root]" lies in
    // ".O=b.[Root]" (its '.' not escaped).
    if (name.size() > 1 && name.front() == '.' && earlier.size() > name.size() &&
        earlier.compare(earlier.size() - name.size(), name.size(), name) == 0) {
        std::size_t slashes = 0;
        for (std::size_t at = earlier.size() - name.size(); at > 0 && earlier[at - 1] == '\\'; --at)
            ++slashes;
        return slashes % 2 == 0;
    }
    if (name.empty() || earlier.size() < name.size() || earlier.compare(0, name.size(), name) != 0)
        return false;
    if (earlier.size() == name.size())
        return true;
    const char last = name.back(), next = earlier[name.size()];
    return last == '/' || last == '\\' || last == ':' || next == '/' || next == '\\';
}

} // namespace kxsms
