#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

// Large, short-lived arrays (a library's bytes and its parsed nodes) are backed by transparent huge pages where
// the system offers them: touching 250 MB of fresh memory page by page costs more than parsing it. Smaller
// requests go to the ordinary heap. Elements are default-initialised, so resize() does not clear memory that is
// about to be overwritten.
namespace HugePages {
void *allocate(std::size_t bytes);
void release(void *memory, std::size_t bytes);
} // namespace HugePages

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
        return static_cast<T *>(HugePages::allocate(n * sizeof(T)));
    }
    void deallocate(T *p, std::size_t n) noexcept { HugePages::release(p, n * sizeof(T)); }

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
