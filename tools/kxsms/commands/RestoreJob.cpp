// The restore of one member, and the removal of one data set a chain no
// longer lists. A signal abandons the member being written (the TSA
// discards it when it is closed unfinished).
#include "commands/RestoreJob.h"

#include "KXSMSErr.h"
#include "commands/StreamHeader.h"
#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "frame/PathRules.h"
#include "frame/Results.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

namespace {

constexpr const char *c_NotOlder = "it is not older than the archive's copy";

} // namespace

std::optional<std::string> RestoreJob::targetOf(const std::string &name)
{
    if (!options_.to.empty()) {
        std::string error;
        auto target = reroot(name, options_.to, session_.type(), error, options_.strip);
        if (!target && !error.empty()) {
            progress_.message("not restoring " + printable(name, session_.names()) + ": " + error);
            progress_.failed();
        }
        return target;
    }
    if (const auto why = refuseName(name, session_.type())) {
        progress_.message("not restoring " + printable(name, session_.names()) + ": refused: " + *why);
        progress_.failed();
        return std::nullopt;
    }
    return name;
}

namespace {

class ReaderData final : public MemberData {
public:
    explicit ReaderData(ArchiveReader &reader) : reader_(reader) {}
    bool readBlock(const unsigned char *&data, size_t &size) override { return reader_.readBlock(data, size); }
    bool intact() const override { return reader_.memberState() == ArchiveReader::MemberState::Intact; }

private:
    ArchiveReader &reader_;
};

} // namespace

bool RestoreJob::restore(const format::MemberDescriptor &member, ArchiveReader &reader, const std::string &source)
{
    ReaderData data(reader);
    return restore(member, data, source);
}

bool RestoreJob::restore(const format::MemberDescriptor &member, MemberData &reader, const std::string &source)
{
    std::optional<std::string> name = targetOf(member.name);
    if (!name)
        return true;
    std::string &target = *name;

    if (options_.dryRun)
        return preview(member, target, source);
    if (options_.overwrite == Overwrite::Never && exists(target))
        return kept(member.parent, target, "it exists");

    // The name is always passed: the name checked above is the name the
    // TSA writes, whatever the stream's own header says. The access
    // rights (owner, extended attributes, ACLs) come back unless
    // --no-xattrs; then the owner alone.
    const KXSMS_TRUSTEE_OPTION rights = options_.xattrs ? KXSMS_TRUSTEE_ACCESS : KXSMS_TRUSTEE_OWNER;
    takeModuleLog(); // what came before is not this data set's
    unsigned int code = kx_.BeginRestore(target.data(), member.nameSpace, options_.overwrite == Overwrite::Always,
                                         rights, false, false, true);
    if (code == KXSMS_ERR_NOT_NEWER)
        return kept(member.parent, target, c_NotOlder);
    if (code != 0)
        return !stopsAfterFailure("cannot restore " + printable(target, session_.names()), code);

    progress_.begin(target);
    const unsigned char *data = nullptr;
    size_t size = 0;
    unsigned int writeCode = 0;
    bool cut = false;
    try {
        for (;;) {
            if (interrupted()) {
                cut = true;
                break;
            }
            if (!reader.readBlock(data, size)) {
                // A member cut short by a signal (the reading thread stopped) is abandoned.
                cut = interrupted();
                break;
            }
            writeCode = kx_.Restore(const_cast<unsigned char *>(data), size);
            if (writeCode != 0)
                break;
            progress_.add(size);
        }
    } catch (...) {
        abandon(target);
        throw;
    }
    if (cut) {
        abandon(target);
        return false;
    }
    // A damaged member has been reported by the reader; its stream went
    // to the TSA only up to the damage, so the TSA refuses it at the end
    // and leaves what was there before.
    const bool damaged = writeCode == 0 && !reader.intact();
    // The cause of a failed write is in what the module logged then, not at the close.
    const std::string writeLog = writeCode != 0 ? takeModuleLog() : std::string();
    const unsigned int endCode = kx_.EndRestore();
    // With --overwrite newer the TSA may tell only once it has read the
    // stream's times that the data set on disk is not older.
    if (writeCode == KXSMS_ERR_NOT_NEWER || (writeCode == 0 && !damaged && endCode == KXSMS_ERR_NOT_NEWER))
        return kept(member.parent, target, c_NotOlder);
    if (writeCode != 0)
        return !stopsAfterFailure("cannot restore " + printable(target, session_.names()), writeCode, &writeLog);
    if (damaged) {
        progress_.failed();
        return true;
    }
    if (endCode != 0)
        return !stopsAfterFailure("cannot restore " + printable(target, session_.names()), endCode);
    progress_.fileData(fileDataOf(member));
    progress_.done();
    return true;
}

bool RestoreJob::stripsAway(const std::string &name) const
{
    std::string error;
    return options_.strip > 0 && !reroot(name, options_.to, session_.type(), error, options_.strip) && error.empty();
}

bool RestoreJob::present(const std::string &name)
{
    std::optional<std::string> target = targetOf(name);
    return target && exists(*target);
}

std::optional<RestoreJob::Removal> RestoreJob::planRemoval(const std::string &name, int64_t newestStarted)
{
    std::optional<std::string> target = targetOf(name);
    if (!target)
        return std::nullopt;
    Removal removal;
    long modified = 0;
    if (!lookUp(*target, modified, removal.parent))
        return std::nullopt;
    removal.target = std::move(*target);
    if (options_.overwrite == Overwrite::Never)
        removal.keep = "--overwrite never keeps what exists";
    // Times come in whole seconds, and a file system stamps its files from
    // a clock a little behind: what was changed within the second before
    // the backup started may have been changed after it, and stays. The
    // change time counts too: a file put back with its old modification
    // time (cp -p, tar) after the backup is live data.
    else if (options_.overwrite == Overwrite::Newer &&
             (modified + 1 >= newestStarted || changedSince(removal.target, newestStarted)))
        removal.keep = "it was changed after that backup started";
    return removal;
}

bool RestoreJob::remove(const Removal &removal, const std::string &because)
{
    const std::string printed = printable(removal.target, session_.names());
    if (removal.keep != nullptr) {
        const std::string why = "not in " + because + ", but " + removal.keep;
        if (options_.dryRun) {
            writeLine("keep " + printed + ": " + why);
            progress_.kept();
            return true;
        }
        return kept(false, removal.target, why.c_str());
    }
    if (options_.dryRun) {
        writeLine("remove " + printed + ": not in " + because);
        progress_.removed();
        return true;
    }
    std::string target = removal.target;
    takeModuleLog();
    const unsigned int code = kx_.DeleteDataSet(target.data());
    if (code != 0) {
        // A parent that still holds data sets no archive of the chain
        // knows of (made after the backups) stays, with them.
        if (removal.parent && exists(target) && !session_.fatal(code))
            return kept(false, removal.target,
                        ("not in " + because + ", but it holds data sets the archives do not list").c_str());
        return !stopsAfterFailure("cannot remove " + printed, code);
    }
    progress_.message("removed " + printed + ": not in " + because + " (deleted or renamed before that backup)");
    progress_.removed();
    return true;
}

// An existing data set the overwrite rule keeps. Files are named; a parent
// that exists already is only counted (its members still come).
bool RestoreJob::kept(bool parent, const std::string &target, const char *why)
{
    if (!parent || verbosity_ > 0)
        progress_.message("kept " + printable(target, session_.names()) + ": " + why);
    progress_.kept();
    return true;
}

// The data set being written, closed unfinished: the TSA discards what it
// received, and what was there before stays.
void RestoreJob::abandon(const std::string &target)
{
    kx_.EndRestore();
    progress_.message("abandoned " + printable(target, session_.names()) + ": " + interruptText() +
                      "; it was left as it was");
}

// --dry-run: what the member would do, on stdout; nothing is changed.
bool RestoreJob::preview(const format::MemberDescriptor &member, std::string &target, const std::string &source)
{
    long modified = 0;
    bool parent = false;
    const bool present = lookUp(target, modified, parent);
    const char *why = nullptr;
    if (present && options_.overwrite == Overwrite::Never)
        why = "it exists";
    else if (present && options_.overwrite == Overwrite::Newer && modified >= member.modified)
        why = c_NotOlder;
    const std::string from = source.empty() ? "" : " (from " + source + ")";
    if (why != nullptr) {
        writeLine("keep " + printable(target, session_.names()) + ": " + why);
        progress_.kept();
    } else {
        writeLine((present ? "replace " : "restore ") + printable(target, session_.names()) + from);
        progress_.fileData(fileDataOf(member));
        progress_.done();
    }
    return true;
}

bool RestoreJob::lookUp(std::string &target, long &modified, bool &parent)
{
    bool archive = false;
    long accessed = 0;
    unsigned long long size = 0;
    return kx_.ScanDataSetInfo(target.data(), nullptr, 0, nullptr, 0, &parent, &archive, &modified, &accessed, &size) ==
           0;
}

bool RestoreJob::changedSince(const std::string &target, int64_t since)
{
    if (!headerStream_) {
        headerBuffer_.resize(KXSMS_MAX_BLOCK);
        headerStream_ = std::make_unique<DataSetStream>();
    }
    DataSetHeader header;
    unsigned int sequence = 0;
    takeModuleLog();
    const unsigned int code = readStreamHeader(kx_, target, false, sequence, false, headerBuffer_, *headerStream_, header);
    takeModuleLog(); // a data set that cannot be read here is judged by its modification time alone
    return code == 0 && header.hasChangeTime && header.ctimeSeconds + 1 >= since;
}

bool RestoreJob::exists(std::string &target)
{
    return kx_.ScanDataSetInfo(target.data(), nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr) == 0;
}

// Reports a failure; true when the module says the job must stop. log:
// what the module logged at the failure, when it was taken already.
bool RestoreJob::stopsAfterFailure(const std::string &what, unsigned int code, const std::string *log)
{
    const std::string logged = takeModuleLog();
    progress_.message(what + ": " + failureWords(session_.text(code), log ? *log : logged));
    progress_.failed();
    if (!session_.fatal(code))
        return false;
    progress_.message("restore stopped");
    return true;
}

} // namespace kxsms
