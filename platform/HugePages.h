// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <new>
#include <utility>

// Large, short-lived blocks that are written once (a library's bytes, its parsed nodes, a song list's body) are
// backed by transparent huge pages where the system offers them: touching hundreds of megabytes of fresh memory
// a small page at a time costs more than filling it, several times more on a virtual machine. The only place that
// asks for huge pages; with PELLISOR_PORTABLE_IO, or where the system has no such advice, blocks are ordinary heap.
//
// They stay on for the list a handset usually meets, the first after a pause: on a virtual machine the host takes
// back memory a process gave up, and touching it again is dear either way, yet far dearer a small page at a time.
// A list of 100,000 tracks after 10 s of idleness, with huge pages and without (the whole server refused them),
// measured alternately in the same minutes on a shared 2-core machine: 502, 594 and 621 ms against 1954, 2073 and
// 2052 ms. `make bench` keeps measuring it.
namespace HugePages {

// Below this a block is left to the heap as it is: its huge pages would be mostly empty.
inline constexpr std::size_t worthwhileBytes = std::size_t(4) << 20;

// What to ask the heap for to hold `bytes` (at least worthwhileBytes) in a mapping of its own, as huge pages
// need: under small allocations in the heap they would linger. Only the pages written become memory.
std::size_t heapRequest(std::size_t bytes);

// Asks for huge pages under the whole huge pages that [block, block + bytes) spans. A hint: nothing else changes.
void advise(void *block, std::size_t bytes);

// A block of at least `bytes` (worthwhileBytes or more) from the heap, in a mapping of its own that starts and
// ends on huge-page boundaries, with huge pages asked for: none of it is left to small pages. Given back with
// release().
void *allocate(std::size_t bytes);
void release(void *block) noexcept;

// Gives the memory of the whole huge pages inside [at, at + bytes) of a block from allocate() back to the system,
// whose contents nobody will read again; they read as zeros if they are. Elsewhere it does nothing.
void discard(void *at, std::size_t bytes);

} // namespace HugePages

// A standard allocator for large arrays: blocks of HugePages::worthwhileBytes or more get huge pages. Elements
// are default-initialised, so resize() does not clear memory that is about to be overwritten.
template <typename T>
class HugePageAllocator
{
public:
    using value_type = T;

    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U> &) noexcept { }

    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < HugePages::worthwhileBytes)
            return static_cast<T *>(::operator new(bytes));
        return static_cast<T *>(HugePages::allocate(bytes));
    }
    void deallocate(T *p, std::size_t n) noexcept
    {
        if (n * sizeof(T) < HugePages::worthwhileBytes)
            ::operator delete(p);
        else
            HugePages::release(p);
    }

    template <typename U, typename... Args>
    void construct(U *p, Args &&...args)
    {
        if constexpr (sizeof...(Args) == 0)
            ::new (static_cast<void *>(p)) U;
        else
            ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const HugePageAllocator<U> &) const noexcept { return true; }
};
