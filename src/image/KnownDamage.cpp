#include "image/KnownDamage.h"

#include <algorithm>

namespace salvage {

namespace {
// The end of [offset, offset + length), saturated instead of wrapped.
std::uint64_t endOf(std::uint64_t offset, std::uint64_t length) {
    return length > UINT64_MAX - offset ? UINT64_MAX : offset + length;
}
}  // namespace

KnownDamage::KnownDamage(const KnownDamage& o) {
    std::lock_guard l(o.mutex_);
    ranges_ = o.ranges_;
    any_ = !ranges_.empty();
}

KnownDamage& KnownDamage::operator=(const KnownDamage& o) {
    if (this == &o) return *this;
    std::map<std::uint64_t, std::uint64_t> copy;
    {
        std::lock_guard l(o.mutex_);
        copy = o.ranges_;
    }
    std::lock_guard l(mutex_);
    ranges_ = std::move(copy);
    any_ = !ranges_.empty();
    return *this;
}

void KnownDamage::add(std::uint64_t offset, std::uint64_t length) {
    if (length == 0) return;
    std::uint64_t begin = offset, end = endOf(offset, length);
    std::lock_guard l(mutex_);
    auto it = ranges_.upper_bound(begin);
    // Already known (a reader tells the same range after every read): no change.
    if (it != ranges_.begin() && std::prev(it)->second >= end) return;
    // Swallow every range that overlaps or touches [begin, end).
    if (it != ranges_.begin() && std::prev(it)->second >= begin) --it;
    while (it != ranges_.end() && it->first <= end) {
        begin = std::min(begin, it->first);
        end = std::max(end, it->second);
        it = ranges_.erase(it);
    }
    ranges_.emplace(begin, end);
    any_.store(true, std::memory_order_release);
}

void KnownDamage::remove(std::uint64_t offset, std::uint64_t length) {
    if (length == 0 || empty()) return;
    const std::uint64_t begin = offset, end = endOf(offset, length);
    std::lock_guard l(mutex_);
    auto it = ranges_.upper_bound(begin);
    if (it != ranges_.begin() && std::prev(it)->second > begin) --it;
    while (it != ranges_.end() && it->first < end) {
        const std::uint64_t s = it->first, e = it->second;
        it = ranges_.erase(it);
        if (s < begin) ranges_.emplace(s, begin);
        if (e > end) it = ranges_.emplace(end, e).first;
    }
    any_.store(!ranges_.empty(), std::memory_order_release);
}

void KnownDamage::clear() {
    std::lock_guard l(mutex_);
    ranges_.clear();
    any_.store(false, std::memory_order_release);
}

void KnownDamage::overlapping(std::uint64_t offset, std::uint64_t length, std::vector<ImageRange>& out) const {
    if (length == 0 || empty()) return;
    const std::uint64_t end = endOf(offset, length);
    std::lock_guard l(mutex_);
    auto it = ranges_.upper_bound(offset);
    if (it != ranges_.begin() && std::prev(it)->second > offset) --it;
    for (; it != ranges_.end() && it->first < end; ++it) {
        const std::uint64_t s = std::max(it->first, offset), e = std::min(it->second, end);
        if (s < e) out.push_back({s, e - s, ImageRange::Kind::Unreadable});
    }
}

std::vector<ImageRange> KnownDamage::all() const {
    std::vector<ImageRange> out;
    std::lock_guard l(mutex_);
    for (const auto& [s, e] : ranges_) out.push_back({s, e - s, ImageRange::Kind::Unreadable});
    return out;
}

}  // namespace salvage
