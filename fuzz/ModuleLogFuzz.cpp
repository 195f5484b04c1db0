// The module's log lines as kxsms reads them for the cause of a failure
// (frame/FailureText.h): the lines carry data-set names and the TSA's texts,
// so any bytes may be in them. Finding the last SMS cause, wording a failure
// and telling a report position must not crash; a cause found is text of
// the lines, and the words of a failure start with the module's message.
//
// Input: the module's message (a text), then the log lines.
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "FuzzInput.h"
#include "frame/FailureText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const std::string message = input.text();
    const std::string earlier = input.text();
    const std::string lines(reinterpret_cast<const char *>(data), size);
    const auto cause = kxsms::lastSmsCause(lines);
    if (cause)
        fuzzsupport::require(cause->text.size() <= lines.size());
    const std::string words = kxsms::describeFailure(message, cause);
    fuzzsupport::require(words.compare(0, message.size(), message) == 0);
    kxsms::reportsOn(message, earlier);
    return 0;
}
