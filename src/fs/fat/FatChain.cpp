#include "fs/fat/FatChain.h"

#include <algorithm>

#include "image/Globals.h"
#include "platform/ByteView.h"

namespace salvage::fat {

std::optional<std::uint32_t> FatChain::next(std::uint32_t c) {
    if (g_driveFormatted.load()) return std::nullopt;
    if (c < 2 || c >= clusterLimit) return std::nullopt;
    const std::uint32_t v = entry(c);
    if (v < 2 || v >= endFrom || v >= clusterLimit) return std::nullopt;
    return v;
}

std::uint32_t Fat16Chain::entry(std::uint32_t c) {
    return le16(ByteView(image), std::size_t(c) * 2);
}

std::uint32_t Fat12Chain::entry(std::uint32_t c) {
    const std::uint32_t pair = le16(ByteView(image), std::size_t(c) + c / 2);
    return (c & 1) ? pair >> 4 : pair & 0x0FFF;
}

std::unique_ptr<Fat16Chain> makeSmallFatChain(unsigned bits) {
    std::unique_ptr<Fat16Chain> chain;
    if (bits == 12) chain = std::make_unique<Fat12Chain>();
    else chain = std::make_unique<Fat16Chain>();
    chain->endFrom = bits == 12 ? 0x0FF7 : 0xFFF7;
    return chain;
}

Fat32Chain::Fat32Chain(readWriteInterface& src, std::int64_t fatOffset, std::uint64_t fatBytes)
    : src_(src), fatOffset_(fatOffset), fatBytes_(fatBytes) {}

std::uint32_t Fat32Chain::entry(std::uint32_t c) {
    const std::uint64_t at = std::uint64_t(c) * 4;
    if (at + 4 > fatBytes_) return 0;
    const std::int64_t block = std::int64_t(at / kBlockBytes);
    if (block != cachedBlock_) {
        const std::uint64_t start = std::uint64_t(block) * kBlockBytes;
        const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(kBlockBytes, fatBytes_ - start));
        cache_.assign(n, 0);
        readAt(src_, fatOffset_ + std::int64_t(start), cache_.data(), n);
        cachedBlock_ = block;
    }
    return le32(ByteView(cache_), std::size_t(at % kBlockBytes)) & 0x0FFFFFFF;
}

}  // namespace salvage::fat
