#include "fs/ext/ExtBlocks.h"

namespace salvage::ext {
namespace {

constexpr std::uint16_t kExtentMagic = 0xF30A;
constexpr std::size_t kExtentEntryBytes = 12;

class Collector {
public:
    Collector(const Geometry& g, const CollectLimits& l, const BlockReader& r, std::vector<BlockRun>& out)
        : g_(g), fileBlocks_(l.fileBlocks), budget_(l.budget), read_(r), runs_(out) {}

    void add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool unwritten) {
        if (logical >= fileBlocks_ || count == 0 || budget_ == 0) return;
        if (count > fileBlocks_ - logical) count = fileBlocks_ - logical;
        if (count > budget_) count = budget_;
        budget_ -= count;
        if (!runs_.empty()) {
            BlockRun& last = runs_.back();
            if (!unwritten && !last.unwritten && last.logical + last.count == logical &&
                last.physical + last.count == physical) {
                last.count += count;
                return;
            }
        }
        runs_.push_back({logical, physical, count, unwritten});
    }

    bool readBlock(std::uint64_t block, std::vector<std::uint8_t>& buf) {
        if (budget_ == 0) return false;
        --budget_;
        buf.assign(g_.blockSize, 0);
        return read_(block, buf);
    }

    bool exhausted() const { return budget_ == 0; }

    // Block map: `level` 0 is a data block, 1 a single indirect block, ...
    void mapPointer(std::uint32_t pointer, unsigned level, std::uint64_t logical) {
        if (pointer == 0 || logical >= fileBlocks_) return;  // a hole
        if (level == 0) {
            add(logical, pointer, 1, false);
            return;
        }
        std::vector<std::uint8_t> buf;
        if (!readBlock(pointer, buf)) return;
        const std::uint64_t perBlock = g_.blockSize / 4;
        std::uint64_t span = 1;
        for (unsigned i = 1; i < level; ++i) span *= perBlock;
        ByteView v(buf);
        for (std::uint64_t i = 0; i < perBlock && !exhausted(); ++i) {
            std::uint64_t at = logical + i * span;
            if (at >= fileBlocks_) break;
            mapPointer(le32(v, i * 4), level - 1, at);
        }
    }

    void blockMap(ByteView area) {
        for (unsigned i = 0; i < 12; ++i) mapPointer(le32(area, i * 4), 0, i);
        const std::uint64_t perBlock = g_.blockSize / 4;
        std::uint64_t logical = 12;
        std::uint64_t span = perBlock;
        for (unsigned level = 1; level <= 3 && !exhausted(); ++level) {
            mapPointer(le32(area, (11 + level) * 4), level, logical);
            logical += span;
            span *= perBlock;
        }
    }

    // One extent tree node; `expectDepth` is what the parent's depth implies
    // (-1 at the root, where any depth up to the cap is taken).
    void extentNode(ByteView node, int expectDepth) {
        if (le16(node, 0) != kExtentMagic) return;
        std::uint16_t entries = le16(node, 2);
        std::uint16_t depth = le16(node, 6);
        if (depth > kMaxExtentDepth) return;
        if (expectDepth >= 0 && depth != unsigned(expectDepth)) return;
        // The node's own bytes bound its entries, whatever the header says.
        std::size_t fit = node.size() >= kExtentEntryBytes ? (node.size() - kExtentEntryBytes) / kExtentEntryBytes : 0;
        if (entries > fit) entries = std::uint16_t(fit);
        for (std::size_t i = 0; i < entries && !exhausted(); ++i) {
            ByteView e = node.sub(kExtentEntryBytes + i * kExtentEntryBytes, kExtentEntryBytes);
            std::uint32_t logical = le32(e, 0);
            if (depth == 0) {
                std::uint32_t len = le16(e, 4);
                bool unwritten = len > kUnwrittenExtentBase;
                if (unwritten) len -= kUnwrittenExtentBase;
                std::uint64_t start = le32(e, 8);
                if (g_.is64Bit) start |= std::uint64_t(le16(e, 6)) << 32;
                add(logical, start, len, unwritten);
            } else {
                if (logical >= fileBlocks_) continue;
                std::uint64_t child = le32(e, 4);
                if (g_.is64Bit) child |= std::uint64_t(le16(e, 8)) << 32;
                std::vector<std::uint8_t> buf;
                if (!readBlock(child, buf)) continue;
                extentNode(ByteView(buf), depth - 1);
            }
        }
    }

private:
    const Geometry& g_;
    std::uint64_t fileBlocks_;
    std::uint64_t budget_;
    const BlockReader& read_;
    std::vector<BlockRun>& runs_;
};

}  // namespace

void collectBlocks(ByteView inode, const Geometry& g, const CollectLimits& limits, const BlockReader& read,
                   std::vector<BlockRun>& runs) {
    runs.clear();
    if (g.blockSize < 1024) return;
    ByteView area = inode.sub(kInodeBlockArea, kInodeBlockAreaBytes);
    if (area.size() < kInodeBlockAreaBytes) return;
    Collector c(g, limits, read, runs);
    if (le32(inode, 32) & kInodeFlagExtents)
        c.extentNode(area, -1);
    else
        c.blockMap(area);
}

}  // namespace salvage::ext
