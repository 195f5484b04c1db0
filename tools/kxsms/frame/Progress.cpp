// The progress line and the summary.
#include "frame/Progress.h"

#include <algorithm>
#include <cstdio>

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "io/Text.h"

namespace kxsms {

namespace {

constexpr auto c_Interval = std::chrono::milliseconds(100);

} // namespace

Progress::Progress(std::string job, int verbosity, bool line)
    : job_(std::move(job)), verbosity_(verbosity), tty_(line && isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()), next_(start_ + c_Interval)
{
    struct winsize size;
    if (tty_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        width_ = size.ws_col;
}

Progress::~Progress()
{
    clear();
}

double Progress::seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::begin(std::string_view name)
{
    Lock lock(mutex_);
    if (verbosity_ > 0)
        message(printable(name, style_));
    if (tty_) {
        current_.assign(name);
        tick();
    }
}

void Progress::tick()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < next_)
        return;
    next_ = now + c_Interval;
    draw();
}

std::string Progress::figures() const
{
    std::string line =
        fmt::format("{}, {} failed, {} of file data", counted(items_, "data set"), failures_, formatBytes(fileBytes_));
    if (archivePosition_)
        line += ", archive " + formatBytes(archivePosition_());
    return line;
}

void Progress::draw()
{
    const double elapsed = seconds();
    std::string line = fmt::format("{}: {}", job_, figures());
    if (archivePosition_ && archiveTotal_ > 0) {
        const uint64_t at = std::min(archivePosition_(), archiveTotal_);
        const double share = static_cast<double>(at) / static_cast<double>(archiveTotal_);
        line += fmt::format(", {:.0f}%", share * 100.0);
        if (share > 0.0 && elapsed >= 1.0)
            line += ", " + formatDuration(elapsed * (1.0 - share) / share) + " left";
    }
    line += ", " + formatRate(bytes_, elapsed);
    if (!current_.empty()) {
        const std::string name = printable(current_, style_);
        const size_t room = width_ - 1 > line.size() + 2 ? width_ - 1 - line.size() - 2 : 0;
        if (room > 3)
            line += "  " + (name.size() <= room ? name : "..." + name.substr(name.size() - (room - 3)));
    }
    if (line.size() > width_ - 1)
        line.resize(width_ - 1);
    fmt::print(stderr, "\r{}\x1b[K", line);
    drawn_ = true;
}

void Progress::clear()
{
    if (drawn_) {
        fputs("\r\x1b[K", stderr);
        drawn_ = false;
    }
}

void Progress::message(const std::string &line)
{
    Lock lock(mutex_);
    clear();
    fmt::print(stderr, "kxsms: {}\n", line);
}

void Progress::summary(const std::string &extra)
{
    Lock lock(mutex_);
    clear();
    const double elapsed = seconds();
    std::string line = fmt::format("{}: {}, in {:.2f} s ({})", job_, figures(), elapsed, formatRate(bytes_, elapsed));
    if (unchanged_ > 0)
        line += fmt::format(", {} unchanged", unchanged_);
    if (kept_ > 0)
        line += fmt::format(", {} kept", kept_);
    if (removed_ > 0)
        line += fmt::format(", {} removed", removed_);
    if (skipped_ > 0)
        line += fmt::format(", {} skipped", skipped_);
    if (!extra.empty())
        line += "; " + extra;
    message(line);
}

} // namespace kxsms
