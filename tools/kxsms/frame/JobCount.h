// How many module objects a job drives at once (-j, --jobs).
#ifndef KXSMS_TOOLS_JOBCOUNT_H
#define KXSMS_TOOLS_JOBCOUNT_H

#include <optional>
#include <string>
#include <string_view>

namespace kxsms {

class OptionSet;

// The largest count -j takes: each job holds a module object, its TSA
// connection and its buffers.
constexpr unsigned c_MaxJobs = 64;

// The count without -j: the number of processors, at most 4.
unsigned defaultJobCount();

// The count "-j TEXT" asks for: a whole number from 1 to c_MaxJobs. Nothing
// (and the reason in error) otherwise.
std::optional<unsigned> parseJobCount(std::string_view text, std::string &error);

// Defines -j/--jobs on a command, its value taken as given (checked later
// with parseJobCount).
void defineJobCount(OptionSet &options, std::string &value);

} // namespace kxsms

#endif
