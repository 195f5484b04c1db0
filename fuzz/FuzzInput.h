// Reads a fuzzer's bytes as a small script: single bytes for choices and
// length-prefixed texts.
#ifndef KXSMS_FUZZ_FUZZINPUT_H
#define KXSMS_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }

    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // A text of up to 4095 bytes: two bytes of length, then the bytes (fewer
    // when the input ends). NUL bytes end the text early, as in C.
    std::string text()
    {
        size_t length = (static_cast<size_t>(byte()) << 8 | byte()) & 0x0FFF;
        std::string out;
        while (length-- > 0 && at_ < size_) {
            const char c = static_cast<char>(data_[at_++]);
            if (c == '\0')
                break;
            out.push_back(c);
        }
        return out;
    }

    // A short text: one byte of length (up to max), then the bytes.
    std::string word(size_t max = 255)
    {
        size_t length = byte() % (max + 1);
        std::string out;
        while (length-- > 0 && at_ < size_)
            out.push_back(static_cast<char>(data_[at_++]));
        return out;
    }

    // An integer of up to eight bytes, little-endian.
    uint64_t number(int bytes)
    {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(byte()) << (8 * i);
        return value;
    }

    // One of the choices.
    template <class T, size_t N>
    const T &pick(const T (&choices)[N])
    {
        return choices[byte() % N];
    }

    // The bytes not read yet, all of them (NUL bytes too).
    std::string remaining()
    {
        std::string out(reinterpret_cast<const char *>(data_) + at_, size_ - at_);
        at_ = size_;
        return out;
    }

    // The rest of the input as a text (NUL ends it).
    std::string rest()
    {
        std::string out;
        while (at_ < size_ && data_[at_] != 0)
            out.push_back(static_cast<char>(data_[at_++]));
        at_ = size_;
        return out;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

#endif
