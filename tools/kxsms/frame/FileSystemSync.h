// Making what a restore wrote durable: one syncfs of each file system it
// wrote to, at the end, rather than an fsync of every file on the way; and,
// while the restore runs, the same syncs from a thread of their own, so
// that the disk writes what was restored while more is being restored and
// the final sync has only the last part left to wait for.
#ifndef KXSMS_TOOLS_FILESYSTEMSYNC_H
#define KXSMS_TOOLS_FILESYSTEMSYNC_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kxsms {

class FileSystemSync {
public:
    // Opens one folder of each file system the targets are on, before the
    // job writes anything: a sync reports the write-back errors of what
    // was written after its folder was opened, so opening late could miss
    // some. A target that does not exist (yet) is taken by its nearest
    // existing parent folder.
    explicit FileSystemSync(const std::vector<std::string> &targets);
    FileSystemSync(const FileSystemSync &) = delete;
    FileSystemSync &operator=(const FileSystemSync &) = delete;
    ~FileSystemSync();

    // Syncs in the background each time `written` (bytes restored so far)
    // has grown by `step` since the last sync began. Looked at every 50 ms.
    void startEarly(std::function<uint64_t()> written, uint64_t step);
    // Stops the background syncs and syncs each file system once more.
    // False with the reason when any sync failed, early or final.
    bool finish(std::string &error);

private:
    struct Folder {
        std::string target; // named in an error
        int fd;
    };
    // Syncs every file system; false with the reason at the first failure.
    bool syncAll(std::string &error) const;
    void stopEarly();
    void runEarly(std::function<uint64_t()> written, uint64_t step);

    std::vector<Folder> folders_;
    std::thread early_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::string earlyError_; // the first failure of a background sync
};

} // namespace kxsms

#endif
