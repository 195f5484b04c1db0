// A backup stream made whole in memory (the small data sets: a directory
// object, the GroupWise server, a renamed header), handed out in reads of
// any size.
#pragma once

#include "SMSAPI.h"

#include <cstddef>
#include <string>

namespace smsemu {

class HeldStream {
public:
    HeldStream() = default;
    explicit HeldStream(std::string bytes) : bytes_(std::move(bytes)) {}

    // Copies the next bytes, up to `size`, to `buffer`; answers how many. A
    // short read is the end.
    UINT32 read(UINT8 *buffer, UINT32 size);

private:
    std::string bytes_;
    std::size_t sent_ = 0;
};

} // namespace smsemu
