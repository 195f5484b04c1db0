#include "core/HeldStream.h"

#include <algorithm>
#include <cstring>

namespace smsemu {

UINT32 HeldStream::read(UINT8 *buffer, UINT32 size)
{
    const std::size_t give = std::min<std::size_t>(size, bytes_.size() - sent_);
    if (give != 0)
        std::memcpy(buffer, bytes_.data() + sent_, give);
    sent_ += give;
    return static_cast<UINT32>(give);
}

} // namespace smsemu
