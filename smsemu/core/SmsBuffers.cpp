#include "core/SmsBuffers.h"

#include <cstdlib>
#include <cstring>

namespace smsemu {

STRING_BUFFER *newStringBuffer(std::string_view text)
{
    if (text.size() >= 0xFFFF)
        return nullptr;
    auto *buffer = static_cast<STRING_BUFFER *>(std::malloc(sizeof(STRING_BUFFER) + text.size() + 1));
    if (buffer == nullptr)
        return nullptr;
    buffer->size = static_cast<UINT16>(text.size() + 1);
    std::memcpy(buffer->string, text.data(), text.size());
    buffer->string[text.size()] = '\0';
    return buffer;
}

NameListBuilder::~NameListBuilder()
{
    freeNameList(head_);
}

bool NameListBuilder::add(std::string_view name)
{
    auto *node = static_cast<NWSM_NAME_LIST *>(std::malloc(sizeof(NWSM_NAME_LIST) + name.size() + 1));
    if (node == nullptr)
        return false;
    char *text = reinterpret_cast<char *>(node + 1);
    std::memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    node->next = nullptr;
    node->name = text;
    if (tail_ != nullptr)
        tail_->next = node;
    else
        head_ = node;
    tail_ = node;
    return true;
}

NWSM_NAME_LIST *NameListBuilder::take()
{
    NWSM_NAME_LIST *list = head_;
    head_ = tail_ = nullptr;
    return list;
}

void freeNameList(NWSM_NAME_LIST *list)
{
    while (list != nullptr) {
        NWSM_NAME_LIST *next = list->next;
        std::free(list);
        list = next;
    }
}

} // namespace smsemu
