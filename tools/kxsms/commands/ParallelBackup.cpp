// The threads of a backup with several module objects, and what passes
// between them: items in the scan's order, each a queue of what its job put
// out (members, blocks, lines, counts), replayed by the archive's writer.
#include "commands/ParallelBackup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>

#include <sys/mman.h>

#include "commands/BackupOutput.h"
#include "frame/ModuleLog.h"
#include "frame/Signals.h"
#include "io/ChangeWatch.h"
#include "io/SpilledQueue.h"
#include "io/Text.h"

namespace kxsms {

namespace {

// One look at a data set by name, its lines dropped: the TSA takes into
// effect the clears the connection holds where the look is at a directory
// or at a data set it cleared.
void lookAt(ModuleSession &session, const std::string &path)
{
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    session.kx().ScanDataSetInfo(name.data(), nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    takeModuleLog();
}

// Data sets handed over and not yet in the archive, at most: the names and
// lines they hold are the memory that is not in block buffers.
constexpr size_t c_ItemsInFlight = 1024;
// A full scan waits for room for this many.
constexpr size_t c_ItemsPerRoom = 64;

// A large file's blocks go to the writer this many at a time (a quarter of a
// reader's pool).
constexpr unsigned c_BlocksPerBatch = ParallelBackup::c_BlocksPerObject / 4;

// A reader wakes the writer for the items it finished at most this often
// (and whenever it is about to wait, or its item is the one the writer is
// at): one wake-up per small file would cost more than reading it.
constexpr unsigned c_ItemsPerWake = 8;

// Data sets in an item of a scan of several objects, at most.
constexpr unsigned c_DataSetsPerItem = 16;

// Directories queued for a scan, and files with several names left for the
// end, kept in memory at most; more wait in a temporary file.
constexpr size_t c_QueuedInMemory = 4096;

// Waiting threads look at the signal flag this often (a signal handler
// cannot wake a condition variable).
constexpr std::chrono::milliseconds c_SignalPoll{50};

// The memory of a pool is mapped for the job and unmapped after it, not
// taken from the heap: a host that runs job after job (one process, as an
// agent does) gets it back whole each time.
class BlockPool {
public:
    explicit BlockPool(unsigned count) : size_(static_cast<size_t>(count) * KXSMS_MAX_BLOCK)
    {
        void *mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            throw std::bad_alloc();
        memory_ = static_cast<unsigned char *>(mapped);
        for (unsigned i = 0; i < count; ++i)
            free_.push_back(i);
    }
    ~BlockPool() { munmap(memory_, size_); }
    BlockPool(const BlockPool &) = delete;
    BlockPool &operator=(const BlockPool &) = delete;

    unsigned char *block(unsigned index) { return memory_ + static_cast<size_t>(index) * KXSMS_MAX_BLOCK; }
    unsigned indexOf(const unsigned char *block) const
    {
        return static_cast<unsigned>(static_cast<size_t>(block - memory_) / KXSMS_MAX_BLOCK);
    }

    // Under the pipeline's lock.
    std::vector<unsigned> free_;
    bool waiting_ = false; // its job waits for a batch of free blocks

private:
    size_t size_;
    unsigned char *memory_ = nullptr;
};

struct Event {
    enum class Kind : uint8_t { List, Begin, Block, End, Message, Showing, Count, Saved };
    explicit Event(Kind what) : kind(what) {}
    Kind kind;
    BackupOutput::Count count = BackupOutput::Count::Done;
    bool complete = false;
    uint64_t amount = 0;
    unsigned char *block = nullptr;
    BlockPool *pool = nullptr;
    std::string text;
    std::unique_ptr<format::MemberDescriptor> member;
};

struct Item {
    uint64_t number = 0;
    // A data set handed over (none for the scanning job's own items).
    Scanned scanned;
    std::string name;
    bool unchanged = false;
    // Known to be saved by the job that has it, not handed on to the one
    // that saves files with several names.
    bool classified = true;

    std::deque<Event> events;
    bool finished = false;
    bool stopsJob = false;
};

} // namespace

class Pipeline {
public:
    Pipeline(const BackupOptions &options, ArchiveWriter &writer, Progress &progress, NameStyle style, bool splits)
        : splits_(splits), options_(options), writer_(writer), progress_(progress), style_(style)
    {
    }

    // --- shared, under mutex_ ---
    std::mutex mutex_;
    std::condition_variable toWriter_;  // events, finished items, the scan's end
    std::condition_variable toReaders_; // items to read, subtrees to scan, the end
    std::condition_variable toMakers_;  // free blocks and room for items
    std::deque<std::unique_ptr<Item>> order_;
    std::deque<Item *> work_;      // for any reader
    std::deque<Item *> linkWork_;  // files with several names, in order: the link reader's
    uint64_t next_ = 0;            // the number of the next item
    size_t idleReaders_ = 0;       // readers waiting for work (not the link reader)
    bool linkReaderIdle_ = false;  // the link reader waits for work
    bool scanWaits_ = false;       // the scan waits for room for items
    bool scanEnded_ = false;
    // Set under the lock; read without it where a stale value only delays.
    std::atomic<bool> halt_{false}; // a job stops: the scan takes no more
    std::atomic<bool> stop_{false}; // everyone stops
    // The item whose job stopped: a scan of several objects finishes the
    // items before it.
    std::atomic<uint64_t> haltAfter_{0};
    // Scans of several objects (splits_): the directories still to scan
    // (each with all it holds), the objects scanning one, and the round
    // (one per path) the threads look for.
    bool splits_ = false;
    SpilledQueue subtrees_{c_QueuedInMemory};
    size_t busyScanners_ = 0;
    size_t idleScanners_ = 0;
    uint64_t scanRound_ = 0;
    uint32_t nameSpace_ = 0;
    // Files with several names the scans left, saved by the first object
    // once the scans are done.
    SpilledQueue leftLinks_{c_QueuedInMemory};
    // The changes the writer waits for, which it watches for a while
    // before it sleeps.
    ChangeCount changes_;
    std::string failure_; // the writer's IoError
    // A look each reader takes at a path (settle): the generation asked
    // for, the path, and how many readers have taken it.
    uint64_t settleAsked_ = 0;
    std::string settlePath_;
    size_t settled_ = 0;

    // The writer's own.
    const BackupOptions &options_;
    ArchiveWriter &writer_;
    Progress &progress_;
    NameStyle style_;
    LastSaved lastSaved_;
    // Blocks the archive may still hold (OutputStream::c_HeldChunks): they
    // go back to their pools as later blocks are written.
    std::deque<std::pair<BlockPool *, unsigned char *>> held_;
    std::vector<std::pair<BlockPool *, unsigned char *>> freed_; // let go since the writer last took the lock
    bool inMember_ = false;
    std::string memberName_;
    bool stopped_ = false;

    std::vector<std::unique_ptr<BackupOutput>> outputs_;
    std::vector<std::unique_ptr<BackupJob>> jobs_;
    std::vector<ModuleSession *> sessions_;
    std::vector<std::thread> readers_;
    std::thread writerThread_;
    bool finished_ = false;

    // Wakes the readers waiting for work, if there is any (under the lock).
    // The scan hands items over c_ItemsPerWake at a time, and all it has
    // before it waits.
    void handOver()
    {
        if (idleReaders_ > 0 && !work_.empty())
            toReaders_.notify_all();
    }

    // What the writer waits for changed (under the lock).
    void changed() { changes_.bump(); }

    bool stopping()
    {
        std::lock_guard lock(mutex_);
        return stop_ || interrupted();
    }

    void stopAll()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            changed();
        }
        toWriter_.notify_all();
        toReaders_.notify_all();
        toMakers_.notify_all();
    }

    // Waits on cv until ready() (under the lock), the job stops or a signal came.
    template <typename Ready>
    void wait(std::unique_lock<std::mutex> &lock, std::condition_variable &cv, Ready ready)
    {
        while (!ready() && !stop_ && !interrupted())
            cv.wait_for(lock, c_SignalPoll);
    }

    // A new item at the end of the order; waits for room unless the job stops.
    Item *newItem(std::unique_lock<std::mutex> &lock)
    {
        if (order_.size() >= c_ItemsInFlight)
            handOver();
        // Once full, the scan goes on only when a batch of items was
        // written: one wake-up per item would be one per small file.
        if (order_.size() >= c_ItemsInFlight) {
            scanWaits_ = true;
            wait(lock, toMakers_, [this] { return order_.size() <= c_ItemsInFlight - c_ItemsPerRoom || halt_; });
            scanWaits_ = false;
        }
        auto item = std::make_unique<Item>();
        item->number = next_++;
        Item *made = item.get();
        order_.push_back(std::move(item));
        return made;
    }

    // Whether every item before this one is known to be saved where it is
    // (so that no earlier name of a file can still come to the link reader).
    bool classifiedBefore(uint64_t number) const
    {
        for (const std::unique_ptr<Item> &item : order_) {
            if (item->number >= number)
                return true;
            if (!item->classified)
                return false;
        }
        return true;
    }
    void forward(Item *item);

    bool scanSubtrees(size_t index);
    bool queueSubtree(std::string_view name);
    bool saveLeftLinks();
    // A record of a queue lost with its temporary file: the job stops.
    void lost(const std::string &what, const std::string &error);

    void writeAll();
    void apply(Event &event);
    // Gives the blocks the archive let go back to their pools (under the
    // lock); whether a job waits for them.
    bool releaseFreed();
    void read(size_t index);
};

namespace {

// What a job puts out, recorded into its current item for the writer.
class RecordingOutput final : public BackupOutput {
public:
    RecordingOutput(Pipeline &pipeline, bool scanning)
        : pipeline_(pipeline), scanning_(scanning || pipeline.splits_), pool_(ParallelBackup::c_BlocksPerObject)
    {
    }

    // The item this job fills next (null: none; what was kept for one it
    // handed on is dropped).
    void take(Item *item)
    {
        item_ = item;
        pending_.clear();
        blocks_ = 0;
    }
    // Ends the current item: the writer may pass it once it has its events.
    void close()
    {
        bool wake = false;
        {
            std::unique_lock lock(pipeline_.mutex_);
            if (item_ == nullptr && pending_.empty())
                return;
            publish(lock);
            item_->finished = true;
            item_->classified = true;
            dataSets_ = 0;
            // The writer waits for the item at the front only.
            wake = scanning_ || pipeline_.order_.front().get() == item_ || ++unwoken_ >= c_ItemsPerWake;
            item_ = nullptr;
        }
        blocks_ = 0;
        if (wake)
            wakeWriter();
    }

    // Wakes the writer for what this job finished so far.
    void wakeWriter()
    {
        unwoken_ = 0;
        pipeline_.toWriter_.notify_one();
    }

    unsigned char *nextBlock() override
    {
        std::unique_lock lock(pipeline_.mutex_);
        // What waits here, or was finished without a wake-up, may hold the
        // blocks the writer must free.
        // An empty pool waits until a batch of blocks is free again: one
        // wake-up per block would be one per small file.
        const bool empty = pool_.free_.empty();
        if (empty) {
            if (!pending_.empty())
                publish(lock);
            wakeWriter();
            pipeline_.handOver();
        }
        // The scan's blocks are not written after a job stopped it.
        const auto ended = [this] { return halted(); };
        const size_t wanted = empty ? c_BlocksPerBatch : 1;
        pool_.waiting_ = true;
        pipeline_.wait(lock, pipeline_.toMakers_, [&] { return pool_.free_.size() >= wanted || ended(); });
        pool_.waiting_ = false;
        if (pool_.free_.empty() || pipeline_.stop_ || interrupted() || ended())
            return nullptr;
        const unsigned index = pool_.free_.back();
        pool_.free_.pop_back();
        return pool_.block(index);
    }

    bool stopping() const override
    {
        // The scan also ends when a job stopped: what it would find is not
        // wanted. A reader goes on: the items before the one that stopped
        // the job must be whole.
        return pipeline_.stop_ || interrupted() || halted();
    }

    // With several scans, an item is a run of a few data sets of one scan:
    // short, so that the writer seldom waits for one while another scan's
    // are ready, and not one per data set, which would take the pipeline's
    // lock (and wake the writer) once per small file. A scan ends its items
    // before the one that stopped the job, and stops at the next.
    void betweenDataSets() override
    {
        if (pipeline_.splits_ && ++dataSets_ >= c_DataSetsPerItem)
            close();
    }

    void listMember(format::MemberDescriptor &member) override
    {
        Event event(Event::Kind::List);
        event.member = std::make_unique<format::MemberDescriptor>(member);
        add(std::move(event));
    }
    void beginMember(format::MemberDescriptor &member) override
    {
        Event event(Event::Kind::Begin);
        event.member = std::make_unique<format::MemberDescriptor>(member);
        add(std::move(event));
    }
    void writeBlock(const unsigned char *block, unsigned int size) override
    {
        Event event(Event::Kind::Block);
        event.block = pool_.block(pool_.indexOf(block));
        event.pool = &pool_;
        event.amount = size;
        add(std::move(event));
    }
    void endMember(bool complete) override
    {
        Event event(Event::Kind::End);
        event.complete = complete;
        add(std::move(event));
    }
    void message(const std::string &line) override
    {
        Event event(Event::Kind::Message);
        event.text = line;
        add(std::move(event));
    }
    void showing(const std::string &name) override
    {
        Event event(Event::Kind::Showing);
        event.text = name;
        add(std::move(event));
    }
    void count(Count what, uint64_t amount) override
    {
        Event event(Event::Kind::Count);
        event.count = what;
        event.amount = amount;
        add(std::move(event));
    }
    void saved(const std::string &name, unsigned long long size) override
    {
        Event event(Event::Kind::Saved);
        event.text = name;
        event.amount = size;
        add(std::move(event));
    }
    void unused(unsigned char *block) override
    {
        // Only this job takes blocks from its pool: nobody to wake.
        std::lock_guard lock(pipeline_.mutex_);
        pool_.free_.push_back(pool_.indexOf(block));
    }
    void classified() override
    {
        {
            std::lock_guard lock(pipeline_.mutex_);
            if (item_ == nullptr || item_->classified)
                return;
            item_->classified = true;
            if (!pipeline_.linkReaderIdle_)
                return;
        }
        pipeline_.toReaders_.notify_all();
    }

    void stopsHere() override
    {
        {
            std::unique_lock lock(pipeline_.mutex_);
            publish(lock);
            item_->stopsJob = true;
            pipeline_.haltAfter_ = item_->number;
            pipeline_.halt_ = true;
        }
        pipeline_.toWriter_.notify_one();
        pipeline_.toMakers_.notify_all();
        pipeline_.toReaders_.notify_all();
    }

private:
    // A job stopped, and this job's scan does not go on.
    bool halted() const
    {
        if (!scanning_ || !pipeline_.halt_)
            return false;
        return !pipeline_.splits_ || item_ == nullptr || item_->number > pipeline_.haltAfter_;
    }

    // Gives the events kept so far to the item being filled (the scanning
    // job opens one at its first event after a hand-over).
    void publish(std::unique_lock<std::mutex> &lock)
    {
        if (item_ == nullptr)
            item_ = pipeline_.newItem(lock);
        if (item_->events.empty())
            item_->events.swap(pending_);
        else
            for (Event &event : pending_)
                item_->events.push_back(std::move(event));
        pending_.clear();
        pipeline_.changed();
    }

    // Events are kept here and go to the item a batch at a time (at its
    // end, and every c_BlocksPerBatch blocks, so that a large file
    // streams): one lock per small file, not one per event or block.
    void add(Event &&event)
    {
        const bool streams = event.kind == Event::Kind::Block && ++blocks_ % c_BlocksPerBatch == 0;
        pending_.push_back(std::move(event));
        if (!streams)
            return;
        {
            std::unique_lock lock(pipeline_.mutex_);
            publish(lock);
        }
        pipeline_.toWriter_.notify_one();
    }

    Pipeline &pipeline_;
    bool scanning_;
    BlockPool pool_;
    Item *item_ = nullptr;
    std::deque<Event> pending_;
    unsigned blocks_ = 0;   // of the current item
    unsigned dataSets_ = 0; // in the current item (scans of several objects)
    unsigned unwoken_ = 0;  // items finished since the writer was last woken
};

} // namespace

bool Pipeline::releaseFreed()
{
    bool wake = false;
    for (const auto &[pool, block] : freed_) {
        pool->free_.push_back(static_cast<unsigned>(pool->indexOf(block)));
        // A job whose pool ran empty waits for a batch (nextBlock).
        wake = wake || (pool->waiting_ && pool->free_.size() >= c_BlocksPerBatch);
    }
    freed_.clear();
    return wake;
}

void Pipeline::apply(Event &event)
{
    switch (event.kind) {
    case Event::Kind::List:
        writer_.listMember(*event.member);
        break;
    case Event::Kind::Begin:
        writer_.beginMember(*event.member);
        inMember_ = true;
        memberName_ = event.member->name;
        break;
    case Event::Kind::Block:
        writer_.writeBlock(event.block, event.amount);
        held_.emplace_back(event.pool, event.block);
        if (held_.size() > OutputStream::c_HeldChunks) {
            // Back to its pool the next time the writer takes the lock: one
            // lock per batch of events, not per block.
            freed_.push_back(held_.front());
            held_.pop_front();
        }
        break;
    case Event::Kind::End:
        writer_.endMember(event.complete);
        inMember_ = false;
        break;
    case Event::Kind::Message:
        progress_.message(event.text);
        break;
    case Event::Kind::Showing:
        progress_.begin(event.text);
        break;
    case Event::Kind::Count:
        countIn(progress_, event.count, event.amount);
        break;
    case Event::Kind::Saved:
        lastSaved_.saved(event.text, event.amount);
        break;
    }
}

// The writer's thread: items in order, each event as it comes.
void Pipeline::writeAll()
{
    try {
        std::deque<Event> batch;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                // Before it may wait: a job may wait for these blocks.
                if (releaseFreed())
                    toMakers_.notify_all();
                const auto ready = [this] {
                    return order_.empty() ? scanEnded_ : !order_.front()->events.empty() || order_.front()->finished;
                };
                watchBeforeSleep(lock, changes_, ready, [this] { return stop_ || interrupted(); });
                wait(lock, toWriter_, ready);
                if (stop_ || interrupted())
                    break;
                if (order_.empty())
                    return;
                Item &item = *order_.front();
                if (item.events.empty()) {
                    // Finished and written.
                    const bool stops = item.stopsJob;
                    order_.pop_front();
                    const bool room = scanWaits_ && order_.size() <= c_ItemsInFlight - c_ItemsPerRoom;
                    lock.unlock();
                    if (room)
                        toMakers_.notify_all();
                    if (stops) {
                        stopped_ = true;
                        return;
                    }
                    continue;
                }
                batch.swap(item.events);
            }
            for (Event &event : batch)
                apply(event);
            batch.clear();
        }
        // A signal (or the end of the job): the member being written is
        // marked incomplete, as a backup with one object does.
        stopped_ = true;
        if (inMember_) {
            writer_.endMember(false);
            inMember_ = false;
            if (interrupted()) {
                progress_.failed();
                progress_.message("stopped inside " + printable(memberName_, style_) +
                                  ": it is marked incomplete");
            }
        }
    } catch (const IoError &e) {
        {
            std::lock_guard lock(mutex_);
            failure_ = e.what();
        }
        stopAll();
    }
}

// Hands a file with several names to the link reader, in the scan's order.
void Pipeline::forward(Item *item)
{
    {
        std::lock_guard lock(mutex_);
        item->classified = true;
        auto at = linkWork_.begin();
        while (at != linkWork_.end() && (*at)->number < item->number)
            ++at;
        linkWork_.insert(at, item);
        if (!linkReaderIdle_)
            return;
    }
    toReaders_.notify_all();
}

// A reading thread: the items it is given, in order, by name. With one
// reader it takes every item. With more, the first is the link reader: it
// saves the files with several names the others hand on, in the scan's
// order, so that its connection saves each inode's data once, under the
// first name, and the later names as links to it. It takes one only once
// every item before it is known to stay where it is (an earlier name could
// still come otherwise). It takes nothing else: an item of its own could
// wait for the archive to pass an earlier link it must save first.
void Pipeline::read(size_t index)
{
    auto &out = static_cast<RecordingOutput &>(*outputs_[index]);
    BackupJob &job = *jobs_[index];
    const bool several = jobs_.size() > 2;
    const bool linkReader = several && index == 1 && !splits_;
    if (several && !linkReader)
        job.leaveFilesWithSeveralNames();
    uint64_t settled = 0;
    uint64_t scanned = 0;
    for (;;) {
        Item *item = nullptr;
        std::string look;
        bool scan = false;
        {
            std::unique_lock lock(mutex_);
            std::deque<Item *> &from = linkReader ? linkWork_ : work_;
            const auto ready = [&] {
                return settleAsked_ != settled || scanRound_ != scanned ||
                       (!from.empty() && (!linkReader || classifiedBefore(from.front()->number)));
            };
            if (!ready()) {
                // What it finished goes to the writer before it waits.
                lock.unlock();
                out.wakeWriter();
                lock.lock();
                if (linkReader)
                    linkReaderIdle_ = true;
                else
                    ++idleReaders_;
                wait(lock, toReaders_, ready);
                if (linkReader)
                    linkReaderIdle_ = false;
                else
                    --idleReaders_;
            }
            if (stop_ || interrupted())
                break;
            if (settleAsked_ != settled) {
                settled = settleAsked_;
                look = settlePath_;
            } else if (scanRound_ != scanned) {
                scanned = scanRound_;
                scan = true;
            } else {
                item = from.front();
                from.pop_front();
            }
        }
        if (scan) {
            if (!scanSubtrees(index))
                job.abandon();
            continue;
        }
        if (item == nullptr) {
            lookAt(*sessions_[index], look);
            {
                std::lock_guard lock(mutex_);
                ++settled_;
            }
            toWriter_.notify_all();
            continue;
        }
        out.take(item);
        const bool goOn = job.backUpNamed(item->scanned, item->name, item->unchanged);
        if (job.forwarded()) {
            out.take(nullptr);
            forward(item);
            continue;
        }
        // Once closed, the item is the writer's (and gone once written).
        out.close();
        if (!goOn)
            job.abandon();
    }
    job.abandon();
}

// The scans of several objects: each takes a directory from the queue and
// saves what a scan from it returns. While fewer directories wait than
// there are objects, a directory is scanned one level deep and its own
// directories are queued, so that no object waits long; otherwise with all
// it holds. Returns once the queue is empty and no object scans (true), or
// the job stops (false).
bool Pipeline::scanSubtrees(size_t index)
{
    auto &out = static_cast<RecordingOutput &>(*outputs_[index]);
    BackupJob &job = *jobs_[index];
    std::string name;
    std::string error;
    for (;;) {
        bool oneLevel = false;
        uint32_t nameSpace = 0;
        {
            std::unique_lock lock(mutex_);
            ++idleScanners_;
            wait(lock, toReaders_, [this] { return !subtrees_.empty() || busyScanners_ == 0 || halt_; });
            --idleScanners_;
            if (stop_ || halt_ || interrupted())
                return false;
            const SpilledQueue::Pop got = subtrees_.pop(name, error);
            if (got == SpilledQueue::Pop::Empty)
                return true;
            if (got == SpilledQueue::Pop::Lost) {
                lock.unlock();
                lost("the directories still to scan", error);
                return false;
            }
            ++busyScanners_;
            oneLevel = subtrees_.size() + 1 < jobs_.size();
            nameSpace = nameSpace_;
        }
        const bool goOn = job.backUpSubtree(name, nameSpace, oneLevel);
        out.close();
        bool done = false;
        {
            std::lock_guard lock(mutex_);
            --busyScanners_;
            done = busyScanners_ == 0 && subtrees_.empty() && idleScanners_ > 0;
        }
        if (done)
            toReaders_.notify_all();
        if (!goOn)
            return false;
    }
}

// A directory a scan of one level found, for the next object free.
bool Pipeline::queueSubtree(std::string_view name)
{
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (stop_ || halt_ || interrupted())
            return false;
        subtrees_.push(name);
        wake = idleScanners_ > 0;
    }
    if (wake)
        toReaders_.notify_all();
    return true;
}

void Pipeline::lost(const std::string &what, const std::string &error)
{
    {
        std::lock_guard lock(mutex_);
        if (failure_.empty())
            failure_ = "cannot read back " + what + " from a temporary file: " + error;
    }
    stopAll();
}

// The files with several names the other objects' scans left: saved by the
// first object, which saves those its own scans meet where they stand. Its
// connection saves each inode's data once, under the first name it meets,
// and the later names as links to it; all of these come after that name in
// the archive. (A connection that leaves a file has read its first block,
// which may be the whole stream: it may count the inode as saved, so it
// never saves one.) False when the job stops.
bool Pipeline::saveLeftLinks()
{
    auto &out = static_cast<RecordingOutput &>(*outputs_[0]);
    BackupJob &job = *jobs_[0];
    std::string record;
    std::string error;
    bool goOn = true;
    while (goOn) {
        SpilledQueue::Pop got;
        {
            std::lock_guard lock(mutex_);
            got = leftLinks_.pop(record, error);
        }
        if (got == SpilledQueue::Pop::Empty)
            break;
        if (got == SpilledQueue::Pop::Lost) {
            lost("the files with several names still to save", error);
            goOn = false;
            break;
        }
        Scanned scanned;
        memcpy(&scanned, record.data(), sizeof scanned);
        const bool unchanged = record[sizeof scanned] != 0;
        goOn = job.backUpNamed(scanned, std::string_view(record).substr(sizeof scanned + 1), unchanged);
        out.close();
    }
    return goOn;
}

ParallelBackup::ParallelBackup(const BackupOptions &options, std::vector<std::unique_ptr<ModuleSession>> &sessions,
                               ArchiveWriter &writer, Progress &progress, const ArchiveIdentity &archive)
    : pipeline_(std::make_unique<Pipeline>(options, writer, progress, sessions[0]->names(),
                                           scansInParallel(options, sessions[0]->type())))
{
    Pipeline &p = *pipeline_;
    for (size_t i = 0; i < sessions.size(); ++i) {
        p.sessions_.push_back(sessions[i].get());
        p.outputs_.push_back(std::make_unique<RecordingOutput>(p, i == 0));
        p.jobs_.push_back(std::make_unique<BackupJob>(options, *sessions[i], *p.outputs_[i], false, archive));
    }
    if (p.splits_) {
        static_assert(std::is_trivially_copyable_v<Scanned>);
        for (size_t i = 0; i < sessions.size(); ++i) {
            BackupJob &job = *p.jobs_[i];
            if (i > 0)
                job.leaveFilesWithSeveralNames();
            job.whenLinkLeft([&p](const Scanned &scanned, std::string_view name, bool unchanged) {
                std::string record(sizeof scanned + 1 + name.size(), '\0');
                memcpy(record.data(), &scanned, sizeof scanned);
                record[sizeof scanned] = unchanged ? 1 : 0;
                memcpy(record.data() + sizeof scanned + 1, name.data(), name.size());
                std::lock_guard lock(p.mutex_);
                p.leftLinks_.push(record);
            });
            job.scanSubtreesElsewhere([&p, i](std::string_view name) {
                // The directory's parent has its item before any of its own.
                static_cast<RecordingOutput &>(*p.outputs_[i]).close();
                return p.queueSubtree(name);
            });
        }
    } else
        p.jobs_[0]->handOverFiles([&p](const Scanned &scanned, std::string_view name, bool unchanged) {
        auto &scanner = static_cast<RecordingOutput &>(*p.outputs_[0]);
        scanner.close();
        std::string copy(name);
        {
            std::unique_lock lock(p.mutex_);
            Item *item = p.newItem(lock);
            if (p.stop_ || p.halt_ || interrupted()) {
                item->finished = true;
                p.changed();
                return false;
            }
            item->scanned = scanned;
            item->name = std::move(copy);
            item->unchanged = unchanged;
            item->classified = false;
            p.work_.push_back(item);
            if (p.work_.size() >= c_ItemsPerWake)
                p.handOver();
        }
        return true;
    }, c_HandedOverFrom);
    for (size_t i = 1; i < sessions.size(); ++i)
        p.readers_.emplace_back([&p, i] {
            p.read(i);
            leaveModuleLog();
        });
}

ParallelBackup::~ParallelBackup()
{
    finish();
}

bool ParallelBackup::scansInParallel(const BackupOptions &options, KXSMS_TSA_TYPE type)
{
    return type == KXSMS_TSA_FILE_SYSTEM && !options.clearArchive && !options.oneFileSystem;
}

bool ParallelBackup::backUp(const std::string &path)
{
    Pipeline &p = *pipeline_;
    const uint32_t nameSpace = p.splits_ ? p.jobs_[0]->nameSpaceOf(path) : 0;
    {
        std::lock_guard lock(p.mutex_);
        p.scanEnded_ = false;
    }
    p.writerThread_ = std::thread([&p] { p.writeAll(); });
    bool goOn = false;
    if (p.splits_) {
        {
            std::lock_guard lock(p.mutex_);
            p.nameSpace_ = nameSpace;
            p.subtrees_.push(path);
            ++p.scanRound_;
        }
        p.toReaders_.notify_all();
        goOn = p.scanSubtrees(0) && p.saveLeftLinks();
    } else
        goOn = p.jobs_[0]->backUp(path);
    static_cast<RecordingOutput &>(*p.outputs_[0]).close();
    {
        std::lock_guard lock(p.mutex_);
        p.scanEnded_ = true;
        p.changed();
        p.handOver();
    }
    p.toWriter_.notify_all();
    p.writerThread_.join();
    std::string failure;
    {
        std::lock_guard lock(p.mutex_);
        failure = p.failure_;
    }
    if (!failure.empty()) {
        finish();
        throw IoError(failure);
    }
    return goOn && !p.stopped_;
}

void ParallelBackup::settle(const std::string &path)
{
    Pipeline &p = *pipeline_;
    {
        std::unique_lock lock(p.mutex_);
        ++p.settleAsked_;
        p.settlePath_ = path;
        p.settled_ = 0;
    }
    p.toReaders_.notify_all();
    std::unique_lock lock(p.mutex_);
    p.wait(lock, p.toWriter_, [&p] { return p.settled_ == p.readers_.size(); });
}

void ParallelBackup::finish()
{
    Pipeline &p = *pipeline_;
    if (p.finished_)
        return;
    p.finished_ = true;
    p.stopAll();
    for (std::thread &reader : p.readers_)
        reader.join();
    p.jobs_[0]->abandon();
}

void ParallelBackup::abandon()
{
    pipeline_->jobs_[0]->abandon();
}

const LastSaved &ParallelBackup::lastSaved() const
{
    return pipeline_->lastSaved_;
}

} // namespace kxsms
