// A fuzzer's bytes as an input stream that hands them out in pieces of at
// most `step` bytes, as a pipe would deliver them.
#ifndef KXSMS_FUZZ_PIECEINPUT_H
#define KXSMS_FUZZ_PIECEINPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "io/Streams.h"

class PieceInput : public kxsms::InputStream {
public:
    PieceInput(const uint8_t *data, size_t size, size_t step) : data_(data), size_(size), step_(step) {}
    size_t read(void *out, size_t size) override
    {
        size_t n = size_ - at_;
        if (n > size)
            n = size;
        if (n > step_)
            n = step_;
        memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t step_;
    size_t at_ = 0;
};

#endif
