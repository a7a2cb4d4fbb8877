#include "image/ChunkedScan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace salvage {

namespace {

constexpr std::uint32_t kMaxPartBytes = 1u << 30;

void noteDamage(ChunkedScanResult& r, std::int64_t offset, std::int64_t length) {
    if (length <= 0) return;
    r.unreadableBytes += length;
    if (!r.unreadable.empty() && r.unreadable.back().offset + r.unreadable.back().length == offset) {
        r.unreadable.back().length += length;
        return;
    }
    if (r.unreadable.size() < kScanDamageRangesKept) r.unreadable.push_back({offset, length});
}

// Reads [at, at + n) into buf in pieces that end on the image's sector
// grid, zero-filling each piece that fails. Damage among the positions
// before `limit` is noted in the result and the chunk. True when any piece
// was read.
bool readPieces(readWriteInterface& source, std::int64_t at, std::uint8_t* buf, std::int64_t n, std::int64_t limit,
                ChunkedScanResult& r, ScanChunk& chunk) {
    bool any = false;
    for (std::int64_t done = 0; done < n;) {
        const std::int64_t image = source.baseOffset + at + done;
        const std::int64_t grid = image >= 0 ? image % kSectorBytes : 0;
        const std::int64_t step = std::min(n - done, kSectorBytes - grid);
        std::uint8_t* piece = buf + done;
        if (readAt(source, at + done, piece, std::uint32_t(step))) {
            any = true;
        } else {
            std::memset(piece, 0, std::size_t(step));
            const std::int64_t from = at + done, to = std::min(at + done + step, limit);
            if (to > from) {
                noteDamage(r, from, to - from);
                chunk.unreadableBytes += to - from;
            }
        }
        done += step;
    }
    return any;
}

}  // namespace

std::int64_t imageEndOf(const readWriteInterface& source) {
    const std::int64_t sectors = source.totalSectors();
    if (sectors <= 0) return -1;
    std::int64_t bytes = 0;
    if (!checkedMul(sectors, kSectorBytes, bytes)) return -1;
    return bytes - source.baseOffset;
}

ChunkedScanResult chunkedScan(readWriteInterface& source, const ChunkedScanOptions& o, const ScanVisitor& visit) {
    ChunkedScanResult r;
    const std::int64_t begin = std::max<std::int64_t>(o.begin, 0);
    std::int64_t end = o.end;
    if (const std::int64_t image = imageEndOf(source); image >= 0) end = std::min(end, image);
    // Both bounded so that a chunk and its overlap fit one read.
    const std::int64_t chunkBytes = std::clamp<std::uint32_t>(o.chunkBytes, 1, kMaxPartBytes);
    const std::int64_t overlap = std::min<std::uint32_t>(o.overlapBytes, kMaxPartBytes);
    if (o.progress) {
        o.progress->setProgressRange(0, 1000);
        o.progress->setProgressPosition(0);
    }
    if (begin >= end) {
        r.completed = true;
        if (o.progress) o.progress->setProgressPosition(1000);
        return r;
    }
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(std::size_t(std::min(chunkBytes, end - begin) + overlap));
    } catch (const std::bad_alloc&) {
        r.outOfMemory = true;
        return r;
    }
    const double span = double(end - begin);
    std::int64_t shown = 0;
    std::int64_t at = begin;
    while (at < end) {
        if (o.poll && o.poll->pollStop()) {
            r.stopped = true;
            return r;
        }
        if (o.progress) {
            const auto permille = std::int64_t(double(at - begin) / span * 1000.0);
            if (permille != shown) o.progress->setProgressPosition(shown = permille);
        }
        // This chunk's positions end at the next grid line (or a chunk's
        // length on), and never past the range.
        std::int64_t limit = o.chunksOnGrid ? at + (chunkBytes - (at - begin) % chunkBytes) : at + chunkBytes;
        limit = std::min(limit, end);
        const std::int64_t viewBytes = limit - at + overlap;
        const std::int64_t readBytes = std::min(limit + overlap, end) - at;
        std::uint8_t* buf = buffer.data();

        ScanChunk chunk;
        chunk.offset = at;
        chunk.limit = limit;
        errno = 0;
        if (!readAt(source, at, buf, std::uint32_t(readBytes))) {
            chunk.readError = errno != 0 ? errno : EIO;
            if (r.firstReadError == 0) r.firstReadError = chunk.readError;
            chunk.readable = readPieces(source, at, buf, readBytes, limit, r, chunk);
        }
        // Only the last chunk can stop short of its view: the rest is zeros.
        if (readBytes < viewBytes) std::memset(buf + readBytes, 0, std::size_t(viewBytes - readBytes));
        chunk.bytes = ByteView(buf, std::size_t(viewBytes));
        ++r.chunks;

        const std::int64_t next = visit(chunk);
        if (next < 0) {
            r.visitorEnded = true;
            return r;
        }
        at = std::max(next, limit);
    }
    r.completed = true;
    if (o.progress) o.progress->setProgressPosition(1000);
    return r;
}

}  // namespace salvage
