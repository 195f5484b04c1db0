#include "frame/JobCount.h"

#include <charconv>
#include <thread>

#include "frame/CommandLine.h"

namespace kxsms {

unsigned defaultJobCount()
{
    const unsigned processors = std::thread::hardware_concurrency();
    if (processors == 0) return 1;
    return processors < 4 ? processors : 4;
}

std::optional<unsigned> parseJobCount(std::string_view text, std::string &error)
{
    unsigned count = 0;
    const char *end = text.data() + text.size();
    const auto [stop, result] = std::from_chars(text.data(), end, count);
    if (text.empty() || result != std::errc() || stop != end || count < 1 || count > c_MaxJobs) {
        error = "--jobs takes a whole number from 1 to " + std::to_string(c_MaxJobs) + ", not \"" +
                std::string(text) + "\"";
        return std::nullopt;
    }
    return count;
}

void defineJobCount(OptionSet &options, std::string &value)
{
    options.value("-j,--jobs", value,
                  "how many module objects work at once, each with its own TSA connection and thread "
                  "(default: the number of processors, at most 4)");
}

} // namespace kxsms
