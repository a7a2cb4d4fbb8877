#pragma once
// NTFS run lists (mapping pairs): a header byte whose low nibble counts the
// length bytes and high nibble the offset bytes, then the length (unsigned)
// and the offset from the previous run's start (signed). A run without an
// offset field is sparse.
#include <cstdint>
#include <vector>

#include "platform/ByteView.h"

namespace salvage {

struct ClusterRun {
    std::int64_t startCluster = 0;  // 0 for a sparse run
    std::uint64_t clusterCount = 0;
    bool sparse = false;
};

// Decodes a run list. Runs are kept while the clusters so far stay within
// extentBound (the attribute's last VCN - starting VCN + 1); the first run
// that passes it ends the list. Field widths above 8 bytes end it too.
std::vector<ClusterRun> decodeRunList(ByteView bytes, std::uint64_t extentBound);

// Total clusters of a run list.
std::uint64_t runClusters(const std::vector<ClusterRun>& runs);

}  // namespace salvage
