#pragma once
// ext2/ext3/ext4 on-disk layout: the superblock fields the parser uses, the
// group descriptor's inode-table block, and the inode fields. Pure decoding
// over byte views; the parser class does the reads.
#include <cstdint>
#include <optional>

#include "platform/ByteView.h"

namespace salvage::ext {

inline constexpr std::uint16_t kSuperblockMagic = 0xEF53;
inline constexpr std::uint32_t kSuperblockBytes = 1024;
// Block sizes above this make a candidate superblock invalid.
inline constexpr std::uint64_t kMaxBlockSize = 8192;
inline constexpr std::uint32_t kIncompatFileType = 0x0002;
inline constexpr std::uint32_t kIncompat64Bit = 0x0080;
// Revision-0 volumes leave the inode size field 0; their inodes are 128 bytes.
inline constexpr std::uint32_t kRevision0InodeSize = 128;
// A group's inodes are tracked by a one-block bitmap, so no group holds more
// than 8 x blockSize of them; tables beyond this size are not real.
inline constexpr std::uint64_t kMaxInodeTableBytes = 64ull << 20;
// The descriptor table of a 128 TiB volume at 4 KiB blocks with 64-byte
// descriptors; a larger one is a damaged block count.
inline constexpr std::uint64_t kMaxDescriptorTableBytes = 64ull << 20;

inline constexpr std::uint16_t kModeFolder = 0x4000;
inline constexpr std::uint16_t kModeFile = 0x8000;
inline constexpr std::uint16_t kModeTypeMask = 0xF000;
inline constexpr std::uint16_t kModeSymlink = 0xA000;
inline constexpr std::uint32_t kInodeFlagExtents = 0x80000;
inline constexpr std::uint32_t kInodeFlagInlineData = 0x10000000;
// The inode's block area: fifteen block pointers or an extent tree root.
inline constexpr std::size_t kInodeBlockArea = 40;
inline constexpr std::size_t kInodeBlockAreaBytes = 60;

// What the parser takes from the superblock it found.
struct Geometry {
    std::uint32_t inodeCount = 0;
    std::uint64_t blockCount = 0;
    std::uint32_t firstDataBlock = 0;
    std::uint32_t blockSize = 0;  // 0 when the exponent is out of range
    std::uint32_t blocksPerGroup = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint32_t inodeSize = 0;  // 128 for revision-0 volumes
    std::uint32_t incompat = 0;
    std::uint32_t roCompat = 0;
    std::uint32_t groupCount = 0;
    std::uint32_t descriptorSize = 32;
    bool typedDirEntries = false;
    bool is64Bit = false;
    bool magicOk = false;

    // Magic and block size, the test of a candidate superblock.
    bool valid() const { return magicOk && blockSize > 0 && blockSize <= kMaxBlockSize; }
};

Geometry decodeSuperblock(ByteView sb);

// Whether the geometry can be read without absurd allocations: inode size
// and counts per group as a real volume has them, and every inode table
// fitting inside the volume.
bool geometryUsable(const Geometry& g, std::uint64_t volumeBytes);

// The inode-table block of a group descriptor (high part on 64-bit volumes).
std::uint64_t descriptorInodeTable(ByteView desc, const Geometry& g);

// The version message for the read-only-compatible features, or empty.
const char16_t* versionText(std::uint32_t roCompat);

struct InodeFields {
    std::uint16_t mode = 0;
    std::uint64_t size = 0;
    std::uint32_t accessTime = 0, changeTime = 0, modificationTime = 0;
    std::uint32_t accessNanos = 0, changeNanos = 0, modificationNanos = 0;
    std::uint32_t flags = 0;
    std::uint32_t uid = 0, gid = 0;
    // Large ext4 inodes keep a creation time in their extra area.
    std::optional<std::uint32_t> creationTime;
    std::uint32_t creationNanos = 0;
};
InodeFields decodeInode(ByteView inode);

}  // namespace salvage::ext
