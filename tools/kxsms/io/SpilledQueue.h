// A first-in first-out queue of byte records whose memory is bounded: past
// a number of records held in memory, what is pushed goes to an unlinked
// temporary file (in $TMPDIR, else /tmp) and is read back from there once
// the records in memory are taken.
//
// A queue that cannot make or write its file keeps the records in memory
// instead (such a record may come out ahead of older ones in the file):
// nothing pushed is dropped. Only a file that cannot be read back loses
// records, and pop says so.
#ifndef KXSMS_IO_SPILLEDQUEUE_H
#define KXSMS_IO_SPILLEDQUEUE_H

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace kxsms {

class SpilledQueue {
public:
    explicit SpilledQueue(size_t inMemory);
    ~SpilledQueue();
    SpilledQueue(const SpilledQueue &) = delete;
    SpilledQueue &operator=(const SpilledQueue &) = delete;

    void push(std::string_view record);

    enum class Pop { Taken, Empty, Lost };
    // The oldest record into `record`. Lost: the file could not be read
    // back; `error` names the cause, and the records still in it are gone
    // (the queue is empty after).
    Pop pop(std::string &record, std::string &error);

    bool empty() const { return memory_.empty() && inFile_ == 0; }
    size_t size() const { return memory_.size() + inFile_; }
    // Records written to the file so far (for tests and figures).
    size_t spilled() const { return spilledEver_; }

private:
    bool spill(std::string_view record);
    void dropFile();

    size_t inMemory_;
    std::deque<std::string> memory_;
    // The records in the file follow those in memory.
    int fd_ = -1;
    bool noFile_ = false; // the file could not be made or written: memory only
    off_t writeAt_ = 0;
    off_t readAt_ = 0;
    size_t inFile_ = 0;
    size_t spilledEver_ = 0;
};

} // namespace kxsms

#endif
