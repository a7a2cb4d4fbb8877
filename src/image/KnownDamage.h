#pragma once
// The parts of an image a reader has found unreadable so far: byte ranges
// from the image's first byte (baseOffset not applied), kept sorted and
// merged. Readers add what a read could not deliver and take back what a
// later read delivered, so a large read that failed and was then retried
// sector by sector ends up marking only the sectors that failed. Listings
// ask it which files touch damage without reading their bytes. Reads may
// run on a worker while the list is asked on another thread, so every
// operation takes the lock; a read that finds the record empty only loads
// one flag.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace salvage {

struct ImageRange {
    enum class Kind { Unreadable, PastEnd };
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    Kind kind = Kind::Unreadable;
};

class KnownDamage {
public:
    KnownDamage() = default;
    KnownDamage(const KnownDamage& o);
    KnownDamage& operator=(const KnownDamage& o);

    void add(std::uint64_t offset, std::uint64_t length);
    void remove(std::uint64_t offset, std::uint64_t length);
    void clear();
    bool empty() const { return !any_.load(std::memory_order_acquire); }
    // Appends the parts of [offset, offset + length) that are known bad, in
    // order, clipped to it.
    void overlapping(std::uint64_t offset, std::uint64_t length, std::vector<ImageRange>& out) const;
    std::vector<ImageRange> all() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::uint64_t> ranges_;  // start -> end (exclusive), disjoint, not touching
    std::atomic<bool> any_{false};
};

}  // namespace salvage
