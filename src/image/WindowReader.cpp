#include "image/WindowReader.h"

#include <algorithm>

#include "image/ChunkedScan.h"

namespace salvage {

WindowReader::WindowReader(readWriteInterface& src, std::uint32_t window, std::uint32_t blockBytes)
    : src_(src), window_(window), blockBytes_(std::max(window, blockBytes)), single_(window) {}

ByteView WindowReader::at(std::int64_t offset, std::int64_t reachEnd) {
    const auto inBlock = [&] {
        return offset >= blockAt_ && offset + std::int64_t(window_) <= blockAt_ + std::int64_t(block_.size());
    };
    if (!inBlock()) {
        // The block stops at the image's end, where the source knows it, so
        // that the last windows are still served from one read.
        std::int64_t n = blockBytes_;
        if (reachEnd > offset) n = std::min(n, std::max(reachEnd - offset, std::int64_t(window_)));
        if (const std::int64_t end = imageEndOf(src_); end >= 0) n = std::min(n, end - offset);
        block_.clear();
        if (n >= std::int64_t(window_)) {
            block_.resize(std::size_t(n));
            blockAt_ = offset;
            if (!readAt(src_, offset, block_.data(), std::uint32_t(n))) block_.clear();
        }
    }
    if (inBlock()) {
        ok_ = true;
        return ByteView(block_.data() + (offset - blockAt_), window_);
    }
    std::fill(single_.begin(), single_.end(), 0);
    ok_ = readAt(src_, offset, single_.data(), window_);
    return ByteView(single_);
}

}  // namespace salvage
