#include "platform/LargeTables.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace salvage {

#if defined(__linux__) && defined(MADV_HUGEPAGE)
namespace {
constexpr std::size_t kPage = 4096;
std::size_t mappedBytes(std::size_t bytes) { return (bytes + kPage - 1) & ~(kPage - 1); }
}  // namespace

void* allocateLargeTable(std::size_t bytes) {
    if (bytes < kLargeTableBytes) return ::operator new(bytes);
    const std::size_t size = mappedBytes(bytes);
    if (size > std::size_t(-1) - kLargeTableBytes) throw std::bad_alloc();
    // Map a huge page more than needed and keep the part that starts on a
    // huge page border, so that no page of the table is left out.
    void* raw = mmap(nullptr, size + kLargeTableBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const std::uintptr_t start = std::uintptr_t(raw);
    const std::uintptr_t aligned = (start + kLargeTableBytes - 1) & ~std::uintptr_t(kLargeTableBytes - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + size + kLargeTableBytes;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Advice only: a refusal leaves the table in ordinary pages.
    (void)madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void freeLargeTable(void* p, std::size_t bytes) {
    if (!p) return;
    if (bytes < kLargeTableBytes) ::operator delete(p);
    else munmap(p, mappedBytes(bytes));
}
#else
void* allocateLargeTable(std::size_t bytes) { return ::operator new(bytes); }
void freeLargeTable(void* p, std::size_t) { ::operator delete(p); }
#endif

}  // namespace salvage
