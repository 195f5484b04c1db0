// EvDebug and EvEvent: the debug level and the three ways to write a line.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "KxLib.h"
#include "LogLine.h"
#include "LogSink.h"

namespace {

constexpr int kDefaultDebugLevel = 1;

// KXLIB_DEBUG_LEVEL when it holds a whole decimal int, else the default.
int levelFromEnvironment()
{
    const char *text = std::getenv("KXLIB_DEBUG_LEVEL");
    if (text == nullptr || *text == '\0') {
        return kDefaultDebugLevel;
    }
    char *end = nullptr;
    errno = 0;
    long level = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || level < INT_MIN || level > INT_MAX) {
        return kDefaultDebugLevel;
    }
    return static_cast<int>(level);
}

void __attribute__((format(printf, 2, 0))) emit(const char *level, const char *format, va_list args)
{
    char line[kxlib::kLogLineMax];
    std::size_t length = kxlib::composeLogLine(line, sizeof line, level, format, args);
    kxlib::writeLogLine(line, length);
}

} // namespace

EvDebug::EvDebug() : m_debugLevel(levelFromEnvironment()) {}

EvDebug::~EvDebug() = default;

void EvDebug::setDebugLevel(int level)
{
    m_debugLevel = level;
}

int EvDebug::getDebugLevel() const
{
    return m_debugLevel;
}

void EvDebug::debug(const char *format, ...)
{
    if (m_debugLevel < 1) {
        return;
    }
    va_list args;
    va_start(args, format);
    emit("DEBUG", format, args);
    va_end(args);
}

void EvDebug::debugLvl(int level, const char *format, ...)
{
    if (m_debugLevel < level) {
        return;
    }
    char name[24];
    std::snprintf(name, sizeof name, "DEBUG%d", level);
    va_list args;
    va_start(args, format);
    emit(name, format, args);
    va_end(args);
}

void EvDebug::error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    emit("ERROR", format, args);
    va_end(args);
}

EvEvent::EvEvent() = default;

EvEvent::~EvEvent() = default;
