// Pure decoding: superblock geometry, block lists of block maps and extent
// trees (holes, unwritten extents, index nodes, hostile trees), and the
// directory-block walk in both layouts.
#include <gtest/gtest.h>

#include <map>

#include "fs/ext/ExtBlocks.h"
#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtLayout.h"

using namespace salvage;
using namespace salvage::ext;

namespace {

std::vector<std::uint8_t> superblock(std::uint32_t exponent, std::uint16_t inodeSize = 256) {
    std::vector<std::uint8_t> sb(1024, 0);
    storeLe32(sb, 0, 2048);
    storeLe32(sb, 4, 8192 + 100);  // a trailing partial group
    storeLe32(sb, 24, exponent);
    storeLe32(sb, 32, 8192);
    storeLe32(sb, 40, 1024);
    storeLe16(sb, 56, kSuperblockMagic);
    storeLe16(sb, 88, inodeSize);
    return sb;
}

Geometry geometry1k(bool is64 = false) {
    Geometry g = decodeSuperblock(ByteView(superblock(0)));
    g.is64Bit = is64;
    return g;
}

// Blocks of a fake volume, 1 KiB each; missing blocks read as failures.
struct FakeVolume {
    std::map<std::uint64_t, std::vector<std::uint8_t>> blocks;
    std::uint64_t reads = 0;
    std::vector<std::uint8_t>& block(std::uint64_t n) {
        auto& b = blocks[n];
        b.resize(1024, 0);
        return b;
    }
    BlockReader reader() {
        return [this](std::uint64_t n, std::vector<std::uint8_t>& out) {
            ++reads;
            auto it = blocks.find(n);
            if (it == blocks.end()) return false;
            out = it->second;
            return true;
        };
    }
};

std::vector<std::uint8_t> inodeWith(std::uint32_t flags) {
    std::vector<std::uint8_t> in(256, 0);
    storeLe32(in, 32, flags);
    return in;
}

void extentHeader(std::span<std::uint8_t> at, std::uint16_t entries, std::uint16_t depth) {
    storeLe16(at, 0, 0xF30A);
    storeLe16(at, 2, entries);
    storeLe16(at, 4, 4);
    storeLe16(at, 6, depth);
}

void leaf(std::span<std::uint8_t> node, int i, std::uint32_t logical, std::uint16_t len, std::uint64_t start) {
    std::size_t o = 12 + 12 * i;
    storeLe32(node, o, logical);
    storeLe16(node, o + 4, len);
    storeLe16(node, o + 6, std::uint16_t(start >> 32));
    storeLe32(node, o + 8, std::uint32_t(start));
}

void index(std::span<std::uint8_t> node, int i, std::uint32_t logical, std::uint64_t child) {
    std::size_t o = 12 + 12 * i;
    storeLe32(node, o, logical);
    storeLe32(node, o + 4, std::uint32_t(child));
    storeLe16(node, o + 8, std::uint16_t(child >> 32));
}

std::uint64_t totalBlocks(const std::vector<BlockRun>& runs) {
    std::uint64_t n = 0;
    for (auto& r : runs) n += r.count;
    return n;
}

}  // namespace

TEST(ExtGeometry, BlockSizesGroupsAndInodeSizes) {
    Geometry g = decodeSuperblock(ByteView(superblock(0)));
    EXPECT_TRUE(g.valid());
    EXPECT_EQ(g.blockSize, 1024u);
    EXPECT_EQ(g.groupCount, 2u);  // the trailing partial group counts
    EXPECT_TRUE(decodeSuperblock(ByteView(superblock(3))).valid());   // 8192
    EXPECT_FALSE(decodeSuperblock(ByteView(superblock(4))).valid());  // 16384 refused
    EXPECT_FALSE(decodeSuperblock(ByteView(superblock(31))).valid());
    EXPECT_EQ(decodeSuperblock(ByteView(superblock(0, 0))).inodeSize, 128u);  // revision 0
    auto bad = superblock(0);
    bad[56] = 0;
    EXPECT_FALSE(decodeSuperblock(ByteView(bad)).valid());

    EXPECT_TRUE(geometryUsable(g, 32u << 20));
    EXPECT_FALSE(geometryUsable(g, 256u << 10));  // inode tables larger than the volume
    auto odd = superblock(0, 200);
    EXPECT_FALSE(geometryUsable(decodeSuperblock(ByteView(odd)), 32u << 20));
    auto many = superblock(0);
    storeLe32(many, 40, 8 * 1024 + 1);  // more inodes than one bitmap block tracks
    EXPECT_FALSE(geometryUsable(decodeSuperblock(ByteView(many)), 1ull << 40));
    auto zero = superblock(0);
    storeLe32(zero, 32, 0);
    EXPECT_EQ(decodeSuperblock(ByteView(zero)).groupCount, 0u);
    EXPECT_FALSE(geometryUsable(decodeSuperblock(ByteView(zero)), 32u << 20));
}

TEST(ExtGeometry, SixtyFourBitDescriptors) {
    auto sb = superblock(2);
    storeLe32(sb, 96, kIncompat64Bit | kIncompatFileType);
    storeLe16(sb, 254, 64);
    Geometry g = decodeSuperblock(ByteView(sb));
    EXPECT_EQ(g.descriptorSize, 64u);
    EXPECT_TRUE(g.typedDirEntries);
    std::vector<std::uint8_t> desc(64, 0);
    storeLe32(desc, 8, 0x1234);
    storeLe32(desc, 0x28, 1);
    EXPECT_EQ(descriptorInodeTable(ByteView(desc), g), 0x100001234ull);
    // Without the feature the descriptor is 32 bytes and its high half unused.
    storeLe32(sb, 96, 0);
    Geometry g32 = decodeSuperblock(ByteView(sb));
    EXPECT_EQ(g32.descriptorSize, 32u);
    EXPECT_EQ(descriptorInodeTable(ByteView(desc), g32), 0x1234u);
}

TEST(ExtGeometry, VersionTexts) {
    EXPECT_EQ(std::u16string(versionText(0)), u"ext 2 file System");
    EXPECT_EQ(std::u16string(versionText(3)), u"ext 3 file System");
    EXPECT_EQ(std::u16string(versionText(0x7B)), u"ext 4 file System");
    EXPECT_EQ(std::u16string(versionText(0x7F)), u"");
}

TEST(ExtBlocks, BlockMapKeepsHolesInPlaceAndCutsAtSize) {
    FakeVolume v;
    Geometry g = geometry1k();
    auto in = inodeWith(0);
    storeLe32(in, 40, 500);  // block 0
    storeLe32(in, 48, 501);  // block 2; block 1 is a hole
    storeLe32(in, 88, 600);  // single indirect
    auto& ind = v.block(600);
    storeLe32(ind, 4, 700);  // file block 13; 12 is a hole
    storeLe32(ind, 8, 701);
    std::vector<BlockRun> runs;
    collectBlocks(ByteView(in), g, {14, 1000}, v.reader(), runs);  // file blocks 0..13
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].logical, 0u);
    EXPECT_EQ(runs[1].logical, 2u);
    EXPECT_EQ(runs[1].physical, 501u);
    EXPECT_EQ(runs[2].logical, 13u);
    EXPECT_EQ(runs[2].count, 1u);  // block 14 lies past the size
}

TEST(ExtBlocks, DoubleAndTripleIndirectPositions) {
    FakeVolume v;
    Geometry g = geometry1k();
    auto in = inodeWith(0);
    storeLe32(in, 92, 800);  // double indirect: file blocks 12 + 256 ...
    storeLe32(v.block(800), 4, 801);
    storeLe32(v.block(801), 0, 900);
    storeLe32(in, 96, 810);  // triple: from 12 + 256 + 65536
    storeLe32(v.block(810), 0, 811);
    storeLe32(v.block(811), 0, 812);
    storeLe32(v.block(812), 8, 901);
    std::vector<BlockRun> runs;
    collectBlocks(ByteView(in), g, {1u << 20, 10000}, v.reader(), runs);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].logical, 12u + 256 + 256);
    EXPECT_EQ(runs[0].physical, 900u);
    EXPECT_EQ(runs[1].logical, 12u + 256 + 65536 + 2);
    EXPECT_EQ(runs[1].physical, 901u);
}

TEST(ExtBlocks, SelfReferencingIndirectBlocksEndWithinBudget) {
    FakeVolume v;
    Geometry g = geometry1k();
    auto in = inodeWith(0);
    for (int i = 0; i < 15; ++i) storeLe32(in, 40 + 4 * i, 1000);
    auto& loop = v.block(1000);
    for (int i = 0; i < 256; ++i) storeLe32(loop, 4 * i, 1000);
    std::vector<BlockRun> runs;
    std::uint64_t used = collectBlocks(ByteView(in), g, {UINT64_MAX / 2, 5000}, v.reader(), runs);
    EXPECT_LE(used, 5000u);
    EXPECT_LE(totalBlocks(runs) + v.reads, 5000u + 1);
}

TEST(ExtBlocks, ExtentsInInodeUnwrittenAndCountBoundedByArea) {
    FakeVolume v;
    Geometry g = geometry1k();
    auto in = inodeWith(kInodeFlagExtents);
    std::span<std::uint8_t> area(in.data() + 40, 60);
    extentHeader(area, 200, 0);  // claims 200 entries; the area holds four
    leaf(area, 0, 0, 3, 100);
    leaf(area, 1, 10, 32768 + 2, 200);  // unwritten
    leaf(area, 2, 20, 1, 300);
    leaf(area, 3, 30, 1, 400);
    std::vector<BlockRun> runs;
    collectBlocks(ByteView(in), g, {100, 1000}, v.reader(), runs);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].count, 3u);
    EXPECT_TRUE(runs[1].unwritten);
    EXPECT_EQ(runs[1].count, 2u);
    EXPECT_EQ(runs[3].logical, 30u);
    EXPECT_EQ(v.reads, 0u);
    // A bad magic or a zero count gives nothing.
    storeLe16(area, 2, 0);
    collectBlocks(ByteView(in), g, {100, 1000}, v.reader(), runs);
    EXPECT_TRUE(runs.empty());
}

TEST(ExtBlocks, IndexNodesAreFollowedAndHighStartUsedOn64Bit) {
    FakeVolume v;
    auto in = inodeWith(kInodeFlagExtents);
    std::span<std::uint8_t> area(in.data() + 40, 60);
    extentHeader(area, 2, 1);
    index(area, 0, 0, 50);
    index(area, 1, 100, 51);
    auto& a = v.block(50);
    extentHeader(a, 2, 0);
    leaf(a, 0, 0, 4, 1000);
    leaf(a, 1, 10, 4, (1ull << 32) | 2000);
    auto& b = v.block(51);
    extentHeader(b, 1, 0);
    leaf(b, 0, 100, 5, 3000);
    std::vector<BlockRun> runs;
    collectBlocks(ByteView(in), geometry1k(true), {1000, 1000}, v.reader(), runs);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1].physical, (1ull << 32) | 2000);
    EXPECT_EQ(runs[2].logical, 100u);
    collectBlocks(ByteView(in), geometry1k(false), {1000, 1000}, v.reader(), runs);
    EXPECT_EQ(runs[1].physical, 2000u);
}

TEST(ExtBlocks, LoopingOrMislabelledExtentTreesEnd) {
    FakeVolume v;
    auto in = inodeWith(kInodeFlagExtents);
    std::span<std::uint8_t> area(in.data() + 40, 60);
    extentHeader(area, 4, 2);
    for (int i = 0; i < 4; ++i) index(area, i, 0, 60);
    // Block 60 claims depth 1 and points at itself: its children must have
    // depth 0, so the loop is refused at the first step.
    auto& self = v.block(60);
    extentHeader(self, 84, 1);
    for (int i = 0; i < 84; ++i) index(self, i, 0, 60);
    std::vector<BlockRun> runs;
    collectBlocks(ByteView(in), geometry1k(), {UINT32_MAX, 1u << 20}, v.reader(), runs);
    EXPECT_TRUE(runs.empty());
    EXPECT_LE(v.reads, 4u + 4 * 84);
    // A depth beyond the cap is refused outright.
    extentHeader(area, 1, 9);
    v.reads = 0;
    collectBlocks(ByteView(in), geometry1k(), {UINT32_MAX, 1u << 20}, v.reader(), runs);
    EXPECT_EQ(v.reads, 0u);
}

namespace {
void entry(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t inode, std::uint16_t recLen,
           const std::string& name, std::uint8_t type) {
    storeLe32(b, off, inode);
    storeLe16(b, off + 4, recLen);
    b[off + 6] = std::uint8_t(name.size());
    b[off + 7] = type;
    std::copy(name.begin(), name.end(), b.begin() + off + 8);
}
}  // namespace

TEST(ExtDirectory, TypedWalkStopsAndTypes) {
    std::vector<std::uint8_t> b(1024, 0);
    entry(b, 0, 2, 12, ".", 2);
    entry(b, 12, 2, 12, "..", 2);
    entry(b, 24, 12, 16, "file.txt", 1);
    entry(b, 40, 999, 984, "far", 2);  // inode beyond entryCount: the walk ends
    std::vector<std::string> names;
    std::vector<std::pair<std::uint32_t, int>> types;
    walkDirectoryBlock(ByteView(b), true, 100, [&](std::uint32_t i, std::uint8_t t) { types.push_back({i, t}); },
                       [&](const DirEntry& e) { names.emplace_back(e.name); });
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "file.txt"}));
    ASSERT_EQ(types.size(), 4u);  // the stopping entry's type is still seen
    // A name that runs past the block ends the walk without reading outside.
    std::vector<std::uint8_t> c(16, 0);
    entry(c, 0, 5, 16, "abcdefgh", 1);
    c[6] = 200;
    names.clear();
    walkDirectoryBlock(ByteView(c), true, 100, nullptr, [&](const DirEntry& e) { names.emplace_back(e.name); });
    EXPECT_TRUE(names.empty());
    // A record length shorter than the entry advances by the entry's size.
    std::vector<std::uint8_t> d(64, 0);
    entry(d, 0, 5, 4, "ab", 1);
    entry(d, 12, 6, 52, "cd", 1);
    names.clear();
    walkDirectoryBlock(ByteView(d), true, 100, nullptr, [&](const DirEntry& e) { names.emplace_back(e.name); });
    EXPECT_EQ(names, (std::vector<std::string>{"ab", "cd"}));
}

TEST(ExtDirectory, UntypedWalk) {
    std::vector<std::uint8_t> b(1024, 0);
    storeLe32(b, 0, 11);
    storeLe16(b, 4, 20);
    storeLe16(b, 6, 5);
    std::copy_n("hello", 5, b.begin() + 8);
    storeLe32(b, 20, 12);
    storeLe16(b, 24, 1004);
    storeLe16(b, 26, 1025);  // over-long name ends the walk
    std::vector<std::string> names;
    walkDirectoryBlock(ByteView(b), false, 100, nullptr, [&](const DirEntry& e) { names.emplace_back(e.name); });
    EXPECT_EQ(names, (std::vector<std::string>{"hello"}));
}
