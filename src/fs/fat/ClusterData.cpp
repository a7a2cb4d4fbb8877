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

ClusterReadResult readClusterData(readWriteInterface& src, const ClusterGeometry& geo, FatChain* chain,
                                  std::uint32_t first, std::uint64_t length, bool consecutive,
                                  const DataSink& sink, Pollable* poll) {
    ClusterReadResult res;
    if (length == 0) {
        res.complete = true;
        return res;
    }
    const std::uint32_t cb = geo.clusterBytes;
    const std::uint32_t limit = clusterLimitWithinImage(src, geo);
    if (cb == 0 || first < 2 || first >= limit) return res;
    if (!chain) consecutive = true;
    const std::uint32_t maxRun = std::max<std::uint32_t>(1, kDataChunkBytes / cb);
    std::unordered_set<std::uint32_t> seen;  // loop guard of a chain
    std::vector<std::uint8_t> buf;
    std::uint64_t remaining = length;
    std::uint32_t c = first;
    bool more = true;
    while (more && remaining > 0) {
        if (poll && poll->pollStop()) break;
        // Gather a run of adjacent clusters, at most the chunk size and no
        // more than the bytes still wanted.
        const std::uint64_t wantClusters = (remaining + cb - 1) / cb;
        std::uint32_t run = 0;
        std::uint32_t nextStart = 0;
        more = false;
        for (;;) {
            if (!consecutive && !seen.insert(c + run).second) break;  // a loop closes here
            ++run;
            if (run >= wantClusters) break;
            if (consecutive) {
                if (std::uint64_t(c) + run >= limit) break;
                if (run >= maxRun) { nextStart = c + run; more = true; break; }
                continue;
            }
            auto nx = chain->next(c + run - 1);
            if (!nx) break;
            if (*nx == c + run && run < maxRun) continue;
            nextStart = *nx;
            more = true;
            break;
        }
        if (run == 0) break;
        const std::uint64_t runBytes = std::uint64_t(run) * cb;
        const std::size_t n = std::size_t(std::min<std::uint64_t>(remaining, runBytes));
        buf.assign(n, 0);  // a failed read gives zeros, never stale bytes
        readAt(src, geo.offsetOf(c), buf.data(), std::uint32_t(n));
        if (!sink(buf.data(), n)) return res;
        res.bytes += n;
        remaining -= n;
        c = nextStart;
        if (more && (c < 2 || c >= limit)) more = false;
    }
    res.complete = remaining == 0;
    return res;
}

}  // namespace salvage::fat
