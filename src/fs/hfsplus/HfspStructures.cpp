#include "fs/hfsplus/HfspStructures.h"

namespace salvage::hfsp {

void decodeExtents(ByteView v, std::size_t off, Extent out[8]) {
    for (int i = 0; i < 8; ++i) {
        out[i].startBlock = be32(v, off + 8 * i);
        out[i].blockCount = be32(v, off + 8 * i + 4);
    }
}

ForkData decodeForkData(ByteView v, std::size_t off) {
    ForkData f;
    f.logicalSize = be64(v, off);
    f.totalBlocks = be32(v, off + 12);
    decodeExtents(v, off + 16, f.extents);
    return f;
}

VolumeHeader decodeVolumeHeader(ByteView v) {
    VolumeHeader h;
    h.blockSize = be32(v, 40);
    h.totalBlocks = be32(v, 44);
    h.extentsFile = decodeForkData(v, 192);
    h.catalogFile = decodeForkData(v, 272);
    return h;
}

NodeDescriptor decodeNodeDescriptor(ByteView node) {
    NodeDescriptor d;
    d.kind = std::int8_t(u8(node, 8));
    d.height = u8(node, 9);
    d.numRecords = be16(node, 10);
    return d;
}

bool nodePassesTest(const NodeDescriptor& d) {
    return d.kind >= kLeafNode && d.kind <= kMapNode && d.numRecords >= 1;
}

bool looksLikeSearchedLeaf(ByteView node, std::uint32_t nodeSize) {
    if (nodeSize < kMinNodeSize || !node.has(0, nodeSize)) return false;
    NodeDescriptor d = decodeNodeDescriptor(node);
    return d.kind == kLeafNode && d.height > 0 && be16(node, nodeSize - 2) == kFirstRecordOffset &&
           d.numRecords >= 1 && d.numRecords <= kMaxSearchedRecords;
}

std::vector<std::uint16_t> recordOffsets(ByteView node, std::uint32_t nodeSize, std::uint16_t numRecords) {
    std::vector<std::uint16_t> out;
    if (nodeSize < kFirstRecordOffset + 2 || !node.has(0, nodeSize)) return out;
    // The offset table grows down from the node's end towards the descriptor.
    std::size_t fit = (nodeSize - kFirstRecordOffset) / 2;
    std::size_t n = numRecords < fit ? numRecords : fit;
    out.reserve(n);
    for (std::size_t k = 0; k < n; ++k) out.push_back(be16(node, nodeSize - 2 * (k + 1)));
    return out;
}

HeaderRecord decodeHeaderRecord(ByteView node) {
    return {be16(node, 32), be32(node, 36)};
}

std::optional<CatalogRecord> decodeCatalogRecord(ByteView node, std::size_t off) {
    // Key: key length, parent ID, name length, name.
    if (!node.has(off, 8)) return std::nullopt;
    std::uint16_t keyLength = be16(node, off);
    CatalogRecord r;
    r.parentId = be32(node, off + 2);
    std::uint16_t units = be16(node, off + 6);
    if (units == 0 || units > kMaxNameUnits || !node.has(off + 8, std::size_t(units) * 2)) return std::nullopt;
    std::size_t body = off + 2 + keyLength;
    if (!node.has(body, 2)) return std::nullopt;
    r.type = be16(node, body);
    if (r.type == kFolderRecord) {
        if (!node.has(body, kFolderBodyBytes)) return std::nullopt;
    } else if (r.type == kFileRecord) {
        if (!node.has(body, kFileBodyBytes)) return std::nullopt;
    } else {
        return std::nullopt;
    }
    r.name.resize(units);
    for (std::size_t i = 0; i < units; ++i) r.name[i] = char16_t(be16(node, off + 8 + 2 * i));
    r.cnid = be32(node, body + 8);
    // Folder and file records lay out their dates and permissions alike.
    r.createDate = be32(node, body + 12);
    r.contentModDate = be32(node, body + 16);
    r.attributeModDate = be32(node, body + 20);
    r.accessDate = be32(node, body + 24);
    r.ownerId = be32(node, body + 32);
    r.groupId = be32(node, body + 36);
    r.fileMode = be16(node, body + 42);
    if (r.type == kFileRecord) {
        r.dataFork = decodeForkData(node, body + 88);
    }
    return r;
}

std::optional<OverflowKey> decodeOverflowKey(ByteView node, std::size_t off) {
    if (!node.has(off, kOverflowKeyBytes + 64)) return std::nullopt;
    OverflowKey k;
    k.keyLength = be16(node, off);
    k.forkType = u8(node, off + 2);
    k.fileId = be32(node, off + 4);
    k.startBlock = be32(node, off + 8);
    return k;
}

}  // namespace salvage::hfsp
