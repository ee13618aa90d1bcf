#include "HugePageAllocator.h"

#include <QtGlobal>

#include <cstdlib>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t kHugePageBytes = std::size_t(2) << 20;
// Below this the heap is as good: a huge page would be mostly empty.
constexpr std::size_t kSmallestHugeAllocation = kHugePageBytes;

std::size_t roundUpToHugePage(std::size_t bytes)
{
    return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}

} // namespace

namespace HugePages {

#ifdef Q_OS_LINUX

void *allocate(std::size_t bytes)
{
    if (bytes < kSmallestHugeAllocation)
        return ::operator new(bytes);
    const std::size_t length = roundUpToHugePage(bytes);
    // Over-allocate by one huge page, then trim, so the region starts on a huge-page boundary.
    void *raw = mmap(nullptr, length + kHugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~std::uintptr_t(kHugePageBytes - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const std::size_t tail = start + kHugePageBytes - aligned;
    if (tail > 0)
        munmap(reinterpret_cast<void *>(aligned + length), tail);
    madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void *>(aligned);
}

void release(void *memory, std::size_t bytes)
{
    if (!memory)
        return;
    if (bytes < kSmallestHugeAllocation)
        ::operator delete(memory);
    else
        munmap(memory, roundUpToHugePage(bytes));
}

#else

void *allocate(std::size_t bytes)
{
    return ::operator new(bytes);
}

void release(void *memory, std::size_t)
{
    ::operator delete(memory);
}

#endif

} // namespace HugePages
