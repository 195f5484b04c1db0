// What a job tells on stderr while it runs: an updating line on a terminal
// (data sets, bytes, rate, current name; at most ten updates a second),
// messages that do not tear that line, and the summary at the end.
// Standard output stays for results.
#ifndef KXSMS_TOOLS_PROGRESS_H
#define KXSMS_TOOLS_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/Text.h"

namespace kxsms {

class Progress {
public:
    // job names the work in the summary ("backup", "restore", ...); with
    // verbosity 1 or more every data set's name is written as it begins.
    // line false keeps the updating line off (for jobs whose results go to
    // the same terminal).
    Progress(std::string job, int verbosity, bool line = true);
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    ~Progress();

    // How the names of begin() are shown; the file system's until told.
    void showNamesAs(NameStyle style) { style_ = style; }
    void begin(std::string_view name);
    void add(uint64_t bytes)
    {
        bytes_ += bytes;
        if (tty_)
            tick();
    }
    void done()
    {
        ++items_;
        if (tty_)
            tick();
    }
    void failed(uint64_t count = 1) { failures_ += count; }
    // An existing data set left as it was by the overwrite rule.
    void kept() { ++kept_; }
    // A data set left out with a notice, not a failure (a socket, the archive itself).
    void skipped() { ++skipped_; }
    // A data set an incremental backup lists as not changed since an earlier one.
    void unchanged() { ++unchanged_; }
    // A data set a restore of a chain removed (gone before the newest backup).
    void removed() { ++removed_; }

    // A line on stderr, prefixed "kxsms: ".
    void message(const std::string &line);
    // The summary line; extra is appended after a "; " when not empty.
    void summary(const std::string &extra = "");

    uint64_t items() const { return items_; }
    uint64_t bytes() const { return bytes_; }
    uint64_t failures() const { return failures_; }
    double seconds() const;

private:
    void tick();
    void draw();
    void clear();

    std::string job_;
    int verbosity_;
    bool tty_;
    bool drawn_ = false;
    unsigned width_ = 80;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point next_;
    NameStyle style_ = NameStyle::FileSystem;
    std::string current_;
    uint64_t items_ = 0;
    uint64_t bytes_ = 0;
    uint64_t failures_ = 0;
    uint64_t kept_ = 0;
    uint64_t skipped_ = 0;
    uint64_t unchanged_ = 0;
    uint64_t removed_ = 0;
};

} // namespace kxsms

#endif
