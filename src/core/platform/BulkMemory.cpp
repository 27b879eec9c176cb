#include "core/platform/BulkMemory.h"

#include <cstdint>

#include <sys/mman.h>

namespace kv {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(KV_ADDRESS_SANITIZER)
// Under AddressSanitizer every block comes from the heap, so overruns of it are still caught.
constexpr bool kMapLargeBlocks = false;
#else
constexpr bool kMapLargeBlocks = true;
#endif

bool Mapped(std::size_t bytes)
{
    return kMapLargeBlocks && bytes >= kHugePage;
}

std::size_t MappedLength(std::size_t bytes)
{
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void* AllocateBulk(std::size_t bytes)
{
    if (!Mapped(bytes))
        return ::operator new(bytes == 0 ? 1 : bytes);

    // The kernel only uses a huge page for a 2 MB-aligned stretch, so map one huge page more than
    // needed and give back what lies outside the aligned part.
    const std::size_t length = MappedLength(bytes);
    if (length < bytes || length + kHugePage < length)
        throw std::bad_alloc();
    void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const std::size_t tail = kHugePage - (aligned - start))
        ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    // Only advice: where huge pages are switched off the block still works with small ones.
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void FreeBulk(void* block, std::size_t bytes) noexcept
{
    if (block == nullptr)
        return;
    if (!Mapped(bytes)) {
        ::operator delete(block);
        return;
    }
    ::munmap(block, MappedLength(bytes));
}

} // namespace kv
