#include "directory/LdapScan.h"

#include "core/NameList.h"
#include "core/PackedTime.h"
#include "directory/DirectorySchema.h"
#include "directory/DirectoryStream.h"
#include "directory/LdapNames.h"
#include "directory/Ldif.h"

#include <ctime>
#include <ldap.h>
#include <strings.h>

#include <fmt/format.h>

namespace smsemu {
namespace {

// A GeneralizedTime ("20240131235959Z", fractions allowed) packed in local
// time; 0 when there is none.
UINT32 packedTime(const std::string &text)
{
    std::tm fields{};
    if (text.size() < 14 || std::sscanf(text.c_str(), "%4d%2d%2d%2d%2d%2d", &fields.tm_year, &fields.tm_mon,
                                        &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec) != 6)
        return 0;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    return packLocalTime(timegm(&fields));
}

bool hasContainerClass(const LdapEntry &entry)
{
    for (const LdapAttribute &attribute : entry.attributes)
        if (strcasecmp(attribute.name.c_str(), "objectClass") == 0)
            for (const std::string &value : attribute.values)
                if (strcasecmp(value.c_str(), "top") != 0 && isContainerClass(value))
                    return true;
    return false;
}

LdapItem itemOfMade(const EntryPtr &made)
{
    LdapItem item;
    item.kind = made->kind;
    item.made = made;
    item.name = made->name;
    item.key = made->key;
    item.parent = isParent(*made);
    item.streamSize = made->streamSize;
    return item;
}

LdapItem reportOn(const LdapItem &container, CCODE code, std::string text, std::uint64_t size = 0)
{
    LdapItem report = container;
    report.report = code;
    report.reportText = std::move(text);
    report.streamSize = size;
    return report;
}

} // namespace

bool itemOfEntry(const LdapTsa &tsa, LdapEntry &entry, LdapItem &item)
{
    item = LdapItem{};
    if (!tsa.nameOfDn(entry.dn, item.name) || item.name.size() > NWSM_MAX_NAME || !dnKey(entry.dn, item.key))
        return false;
    item.kind = EntryKind::Object;
    item.streamSize = framedStreamSize(item.name, ldifRecord(entry.dn, entry.attributes).size());
    item.dn = std::move(entry.dn);
    item.uuid = std::move(entry.uuid);
    item.stamp = std::move(entry.changeStamp);
    item.modified = packedTime(entry.modifyTimestamp);
    item.created = packedTime(entry.createTimestamp);
    item.hasChildren = entry.hasSubordinates;
    item.parent = entry.hasSubordinates.value_or(false) || hasContainerClass(entry);
    return true;
}

LdapScan::LdapScan(LdapTsa &tsa, std::shared_ptr<LdapSession> session, UINT32 connection,
                   const NWSM_SCAN_CONTROL &control, const NWSM_SELECTION_LIST *selection)
    : tsa_(tsa), session_(std::move(session)), connection_(connection),
      nameSpace_(returnedNameSpace(control, NWSM_NAME_SPACE_DOS)),
      oneLevel_((control.scanType & NWSM_SCAN_TYPE_ONE_LEVEL) != 0), firstModified_(control.firstModifiedDateAndTime),
      lastModified_(control.lastModifiedDateAndTime)
{
    NameEntries entries(selection);
    while (const NWSM_NAME_ENTRY *entry = entries.next()) {
        LdapTarget target;
        if (!tsa.resolve(std::string_view(entry->name, entry->nameLength), target))
            continue;
        DirectoryTsaBase::fileExclusion(target.kind, target.key, entry->selectionType, alone_, withAll_);
    }
}

bool LdapScan::startExcluded(const LdapItem &start) const
{
    if (excludedAlone(start) || excludedWithAll(start))
        return true;
    if (start.kind == EntryKind::ClassDefinition)
        return withAll_.count(tsa_.schema()->key) != 0;
    if (start.kind != EntryKind::Object)
        return false;
    for (std::string up = parentDnKey(start.key); isWithinBase(up, tsa_.baseKey()) && !up.empty(); up = parentDnKey(up))
        if (withAll_.count(up) != 0)
            return true;
    return withAll_.count(tsa_.top()->key) != 0;
}

CCODE LdapScan::begin(const std::string &name, const LdapTarget &start)
{
    LdapFailure failure;
    switch (start.kind) {
    case EntryKind::TreeResource:
        current_ = itemOfMade(tsa_.treeResource());
        break;
    case EntryKind::Schema:
        current_ = itemOfMade(tsa_.schema());
        break;
    case EntryKind::Top:
        current_ = itemOfMade(tsa_.top());
        break;
    case EntryKind::ClassDefinition: {
        std::vector<EntryPtr> definitions;
        if (!tsa_.classDefinitions(*session_, definitions, failure))
            return tsa_.failed(name, failure, LdapStep::Scan);
        for (const EntryPtr &definition : definitions)
            if (definition->key == start.key)
                current_ = itemOfMade(definition);
        if (current_.made == nullptr)
            return NWSMTS_NO_DATA_SETS_FOUND;
        break;
    }
    case EntryKind::Object: {
        LdapEntry entry;
        if (!session_->read(start.dn, entry, failure)) {
            CCODE code = smsCodeOf(failure.code, LdapStep::Scan);
            return code == NWSMTS_NO_DATA_SETS_FOUND ? code : tsa_.failed(name, failure, LdapStep::Scan);
        }
        if (!itemOfEntry(tsa_, entry, current_))
            return NWSMTS_INVALID_PATH;
        break;
    }
    }
    if (startExcluded(current_))
        return NWSMTS_DATA_SET_EXCLUDED;
    atStart_ = true;
    return describe();
}

CCODE LdapScan::next()
{
    // What the data set just given holds comes next: the start's at any
    // level, the others' in a scan of the whole subtree.
    if (current_.parent && current_.report == 0 && (atStart_ || !oneLevel_)) {
        std::vector<LdapItem> below;
        if (CCODE rc = expand(current_, below))
            return rc;
        frames_.push_back(Frame{std::move(below), 0});
    }
    atStart_ = false;
    while (!frames_.empty()) {
        Frame &frame = frames_.back();
        if (frame.next == frame.items.size()) {
            frames_.pop_back();
            continue;
        }
        LdapItem item = std::move(frame.items[frame.next++]);
        if (excludedWithAll(item))
            continue;
        const bool shown = !excludedAlone(item) && (item.parent || item.report != 0 || inModifiedRange(item));
        if (!shown) {
            // Passed over, but what it holds is still looked at.
            if (!oneLevel_ && item.parent && item.report == 0) {
                std::vector<LdapItem> below;
                if (CCODE rc = expand(item, below))
                    return rc;
                frames_.push_back(Frame{std::move(below), 0});
            }
            continue;
        }
        current_ = std::move(item);
        return describe();
    }
    return NWSMTS_NO_MORE_DATA_SETS;
}

CCODE LdapScan::expand(const LdapItem &container, std::vector<LdapItem> &out)
{
    out.clear();
    LdapFailure failure;
    switch (container.kind) {
    case EntryKind::TreeResource:
        out.push_back(itemOfMade(tsa_.top()));
        out.push_back(itemOfMade(tsa_.schema()));
        return 0;
    case EntryKind::Schema: {
        std::vector<EntryPtr> definitions;
        if (!tsa_.classDefinitions(*session_, definitions, failure)) {
            if (session_->lost())
                return tsa_.failed(container.name, failure, LdapStep::Scan);
            out.push_back(reportOn(container, smsCodeOf(failure.code, LdapStep::Scan), failure.text));
            return 0;
        }
        for (const EntryPtr &definition : definitions)
            out.push_back(itemOfMade(definition));
        return 0;
    }
    case EntryKind::ClassDefinition:
        return 0;
    case EntryKind::Top: {
        LdapEntry base;
        LdapItem item;
        if (session_->read(tsa_.baseDn(), base, failure)) {
            if (itemOfEntry(tsa_, base, item))
                out.push_back(std::move(item));
            return 0;
        }
        if (session_->lost())
            return tsa_.failed(container.name, failure, LdapStep::Scan);
        if (failure.code != LDAP_NO_SUCH_OBJECT) // an empty server
            out.push_back(reportOn(container, smsCodeOf(failure.code, LdapStep::Scan), failure.text));
        return 0;
    }
    case EntryKind::Object:
        return children(container, out);
    }
    return 0;
}

CCODE LdapScan::children(const LdapItem &container, std::vector<LdapItem> &out)
{
    if (container.hasChildren == false)
        return 0;
    std::uint64_t tooLong = 0;
    LdapFailure failure;
    bool read = session_->search(
        container.dn, LdapScope::OneLevel, true,
        [&](LdapEntry &&entry) {
            LdapItem item;
            if (itemOfEntry(tsa_, entry, item))
                out.push_back(std::move(item));
            else
                ++tooLong;
        },
        failure);
    if (!read && session_->lost())
        return tsa_.failed(container.name, failure, LdapStep::Scan);
    if (!read)
        out.push_back(reportOn(container, smsCodeOf(failure.code, LdapStep::Scan), failure.text));
    else if (out.empty() && tooLong == 0 && container.hasChildren == true)
        out.push_back(reportOn(container, NWSMTS_NO_SEARCH_PRIVILEGES,
                               "the server says it holds entries, and none may be read (access controls)"));
    if (tooLong > 0)
        out.push_back(reportOn(
            container, NWSMTS_OVERFLOW,
            fmt::format("{} entries below it have names longer than {} bytes", tooLong, NWSM_MAX_NAME), tooLong));
    return 0;
}

bool LdapScan::inModifiedRange(const LdapItem &item) const
{
    if (item.kind != EntryKind::Object || (firstModified_ == 0 && lastModified_ == 0))
        return true;
    return (firstModified_ == 0 || item.modified >= firstModified_) &&
           (lastModified_ == 0 || item.modified <= lastModified_);
}

CCODE LdapScan::describe()
{
    record_.clear();
    NWSM_SCAN_INFORMATION &info = *record_.information();
    const LdapItem &item = current_;
    info.parentFlag = item.parent ? 1 : 0;
    const bool archive =
        item.kind != EntryKind::Object || item.report != 0 || tsa_.archiveFlags().isSet(item.uuid, item.stamp);
    info.attributes = (item.parent ? NWSM_ATTR_DIRECTORY : 0u) | (archive ? NWSM_ATTR_ARCHIVE : 0u);
    info.creatorNameSpaceNumber = nameSpace_;
    info.primaryDataStreamSize = item.streamSize <= 0xFFFFFFFFu ? static_cast<UINT32>(item.streamSize) : 0u;
    info.totalStreamsDataSize =
        static_cast<UINT32>(std::min<std::uint64_t>((item.streamSize + 4095) / 4096, 0xFFFFFFFFu));
    info.modifiedDateAndTime = info.accessDateAndTime = item.modified;
    info.createDateAndTime = item.created;
    return record_.addName(NameFields{nameSpace_, 0, 0, ".", ".", item.name});
}

} // namespace smsemu
