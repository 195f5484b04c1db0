#include "commands/RestoreWorkers.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#include <pthread.h>

#include "commands/RestoreJob.h"
#include "frame/ModuleLog.h"
#include "frame/ModuleSession.h"
#include "frame/Signals.h"

namespace kxsms {

struct RestoreWorkers::Task {
    format::MemberDescriptor member;
    std::string source;
    std::deque<std::pair<unsigned char *, size_t>> blocks; // read, not yet taken by the worker
    bool ended = false;    // every block is handed over
    bool intact = true;    // once ended: the member came whole
    bool finished = false; // the worker is done with it (later blocks are dropped)
};

struct RestoreWorkers::Worker {
    std::unique_ptr<ModuleSession> session;
    std::unique_ptr<RestoreJob> job;
    std::deque<std::shared_ptr<Task>> queue; // the front one is being written
    std::thread thread;
};

// A task's blocks as the worker's RestoreJob reads them: each block goes
// back to the pool when the next is asked for.
class QueuedData final : public MemberData {
public:
    QueuedData(RestoreWorkers &workers, RestoreWorkers::Task &task) : workers_(workers), task_(task) {}
    ~QueuedData() override { release(); }
    QueuedData(const QueuedData &) = delete;
    QueuedData &operator=(const QueuedData &) = delete;

    bool readBlock(const unsigned char *&data, size_t &size) override
    {
        std::unique_lock lock(workers_.mutex_);
        if (held_ != nullptr) {
            workers_.giveBack(held_);
            held_ = nullptr;
        }
        const auto ready = [this] { return !task_.blocks.empty() || task_.ended || workers_.stopping_; };
        watchBeforeSleep(lock, workers_.changes_, ready, [] { return false; });
        workers_.changed_.wait(lock, ready);
        if (task_.blocks.empty())
            return false;
        held_ = task_.blocks.front().first;
        data = held_;
        size = task_.blocks.front().second;
        task_.blocks.pop_front();
        return true;
    }

    bool intact() const override
    {
        std::lock_guard lock(workers_.mutex_);
        return task_.ended && task_.intact;
    }

    void release()
    {
        std::lock_guard lock(workers_.mutex_);
        if (held_ != nullptr)
            workers_.giveBack(held_);
        held_ = nullptr;
    }

private:
    RestoreWorkers &workers_;
    RestoreWorkers::Task &task_;
    unsigned char *held_ = nullptr;
};

RestoreWorkers::RestoreWorkers(Progress &progress) : progress_(progress)
{
    // Pages of the pool become resident only when a block is first used.
    pool_.resize(c_PoolBlocks * format::c_MaxChunkData);
    free_.reserve(c_PoolBlocks);
    for (size_t i = c_PoolBlocks; i-- > 0;)
        free_.push_back(pool_.data() + i * format::c_MaxChunkData);
}

std::unique_ptr<RestoreWorkers> RestoreWorkers::start(std::vector<std::unique_ptr<ModuleSession>> sessions,
                                                      const RestoreOptions &options, int verbosity, Progress &progress)
{
    std::unique_ptr<RestoreWorkers> workers(new RestoreWorkers(progress));
    for (auto &session : sessions) {
        auto worker = std::make_unique<Worker>();
        worker->session = std::move(session);
        worker->job = std::make_unique<RestoreJob>(options, verbosity, *worker->session, progress);
        workers->workers_.push_back(std::move(worker));
    }
    // The signals that stop a job go to the command's thread, whose reads
    // they cut short; the workers look at the note it keeps.
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, number);
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    for (auto &worker : workers->workers_)
        worker->thread = std::thread([&workers = *workers, &one = *worker] {
            workers.work(one);
            leaveModuleLog();
        });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return workers;
}

RestoreWorkers::~RestoreWorkers()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changes_.bump();
    }
    changed_.notify_all();
    readerChanged_.notify_all();
    for (auto &worker : workers_)
        if (worker->thread.joinable())
            worker->thread.join();
}

void RestoreWorkers::work(Worker &worker)
{
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::unique_lock lock(mutex_);
            const auto ready = [&] { return !worker.queue.empty() || stopping_ || failed_; };
            watchBeforeSleep(lock, changes_, ready, [] { return false; });
            changed_.wait(lock, ready);
            if (stopping_ || failed_ || interrupted()) {
                failed_ = true;
                break;
            }
            task = worker.queue.front();
        }
        bool going = false;
        {
            QueuedData data(*this, *task);
            try {
                going = worker.job->restore(task->member, data, task->source);
            } catch (const std::exception &e) {
                progress_.message(std::string(e.what()) + "; restore stopped");
            }
        }
        {
            std::lock_guard lock(mutex_);
            task->finished = true;
            for (const auto &block : task->blocks)
                giveBack(block.first);
            task->blocks.clear();
            worker.queue.pop_front();
            if (!going) {
                failed_ = true;
                changes_.bump();
            }
            wakeReader();
        }
        if (!going) {
            changed_.notify_all();
            readerChanged_.notify_all();
        }
    }
    // Logged out from the thread that drove the object.
    worker.job.reset();
    worker.session.reset();
    changed_.notify_all();
    readerChanged_.notify_all();
}

size_t RestoreWorkers::choose(const DataSetHeader *header)
{
    const bool shared = header != nullptr && header->inode != 0;
    const std::pair<uint64_t, uint64_t> id = shared ? std::pair(header->inodeDevice, header->inode)
                                                    : std::pair<uint64_t, uint64_t>();
    if (shared && header->kind == DataSetKind::HardLink) {
        const auto found = firstNames_.find(id);
        if (found != firstNames_.end())
            return found->second;
    }
    size_t least = 0;
    for (size_t i = 1; i < workers_.size(); ++i)
        if (workers_[i]->queue.size() < workers_[least]->queue.size())
            least = i;
    if (shared && header->kind == DataSetKind::File)
        firstNames_.emplace(id, least);
    return least;
}

size_t RestoreWorkers::queued() const
{
    size_t count = 0;
    for (const auto &worker : workers_)
        count += worker->queue.size();
    return count;
}

bool RestoreWorkers::readerMayGo() const
{
    if (failed_ || stopping_)
        return true;
    switch (readerWaits_) {
    case ReaderWait::Nothing:
        return true;
    case ReaderWait::Room:
        return queued() + c_ResumeAfter <= c_PoolBlocks;
    case ReaderWait::Block:
        return free_.size() >= c_ResumeAfter;
    case ReaderWait::AllWritten:
        return queued() == 0;
    }
    return true;
}

void RestoreWorkers::readerWaitsFor(ReaderWait what, std::unique_lock<std::mutex> &lock)
{
    readerWaits_ = what;
    readerChanged_.wait(lock, [this] { return readerMayGo(); });
    readerWaits_ = ReaderWait::Nothing;
}

void RestoreWorkers::wakeReader()
{
    if (readerWaits_ != ReaderWait::Nothing && readerMayGo())
        readerChanged_.notify_one();
}

unsigned char *RestoreWorkers::takeBlock(std::unique_lock<std::mutex> &lock)
{
    if (free_.empty() && !failed_ && !stopping_)
        readerWaitsFor(ReaderWait::Block, lock);
    if (free_.empty() || failed_)
        return nullptr;
    unsigned char *block = free_.back();
    free_.pop_back();
    return block;
}

void RestoreWorkers::giveBack(unsigned char *block)
{
    free_.push_back(block);
    wakeReader();
}

void RestoreWorkers::hand(Task &task, unsigned char *block, size_t size)
{
    if (task.finished)
        giveBack(block);
    else
        task.blocks.emplace_back(block, size);
    changes_.bump();
    changed_.notify_all();
}

void RestoreWorkers::end(Task &task, bool intact)
{
    task.ended = true;
    task.intact = intact;
    changes_.bump();
    changed_.notify_all();
}

bool RestoreWorkers::restore(const format::MemberDescriptor &member, ArchiveReader &reader, const std::string &source)
{
    std::unique_lock lock(mutex_);
    // Members without data would hold no block: their number is bounded too.
    if (queued() >= c_PoolBlocks && !failed_)
        readerWaitsFor(ReaderWait::Room, lock);
    unsigned char *block = takeBlock(lock);
    if (block == nullptr)
        return false;
    lock.unlock();
    const unsigned char *data = nullptr;
    size_t size = 0;
    bool more = false;
    const DataSetHeader *header = nullptr;
    try {
        more = reader.readBlock(data, size);
    } catch (...) {
        lock.lock();
        giveBack(block);
        throw;
    }
    if (more) {
        std::memcpy(block, data, size);
        header_.reset();
        header_.feed(block, size);
        if (header_.headerKnown())
            header = &header_.header();
    }
    lock.lock();
    const size_t chosen = choose(header);
    auto task = std::make_shared<Task>();
    task->member = member;
    task->source = source;
    workers_[chosen]->queue.push_back(task);
    changes_.bump();
    if (more)
        hand(*task, block, size);
    else
        giveBack(block);
    while (more) {
        if (interrupted()) {
            end(*task, false);
            return false;
        }
        block = takeBlock(lock);
        if (block == nullptr) {
            end(*task, false);
            return false;
        }
        lock.unlock();
        try {
            more = reader.readBlock(data, size);
        } catch (...) {
            lock.lock();
            giveBack(block);
            end(*task, false);
            throw;
        }
        if (more)
            std::memcpy(block, data, size);
        lock.lock();
        if (more)
            hand(*task, block, size);
        else
            giveBack(block);
    }
    end(*task, reader.memberState() == ArchiveReader::MemberState::Intact);
    return !failed_;
}

bool RestoreWorkers::finish()
{
    std::unique_lock lock(mutex_);
    if (!failed_ && queued() != 0)
        readerWaitsFor(ReaderWait::AllWritten, lock);
    return !failed_ && !interrupted();
}

} // namespace kxsms
