#include "io/BlockRing.h"

#include <new>

#include <sys/mman.h>

namespace kxsms {

BlockRing::BlockRing(size_t bytes, size_t block) : size_(bytes), block_(block)
{
    if (block == 0 || bytes % c_Grain != 0 || bytes < 2 * block)
        throw std::bad_alloc();
    void *mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    memory_ = static_cast<unsigned char *>(mapped);
}

BlockRing::~BlockRing()
{
    munmap(memory_, size_);
}

unsigned char *BlockRing::reserve()
{
    skipped_ = skip();
    return memory_ + (skipped_ != 0 ? 0 : head_);
}

uint32_t BlockRing::commit(size_t filled)
{
    const size_t start = skipped_ != 0 ? 0 : head_;
    const size_t kept = (filled + c_Grain - 1) / c_Grain * c_Grain;
    const size_t span = skipped_ + kept;
    head_ = start + kept == size_ ? 0 : start + kept;
    skipped_ = 0;
    taken_ += span;
    return static_cast<uint32_t>(span);
}

} // namespace kxsms
