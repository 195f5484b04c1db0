// restore -j N: the members of the file system written by N workers at
// once, each a thread driving a module object of its own (created, connected
// and logged in on its own). The command's thread reads the archive and
// hands each member's blocks over; the read-ahead is a fixed pool of blocks,
// so memory is bounded in bytes whatever the sizes of the files.
//
// What a worker gets: files, symbolic links, FIFOs and devices. A hard link
// goes to the worker that was given the first name of its inode, after it in
// that worker's queue, so that it is linked to the file as restored there.
// Directories stay with the command's own object, which makes each before
// its members are handed over and, when it logs out after the workers,
// gives every directory its mode and times after all its children.
#ifndef KXSMS_TOOLS_RESTOREWORKERS_H
#define KXSMS_TOOLS_RESTOREWORKERS_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/DataSetStream.h"
#include "commands/RestoreCommand.h"
#include "frame/Progress.h"
#include "io/ChangeWatch.h"

namespace kxsms {

class ModuleSession;
class RestoreJob;
struct GlobalOptions;

class RestoreWorkers {
public:
    // The read-ahead: blocks of the archive read and not yet written, for all workers.
    static constexpr size_t c_PoolBlocks = 256; // of format::c_MaxChunkData: 16 MiB
    // Once the reader waits for room (members queued, or free blocks), it
    // is woken only when this much is free again: a small file costs less
    // than a wake-up, so the reader is woken once for a batch of them.
    static constexpr size_t c_ResumeAfter = 32;

    // Starts one thread for each of the sessions (opened and logged in by
    // ModuleSession::openSeveral), each driving its own.
    static std::unique_ptr<RestoreWorkers> start(std::vector<std::unique_ptr<ModuleSession>> sessions,
                                                 const RestoreOptions &options, int verbosity, Progress &progress);
    ~RestoreWorkers(); // stops the workers: a member being written is abandoned
    RestoreWorkers(const RestoreWorkers &) = delete;
    RestoreWorkers &operator=(const RestoreWorkers &) = delete;

    // Hands the member the reader stands at (all of its blocks) to a
    // worker. False when the job must stop (a worker met a failure that
    // ends it, or a signal came).
    bool restore(const format::MemberDescriptor &member, ArchiveReader &reader, const std::string &source);
    // Waits until every member handed over is written; false as above.
    bool finish();

    struct Task;
    struct Worker;

private:
    explicit RestoreWorkers(Progress &progress);
    void work(Worker &worker);
    // The worker that takes a member whose stream begins with `header`.
    size_t choose(const DataSetHeader *header);
    // A free block of the pool; nullptr when the job stops first.
    unsigned char *takeBlock(std::unique_lock<std::mutex> &lock);
    void giveBack(unsigned char *block);
    void hand(Task &task, unsigned char *block, size_t size);
    void end(Task &task, bool intact);
    // What the reader (the command's thread) waits for, if it waits.
    enum class ReaderWait { Nothing, Room, Block, AllWritten };
    // Members handed over and not yet written, over all workers.
    size_t queued() const;
    // Whether what the reader waits for has come (or the job stops).
    bool readerMayGo() const;
    // The reader waits (on readerChanged_) until readerMayGo().
    void readerWaitsFor(ReaderWait what, std::unique_lock<std::mutex> &lock);
    // Wakes the reader if what it waits for has come.
    void wakeReader();

    friend class QueuedData;

    Progress &progress_;
    std::mutex mutex_;
    std::condition_variable changed_;       // the workers wait on it
    ChangeCount changes_;                   // what changed_ announces, watched before a worker sleeps
    std::condition_variable readerChanged_; // the reader waits on it
    ReaderWait readerWaits_ = ReaderWait::Nothing;
    std::vector<unsigned char> pool_;
    std::vector<unsigned char *> free_;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool stopping_ = false; // the job ends: workers leave what they do
    bool failed_ = false;   // a worker met a failure that ends the job
    // Inodes with several names: the worker given the first name.
    struct InodeHash {
        size_t operator()(const std::pair<uint64_t, uint64_t> &id) const
        {
            return std::hash<uint64_t>()(id.second * 0x9E3779B97F4A7C15ull ^ id.first);
        }
    };
    std::unordered_map<std::pair<uint64_t, uint64_t>, size_t, InodeHash> firstNames_;
    DataSetStream header_;
};

} // namespace kxsms

#endif
