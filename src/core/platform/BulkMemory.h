#pragma once

#include <cstddef>
#include <new>

namespace kv {

// Memory for large arrays that are filled once and kept: a whole record file, the history grid's
// rows. Blocks of a few megabytes and more are asked to be backed by huge pages, because faulting
// in fresh memory 4 KB at a time costs several times what reading the same bytes from the page
// cache does. Smaller blocks come from the ordinary heap. Raises std::bad_alloc when nothing is
// left; FreeBulk must get the size the block was allocated with.
void* AllocateBulk(std::size_t bytes);
void FreeBulk(void* block, std::size_t bytes) noexcept;

// The same as an allocator, for std::vector.
template <typename T> struct BulkAllocator
{
    using value_type = T;

    BulkAllocator() = default;
    template <typename U> BulkAllocator(const BulkAllocator<U>&) noexcept {}

    T* allocate(std::size_t count)
    {
        if (count > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(AllocateBulk(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept { FreeBulk(block, count * sizeof(T)); }

    template <typename U> bool operator==(const BulkAllocator<U>&) const noexcept { return true; }
};

} // namespace kv
