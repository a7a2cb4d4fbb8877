#pragma once
// FAT lookups for FAT12 and FAT16 (the whole FAT in memory) and FAT32 (read from the
// volume through a small sector cache, so a chain does not re-read the same
// FAT sector for every cluster).
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "image/SectorSource.h"

namespace salvage::fat {

class FatChain {
public:
    virtual ~FatChain() = default;
    // The next cluster of c's chain, or nothing at its end: an end mark, a
    // free or reserved entry, a bad-cluster mark, a number outside the
    // volume, or "Is Drive Formated..?" set.
    std::optional<std::uint32_t> next(std::uint32_t c);
    // The raw entry of cluster c (0 when outside the FAT).
    virtual std::uint32_t entry(std::uint32_t c) = 0;
    // Clusters are numbered 2 .. clusterLimit - 1.
    std::uint32_t clusterLimit = 0;
    // First value that ends a chain (end marks and the bad mark).
    std::uint32_t endFrom = 0;
};

class Fat16Chain : public FatChain {
public:
    std::vector<std::uint8_t> image;
    std::uint32_t entry(std::uint32_t c) override;
};

// 12-bit entries, two to three bytes: cluster c's entry starts at byte
// c * 3 / 2, in the low 12 bits of that 16-bit word for even c and the high
// 12 bits for odd c. End marks are 0xFF8-0xFFF, 0xFF7 the bad mark.
class Fat12Chain : public Fat16Chain {
public:
    std::uint32_t entry(std::uint32_t c) override;
};

// Lookups for a FAT of the given width (12 or 16) held in memory.
std::unique_ptr<Fat16Chain> makeSmallFatChain(unsigned bits);
// Entries a FAT of the given width holds in so many bytes.
inline std::uint64_t smallFatEntries(std::uint64_t bytes, unsigned bits) { return bits == 12 ? bytes * 2 / 3 : bytes / 2; }
// Bytes a FAT of the given width takes for so many entries.
inline std::uint64_t smallFatBytes(std::uint64_t entries, unsigned bits) {
    return bits == 12 ? (entries * 3 + 1) / 2 : entries * 2;
}

class Fat32Chain : public FatChain {
public:
    Fat32Chain(readWriteInterface& src, std::int64_t fatOffset, std::uint64_t fatBytes);
    std::uint32_t entry(std::uint32_t c) override;

private:
    // FAT bytes read per cache fill: 64 KiB, 16,384 entries.
    static constexpr std::uint32_t kBlockBytes = 64 * 1024;
    readWriteInterface& src_;
    std::int64_t fatOffset_;
    std::uint64_t fatBytes_;
    std::int64_t cachedBlock_ = -1;
    std::vector<std::uint8_t> cache_;
};

}  // namespace salvage::fat
