// SPDX-License-Identifier: GPL-3.0-or-later
#include "HugePages.h"

#include <algorithm>
#include <cstdint>

#if !defined(PELLISOR_PORTABLE_IO)
#include <sys/mman.h>
#endif

// glibc maps every block of 32 MiB or more by itself; elsewhere that cannot be counted on.
#if defined(MADV_HUGEPAGE) && defined(__GLIBC__) && !defined(PELLISOR_PORTABLE_IO)

namespace {

constexpr std::size_t kHugePageBytes = std::size_t(2) << 20;
// glibc's largest threshold for mapping a block by itself, and a page for its header.
constexpr std::size_t kOwnMappingBytes = (std::size_t(32) << 20) + 4096;

std::uintptr_t roundDown(std::uintptr_t at)
{
    return at & ~std::uintptr_t(kHugePageBytes - 1);
}

std::uintptr_t roundUp(std::uintptr_t at)
{
    return roundDown(at + kHugePageBytes - 1);
}

} // namespace

std::size_t HugePages::heapRequest(std::size_t bytes)
{
    return std::max(bytes, kOwnMappingBytes);
}

void HugePages::advise(void *block, std::size_t bytes)
{
    const std::uintptr_t begin = roundUp(std::uintptr_t(block));
    const std::uintptr_t end = roundDown(std::uintptr_t(block) + bytes);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

void *HugePages::allocate(std::size_t bytes)
{
    const std::size_t length = roundUp(heapRequest(bytes));
    void *block = ::operator new(length, std::align_val_t(kHugePageBytes));
    advise(block, length);
    return block;
}

void HugePages::release(void *block) noexcept
{
    ::operator delete(block, std::align_val_t(kHugePageBytes));
}

void HugePages::discard(void *at, std::size_t bytes)
{
    const std::uintptr_t begin = roundUp(std::uintptr_t(at));
    const std::uintptr_t end = roundDown(std::uintptr_t(at) + bytes);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
}

#else

std::size_t HugePages::heapRequest(std::size_t bytes)
{
    return bytes;
}

void HugePages::advise(void *, std::size_t)
{
}

void *HugePages::allocate(std::size_t bytes)
{
    return ::operator new(bytes);
}

void HugePages::release(void *block) noexcept
{
    ::operator delete(block);
}

void HugePages::discard(void *, std::size_t)
{
}

#endif
