#include "fs/ntfs/NtfsRuns.h"

namespace salvage {

std::vector<ClusterRun> decodeRunList(ByteView b, std::uint64_t extentBound) {
    std::vector<ClusterRun> runs;
    std::int64_t current = 0;
    std::uint64_t total = 0;
    std::size_t pos = 0;
    while (pos < b.size()) {
        const std::uint8_t h = b[pos];
        const std::size_t lengthBytes = h & 0x0F, offsetBytes = h >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) break;
        if (!b.has(pos + 1, lengthBytes + offsetBytes)) break;
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) length |= std::uint64_t(b[pos + 1 + i]) << (8 * i);
        std::uint64_t delta = 0;
        for (std::size_t i = 0; i < offsetBytes; ++i) delta |= std::uint64_t(b[pos + 1 + lengthBytes + i]) << (8 * i);
        if (offsetBytes > 0 && offsetBytes < 8 && (delta >> (8 * offsetBytes - 1)) & 1)
            delta |= ~std::uint64_t(0) << (8 * offsetBytes);  // sign-extend
        pos += 1 + lengthBytes + offsetBytes;
        ClusterRun r;
        r.clusterCount = length;
        if (offsetBytes == 0) {
            r.sparse = true;
        } else {
            current = std::int64_t(std::uint64_t(current) + delta);  // wraps instead of overflowing
            r.startCluster = current;
        }
        if (!checkedAdd(total, length, total) || total > extentBound) break;
        runs.push_back(r);
    }
    return runs;
}

std::uint64_t runClusters(const std::vector<ClusterRun>& runs) {
    std::uint64_t n = 0;
    for (const ClusterRun& r : runs) n += r.clusterCount;
    return n;
}

}  // namespace salvage
