#pragma once
// A set of 64-bit offsets that answers "seen before?" in one probe or a few:
// open addressing in one flat array whose size is a power of two, so an
// insert costs neither a node allocation nor a division. The rebuilds of
// the FAT and exFAT Advanced modes ask it once for every slot they take.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/LargeTables.h"

namespace salvage {

class OffsetSet {
public:
    void clear() {
        slots_.clear();
        count_ = 0;
        hasEmptyKey_ = false;
    }
    // Room for n offsets without growing.
    void reserve(std::size_t n) {
        std::size_t cap = 16;
        while (cap / 2 < n) cap *= 2;
        if (cap > slots_.size()) rehash(cap);
    }
    // Adds k; true when it was not in the set before.
    bool insert(std::int64_t k) {
        if (k == kEmpty) {
            const bool added = !hasEmptyKey_;
            hasEmptyKey_ = true;
            return added;
        }
        if ((count_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        if (!place(k)) return false;
        ++count_;
        return true;
    }
    std::size_t size() const { return count_ + (hasEmptyKey_ ? 1 : 0); }

private:
    static constexpr std::int64_t kEmpty = std::numeric_limits<std::int64_t>::min();

    // Offsets are mostly multiples of 32 and come in runs: the 128 slots of
    // 4 KiB of offsets lie side by side (a run is inserted in cache order),
    // and those 4 KiB blocks are spread over the table by Fibonacci hashing,
    // so runs elsewhere on the volume do not pile up behind each other.
    std::size_t home(std::int64_t k) const {
        const std::uint64_t u = std::uint64_t(k) >> 5;
        const unsigned low = bits_ < 7 ? bits_ : 7, high = bits_ - low;
        const std::uint64_t block = high ? ((u >> low) * 0x9E3779B97F4A7C15ull) >> (64 - high) : 0;
        return std::size_t((block << low) | (u & ((std::uint64_t(1) << low) - 1)));
    }
    // Puts k in its slot; false when it is there already.
    bool place(std::int64_t k) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = home(k);; i = (i + 1) & mask) {
            if (slots_[i] == k) return false;
            if (slots_[i] == kEmpty) {
                slots_[i] = k;
                return true;
            }
        }
    }
    void rehash(std::size_t cap) {
        LargeTable<std::int64_t> old(cap, kEmpty);
        old.swap(slots_);
        bits_ = 0;
        for (std::size_t c = cap; c > 1; c /= 2) ++bits_;
        for (std::int64_t k : old)
            if (k != kEmpty) place(k);
    }

    LargeTable<std::int64_t> slots_;
    std::size_t count_ = 0;
    unsigned bits_ = 0;
    bool hasEmptyKey_ = false;
};

}  // namespace salvage
