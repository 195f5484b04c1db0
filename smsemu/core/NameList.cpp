#include "core/NameList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace smsemu {
namespace {

constexpr std::size_t kHeader = sizeof(NWSM_DATA_SET_NAME_LIST);
constexpr std::size_t kEntryFixed = offsetof(NWSM_NAME_ENTRY, name);
constexpr std::size_t kSeparatorMax = sizeof(NWSM_NAME_ENTRY::separator1) - 1;
// Lists are bounded well below 4 GiB so that every size fits its UINT32 field.
constexpr std::size_t kListMax = std::size_t{1} << 30;
// An entry's name length is a 16-bit field.
constexpr std::size_t kEntryNameMax = 0xFFFF;

constexpr std::size_t align8(std::size_t n)
{
    return (n + 7) & ~std::size_t{7};
}

std::size_t entrySize(std::size_t nameLength)
{
    return align8(kEntryFixed + nameLength + 1);
}

void copySeparator(char (&to)[4], const char *from)
{
    std::memset(to, 0, sizeof to);
    if (from != nullptr)
        std::memcpy(to, from, std::min(std::strlen(from), kSeparatorMax));
}

// Writes one entry; the caller has checked the name against kEntryNameMax and
// made room for entrySize() bytes at `at`.
void writeEntry(unsigned char *at, const NameFields &fields)
{
    const std::size_t length = std::min(fields.name.size(), kEntryNameMax);
    const std::size_t size = entrySize(length);
    std::memset(at, 0, size);
    auto *entry = reinterpret_cast<NWSM_NAME_ENTRY *>(at);
    entry->entrySize = static_cast<UINT32>(size);
    entry->nameSpaceType = fields.nameSpaceType;
    entry->selectionType = fields.selectionType;
    entry->reverseOrder = fields.reverseOrder;
    entry->nameLength = static_cast<UINT16>(length);
    copySeparator(entry->separator1, fields.firstSeparator);
    copySeparator(entry->separator2, fields.secondSeparator);
    std::memcpy(entry->name, fields.name.data(), length);
}

} // namespace

CCODE checkNameFields(const char *name, const char *firstSeparator, const char *secondSeparator)
{
    if (name == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    if (std::strlen(name) > NWSM_MAX_NAME)
        return NWSMTS_INVALID_DATA_SET_NAME;
    if ((firstSeparator != nullptr && std::strlen(firstSeparator) > kSeparatorMax) ||
        (secondSeparator != nullptr && std::strlen(secondSeparator) > kSeparatorMax))
        return NWSMTS_INVALID_PARAMETER;
    return 0;
}

NWSM_DATA_SET_NAME_LIST *newNameList(const NameFields &fields)
{
    NWSM_DATA_SET_NAME_LIST *list = nullptr;
    return appendName(list, fields) == 0 ? list : nullptr;
}

CCODE appendName(NWSM_DATA_SET_NAME_LIST *&list, const NameFields &fields)
{
    // A caller's list whose header does not add up is not written into.
    if (list != nullptr && (list->usedSize < kHeader || list->usedSize > list->bufferSize))
        return NWSMTS_INVALID_SELECTION_LIST;
    if (fields.name.size() > kEntryNameMax)
        return NWSMTS_INVALID_DATA_SET_NAME;
    std::size_t need = entrySize(fields.name.size());
    std::size_t used = list != nullptr ? list->usedSize : kHeader;
    std::size_t capacity = list != nullptr ? list->bufferSize : 0;
    if (used + need > kListMax)
        return NWSMTS_OVERFLOW;
    if (used + need > capacity) {
        std::size_t grown = std::max<std::size_t>(256, capacity);
        while (grown < used + need)
            grown *= 2;
        grown = std::min(grown, kListMax);
        void *block = std::realloc(list, grown);
        if (block == nullptr)
            return NWSMTS_OUT_OF_MEMORY;
        auto *header = static_cast<NWSM_DATA_SET_NAME_LIST *>(block);
        if (list == nullptr) {
            header->usedSize = kHeader;
            header->nameCount = 0;
            header->flags = 0;
        }
        header->bufferSize = static_cast<UINT32>(grown);
        list = header;
    }
    writeEntry(reinterpret_cast<unsigned char *>(list) + used, fields);
    list->usedSize = static_cast<UINT32>(used + need);
    list->nameCount += 1;
    return 0;
}

void clearNameList(NWSM_DATA_SET_NAME_LIST *list)
{
    if (list == nullptr)
        return;
    list->usedSize = kHeader;
    list->nameCount = 0;
    list->flags = 0;
}

NameEntries::NameEntries(const NWSM_DATA_SET_NAME_LIST *list) : base_(reinterpret_cast<const unsigned char *>(list))
{
    if (list == nullptr || list->usedSize < kHeader)
        return;
    used_ = list->usedSize;
    offset_ = kHeader;
    left_ = list->nameCount;
}

const NWSM_NAME_ENTRY *NameEntries::next()
{
    if (left_ == 0 || offset_ + kEntryFixed > used_)
        return nullptr;
    const auto *entry = reinterpret_cast<const NWSM_NAME_ENTRY *>(base_ + offset_);
    std::size_t size = entry->entrySize;
    if (size < kEntryFixed + entry->nameLength + 1u || size % 8 != 0 || offset_ + size > used_ ||
        entry->name[entry->nameLength] != '\0') {
        left_ = 0;
        return nullptr;
    }
    offset_ += size;
    --left_;
    return entry;
}

const NWSM_NAME_ENTRY *firstEntry(const NWSM_DATA_SET_NAME_LIST *list)
{
    NameEntries entries(list);
    return entries.next();
}

const NWSM_NAME_ENTRY *firstEntryOfType(const NWSM_DATA_SET_NAME_LIST *list, UINT32 nameSpaceType)
{
    NameEntries entries(list);
    while (const NWSM_NAME_ENTRY *entry = entries.next())
        if (entry->nameSpaceType == nameSpaceType)
            return entry;
    return nullptr;
}

void describeEntry(const NWSM_NAME_ENTRY &entry, NWSM_DATA_SET_NAME &name)
{
    name.nameSpaceType = entry.nameSpaceType;
    name.selectionType = entry.selectionType;
    name.reverseOrder = entry.reverseOrder;
    name.nameLength = entry.nameLength;
    name.name = const_cast<char *>(entry.name);
}

NWSM_DATA_SET_NAME_LIST *copyNameList(const NWSM_DATA_SET_NAME_LIST *list, CCODE &rc)
{
    rc = 0;
    if (list == nullptr)
        return nullptr;
    if (list->usedSize < kHeader || list->usedSize > kListMax || list->usedSize > list->bufferSize) {
        rc = NWSMTS_INVALID_SELECTION_LIST;
        return nullptr;
    }
    void *copy = std::malloc(list->usedSize);
    if (copy == nullptr) {
        rc = NWSMTS_OUT_OF_MEMORY;
        return nullptr;
    }
    std::memcpy(copy, list, list->usedSize);
    auto *header = static_cast<NWSM_DATA_SET_NAME_LIST *>(copy);
    header->bufferSize = header->usedSize;
    return header;
}

} // namespace smsemu
