// HFSP: the volume header, the catalog and extents overflow B-trees read in
// node order through their files' extents, and the volume search for catalog
// leaves.
#include <algorithm>
#include <cstring>

#include "fs/hfsplus/HFSP.h"
#include "image/ChunkedScan.h"
#include "platform/Text.h"

namespace salvage {

using namespace hfsp;

namespace {
// Standard mode reads a B-tree's first block into a block-sized buffer and
// refuses block sizes it cannot hold.
constexpr std::uint64_t kMaxStandardBlockSize = 4096;
// The leaf search's chunks: whole blocks, about this many bytes.
constexpr std::uint64_t kSearchChunkBytes = 1048576;
// Overflow records followed for one file; each adds at least one block, so
// this only ends walks over damaged records early.
constexpr std::size_t kMaxOverflowRecordsPerFile = 1u << 20;
// Node count used as the cap when the image size is unknown.
constexpr std::uint64_t kMaxNodesUnknownImage = 1u << 24;
}  // namespace

std::uint64_t ForkMap::volumeOffset(std::uint64_t fileOffset, std::uint64_t& contiguous) const {
    contiguous = 0;
    if (blockSize == 0) return 0;
    std::uint64_t fileBlock = fileOffset / blockSize, within = fileOffset % blockSize;
    std::uint64_t seen = 0;
    std::uint64_t nextStart = runs.empty() ? 0 : runs.front().startBlock;
    for (const Extent& e : runs) {
        if (fileBlock < seen + e.blockCount) {
            std::uint64_t block = std::uint64_t(e.startBlock) + (fileBlock - seen);
            contiguous = (seen + e.blockCount - fileBlock) * blockSize - within;
            return block * blockSize + within;
        }
        seen += e.blockCount;
        nextStart = std::uint64_t(e.startBlock) + e.blockCount;
    }
    // Past the listed extents the file is taken as continuing contiguously.
    std::uint64_t block = nextStart + (fileBlock - seen);
    contiguous = UINT64_MAX;
    return block * blockSize + within;
}

void HFSP::attachSource() {
    if (source) source->baseOffset = volume.startSector * kSectorBytes;
    if (tree) rootItem = tree->insertItem(kRootText, ItemImage::Folder);
}

bool HFSP::readBytes(std::uint64_t volumeOffset, void* buffer, std::uint32_t count) {
    if (!source || volumeOffset > std::uint64_t(INT64_MAX)) return false;
    std::memset(buffer, 0, count);
    return readAt(*source, std::int64_t(volumeOffset), buffer, count);
}

bool HFSP::readForkBytes(const ForkMap& fork, std::uint64_t fileOffset, std::vector<std::uint8_t>& out,
                         std::uint32_t count) {
    out.assign(count, 0);
    std::uint32_t done = 0;
    bool ok = true;
    while (done < count) {
        std::uint64_t contiguous = 0;
        std::uint64_t at = fork.volumeOffset(fileOffset + done, contiguous);
        if (contiguous == 0) return false;
        std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(contiguous, count - done));
        ok = readBytes(at, out.data() + done, n) && ok;
        done += n;
    }
    return ok;
}

std::uint64_t HFSP::volumeBytesAvailable() const {
    if (!source) return 0;
    std::int64_t image = source->totalSectors() * kSectorBytes;
    return image > source->baseOffset ? std::uint64_t(image - source->baseOffset) : 0;
}

std::uint64_t HFSP::nodeCap(std::uint32_t nodeSize) const {
    std::uint64_t avail = volumeBytesAvailable();
    if (avail == 0 || nodeSize == 0) return kMaxNodesUnknownImage;
    return avail / nodeSize + 1;
}

bool HFSP::readVolumeHeader() {
    if (!source) return false;
    std::uint8_t buf[kVolumeHeaderBytes];
    readBytes(kVolumeHeaderOffset, buf, sizeof buf);
    header = decodeVolumeHeader(ByteView(buf, sizeof buf));
    blockSize = header.blockSize;
    return true;
}

void HFSP::appendOverflowExtents(std::uint32_t fileId, std::uint32_t totalBlocks,
                                 std::vector<Extent>& extents) const {
    std::uint64_t listed = 0;
    for (const Extent& e : extents) listed += e.blockCount;
    for (std::size_t step = 0; step < kMaxOverflowRecordsPerFile && listed < totalBlocks; ++step) {
        if (listed > UINT32_MAX) break;
        auto it = overflowMap.find((listed << 32) | fileId);
        if (it == overflowMap.end()) break;
        std::uint64_t before = listed;
        for (const Extent& e : it->second.extents) {
            if (e.startBlock == 0) continue;
            extents.push_back(e);
            listed += e.blockCount;
        }
        if (listed == before) break;  // a record that adds nothing would be looked up again
    }
}

void HFSP::buildCatalogFork() {
    catalogFork.blockSize = blockSize;
    catalogFork.runs.clear();
    for (const Extent& e : header.catalogFile.extents)
        if (e.blockCount) catalogFork.runs.push_back(e);
    if (catalogFork.runs.empty()) {
        catalogFork.runs.push_back({header.catalogFile.extents[0].startBlock, 0});
        return;
    }
    appendOverflowExtents(kCatalogFileId, header.catalogFile.totalBlocks, catalogFork.runs);
}

bool HFSP::readTreeNodes(const ForkMap& fork, std::uint32_t nodeSize, std::uint32_t totalNodes,
                         std::uint64_t progressStep, std::vector<BTreeNodeInfo>& out) {
    std::uint64_t last = std::min<std::uint64_t>(totalNodes, nodeCap(nodeSize));
    reporter->setProgressRange(0, std::int64_t(progressStep * totalNodes));
    std::vector<std::uint8_t> node;
    for (std::uint64_t n = 1; n < last; ++n) {
        if (pollStop()) break;
        reporter->setProgressPosition(std::int64_t(n * progressStep));
        if (!readForkBytes(fork, n * nodeSize, node, nodeSize)) continue;
        ByteView v(node);
        NodeDescriptor d = decodeNodeDescriptor(v);
        if (!nodePassesTest(d)) continue;
        out.push_back({n, n * nodeSize, d.kind, d.height, d.numRecords, recordOffsets(v, nodeSize, d.numRecords)});
    }
    stopRequested = false;
    return true;
}

bool HFSP::readCatalogNodes() {
    if (blockSize == 0 || blockSize > kMaxStandardBlockSize) return false;
    buildCatalogFork();
    std::vector<std::uint8_t> node;
    readForkBytes(catalogFork, 0, node, kMinNodeSize);
    HeaderRecord h = decodeHeaderRecord(ByteView(node));
    if (h.nodeSize < kMinNodeSize || h.nodeSize > kMaxNodeSize) return false;
    catalogNodeSize = h.nodeSize;
    nodeBlocks = catalogNodeSize / blockSize;
    readForkBytes(catalogFork, 0, node, catalogNodeSize);
    NodeDescriptor d = decodeNodeDescriptor(ByteView(node));
    if (nodePassesTest(d))
        catalogNodes.push_back({0, 0, d.kind, d.height, d.numRecords, recordOffsets(ByteView(node), catalogNodeSize, d.numRecords)});
    return readTreeNodes(catalogFork, catalogNodeSize, h.totalNodes, std::max<std::uint64_t>(nodeBlocks, 1),
                         catalogNodes);
}

bool HFSP::scanCatalogLeaves() {
    const std::u16string invalid = u"BlockSize not valid .Aborting..";
    if (blockSize == 0) {
        reporter->setStatus(invalid);
        return false;
    }
    std::vector<std::uint8_t> first(kMinNodeSize);
    readBytes(std::uint64_t(header.catalogFile.extents[0].startBlock) * blockSize, first.data(), kMinNodeSize);
    HeaderRecord h = decodeHeaderRecord(ByteView(first));
    leafScanUsed = true;
    catalogNodeSize = h.nodeSize;
    nodeBlocks = catalogNodeSize / blockSize;
    std::uint64_t volumeBlocks = std::uint64_t(volumeBytes(volume)) / blockSize;
    // Blocks past the image's end hold nothing to find.
    if (std::uint64_t avail = volumeBytesAvailable()) volumeBlocks = std::min(volumeBlocks, avail / blockSize);
    if (volumeBlocks == 0 || nodeBlocks == 0 || catalogNodeSize < kMinNodeSize || catalogNodeSize > kMaxNodeSize) {
        reporter->setStatus(invalid);
        return false;
    }
    // Every block that starts a whole node before the volume's end is tested.
    const std::uint64_t lastBlock = volumeBlocks - nodeBlocks;
    ChunkedScanOptions o;
    o.end = std::int64_t(volumeBlocks * blockSize);
    o.chunkBytes = std::uint32_t(std::max<std::uint64_t>(kSearchChunkBytes / blockSize, 1) * blockSize);
    // A node that starts near the chunk's end is seen whole.
    o.overlapBytes = catalogNodeSize;
    o.poll = this;
    o.progress = reporter;
    chunkedScan(*source, o, [&](const ScanChunk& chunk) -> std::int64_t {
        for (std::uint64_t b = std::uint64_t(chunk.offset) / blockSize;
             b < lastBlock && std::int64_t(b * blockSize) < chunk.limit; ++b) {
            if (pollStop()) return kScanStop;
            ByteView node = chunk.bytes.sub(std::size_t(std::int64_t(b * blockSize) - chunk.offset), catalogNodeSize);
            if (!looksLikeSearchedLeaf(node, catalogNodeSize)) continue;
            NodeDescriptor d = decodeNodeDescriptor(node);
            BTreeNodeInfo info{b / nodeBlocks, b * blockSize, d.kind, d.height, d.numRecords, {}};
            for (std::uint16_t off : recordOffsets(node, catalogNodeSize, d.numRecords))
                if (std::int16_t(off) > 0) info.recordOffsets.push_back(off);
            catalogNodes.push_back(std::move(info));
        }
        return chunk.limit;
    });
    stopRequested = false;
    return true;
}

bool HFSP::readExtentsOverflow() {
    if (overflowRead_) return overflowOk_;
    overflowRead_ = true;
    if (blockSize == 0) return false;
    overflowFork.blockSize = blockSize;
    overflowFork.runs.clear();
    for (const Extent& e : header.extentsFile.extents)
        if (e.blockCount) overflowFork.runs.push_back(e);
    if (overflowFork.runs.empty()) overflowFork.runs.push_back({header.extentsFile.extents[0].startBlock, 0});
    std::vector<std::uint8_t> node;
    readForkBytes(overflowFork, 0, node, kMinNodeSize);
    NodeDescriptor d = decodeNodeDescriptor(ByteView(node));
    HeaderRecord h = decodeHeaderRecord(ByteView(node));
    if (!nodePassesTest(d) || h.nodeSize < kMinNodeSize || h.nodeSize > kMaxNodeSize) return false;
    overflowNodeSize = h.nodeSize;
    overflowNodeBlocks = overflowNodeSize / blockSize;
    std::uint64_t step = std::max<std::uint64_t>(nodeBlocks ? nodeBlocks : overflowNodeBlocks, 1);
    readTreeNodes(overflowFork, overflowNodeSize, h.totalNodes, step, overflowNodes);
    buildOverflowMap();
    overflowOk_ = true;
    return true;
}

void HFSP::buildOverflowMap() {
    std::vector<std::uint8_t> node;
    for (std::size_t i = 0; i < overflowNodes.size(); ++i) {
        const BTreeNodeInfo& info = overflowNodes[i];
        if (info.kind != kLeafNode) continue;
        reporter->setProgressPosition(std::int64_t(i));
        if (!readForkBytes(overflowFork, info.nodeOffset, node, overflowNodeSize)) continue;
        ByteView v(node);
        for (std::uint16_t off : info.recordOffsets) {
            auto key = decodeOverflowKey(v, off);
            // Only data forks are read; a resource fork record under the same
            // file and start block must not stand in for the data fork's.
            if (!key || key->forkType != kDataFork) continue;
            OverflowRecord rec{key->keyLength, key->forkType, key->startBlock, off, info.nodeOffset, {}};
            decodeExtents(v, off + kOverflowKeyBytes, rec.extents);
            overflowMap.emplace((std::uint64_t(key->startBlock) << 32) | key->fileId, rec);
        }
    }
}

ParseResult HFSP::parse(RecoveryMode mode) {
    attachSource();
    bool ok = readVolumeHeader();
    if (ok && mode == RecoveryMode::Standard) {
        // The catalog's own extents may continue in the overflow file, so
        // the overflow tree is read first; its result is the overflow step's.
        readExtentsOverflow();
        ok = readCatalogNodes();
    } else if (ok) {
        ok = scanCatalogLeaves();
    }
    ok = ok && readExtentsOverflow();
    if (!ok) {
        reporter->setStatus(u"Work Aborted....");
        return ParseResult::Failed;
    }
    collectEntries();
    linkChildren();
    fillRootEntries();
    reporter->setStatus(u"Work Done.");
    return ParseResult::Done;
}

}  // namespace salvage
