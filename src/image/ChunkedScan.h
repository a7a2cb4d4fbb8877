#pragma once
// The one sequential scan over a byte range of an image: every search that
// looks at each position of a volume (record headers, boot sectors, FAT and
// directory-entry starts, B-tree leaves, file signatures) reads through it.
//
// The range is read in large chunks into one reused buffer. Each chunk is
// handed to a visitor with its bytes plus `overlapBytes` more, so a
// structure that starts at one of the chunk's positions is seen whole even
// when it runs into the next chunk; the next chunk starts where the visitor
// says it stopped, so such a structure is seen exactly once. A chunk whose
// read fails is read again sector by sector: unreadable sectors become zeros
// and are counted and listed, so a scan can tell that it met damage. The stop
// flag and the pause gate are polled once per chunk, and progress goes to a
// reporter in thousandths of the range.
#include <cstdint>
#include <functional>
#include <vector>

#include "image/SectorSource.h"
#include "platform/ByteView.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

namespace salvage {

// Large enough that a read costs little per byte, small enough that the
// chunk is still in the processor's cache when the visitor walks it.
inline constexpr std::uint32_t kScanChunkDefaultBytes = 1u << 20;
// A visitor's answer that ends the scan.
inline constexpr std::int64_t kScanStop = -1;
// At most this many unreadable ranges are listed (neighbours merge); the
// byte count covers all of them.
inline constexpr std::size_t kScanDamageRangesKept = 1024;

// An unreadable stretch, in offsets as readAt takes them (from the source's
// baseOffset).
struct ScanDamage {
    std::int64_t offset = 0;
    std::int64_t length = 0;
    bool operator==(const ScanDamage&) const = default;
};

// One chunk as the visitor sees it.
struct ScanChunk {
    // Where bytes[0] lies: the first position the visitor examines.
    std::int64_t offset = 0;
    // Positions [offset, limit) are this chunk's to examine.
    std::int64_t limit = 0;
    // The bytes from offset to limit + the overlap. Bytes past the range's
    // end, and unreadable sectors, are zeros.
    ByteView bytes;
    // Unreadable bytes among this chunk's positions.
    std::int64_t unreadableBytes = 0;
    // False when not one sector of the chunk could be read.
    bool readable = true;
    // The error code (errno, EIO when none was set) of the failed read.
    int readError = 0;
};

// Returns the position to continue from: the chunk's limit when every
// position was examined, a later one to skip ahead (the chunk holding it is
// read from there), kScanStop (or any negative value) to end the scan. A
// value below the limit counts as the limit: the scan only moves forward.
using ScanVisitor = std::function<std::int64_t(const ScanChunk&)>;

struct ChunkedScanOptions {
    std::int64_t begin = 0;
    // The range's end; clipped to the image's end when the source knows its
    // size. Overlap bytes past it are zeros.
    std::int64_t end = 0;
    std::uint32_t chunkBytes = kScanChunkDefaultBytes;
    // Bytes past each chunk's limit that the visitor sees with it.
    std::uint32_t overlapBytes = 0;
    // On: chunk limits fall at begin + k × chunkBytes, so a skip into the
    // middle of a chunk examines only the rest of it. Off: every chunk spans
    // chunkBytes from where the previous one stopped.
    bool chunksOnGrid = true;
    // Polled before every chunk (pause gate, then stop flag).
    Pollable* poll = nullptr;
    // Gets range 0..1000 at the start and the position in thousandths of the
    // range before each chunk (when it changed), 1000 at a complete end.
    Reporter* progress = nullptr;
};

struct ChunkedScanResult {
    bool completed = false;      // the range was scanned to its end
    bool stopped = false;        // the stop flag ended it
    bool visitorEnded = false;   // the visitor answered kScanStop
    bool outOfMemory = false;    // the chunk buffer could not be had
    std::int64_t chunks = 0;     // chunks read
    std::int64_t unreadableBytes = 0;
    std::vector<ScanDamage> unreadable;  // merged ranges, at most kScanDamageRangesKept
    int firstReadError = 0;
};

ChunkedScanResult chunkedScan(readWriteInterface& source, const ChunkedScanOptions& options,
                              const ScanVisitor& visit);

// The end of the image in offsets from the source's baseOffset, or -1 when
// the source does not know its size.
std::int64_t imageEndOf(const readWriteInterface& source);

}  // namespace salvage
