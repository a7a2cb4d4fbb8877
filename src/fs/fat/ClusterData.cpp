#include "fs/fat/ClusterData.h"

#include "platform/ByteView.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace salvage::fat {

namespace {
// The cluster area ends where the image ends, whatever the boot sector
// says: clusters past it are not in the evidence, and a damaged size field
// must not turn a small image into gigabytes of zeros. A cluster the image
// holds only in part is still read (its missing part as zeros).
std::uint32_t clusterLimitWithinImage(const readWriteInterface& src, const ClusterGeometry& geo) {
    const std::int64_t sectors = src.totalSectors();
    if (sectors < 0 || geo.clusterBytes == 0) return geo.clusterLimit;
    std::int64_t imageBytes = 0;
    if (!checkedMul(sectors, std::int64_t(512), imageBytes)) return geo.clusterLimit;
    const std::int64_t heapBytes = imageBytes - src.baseOffset - geo.heapOffset;
    if (heapBytes <= 0) return 2;
    const std::int64_t clusters = (heapBytes + geo.clusterBytes - 1) / geo.clusterBytes;
    return std::uint32_t(std::min<std::int64_t>(geo.clusterLimit, clusters + 2));
}
}  // namespace

ClusterReadResult walkClusterRuns(readWriteInterface& src, const ClusterGeometry& geo, FatChain* chain,
                                  std::uint32_t first, std::uint64_t length, bool consecutive, const RunSink& sink,
                                  Pollable* poll) {
    using End = ClusterReadResult::End;
    ClusterReadResult res;
    if (length == 0) {
        res.complete = true;
        return res;
    }
    const std::uint32_t cb = geo.clusterBytes;
    const std::uint32_t limit = clusterLimitWithinImage(src, geo);
    // A cluster the volume has but the image lacks is past the image's end.
    auto outside = [&](std::uint32_t c) { return c >= 2 && c < geo.clusterLimit ? End::PastImage : End::OutsideArea; };
    if (cb == 0 || first < 2 || first >= limit) {
        res.end = cb == 0 ? End::OutsideArea : outside(first);
        return res;
    }
    if (!chain) consecutive = true;
    const std::uint32_t maxRun = std::max<std::uint32_t>(1, kDataChunkBytes / cb);
    std::unordered_set<std::uint32_t> seen;  // loop guard of a chain
    std::uint64_t remaining = length;
    std::uint32_t c = first;
    bool more = true;
    res.end = End::Complete;
    while (more && remaining > 0) {
        if (poll && poll->pollStop()) {
            res.end = End::Stopped;
            break;
        }
        // Gather a run of adjacent clusters, at most the chunk size and no
        // more than the bytes still wanted.
        const std::uint64_t wantClusters = (remaining + cb - 1) / cb;
        std::uint32_t run = 0;
        std::uint32_t nextStart = 0;
        more = false;
        for (;;) {
            if (!consecutive && !seen.insert(c + run).second) {  // a loop closes here
                res.end = End::Loop;
                break;
            }
            ++run;
            if (run >= wantClusters) break;
            if (consecutive) {
                if (std::uint64_t(c) + run >= limit) {
                    res.end = outside(c + run);
                    break;
                }
                if (run >= maxRun) { nextStart = c + run; more = true; break; }
                continue;
            }
            auto nx = chain->next(c + run - 1);
            if (!nx) {
                res.end = End::ChainEnded;
                break;
            }
            if (*nx == c + run && run < maxRun) continue;
            nextStart = *nx;
            more = true;
            break;
        }
        if (run == 0) break;
        const std::uint64_t runBytes = std::uint64_t(run) * cb;
        const std::uint64_t n = std::min<std::uint64_t>(remaining, runBytes);
        if (!sink(geo.offsetOf(c), n)) {
            res.end = End::Stopped;
            return res;
        }
        res.bytes += n;
        remaining -= n;
        c = nextStart;
        if (more && (c < 2 || c >= limit)) {
            more = false;
            res.end = outside(c);
        }
    }
    res.complete = remaining == 0;
    if (res.complete) res.end = End::Complete;
    return res;
}

ClusterReadResult readClusterData(readWriteInterface& src, const ClusterGeometry& geo, FatChain* chain,
                                  std::uint32_t first, std::uint64_t length, bool consecutive,
                                  const DataSink& sink, Pollable* poll) {
    std::vector<std::uint8_t> buf;
    return walkClusterRuns(
        src, geo, chain, first, length, consecutive,
        [&](std::int64_t offset, std::uint64_t n) {
            buf.assign(std::size_t(n), 0);  // a failed read gives zeros, never stale bytes
            readAt(src, offset, buf.data(), std::uint32_t(n));
            return sink(buf.data(), buf.size());
        },
        poll);
}

ClusterReadResult streamClusterData(ContentStream& out, readWriteInterface& src, const ClusterGeometry& geo,
                                    FatChain* chain, std::uint32_t first, std::uint64_t length, bool consecutive,
                                    Pollable* poll) {
    return walkClusterRuns(
        src, geo, chain, first, length, consecutive,
        [&](std::int64_t offset, std::uint64_t n) {
            out.read(offset, n);
            return !out.refused();
        },
        poll);
}

const char* endCause(ClusterReadResult::End end) {
    using End = ClusterReadResult::End;
    switch (end) {
        case End::Complete: return nullptr;
        case End::ChainEnded: return cause::kChainEnded;
        case End::Loop: return cause::kChainLoop;
        case End::PastImage: return cause::kPastImageEnd;
        case End::OutsideArea: return cause::kOutsideVolume;
        case End::Stopped: return cause::kStopped;
    }
    return cause::kChainEnded;
}

}  // namespace salvage::fat
