#pragma once
// The blocks of one inode: a block map (twelve direct pointers, then single,
// double and triple indirect blocks) or an extent tree (index nodes
// followed). The result keeps each run's place in the file, so holes and
// unwritten extents stay holes instead of moving later data up.
#include <cstdint>
#include <functional>
#include <vector>

#include "fs/ext/ExtLayout.h"

namespace salvage::ext {

struct BlockRun {
    std::uint64_t logical = 0;   // first file block of the run
    std::uint64_t physical = 0;  // first volume block
    std::uint64_t count = 0;
    bool unwritten = false;      // preallocated extent: reads as zeros
};

// Reads one whole block into out (resized to blockSize); false on failure.
using BlockReader = std::function<bool(std::uint64_t block, std::vector<std::uint8_t>& out)>;

// The deepest extent tree a volume has (ext4 allows depth 5).
inline constexpr unsigned kMaxExtentDepth = 5;
// Extent lengths above this mark an unwritten extent.
inline constexpr std::uint16_t kUnwrittenExtentBase = 32768;

struct CollectLimits {
    std::uint64_t fileBlocks = 0;  // file blocks within the inode's size
    // Blocks the walk may read or list in all: a file cannot own more blocks
    // than the volume has, so hostile pointer trees end here.
    std::uint64_t budget = 0;
};

// Fills runs (cleared first) with the inode's blocks below limits.fileBlocks.
void collectBlocks(ByteView inode, const Geometry& g, const CollectLimits& limits, const BlockReader& read,
                   std::vector<BlockRun>& runs);

}  // namespace salvage::ext
