#pragma once
// Large tables that fill as a parse goes. On Linux their memory is asked
// for in huge pages where the system allows that on request: first touching
// a table page by page can cost more than reading the records that fill it.
// Elsewhere, and for blocks under 2 MiB, this is the ordinary allocator.
#include <cstddef>
#include <new>
#include <vector>

namespace salvage {

// Blocks of this size or more are placed on huge page borders.
inline constexpr std::size_t kLargeTableBytes = std::size_t(2) << 20;

void* allocateLargeTable(std::size_t bytes);
void freeLargeTable(void* p, std::size_t bytes);

template <class T>
struct LargeTableAllocator {
    using value_type = T;
    LargeTableAllocator() = default;
    template <class U>
    LargeTableAllocator(const LargeTableAllocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocateLargeTable(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) { freeLargeTable(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const LargeTableAllocator<U>&) const { return true; }
};

template <class T>
using LargeTable = std::vector<T, LargeTableAllocator<T>>;

}  // namespace salvage
