// Formats log lines into a caller-provided, fixed buffer.
#include "LogLine.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace kxlib {

namespace {

// Local time with seconds and UTC offset: 2026-12-07T22:49:36+0000.
void formatNow(char *out, std::size_t size)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr || std::strftime(out, size, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) {
        std::snprintf(out, size, "%s", "0000-00-00T00:00:00+0000");
    }
}

} // namespace

std::size_t composeLogLine(char *line, std::size_t capacity, const char *level, const char *format, va_list args)
{
    if (capacity < 2) {
        return 0;
    }
    char now[40];
    formatNow(now, sizeof now);

    // The prefix is short, but cap it anyway so that the message always has
    // the rest of the buffer minus the newline.
    // A thread other than the process's first adds its id, so that a host
    // that drives several objects from several threads can tell whose
    // line it is: "<pid>/<tid>".
    const long pid = static_cast<long>(getpid());
    const long tid = static_cast<long>(gettid());
    int written = tid == pid ? std::snprintf(line, capacity, "%s %ld %s ", now, pid, level)
                             : std::snprintf(line, capacity, "%s %ld/%ld %s ", now, pid, tid, level);
    std::size_t prefix = written < 0 ? 0 : static_cast<std::size_t>(written);
    if (prefix > capacity - 2) {
        prefix = capacity - 2;
    }

    // vsnprintf terminates within the room it is given; the terminator's slot
    // takes the newline afterwards.
    std::size_t room = capacity - prefix;
    // A null format is an empty message.
    int formatted = 0;
    if (format != nullptr)
        formatted = std::vsnprintf(line + prefix, room, format, args);
    else
        line[prefix] = '\0';
    std::size_t message = formatted < 0 ? 0 : static_cast<std::size_t>(formatted);
    if (message > room - 1) {
        message = room - 1;
    }

    char *text = line + prefix;
    while (message > 0 && text[message - 1] == '\n') {
        --message;
    }
    for (std::size_t i = 0; i < message; ++i) {
        if (text[i] == '\n') {
            text[i] = ' ';
        }
    }
    text[message] = '\n';
    return prefix + message + 1;
}

} // namespace kxlib
