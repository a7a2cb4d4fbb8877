#include "HfsImageBuilder.h"

#include <cstring>
#include <stdexcept>

namespace salvage::test {

void HfsImageBuilder::put16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v) {
    b.at(off) = std::uint8_t(v >> 8);
    b.at(off + 1) = std::uint8_t(v);
}
void HfsImageBuilder::put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
    put16(b, off, std::uint16_t(v >> 16));
    put16(b, off + 2, std::uint16_t(v));
}
void HfsImageBuilder::put64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
    put32(b, off, std::uint32_t(v >> 32));
    put32(b, off + 4, std::uint32_t(v));
}

std::vector<std::uint8_t> HfsImageBuilder::node(std::uint32_t nodeSize, std::int8_t kind, std::uint8_t height,
                                                const std::vector<std::vector<std::uint8_t>>& records) {
    std::vector<std::uint8_t> n(nodeSize, 0);
    n[8] = std::uint8_t(kind);
    n[9] = height;
    put16(n, 10, std::uint16_t(records.size()));
    std::size_t at = 14;
    for (std::size_t k = 0; k < records.size(); ++k) {
        if (at + records[k].size() + 2 * (k + 2) > nodeSize) throw std::runtime_error("node overfull");
        std::memcpy(n.data() + at, records[k].data(), records[k].size());
        put16(n, nodeSize - 2 * (k + 1), std::uint16_t(at));
        at += records[k].size();
    }
    put16(n, nodeSize - 2 * (records.size() + 1), std::uint16_t(at));  // free space offset
    return n;
}

std::vector<std::uint8_t> HfsImageBuilder::catalogRecord(const HfsRec& r) {
    std::size_t keyLength = 6 + 2 * r.name.size();
    std::size_t body = r.folder ? 88 : 248;
    std::vector<std::uint8_t> b(2 + keyLength + body, 0);
    put16(b, 0, std::uint16_t(keyLength));
    put32(b, 2, r.parent);
    put16(b, 6, std::uint16_t(r.name.size()));
    for (std::size_t i = 0; i < r.name.size(); ++i) put16(b, 8 + 2 * i, r.name[i]);
    std::size_t o = 2 + keyLength;
    put16(b, o, r.folder ? 1 : 2);
    put32(b, o + 8, r.cnid);
    put32(b, o + 12, r.createDate);
    put32(b, o + 16, r.contentModDate);
    put32(b, o + 20, r.attributeModDate);
    put32(b, o + 24, r.accessDate);
    if (!r.folder) {
        put16(b, o + 42, r.mode);
        put64(b, o + 88, r.size);
        put32(b, o + 100, r.totalBlocks);
        for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
            put32(b, o + 104 + 8 * i, r.extents[i].start);
            put32(b, o + 108 + 8 * i, r.extents[i].count);
        }
    }
    return b;
}

std::vector<std::uint8_t> HfsImageBuilder::overflowRecord(const HfsOverflowRec& r) {
    std::vector<std::uint8_t> b(12 + 64, 0);
    put16(b, 0, 10);
    b[2] = r.forkType;
    put32(b, 4, r.fileId);
    put32(b, 8, r.startBlock);
    for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
        put32(b, 12 + 8 * i, r.extents[i].start);
        put32(b, 16 + 8 * i, r.extents[i].count);
    }
    return b;
}

std::vector<std::uint8_t> HfsImageBuilder::headerRecord(std::uint32_t nodeSize, std::uint32_t totalNodes) {
    // The header record proper starts at node offset 14; node size sits at
    // node offset 32 and total nodes at 36.
    std::vector<std::uint8_t> b(106, 0);
    put16(b, 32 - 14, std::uint16_t(nodeSize));
    put32(b, 36 - 14, totalNodes);
    return b;
}

std::uint64_t HfsImageBuilder::catalogNodeOffset(std::uint32_t n) const { return blockOffset(std::uint64_t(n) * nodeSize); }

std::uint64_t HfsImageBuilder::blockOffset(std::uint64_t fileByte) const {
    std::uint64_t fileBlock = fileByte / blockSize, seen = 0;
    std::vector<HfsExtent> all = catalogExtents;
    all.insert(all.end(), catalogOverflowExtents.begin(), catalogOverflowExtents.end());
    for (const auto& e : all) {
        if (fileBlock < seen + e.count) return (e.start + (fileBlock - seen)) * std::uint64_t(blockSize) + fileByte % blockSize;
        seen += e.count;
    }
    throw std::runtime_error("catalog node outside its extents");
}

std::vector<std::uint8_t> HfsImageBuilder::build() const {
    std::vector<std::uint8_t> img(std::size_t(totalBlocks) * blockSize, 0);
    std::vector<std::uint8_t> vh(512, 0);
    vh[0] = 'H';
    vh[1] = '+';
    put16(vh, 2, 4);
    put32(vh, 40, blockSize);
    put32(vh, 44, totalBlocks);
    // Extents overflow file: two nodes at block 2 on.
    const std::uint32_t overflowStart = 2, overflowNodes = 2;
    std::uint32_t overflowBlocks = overflowNodes * nodeSize / blockSize;
    put64(vh, 192, std::uint64_t(overflowNodes) * nodeSize);
    put32(vh, 204, overflowBlocks);
    put32(vh, 208, overflowStart);
    put32(vh, 212, overflowBlocks);
    std::uint32_t catBlocks = 0;
    for (const auto& e : catalogExtents) catBlocks += e.count;
    for (const auto& e : catalogOverflowExtents) catBlocks += e.count;
    put64(vh, 272, std::uint64_t(catBlocks) * blockSize);
    put32(vh, 284, catBlocks);
    for (std::size_t i = 0; i < catalogExtents.size() && i < 8; ++i) {
        put32(vh, 288 + 8 * i, catalogExtents[i].start);
        put32(vh, 292 + 8 * i, catalogExtents[i].count);
    }
    std::memcpy(img.data() + 1024, vh.data(), 512);

    auto place = [&](std::uint64_t off, const std::vector<std::uint8_t>& bytes) {
        if (off + bytes.size() > img.size()) throw std::runtime_error("node outside the image");
        std::memcpy(img.data() + off, bytes.data(), bytes.size());
    };
    // Overflow tree: header node and one leaf.
    std::vector<HfsOverflowRec> ovf = overflow;
    if (!catalogOverflowExtents.empty()) {
        std::uint32_t listed = 0;
        for (const auto& e : catalogExtents) listed += e.count;
        ovf.insert(ovf.begin(), HfsOverflowRec{4, listed, 0, catalogOverflowExtents});
    }
    std::vector<std::vector<std::uint8_t>> ovfRecs;
    for (const auto& r : ovf) ovfRecs.push_back(overflowRecord(r));
    place(std::uint64_t(overflowStart) * blockSize,
          node(nodeSize, 1, 0, {headerRecord(nodeSize, overflowNodes), std::vector<std::uint8_t>(128), std::vector<std::uint8_t>(256)}));
    if (!ovfRecs.empty()) place(std::uint64_t(overflowStart) * blockSize + nodeSize, node(nodeSize, -1, 1, ovfRecs));

    // Catalog tree: header node, then one node per leaf.
    std::uint32_t totalNodes = totalNodesOverride ? totalNodesOverride : std::uint32_t(leaves.size() + 1);
    // A catalog node may straddle two extents: place it block by block.
    auto placeCatalog = [&](std::uint32_t n, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t o = 0; o < bytes.size(); o += blockSize) {
            std::uint64_t fileByte = std::uint64_t(n) * nodeSize + o;
            std::vector<std::uint8_t> part(bytes.begin() + o, bytes.begin() + std::min<std::size_t>(bytes.size(), o + blockSize));
            place(blockOffset(fileByte), part);
        }
    };
    placeCatalog(0,
          node(nodeSize, 1, 0, {headerRecord(nodeSize, totalNodes), std::vector<std::uint8_t>(128), std::vector<std::uint8_t>(256)}));
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        std::vector<std::vector<std::uint8_t>> recs;
        for (const auto& r : leaves[i]) recs.push_back(catalogRecord(r));
        placeCatalog(std::uint32_t(i + 1), node(nodeSize, -1, 1, recs));
    }
    return img;
}

std::vector<std::uint8_t> patternBytes(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x);
    }
    return out;
}

}  // namespace salvage::test
