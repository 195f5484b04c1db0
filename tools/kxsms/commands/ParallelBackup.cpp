// The threads of a backup with several module objects, and what passes
// between them: items in the scan's order, each a queue of what its job put
// out (members, blocks, lines, counts), replayed by the archive's writer.
#include "commands/ParallelBackup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>

#include "commands/BackupOutput.h"
#include "frame/ModuleLog.h"
#include "frame/Signals.h"
#include "io/BlockRing.h"
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
// lines they hold are the memory that is not in the rings.
constexpr size_t c_ItemsInFlight = 1024;
// A full scan waits for room for this many.
constexpr size_t c_ItemsPerRoom = 64;

// A large file's blocks go to the writer this many at a time (a quarter of a
// reader's pool).
constexpr unsigned c_BlocksPerBatch = ParallelBackup::c_BytesPerObject / KXSMS_MAX_BLOCK / 4;

// The scan wakes idle readers for the files it handed over at most this
// often (and whenever it is about to wait): one wake-up per file would cost
// more than reading a small one.
constexpr unsigned c_ItemsPerWake = 8;

// Data sets in an item of a scan of several objects, at most.
constexpr unsigned c_DataSetsPerItem = 16;

// Directories queued for a scan, and files with several names left for the
// end, kept in memory at most; more wait in a temporary file.
constexpr size_t c_QueuedInMemory = 4096;

// Waiting threads look at the signal flag this often (a signal handler
// cannot wake a condition variable).
constexpr std::chrono::milliseconds c_SignalPoll{50};

// An object's ring of block memory (c_BytesPerObject): what it read and the
// archive has not let go yet.
struct BlockPool {
    BlockRing ring{ParallelBackup::c_BytesPerObject, KXSMS_MAX_BLOCK};
    // Under the pipeline's lock.
    uint64_t released_ = 0; // bytes let go, in all
    size_t waitsFor_ = 0;   // its job waits until this much is free (0: it does not wait)
    // The ring is the job's, read by the writer only while the job waits.
    bool roomFor(size_t bytes) const { return ring.fits(released_, bytes); }
};

// What a job put out, kept for the archive. Nothing in it takes memory of
// its own: its text and member are in its batch (a member without its name,
// which is the text), so a small file costs no allocation on the way.
struct Event {
    enum class Kind : uint8_t { List, Begin, Block, End, Message, Showing, Count, Saved };
    explicit Event(Kind what) : kind(what) {}
    Kind kind;
    BackupOutput::Count count = BackupOutput::Count::Done;
    bool complete = false;
    uint64_t amount = 0;
    unsigned char *block = nullptr;
    BlockPool *pool = nullptr;
    uint32_t span = 0; // the bytes of the pool the block takes
    // The line or name: text[textAt, textAt + textSize) of its batch.
    uint32_t textAt = 0;
    uint32_t textSize = 0;
    uint32_t memberAt = 0; // List, Begin: members[memberAt] of its batch
};

// Events in order, and the text and members they refer to.
struct Batch {
    std::vector<Event> events;
    std::string text;
    std::vector<format::MemberDescriptor> members; // without their names

    bool empty() const { return events.empty(); }
    void clear()
    {
        events.clear();
        text.clear();
        members.clear();
    }
    void swap(Batch &other) noexcept
    {
        events.swap(other.events);
        text.swap(other.text);
        members.swap(other.members);
    }
    // Appends the events of another batch, their text and members with them.
    void append(Batch &other)
    {
        const auto textBase = static_cast<uint32_t>(text.size());
        const auto memberBase = static_cast<uint32_t>(members.size());
        text += other.text;
        members.insert(members.end(), other.members.begin(), other.members.end());
        for (Event event : other.events) {
            event.textAt += textBase;
            event.memberAt += memberBase;
            events.push_back(event);
        }
        other.clear();
    }
    // Keeps `value` as the event's text.
    void keep(Event &event, std::string_view value)
    {
        event.textAt = static_cast<uint32_t>(text.size());
        event.textSize = static_cast<uint32_t>(value.size());
        text += value;
    }
    std::string_view textOf(const Event &event) const { return std::string_view(text).substr(event.textAt, event.textSize); }
};

struct Spent;

struct Item {
    uint64_t number = 0;
    // A data set handed over (none for the scanning job's own items).
    Scanned scanned;
    std::string name;
    bool unchanged = false;
    // Known to be saved by the job that has it, not handed on to the one
    // that saves files with several names.
    bool classified = true;

    Batch events;
    bool finished = false;
    bool stopsJob = false;
    // Where its memory goes once written (none: freed by the writer).
    Spent *owner = nullptr;
};

// What the writer is done with, given back to the job that made it, which
// frees it: memory freed by another thread than the one that took it waits
// for that thread's allocator, and each small file has a few allocations
// (its descriptor, names, events). Under the pipeline's lock.
struct Spent {
    std::vector<Batch> batches;
    std::vector<std::unique_ptr<Item>> items;
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
    std::condition_variable toWriter_;  // to the thread ending a path: a writer done, a look taken
    std::condition_variable toReaders_; // items to read, subtrees to scan, the end
    std::condition_variable toMakers_;  // free blocks and room for items
    std::deque<std::unique_ptr<Item>> order_;
    std::deque<Item *> work_;      // for any reader
    std::deque<Item *> linkWork_;  // files with several names, in order: the link reader's
    uint64_t next_ = 0;            // the number of the next item
    size_t idleReaders_ = 0;       // readers waiting for work (not the link reader)
    bool linkReaderIdle_ = false;  // the link reader waits for work
    bool scanWaits_ = false;       // the scan waits for room for items
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
    // Whoever finishes or publishes events writes what is ready at the
    // front of the order, unless another thread is writing already (it
    // looks again before it stops). No thread of its own writes: handing
    // each batch to one would cost a wake-up per few small files, more than
    // writing them where they are.
    bool writing_ = false;
    bool writerDone_ = false; // no more is written: a job stopped it, or it failed
    bool endWaits_ = false;   // the thread ending a path waits (writeRest)
    // Threads that wait (for room in their pools, or for work): they write
    // whatever is ready meanwhile, so a job that streams a large file
    // leaves its blocks to them and reads on (one wake-up per batch of
    // blocks).
    size_t helpers_ = 0;
    size_t sleepingHelpers_ = 0; // of those, the ones asleep (the others watch changes_)
    // What a waiting thread looks for changed: events published, room
    // let go. A helper watches for it a while before it sleeps.
    ChangeCount changes_;
    std::string failure_;     // the writer's IoError
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
    std::deque<std::pair<BlockPool *, uint32_t>> held_;
    std::vector<std::pair<BlockPool *, uint32_t>> freed_; // let go since the writer last took the lock
    bool inMember_ = false;
    std::string memberName_;
    format::MemberDescriptor member_; // the one written last
    Progress::Tally tally_;           // counts of the batch being written, given to progress_ after it
    bool stopped_ = false;

    std::vector<std::unique_ptr<BackupOutput>> outputs_;
    std::vector<std::unique_ptr<BackupJob>> jobs_;
    std::vector<ModuleSession *> sessions_;
    std::vector<std::thread> readers_;
    bool finished_ = false;

    // Wakes the readers waiting for work, if there is any (under the lock).
    // The scan hands items over c_ItemsPerWake at a time, and all it has
    // before it waits.
    void handOver()
    {
        if (idleReaders_ > 0 && !work_.empty())
            toReaders_.notify_all();
    }

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
    // The same, writing what is ready meanwhile (cv is toMakers_ or
    // toReaders_, which a job that streams wakes for its blocks).
    template <typename Ready>
    void waitHelping(std::unique_lock<std::mutex> &lock, std::condition_variable &cv, Ready ready)
    {
        ++helpers_;
        const auto gone = [this] { return stop_ || interrupted(); };
        while (!ready() && !gone()) {
            if (writable()) {
                drain(lock);
                continue;
            }
            watchBeforeSleep(lock, changes_, [&] { return ready() || writable(); }, gone);
            if (ready() || writable() || gone())
                continue;
            ++sleepingHelpers_;
            cv.wait_for(lock, c_SignalPoll);
            --sleepingHelpers_;
        }
        --helpers_;
    }

    // A new item at the end of the order; waits for room unless the job stops.
    Item *newItem(std::unique_lock<std::mutex> &lock)
    {
        if (order_.size() >= c_ItemsInFlight) {
            handOver();
            drain(lock);
        }
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

    // Writes what is ready at the front of the order (under the lock,
    // which it lets go while it writes), unless another thread does.
    void drain(std::unique_lock<std::mutex> &lock);
    // Whether drain would write something now (under the lock).
    bool writable() const
    {
        return !writing_ && !writerDone_ && !order_.empty() &&
               (!order_.front()->events.empty() || order_.front()->finished);
    }
    // Writes all that is left once the scan of a path ended.
    void writeRest();
    void apply(const Batch &batch, Event &event);
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
        : pipeline_(pipeline), scanning_(scanning || pipeline.splits_)
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
        {
            std::unique_lock lock(pipeline_.mutex_);
            if (item_ == nullptr && pending_.empty())
                return;
            publish(lock);
            item_->finished = true;
            item_->classified = true;
            dataSets_ = 0;
            blocks_ = 0;
            item_ = nullptr;
            pipeline_.drain(lock);
        }
        dropSpent();
    }

    unsigned char *nextBlock() override
    {
        // What the writer let go is looked at under the lock only when the
        // pool seems full: one lock per many small files, not one per file.
        const size_t wanted = pool_.ring.wanted();
        if (pool_.ring.fits(released_, wanted) && !pipeline_.stop_ && !interrupted() && !halted())
            return pool_.ring.reserve();
        dropSpent();
        std::unique_lock lock(pipeline_.mutex_);
        // What waits here may hold the bytes that writing frees.
        if (!pool_.roomFor(wanted)) {
            if (!pending_.empty())
                publish(lock);
            pipeline_.drain(lock);
            pipeline_.handOver();
        }
        // A full pool waits until a quarter of it is free again: one
        // wake-up per block would be one per small file.
        const size_t waitsFor = pool_.roomFor(wanted) ? wanted : wanted + pool_.ring.size() / 4;
        // Meanwhile it writes what is ready. The scan's blocks are not
        // written after a job stopped it.
        pool_.waitsFor_ = waitsFor;
        pipeline_.waitHelping(lock, pipeline_.toMakers_, [&] { return pool_.roomFor(waitsFor) || halted(); });
        pool_.waitsFor_ = 0;
        released_ = pool_.released_;
        if (!pool_.roomFor(wanted) || pipeline_.stop_ || interrupted() || halted())
            return nullptr;
        return pool_.ring.reserve();
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

    void listMember(format::MemberDescriptor &member) override { addMember(Event::Kind::List, member); }
    void beginMember(format::MemberDescriptor &member) override { addMember(Event::Kind::Begin, member); }
    void writeBlock(const unsigned char *block, unsigned int size) override
    {
        Event event(Event::Kind::Block);
        event.block = const_cast<unsigned char *>(block);
        event.pool = &pool_;
        event.span = pool_.ring.commit(size);
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
        pending_.keep(event, line);
        add(std::move(event));
    }
    void showing(const std::string &name) override
    {
        Event event(Event::Kind::Showing);
        pending_.keep(event, name);
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
        pending_.keep(event, name);
        event.amount = size;
        add(std::move(event));
    }
    void unused(unsigned char * /*block*/) override
    {
        // Not committed: the next block is taken where it was.
    }
    void classified() override
    {
        // Only this job sets the flag of the item it fills (its maker set it
        // before handing the item over): it may look without the lock, and
        // does for every data set.
        if (item_ == nullptr || item_->classified)
            return;
        {
            std::lock_guard lock(pipeline_.mutex_);
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
        item_->owner = &spent_;
        if (item_->events.empty())
            item_->events.swap(pending_);
        else
            item_->events.append(pending_);
        pending_.clear();
        pipeline_.changes_.bump();
        // What the writer gave back since the last time, freed outside the
        // lock (dropSpent).
        if (trash_.batches.empty() && trash_.items.empty()) {
            trash_.batches.swap(spent_.batches);
            trash_.items.swap(spent_.items);
        }
    }

    // Frees what the writer gave back (without the lock); a batch's room is
    // kept for the next events when none are kept yet.
    void dropSpent()
    {
        for (Batch &batch : trash_.batches) {
            batch.clear();
            if (pending_.empty() && batch.events.capacity() > pending_.events.capacity())
                pending_.swap(batch);
        }
        trash_.batches.clear();
        trash_.items.clear();
    }

    // Events are kept here and go to the item a batch at a time (at its
    // end, and every c_BlocksPerBatch blocks, so that a large file
    // streams): one lock per small file, not one per event or block.
    // A member, kept without its name, which goes to the text.
    void addMember(Event::Kind kind, format::MemberDescriptor &member)
    {
        Event event(kind);
        event.memberAt = static_cast<uint32_t>(pending_.members.size());
        std::string name = std::move(member.name);
        pending_.members.push_back(member);
        member.name = std::move(name);
        pending_.keep(event, member.name);
        add(std::move(event));
    }

    void add(Event &&event)
    {
        const bool streams = event.kind == Event::Kind::Block && ++blocks_ % c_BlocksPerBatch == 0;
        pending_.events.push_back(std::move(event));
        if (!streams)
            return;
        {
            std::unique_lock lock(pipeline_.mutex_);
            publish(lock);
            if (pipeline_.helpers_ == 0)
                pipeline_.drain(lock);
            else if (pipeline_.sleepingHelpers_ > 0 && pipeline_.writable()) {
                pipeline_.toMakers_.notify_all();
                pipeline_.toReaders_.notify_all();
            }
        }
        dropSpent();
    }

    Pipeline &pipeline_;
    bool scanning_;
    BlockPool pool_;
    uint64_t released_ = 0;       // what the writer had let go of pool_ when last looked at
    Spent spent_;                 // under the pipeline's lock
    Spent trash_;                 // taken from spent_, to free
    Item *item_ = nullptr;
    Batch pending_;
    unsigned blocks_ = 0;   // of the current item
    unsigned dataSets_ = 0; // in the current item (scans of several objects)
};

} // namespace

bool Pipeline::releaseFreed()
{
    bool wake = false;
    for (const auto &[pool, span] : freed_) {
        pool->released_ += span;
        // A job whose pool ran full waits for a part of it (nextBlock).
        wake = wake || (pool->waitsFor_ != 0 && pool->roomFor(pool->waitsFor_));
    }
    freed_.clear();
    return wake;
}

void Pipeline::apply(const Batch &batch, Event &event)
{
    switch (event.kind) {
    case Event::Kind::List:
    case Event::Kind::Begin:
        // Into one descriptor kept for this: its name's room is used again.
        {
            // All but the name: its room is kept.
            std::string name = std::move(member_.name);
            member_ = batch.members[event.memberAt];
            member_.name = std::move(name);
        }
        member_.name.assign(batch.textOf(event));
        if (event.kind == Event::Kind::List) {
            writer_.listMember(member_);
            break;
        }
        writer_.beginMember(member_);
        inMember_ = true;
        memberName_ = member_.name;
        break;
    case Event::Kind::Block:
        writer_.writeBlock(event.block, event.amount);
        held_.emplace_back(event.pool, event.span);
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
        progress_.message(std::string(batch.textOf(event)));
        break;
    case Event::Kind::Showing:
        progress_.begin(batch.textOf(event));
        break;
    case Event::Kind::Count:
        countIn(tally_, event.count, event.amount);
        break;
    case Event::Kind::Saved:
        lastSaved_.saved(batch.textOf(event), event.amount);
        break;
    }
}

void Pipeline::drain(std::unique_lock<std::mutex> &lock)
{
    if (writing_ || writerDone_)
        return;
    writing_ = true;
    bool wakeMakers = false;
    std::string failure;
    Batch batch;
    for (;;) {
        // A job may wait for the blocks written so far.
        wakeMakers = releaseFreed() || wakeMakers;
        if (stop_ || interrupted() || order_.empty())
            break;
        Item &item = *order_.front();
        if (item.events.empty()) {
            if (!item.finished)
                break;
            // Finished and written: back to its job, which frees it.
            const bool stops = item.stopsJob;
            std::unique_ptr<Item> done = std::move(order_.front());
            order_.pop_front();
            if (done->owner != nullptr)
                done->owner->items.push_back(std::move(done));
            wakeMakers = wakeMakers || (scanWaits_ && order_.size() <= c_ItemsInFlight - c_ItemsPerRoom);
            if (stops) {
                stopped_ = true;
                writerDone_ = true;
                break;
            }
            continue;
        }
        batch.swap(item.events);
        Spent *const owner = item.owner;
        lock.unlock();
        try {
            for (Event &event : batch.events)
                apply(batch, event);
            progress_.add(tally_);
            tally_ = {};
        } catch (const std::exception &e) {
            // Any failure ends the writing (an IoError says why the archive
            // cannot be written); the job stops and says so.
            failure = e.what();
            if (failure.empty())
                failure = "cannot write the archive";
        }
        lock.lock();
        if (owner != nullptr)
            owner->batches.push_back(std::move(batch));
        batch.clear();
        if (!failure.empty()) {
            failure_ = failure;
            writerDone_ = true;
            stop_ = true;
            break;
        }
    }
    writing_ = false;
    changes_.bump();
    if (wakeMakers || !failure.empty())
        toMakers_.notify_all();
    if (endWaits_ || !failure.empty())
        toWriter_.notify_all();
    if (!failure.empty())
        toReaders_.notify_all();
}

// The thread that ends a path: once the scan ended, it writes what the
// others have not (or waits while one of them writes) until every item is
// in the archive, a job stopped it, or a signal came.
void Pipeline::writeRest()
{
    std::unique_lock lock(mutex_);
    handOver();
    endWaits_ = true;
    const auto ready = [this] { return writerDone_ || order_.empty() || writable(); };
    for (;;) {
        wait(lock, toWriter_, ready);
        if (stop_ || interrupted() || writerDone_ || order_.empty())
            break;
        drain(lock);
    }
    // Another thread may still be inside a batch.
    while (writing_)
        toWriter_.wait_for(lock, c_SignalPoll);
    endWaits_ = false;
    if (writerDone_ || (order_.empty() && !stop_ && !interrupted()))
        return;
    // A signal (or the end of the job): the member being written is marked
    // incomplete, as a backup with one object does; nothing more is written.
    writerDone_ = true;
    stopped_ = true;
    if (!inMember_)
        return;
    lock.unlock();
    try {
        writer_.endMember(false);
        inMember_ = false;
        if (interrupted()) {
            progress_.failed();
            progress_.message("stopped inside " + printable(memberName_, style_) + ": it is marked incomplete");
        }
    } catch (const IoError &e) {
        lock.lock();
        failure_ = e.what();
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
                if (linkReader)
                    linkReaderIdle_ = true;
                else
                    ++idleReaders_;
                waitHelping(lock, toReaders_, ready);
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
            waitHelping(lock, toReaders_, [this] { return !subtrees_.empty() || busyScanners_ == 0 || halt_; });
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
    p.writeRest();
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
