#pragma once
// How much one recovered file may put on the host disk. Sparse runs and
// holes make a file larger than its volume, legitimately, but a damaged
// size field or run list can claim exabytes of zeros: a file is never
// written (and then digested) past this many times its volume's size, nor
// capped below 64 MiB.
#include <algorithm>
#include <cstdint>

#include "platform/ByteView.h"

namespace salvage {

inline constexpr std::uint64_t kSparseExpansion = 16;
inline constexpr std::uint64_t kMinWriteCap = std::uint64_t(64) << 20;

inline std::uint64_t maxWrittenFileBytes(std::uint64_t volumeBytes) {
    std::uint64_t cap = 0;
    if (!checkedMul(volumeBytes, kSparseExpansion, cap)) return UINT64_MAX;
    return std::max(cap, kMinWriteCap);
}

}  // namespace salvage
