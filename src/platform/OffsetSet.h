#pragma once
// A set of 64-bit offsets that answers "seen before?" in one probe or a few:
// open addressing in one flat array whose size is a power of two, so an
// insert costs neither a node allocation nor a division. The rebuilds of
// the FAT and exFAT Advanced modes ask it once for every slot they take.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

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

    // Fibonacci hashing: the top bits of the product pick the slot.
    std::size_t home(std::int64_t k) const {
        return std::size_t((std::uint64_t(k) * 0x9E3779B97F4A7C15ull) >> shift_);
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
        std::vector<std::int64_t> old(cap, kEmpty);
        old.swap(slots_);
        shift_ = 64;
        for (std::size_t c = cap; c > 1; c /= 2) --shift_;
        for (std::int64_t k : old)
            if (k != kEmpty) place(k);
    }

    std::vector<std::int64_t> slots_;
    std::size_t count_ = 0;
    unsigned shift_ = 64;
    bool hasEmptyKey_ = false;
};

}  // namespace salvage
