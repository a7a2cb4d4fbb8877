#pragma once
// The one file-data reader of the FAT family: a file's bytes from its first
// cluster, either along its FAT chain or from consecutive clusters (exFAT
// files stored without a chain, deleted files whose chain is freed, and
// "Is Drive Formated..?"). Runs of adjacent clusters are read in one call.
#include <cstdint>
#include <functional>

#include "browse/FileContent.h"
#include "fs/fat/FatChain.h"
#include "image/SectorSource.h"
#include "platform/Poll.h"

namespace salvage::fat {

struct ClusterGeometry {
    std::int64_t heapOffset = 0;  // byte offset of cluster 2 in the volume
    std::uint32_t clusterBytes = 0;
    std::uint32_t clusterLimit = 0;  // clusters are numbered 2 .. clusterLimit - 1

    std::int64_t offsetOf(std::uint32_t c) const {
        return heapOffset + (std::int64_t(c) - 2) * std::int64_t(clusterBytes);
    }
};

// Bytes read per call at most; a long consecutive run is read in pieces of
// this size so no allocation follows a length taken from disk.
inline constexpr std::uint32_t kDataChunkBytes = 1024 * 1024;

// Receives the data in order; returns false to stop.
using DataSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

struct ClusterReadResult {
    // Why the data ended.
    enum class End { Complete, ChainEnded, Loop, PastImage, OutsideArea, Stopped };
    std::uint64_t bytes = 0;  // bytes handed to the sink
    bool complete = false;    // all `length` bytes were delivered
    End end = End::Complete;
};

// Receives the data as runs of the volume: byte offset and length. Returns
// false to stop.
using RunSink = std::function<bool(std::int64_t volumeOffset, std::uint64_t length)>;

// The runs behind up to `length` bytes starting at cluster `first`, by the
// rules of readClusterData, without reading them.
ClusterReadResult walkClusterRuns(readWriteInterface& src, const ClusterGeometry& geo, FatChain* chain,
                                  std::uint32_t first, std::uint64_t length, bool consecutive, const RunSink& sink,
                                  Pollable* poll = nullptr);

// Delivers up to `length` bytes starting at cluster `first`. With a chain
// (chain != null and !consecutive) the data follows the FAT and stops at the
// chain's end or at the first cluster met twice; otherwise it runs through
// consecutive clusters. Either way it stops at the end of the cluster area.
// Clusters that cannot be read give zeros.
ClusterReadResult readClusterData(readWriteInterface& src, const ClusterGeometry& geo, FatChain* chain,
                                  std::uint32_t first, std::uint64_t length, bool consecutive,
                                  const DataSink& sink, Pollable* poll = nullptr);

// The same data handed to a content stream, each run read from the image
// with its place; what ends it early is reported as missing by the caller
// (see endCause).
ClusterReadResult streamClusterData(ContentStream& out, readWriteInterface& src, const ClusterGeometry& geo,
                                    FatChain* chain, std::uint32_t first, std::uint64_t length, bool consecutive,
                                    Pollable* poll = nullptr);
// The cause a content report gives for data that ended this way.
const char* endCause(ClusterReadResult::End end);

}  // namespace salvage::fat
