#include "fs/ext/ExtLayout.h"

namespace salvage::ext {

Geometry decodeSuperblock(ByteView sb) {
    Geometry g;
    g.inodeCount = le32(sb, 0);
    g.blockCount = le32(sb, 4);
    g.firstDataBlock = le32(sb, 20);
    std::uint64_t bs = std::uint64_t(1024) << (le32(sb, 24) & 0x1F);
    g.blockSize = bs <= kMaxBlockSize ? std::uint32_t(bs) : 0;
    g.blocksPerGroup = le32(sb, 32);
    g.inodesPerGroup = le32(sb, 40);
    g.magicOk = le16(sb, 56) == kSuperblockMagic;
    g.inodeSize = le16(sb, 88);
    if (g.inodeSize == 0) g.inodeSize = kRevision0InodeSize;
    g.incompat = le32(sb, 96);
    g.roCompat = le32(sb, 100);
    g.typedDirEntries = (g.incompat & kIncompatFileType) != 0;
    g.is64Bit = (g.incompat & kIncompat64Bit) != 0;
    if (g.is64Bit) {
        g.blockCount |= std::uint64_t(le32(sb, 0x150)) << 32;  // s_blocks_count_hi
        std::uint16_t ds = le16(sb, 254);                     // s_desc_size
        if (ds >= 64 && ds <= 1024 && (ds & (ds - 1)) == 0) g.descriptorSize = ds;
    }
    if (g.blocksPerGroup > 0 && g.blockCount > g.firstDataBlock) {
        // A trailing partial group holds inodes too, so it counts.
        std::uint64_t groups = (g.blockCount - g.firstDataBlock + g.blocksPerGroup - 1) / g.blocksPerGroup;
        g.groupCount = groups > UINT32_MAX ? UINT32_MAX : std::uint32_t(groups);
    }
    return g;
}

bool geometryUsable(const Geometry& g, std::uint64_t volumeBytes) {
    if (!g.valid() || g.groupCount == 0 || g.inodesPerGroup == 0) return false;
    if (g.inodeSize < kRevision0InodeSize || g.inodeSize > g.blockSize || (g.inodeSize & (g.inodeSize - 1)) != 0)
        return false;
    if (g.inodesPerGroup > 8ull * g.blockSize) return false;
    std::uint64_t table = std::uint64_t(g.inodesPerGroup) * g.inodeSize;
    if (table > kMaxInodeTableBytes) return false;
    std::uint64_t all = 0, desc = 0;
    if (!checkedMul(table, std::uint64_t(g.groupCount), all) || all > volumeBytes) return false;
    if (!checkedMul(std::uint64_t(g.descriptorSize), std::uint64_t(g.groupCount), desc) ||
        desc > kMaxDescriptorTableBytes)
        return false;
    return true;
}

std::uint64_t descriptorInodeTable(ByteView desc, const Geometry& g) {
    std::uint64_t block = le32(desc, 8);
    if (g.is64Bit && g.descriptorSize >= 64) block |= std::uint64_t(le32(desc, 0x28)) << 32;
    return block;
}

const char16_t* versionText(std::uint32_t roCompat) {
    switch (roCompat) {
        case 0: return u"ext 2 file System";
        case 3: return u"ext 3 file System";
        case 0x7B: return u"ext 4 file System";
        default: return u"";
    }
}

InodeFields decodeInode(ByteView inode) {
    InodeFields f;
    f.mode = le16(inode, 0);
    f.size = le32(inode, 4) | (std::uint64_t(le32(inode, 108)) << 32);
    f.accessTime = le32(inode, 8);
    f.changeTime = le32(inode, 12);
    f.modificationTime = le32(inode, 16);
    f.flags = le32(inode, 32);
    // The high halves of the owner ids sit in the Linux part of osd2.
    f.uid = le16(inode, 2) | (std::uint32_t(le16(inode, 0x78)) << 16);
    f.gid = le16(inode, 0x18) | (std::uint32_t(le16(inode, 0x7A)) << 16);
    // Large inodes carry nanoseconds in their extra area (bits 2..31).
    std::uint16_t extra = inode.size() > 128 ? le16(inode, 128) : 0;
    auto nanos = [&](std::size_t off) -> std::uint32_t {
        if (extra < off + 4 - 128 || !inode.has(off, 4)) return 0;
        std::uint32_t n = le32(inode, off) >> 2;
        return n < 1000000000u ? n : 0;
    };
    f.changeNanos = nanos(0x84);
    f.modificationNanos = nanos(0x88);
    f.accessNanos = nanos(0x8C);
    if (extra >= 0x94 + 4 - 128 && inode.has(0x90, 8)) {
        f.creationTime = le32(inode, 0x90);
        f.creationNanos = nanos(0x94);
    }
    return f;
}

}  // namespace salvage::ext
