// Advanced mode of the exFAT parser: the FAT and the cluster heap are taken
// at candidates the searches found, the volume is scanned for entry sets,
// and a table is rebuilt from them with a "DUMMY ENTRY" root and an
// "ORPHAN ENTRY" folder for sets whose folder was not found.
#include <algorithm>
#include <array>

#include "fs/fat/ExFatDirectory.h"
#include "fs/fat/Fat64Class.h"
#include "fs/fat/FatScan.h"
#include "fs/fat/FatVolume.h"
#include "image/ChunkedScan.h"
#include "image/WindowReader.h"
#include "image/Globals.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage {

using fat::ExFatEntry;

namespace {
constexpr std::uint32_t kFoundReadBytes = 2048;
// The longest entry set: a file entry, a stream extension and 17 name entries.
constexpr std::uint32_t kMaxSetBytes = 19 * 32;
constexpr std::uint32_t kScanChunkBytes = 1024 * 1024;
// Shifts offered after the boot sector's own: the list's large clusters,
// then the sizes Windows picks by default for small and mid-sized volumes
// (4 KiB and 32 KiB), without which a volume of those could not be rebuilt.
constexpr int kShiftChoices[] = {8, 9, 10, 11, 3, 6};

// The first bytes of the slots the entry scan looks at: a file entry, live
// (0x85) or deleted (0x05), and the volume label (0x83) that marks the root.
constexpr std::array<bool, 256> kMayStartFound = [] {
    std::array<bool, 256> t{};
    t[0x85] = t[0x05] = t[0x83] = true;
    return t;
}();

std::int64_t volumeBytesOf(const VolumeRecord& v) {
    return volumeBytes(v);
}
bool entersFolder(std::uint16_t a) { return (a >= 0x10 && a <= 0x13) || a == 0x15 || a == 0x30; }
}  // namespace

std::int64_t Fat64Class::findAdvancedCandidates(std::int64_t maxCandidates) {
    if (!source) return 0;
    source->baseOffset = volume.startSector * kSectorBytes;
    source->seek(0, 0);
    bootValid_ = checkBootSector();
    reporter->setStatus(u"Finding Fat64 entries....");
    const std::int64_t total = volumeBytesOf(volume);
    // The FAT starts and the heap starts come from one read.
    fat::FatStartSeeker fats(fat::FatKind::ExFat, maxCandidates, *reporter);
    fat::HeapStartSeeker heaps(maxCandidates);
    fat::seekSectors(*source, total, {&fats, &heaps}, *this, *reporter);
    fatCandidates_ = std::move(fats.found);
    heapCandidates_ = std::move(heaps.found);
    if (bootValid_ && !heapCandidates_.empty()) heapCandidates_[0] = geo_.heapOffset;
    lists_ = {};
    for (std::size_t i = 0; i < fatCandidates_.size(); ++i) lists_.candidates.push_back(format16("FAT64_ENTRY:%d", int(i)));
    for (std::size_t i = 0; i < heapCandidates_.size(); ++i)
        lists_.heapOffsets.push_back(format16("HEAP_OFFSET_ENTRY:%d", int(i)));
    if (bootValid_) lists_.sectorsPerCluster.push_back(format16("%d", int(bootShift_)));
    for (int s : kShiftChoices) lists_.sectorsPerCluster.push_back(format16("%d", s));
    return std::int64_t(fatCandidates_.size());
}

ParseResult Fat64Class::parseAdvanced() {
    stopRequested = false;
    if (fatCandidates_.empty() && lists_.sectorsPerCluster.empty()) findAdvancedCandidates(fat::kDefaultCandidates);
    const int ci = advancedChoice.candidate, si = advancedChoice.sectorsPerCluster, hi = advancedChoice.heapOffset;
    if (ci < 0 || std::size_t(ci) >= fatCandidates_.size() || si < 0 ||
        std::size_t(si) >= lists_.sectorsPerCluster.size()) {
        reporter->message(u"No File system Entry Found.Process cannot be continue...", kAppTitle,
                          MessageIcon::Information);
        return ParseResult::Failed;
    }
    const unsigned shift = unsigned(std::stoul(toUtf8(lists_.sectorsPerCluster[std::size_t(si)])));
    if (shift > 16) return ParseResult::Failed;  // clusters up to 32 MiB
    source->baseOffset = volume.startSector * kSectorBytes;
    geo_.clusterBytes = 512u << shift;
    const std::int64_t fatAt = fatCandidates_[std::size_t(ci)];
    geo_.heapOffset = hi >= 0 && std::size_t(hi) < heapCandidates_.size() ? heapCandidates_[std::size_t(hi)] : 0;
    const std::uint64_t clusters = std::min<std::uint64_t>(std::uint64_t(volumeBytesOf(volume)) / geo_.clusterBytes + 2, 0x0FFFFFF7);
    geo_.clusterLimit = std::uint32_t(clusters);
    auto chain = std::make_unique<fat::Fat32Chain>(*source, fatAt, clusters * 4);
    chain->clusterLimit = geo_.clusterLimit;
    chain->endFrom = 0x0FFFFFF7;
    chain_ = std::move(chain);
    entries_.clear();
    visitedDirectories_.clear();
    processedOffsets_.clear();

    std::int64_t rootMark = 0;
    const std::vector<std::int64_t> found = scanForEntries(rootMark);
    // Without both positions nothing can be rebuilt; the tree stays empty.
    if (fatAt > 0 && geo_.heapOffset > 0) {
        const std::int64_t rootAt = rootMark > 0 ? rootMark : (found.empty() ? 0 : found.front());
        rebuildFromFoundEntries(found, rootAt + geo_.clusterBytes);
        entries_.link(*reporter);
        fillRootEntries();
    }
    return ParseResult::Done;
}

std::vector<std::int64_t> Fat64Class::scanForEntries(std::int64_t& rootMark) {
    std::vector<std::int64_t> found;
    const std::int64_t total = volumeBytesOf(volume);
    ChunkedScanOptions o;
    o.end = total;
    o.chunkBytes = std::max(geo_.clusterBytes, kScanChunkBytes / geo_.clusterBytes * geo_.clusterBytes);
    // A set that starts near the end of the chunk is read whole.
    o.overlapBytes = kFoundReadBytes;
    o.poll = this;
    o.progress = reporter;
    const ChunkedScanResult r = chunkedScan(*source, o, [&](const ScanChunk& chunk) -> std::int64_t {
        const ByteView v = chunk.bytes;
        const std::uint8_t* bytes = v.data();
        for (std::int64_t at = chunk.offset; at < chunk.limit; at += 32) {
            const std::size_t pos = std::size_t(at - chunk.offset);
            // Only a file entry (live or deleted) or a volume label can
            // start anything looked for: four slots at a time are passed
            // over while not one of them starts so.
            if (at + 128 <= chunk.limit) {
                const std::uint8_t* g = bytes + pos;
                if (!(kMayStartFound[g[0]] | kMayStartFound[g[32]] | kMayStartFound[g[64]] | kMayStartFound[g[96]])) {
                    at += 96;
                    continue;
                }
            }
            if (!kMayStartFound[bytes[pos]]) continue;
            if (rootMark == 0 && v[pos] == 0x83 && le64(v, pos + 24) == 0) rootMark = at;
            if (fat::isExFatSetHit(v, pos) || isSplitSetHit(at, v[pos])) {
                found.push_back(at);
                reporter->setStatus(format16("found Entry %d ", int(found.size())));
            }
        }
        return chunk.limit;
    });
    if (r.stopped) stopRequested = false;
    return found;
}

void Fat64Class::rebuildFromFoundEntries(const std::vector<std::int64_t>& found, std::int64_t threshold) {
    entries_.add(ExFatEntry{}, u"DUMMY ENTRY");
    ExFatEntry orphan;
    orphan.attributes = 0x10;
    entries_.add(orphan, u"ORPHAN ENTRY");
    processedOffsets_.reserve(found.size());
    WindowReader reader(*source, kFoundReadBytes);
    for (std::int64_t off : found) {
        if (pollStop()) break;
        if (!processedOffsets_.insert(off)) continue;
        ByteView at = reader.at(off / 512 * 512).sub(std::size_t(off % 512));
        // A set the scan found only across a cluster border is read along the chain.
        std::vector<std::uint8_t> joined;
        if (!fat::isExFatSetHit(at, 0)) {
            joined = readSetAcrossClusters(off);
            at = ByteView(joined);
        }
        std::vector<fat::ExFatSet> sets = fat::decodeEntrySets(at);
        if (sets.empty()) continue;
        // Sets beyond the first cluster after the root go under ORPHAN ENTRY.
        appendFound(std::move(sets.front()), off > threshold ? 1 : 0, 0);
    }
}

std::vector<std::uint8_t> Fat64Class::readSetAcrossClusters(std::int64_t off) {
    std::vector<std::uint8_t> buf(kMaxSetBytes, 0);
    const std::int64_t k = geo_.clusterBytes;
    if (!chain_ || k == 0 || geo_.heapOffset <= 0 || off < geo_.heapOffset) return buf;
    std::uint32_t c = std::uint32_t(std::min<std::int64_t>((off - geo_.heapOffset) / k + 2, 0xFFFFFFFF));
    std::uint32_t have = std::uint32_t(std::min<std::int64_t>(k - (off - geo_.heapOffset) % k, kMaxSetBytes));
    readAt(*source, off, buf.data(), have);
    while (have < kMaxSetBytes) {
        const std::optional<std::uint32_t> nx = chain_->next(c);
        if (!nx) break;
        c = *nx;
        const std::uint32_t n = std::uint32_t(std::min<std::int64_t>(k, kMaxSetBytes - have));
        readAt(*source, geo_.offsetOf(c), buf.data() + have, n);
        have += n;
    }
    return buf;
}

bool Fat64Class::isSplitSetHit(std::int64_t off, std::uint8_t type) {
    if (type != 0x85 && type != 0x05) return false;
    const std::int64_t k = geo_.clusterBytes;
    // Only a set that reaches past its cluster's end can continue elsewhere.
    if (k == 0 || geo_.heapOffset <= 0 || off < geo_.heapOffset || (off - geo_.heapOffset) % k + kMaxSetBytes <= k)
        return false;
    const std::vector<std::uint8_t> set = readSetAcrossClusters(off);
    return fat::isExFatSetHit(ByteView(set), 0);
}

void Fat64Class::appendFound(fat::ExFatSet set, std::uint32_t parent, int depth) {
    set.fields.parentIndex = parent;
    const std::uint32_t own = entries_.add(set.fields, set.name);
    if (entersFolder(set.fields.attributes)) walkFoundDirectory(own, depth);
}

void Fat64Class::walkFoundDirectory(std::uint32_t own, int depth) {
    const ExFatEntry d = entries_[own];
    const std::uint32_t first = d.firstCluster;
    if (depth >= fat::kMaxDirectoryDepth || first < 2 || first >= geo_.clusterLimit ||
        !visitedDirectories_.insert(first).second)
        return;
    const std::vector<std::uint8_t> dir = readDirectory(first, d.dataLength, d.noFatChain());
    // The clusters the folder's bytes came from, to know each set's place on the volume.
    std::vector<std::uint32_t> clusters;
    const std::uint64_t count = (dir.size() + geo_.clusterBytes - 1) / geo_.clusterBytes;
    bool consecutive = d.noFatChain() || chain_->entry(first) == 0 || g_driveFormatted.load();
    for (std::uint32_t c = first; clusters.size() < count;) {
        clusters.push_back(c);
        if (consecutive) {
            ++c;
        } else {
            auto nx = chain_->next(c);
            if (!nx) break;
            c = *nx;
        }
    }
    std::vector<std::size_t> offsets;
    std::vector<fat::ExFatSet> sets = fat::decodeEntrySets(ByteView(dir), &offsets);
    for (std::size_t k = 0; k < sets.size(); ++k) {
        if (pollStop()) return;
        const std::size_t ci = offsets[k] / geo_.clusterBytes;
        if (ci < clusters.size()) {
            const std::int64_t at = geo_.offsetOf(clusters[ci]) + std::int64_t(offsets[k] % geo_.clusterBytes);
            // A set listed before, from the scan or another folder, is listed once.
            if (!processedOffsets_.insert(at)) continue;
        }
        appendFound(std::move(sets[k]), own, depth + 1);
    }
}

}  // namespace salvage
