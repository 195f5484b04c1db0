// A ring of memory that blocks are read into and written out of, in the
// order they were taken: what a reader may hold ahead of its writer,
// bounded in bytes, not in blocks. Each block is taken at the head with room
// for a whole block, but keeps only the bytes it was filled with (rounded
// up), so a small file takes a little of the ring, not a whole block. Blocks
// are let go at the tail, in the order they were taken.
//
// The reader's own: reserve, commit, fits. What was let go is counted by the
// caller (its writer may run on another thread) and given to fits.
#ifndef KXSMS_IO_BLOCKRING_H
#define KXSMS_IO_BLOCKRING_H

#include <cstddef>
#include <cstdint>

namespace kxsms {

class BlockRing {
public:
    // What a block keeps is rounded up to this.
    static constexpr size_t c_Grain = 64;

    // `bytes` of memory (a multiple of c_Grain, at least two blocks), taken
    // by blocks of at most `block` bytes. The memory is mapped, not taken
    // from the heap: a host that runs job after job (one process, as an
    // agent does) gets it back whole each time. Throws std::bad_alloc.
    BlockRing(size_t bytes, size_t block);
    ~BlockRing();
    BlockRing(const BlockRing &) = delete;
    BlockRing &operator=(const BlockRing &) = delete;

    size_t size() const { return size_; }
    // The bytes the next block may take at most: a whole block, and those
    // skipped at the end of the ring when a whole one does not fit there.
    size_t wanted() const { return skip() + block_; }
    // Whether `bytes` more fit, given the bytes let go so far.
    bool fits(uint64_t released, size_t bytes) const { return taken_ - released + bytes <= size_; }
    // The next block, of `block` bytes (fits(released, wanted()) must hold).
    // It keeps nothing until commit; a block not filled after all is simply
    // not committed, and the next is taken where it was.
    unsigned char *reserve();
    // The block reserved last keeps `filled` bytes (at most a block): returns
    // the bytes of the ring it takes, to be let go once it was written.
    uint32_t commit(size_t filled);

private:
    size_t skip() const { return head_ + block_ > size_ ? size_ - head_ : 0; }

    size_t size_;
    size_t block_;
    unsigned char *memory_ = nullptr;
    size_t head_ = 0;
    size_t skipped_ = 0; // by the block reserved last
    uint64_t taken_ = 0; // bytes committed, in all
};

} // namespace kxsms

#endif
