#pragma once
// HFS+ on-disk structures as this parser uses them, decoded from bounded
// byte views (all integers big-endian). Pure functions: no I/O here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteView.h"

namespace salvage::hfsp {

// Volume header: 512 bytes at volume byte 1024.
inline constexpr std::int64_t kVolumeHeaderOffset = 1024;
inline constexpr std::size_t kVolumeHeaderBytes = 512;

// Seconds between the HFS+ epoch (1904-01-01 UTC) and the Unix epoch.
inline constexpr std::int64_t kHfsEpochDelta = 2082844800LL;

// Catalog node IDs with a fixed meaning.
inline constexpr std::uint32_t kRootFolderId = 2;
inline constexpr std::uint32_t kCatalogFileId = 4;

// B-tree node sizes are powers of two from 512 to 32768 bytes; anything else
// is damage, and the upper bound caps every node allocation.
inline constexpr std::uint32_t kMinNodeSize = 512;
inline constexpr std::uint32_t kMaxNodeSize = 32768;

struct Extent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};

struct ForkData {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    Extent extents[8];
};

struct VolumeHeader {
    std::uint32_t blockSize = 0;    // offset 40
    std::uint32_t totalBlocks = 0;  // offset 44
    ForkData extentsFile;           // fork data at 192 (extents at 208)
    ForkData catalogFile;           // fork data at 272 (extents at 288)
};

VolumeHeader decodeVolumeHeader(ByteView v);
// A fork-data block (logical size, clump size, total blocks, 8 extents) at off.
ForkData decodeForkData(ByteView v, std::size_t off);
// Eight (start, count) pairs at off.
void decodeExtents(ByteView v, std::size_t off, Extent out[8]);

// Node descriptor kinds.
inline constexpr std::int8_t kLeafNode = -1;
inline constexpr std::int8_t kIndexNode = 0;
inline constexpr std::int8_t kHeaderNode = 1;
inline constexpr std::int8_t kMapNode = 2;

// The most records a leaf found by the volume search may hold; more is taken
// for noise rather than a catalog leaf.
inline constexpr std::uint16_t kMaxSearchedRecords = 999;
// Record 0 of every catalog leaf starts right after the 14-byte descriptor.
inline constexpr std::uint16_t kFirstRecordOffset = 14;

struct NodeDescriptor {
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
};
NodeDescriptor decodeNodeDescriptor(ByteView node);
// A node is kept when its kind is leaf, index, header or map and it holds at
// least one record.
bool nodePassesTest(const NodeDescriptor& d);
// The search's leaf test over nodeSize bytes: leaf kind, height above 0,
// record 0 at offset 14, 1 to 999 records.
bool looksLikeSearchedLeaf(ByteView node, std::uint32_t nodeSize);
// Record offsets from the node's end, record 0 first. The count is bounded by
// the offsets that fit into the node behind its descriptor.
std::vector<std::uint16_t> recordOffsets(ByteView node, std::uint32_t nodeSize, std::uint16_t numRecords);

// Header record (node 0, right after its descriptor).
struct HeaderRecord {
    std::uint16_t nodeSize = 0;    // node offset 32
    std::uint32_t totalNodes = 0;  // node offset 36
};
HeaderRecord decodeHeaderRecord(ByteView node);

// Catalog leaf record kinds used; thread records (3, 4) are ignored.
inline constexpr std::uint16_t kFolderRecord = 1;
inline constexpr std::uint16_t kFileRecord = 2;
// Bytes of a record body the parser reads: a folder record up to its ID, a
// file record up to the end of its data fork's extents.
inline constexpr std::size_t kFolderBodyBytes = 12;
inline constexpr std::size_t kFileBodyBytes = 168;
// HFS+ names are at most 255 UTF-16 units.
inline constexpr std::uint16_t kMaxNameUnits = 255;

struct CatalogRecord {
    std::uint16_t type = 0;  // kFolderRecord or kFileRecord
    std::uint32_t parentId = 0;
    std::uint32_t cnid = 0;
    std::u16string name;
    // Dates and BSD ownership, which folders and files share:
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint32_t ownerId = 0, groupId = 0;
    std::uint16_t fileMode = 0;
    // Files only:
    ForkData dataFork;
};
// Decodes the catalog record whose key starts at recordOffset within node.
// Nothing when the key or the body lies outside the node, the name length is
// 0 or above 255, or the record is neither a folder nor a file.
std::optional<CatalogRecord> decodeCatalogRecord(ByteView node, std::size_t recordOffset);

// Extents overflow leaf record: a 12-byte key (key length, fork type, pad,
// file ID, start block) and eight extents.
inline constexpr std::size_t kOverflowKeyBytes = 12;
inline constexpr std::uint8_t kDataFork = 0x00;
struct OverflowKey {
    std::uint16_t keyLength = 0;
    std::uint8_t forkType = 0;
    std::uint32_t fileId = 0;
    std::uint32_t startBlock = 0;
};
std::optional<OverflowKey> decodeOverflowKey(ByteView node, std::size_t recordOffset);

// HFS+ date (seconds since 1904 UTC) to nanoseconds since 1970 UTC.
inline std::int64_t hfsDateToUnixNanos(std::uint32_t date) {
    return (std::int64_t(date) - kHfsEpochDelta) * 1000000000LL;
}

}  // namespace salvage::hfsp
