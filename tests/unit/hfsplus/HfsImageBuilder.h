#pragma once
// Builds small HFS+ volumes in memory, byte by byte, for the cases real
// tools do not make: fragmented files with and without overflow records,
// fragmented catalogs, duplicate IDs, crowded leaves and damaged nodes.
#include <cstdint>
#include <string>
#include <vector>

namespace salvage::test {

struct HfsExtent {
    std::uint32_t start = 0, count = 0;
};

struct HfsRec {
    bool folder = false;
    std::uint32_t parent = 0, cnid = 0;
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t totalBlocks = 0;
    std::vector<HfsExtent> extents;  // at most eight
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint16_t mode = 0;
};

struct HfsOverflowRec {
    std::uint32_t fileId = 0, startBlock = 0;
    std::uint8_t forkType = 0;
    std::vector<HfsExtent> extents;
};

class HfsImageBuilder {
public:
    std::uint32_t blockSize = 4096;
    std::uint32_t nodeSize = 4096;
    std::uint32_t totalBlocks = 256;
    // Where the catalog file's nodes lie, in the volume header's order.
    std::vector<HfsExtent> catalogExtents{{16, 8}};
    // Extra catalog extents recorded as overflow records of file ID 4.
    std::vector<HfsExtent> catalogOverflowExtents;
    // Each inner list is one catalog leaf node (nodes 1, 2, ...).
    std::vector<std::vector<HfsRec>> leaves;
    std::vector<HfsOverflowRec> overflow;
    // Header-record overrides (0: computed).
    std::uint32_t totalNodesOverride = 0;

    std::vector<std::uint8_t> build() const;

    // Writes a node's bytes: descriptor, records, offsets from the end.
    static std::vector<std::uint8_t> node(std::uint32_t nodeSize, std::int8_t kind, std::uint8_t height,
                                          const std::vector<std::vector<std::uint8_t>>& records);
    static std::vector<std::uint8_t> catalogRecord(const HfsRec& r);
    static std::vector<std::uint8_t> overflowRecord(const HfsOverflowRec& r);
    static std::vector<std::uint8_t> headerRecord(std::uint32_t nodeSize, std::uint32_t totalNodes);
    // The volume byte offset of catalog node n.
    std::uint64_t catalogNodeOffset(std::uint32_t n) const;
    // The volume byte offset of a byte of the catalog file.
    std::uint64_t blockOffset(std::uint64_t fileByte) const;
    static void put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v);
    static void put16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v);
    static void put64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v);
};

// Deterministic bytes for file contents.
std::vector<std::uint8_t> patternBytes(std::size_t n, std::uint32_t seed);

}  // namespace salvage::test
