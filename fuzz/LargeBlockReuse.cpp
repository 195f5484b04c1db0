// The archive reader takes a window of 1 MiB (new[]) for each archive it
// reads. Under AddressSanitizer a block that large is mapped and unmapped on
// every run, which costs far more than reading the small archive a fuzz input
// holds. The archive targets therefore keep a few large arrays when they are
// freed and hand them out again to a request of the same size. Their redzones
// stay poisoned, so reads and writes past their ends are still caught; only a
// use after free of such a block would go unseen. Only the array forms are
// replaced: code in the shared libraries pairs ASan's scalar new and delete.
#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

constexpr size_t c_Large = 64 * 1024; // smaller blocks come from ASan's own size classes
constexpr size_t c_Kept = 4;

void *g_spare[c_Kept] = {};

void *take(size_t size)
{
    if (size >= c_Large) {
        for (void *&spare : g_spare) {
            if (spare != nullptr && malloc_usable_size(spare) == size) {
                void *block = spare;
                spare = nullptr;
                return block;
            }
        }
    }
    if (void *block = malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void give(void *block) noexcept
{
    if (block == nullptr)
        return;
    if (malloc_usable_size(block) >= c_Large) {
        for (void *&spare : g_spare) {
            if (spare == nullptr) {
                spare = block;
                return;
            }
        }
    }
    free(block);
}

} // namespace

void *operator new[](size_t size)
{
    return take(size);
}

void operator delete[](void *block) noexcept
{
    give(block);
}

void operator delete[](void *block, size_t) noexcept
{
    give(block);
}
