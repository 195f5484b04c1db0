// What a job tells on stderr while it runs: an updating line on a terminal
// (data sets, file data, archive, rate, current name; on a restore from a
// file also how far it is and the time left; at most ten updates a second),
// messages that do not tear that line, and the summary at the end.
// Standard output stays for results.
//
// Workers of a job with several module objects report from their own
// threads: every call takes the object's lock.
//
// The figures: the data sets saved or restored (failures counted apart), the
// bytes of file data (the sizes users see, holes included) and the size of
// the archive written or read. The rate is that of the data streams moved.
#ifndef KXSMS_TOOLS_PROGRESS_H
#define KXSMS_TOOLS_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
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
    void showNamesAs(NameStyle style)
    {
        Lock lock(mutex_);
        style_ = style;
    }
    void begin(std::string_view name);
    // Bytes of a data stream moved (the rate).
    void add(uint64_t bytes)
    {
        Lock lock(mutex_);
        bytes_ += bytes;
        if (tty_)
            tick();
    }
    // A file's size, holes included: the file data figure.
    void fileData(uint64_t bytes)
    {
        Lock lock(mutex_);
        fileBytes_ += bytes;
    }
    void done()
    {
        Lock lock(mutex_);
        ++items_;
        if (tty_)
            tick();
    }
    void failed(uint64_t count = 1)
    {
        Lock lock(mutex_);
        failures_ += count;
    }
    // A data set that is in the archive (or restored) and failed all the same
    // (it changed while it was read): counted in both.
    void doneButFailed()
    {
        done();
        failed();
    }
    // The archive: how many bytes of it are written or read so far, and for
    // an archive read from a file of known size its size (0: not known),
    // which gives the line a share done and the time left.
    void trackArchive(std::function<uint64_t()> position, uint64_t total = 0)
    {
        Lock lock(mutex_);
        archivePosition_ = std::move(position);
        archiveTotal_ = total;
    }
    // Counts of several data sets at once, under one lock (a thread that
    // replays what other threads did, a batch at a time).
    struct Tally {
        uint64_t done = 0;
        uint64_t failed = 0;
        uint64_t skipped = 0;
        uint64_t unchanged = 0;
        uint64_t fileBytes = 0;
        uint64_t bytes = 0;
    };
    void add(const Tally &tally)
    {
        Lock lock(mutex_);
        items_ += tally.done;
        failures_ += tally.failed;
        skipped_ += tally.skipped;
        unchanged_ += tally.unchanged;
        fileBytes_ += tally.fileBytes;
        bytes_ += tally.bytes;
        if (tty_)
            tick();
    }
    // An existing data set left as it was by the overwrite rule.
    void kept() { count(kept_); }
    // A data set left out with a notice, not a failure (a socket, the archive itself).
    void skipped() { count(skipped_); }
    // A data set an incremental backup lists as not changed since an earlier one.
    void unchanged() { count(unchanged_); }
    // A data set a restore of a chain removed (gone before the newest backup).
    void removed() { count(removed_); }

    // A line on stderr, prefixed "kxsms: ".
    void message(const std::string &line);
    // The summary line; extra is appended after a "; " when not empty.
    void summary(const std::string &extra = "");

    uint64_t items() const
    {
        Lock lock(mutex_);
        return items_;
    }
    uint64_t bytes() const
    {
        Lock lock(mutex_);
        return bytes_;
    }
    uint64_t fileBytes() const
    {
        Lock lock(mutex_);
        return fileBytes_;
    }
    uint64_t failures() const
    {
        Lock lock(mutex_);
        return failures_;
    }
    double seconds() const;

private:
    using Lock = std::lock_guard<std::recursive_mutex>;
    void count(uint64_t &counter)
    {
        Lock lock(mutex_);
        ++counter;
    }
    void tick();
    void draw();
    void clear();
    // "N data sets, M failed, X of file data, archive A".
    std::string figures() const;

    mutable std::recursive_mutex mutex_;
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
    uint64_t fileBytes_ = 0;
    std::function<uint64_t()> archivePosition_;
    uint64_t archiveTotal_ = 0;
    uint64_t failures_ = 0;
    uint64_t kept_ = 0;
    uint64_t skipped_ = 0;
    uint64_t unchanged_ = 0;
    uint64_t removed_ = 0;
};

} // namespace kxsms

#endif
