#include "fs/fat/ClusterData.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace salvage::fat {

ClusterReadResult readClusterData(readWriteInterface& src, const ClusterGeometry& geo, FatChain* chain,
                                  std::uint32_t first, std::uint64_t length, bool consecutive,
                                  const DataSink& sink, Pollable* poll) {
    ClusterReadResult res;
    if (length == 0) {
        res.complete = true;
        return res;
    }
    const std::uint32_t cb = geo.clusterBytes;
    if (cb == 0 || first < 2 || first >= geo.clusterLimit) return res;
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
                if (std::uint64_t(c) + run >= geo.clusterLimit) break;
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
        if (more && (c < 2 || c >= geo.clusterLimit)) more = false;
    }
    res.complete = remaining == 0;
    return res;
}

}  // namespace salvage::fat
