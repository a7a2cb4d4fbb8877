// Advanced mode of the FAT16 and FAT32 parsers: the boot sector is not
// trusted. The FAT is taken at a candidate the search found, the volume is
// scanned for slots that look like directory entries, and a table is rebuilt
// from them with a "DUMMY ENTRY" root and an "ORPHAN ENTRY" folder for
// entries whose folder was not found.
#include <algorithm>

#include "fs/fat/FatVolume.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage::fat {

namespace {
constexpr char16_t kDummyName[] = u"DUMMY ENTRY";
constexpr char16_t kOrphanName[] = u"ORPHAN ENTRY";
// Bytes read around a found entry: its sector and the long-name run after it.
constexpr std::uint32_t kFoundReadBytes = 2048;
// The entry scan reads this many bytes per call (whole clusters).
constexpr std::uint32_t kScanChunkBytes = 1024 * 1024;
}  // namespace

std::int64_t FatVolume::volumeBytes() const {
    return std::max<std::int64_t>(0, sizeTextMegabytes(volume.sizeText)) * 1048576;
}

std::int64_t FatVolume::findAdvancedCandidates(std::int64_t maxCandidates) {
    if (!source) return 0;
    source->baseOffset = volume.startSector * kSectorBytes;
    source->seek(0, 0);
    // The boot sector only lends its sectors-per-cluster value; a failed
    // test does not stop the search.
    bootValid_ = checkBootSector();
    std::uint8_t boot[512] = {};
    readAt(*source, 0, boot, sizeof boot);
    bootSectorsPerCluster_ = boot[13];
    reporter->setStatus(u"Finding Fat entries....");
    fatCandidates_ = findFatStarts(*source, volumeBytes(), fatKind(), maxCandidates, *this, *reporter);
    lists_ = {};
    for (std::size_t i = 0; i < fatCandidates_.size(); ++i)
        lists_.candidates.push_back(format16(candidateFormat(), int(i)));
    if (bootValid_ && offersBootSectorsPerCluster(bootSectorsPerCluster_))
        lists_.sectorsPerCluster.push_back(format16("%d", int(bootSectorsPerCluster_)));
    for (int v : sectorsPerClusterChoices()) lists_.sectorsPerCluster.push_back(format16("%d", v));
    return std::int64_t(fatCandidates_.size());
}

ParseResult FatVolume::parseAdvanced() {
    stopRequested = false;
    if (fatCandidates_.empty() && lists_.sectorsPerCluster.empty()) findAdvancedCandidates(kDefaultCandidates);
    const int ci = advancedChoice.candidate, si = advancedChoice.sectorsPerCluster;
    if (ci < 0 || std::size_t(ci) >= fatCandidates_.size() || si < 0 ||
        std::size_t(si) >= lists_.sectorsPerCluster.size()) {
        reporter->message(u"No File system Entry Found.Process cannot be continue...", kAppTitle,
                          MessageIcon::Information);
        return ParseResult::Failed;
    }
    const std::uint32_t spc = std::uint32_t(std::stoul(toUtf8(lists_.sectorsPerCluster[std::size_t(si)])));
    source->baseOffset = volume.startSector * kSectorBytes;
    entries_.clear();
    processedOffsets_.clear();
    visitedClusters_.clear();
    loadFatAtCandidate(std::size_t(ci), spc);
    if (!chain_ || clusterBytes_ == 0) return ParseResult::Failed;
    ScanMarks marks;
    const std::vector<std::int64_t> found = scanForEntries(marks);
    std::int64_t dataStart = advancedDataStart(marks);
    if (dataStart <= 0 && !found.empty()) dataStart = std::max<std::int64_t>(0, found.front() - 32);
    clusterHeap_ = dataStart;
    reporter->setStatus(u"Maintaining directory Structure in AdvanceScanning");
    rebuildFromFoundEntries(found, dataStart + clusterBytes_);
    reporter->setStatus(u"Maintaining Tree Structure for Tree Control");
    linkChildren();
    fillRootEntries();
    return ParseResult::Done;
}

std::vector<std::int64_t> FatVolume::scanForEntries(ScanMarks& marks) {
    std::vector<std::int64_t> found;
    const std::int64_t total = volumeBytes();
    const std::uint64_t clusters = std::uint64_t(total) / clusterBytes_;
    const std::uint32_t chunk = std::max(clusterBytes_, kScanChunkBytes / clusterBytes_ * clusterBytes_);
    std::vector<std::uint8_t> buf;
    reporter->setProgressRange(0, 100000);
    for (std::int64_t start = 0; start < total; start += chunk) {
        if (pollStop()) {
            stopRequested = false;
            break;
        }
        const std::uint32_t n = std::uint32_t(std::min<std::int64_t>(chunk, total - start));
        buf.assign(n, 0);
        readAt(*source, start, buf.data(), n);
        ByteView v(buf);
        for (std::uint32_t pos = 0; pos + 32 <= n; pos += 32) {
            ByteView e = v.sub(pos, 32);
            if (fatKind() == FatKind::Fat32 && marks.rootMark == 0 && isFat32RootMark(e)) marks.rootMark = start + pos;
            if (marks.dotHeap < 0 && e[0] == '.' && pos + 64 <= n)
                marks.dotHeap = heapFromDotEntries(v.sub(pos, 64), start + pos, clusterBytes_, clusters);
            if (entryHit(e, clusters)) {
                found.push_back(start + pos);
                if (fatKind() == FatKind::Fat32)
                    reporter->setStatus(format16("found file or directory =  %d ", int(found.size())));
            }
        }
        if (fatKind() == FatKind::Fat16)
            reporter->setStatus(
                format16("currently at sector %lld of %lld", (long long)(start / 512), (long long)(total / 512)));
        reporter->setProgressPosition(total ? (start + n) * 100000 / total : 100000);
    }
    return found;
}

std::int64_t FatVolume::appendFound(ByteView e, std::optional<LongName>& pending, std::uint32_t parent) {
    const std::uint8_t first = e[0];
    FatEntry r = entryFrom(e);
    const bool isDir = isWalkedDirectory(r.attributes);
    if (pending && !pending->text.empty()) {
        r.name = pending->text;
        r.deleted = (pending->deleted || first == kDeletedMark) ? 1 : 0;
    } else {
        r.name = isDir ? shortNameRaw(e) : fileName(e);
        r.deleted = first == kDeletedMark ? 1 : 0;
    }
    pending.reset();
    if (first == 0 || first == '.') return -1;
    r.parentIndex = parent;
    r.ownIndex = std::uint32_t(entries_.size());
    entries_.push_back(std::move(r));
    return std::int64_t(entries_.size() - 1);
}

void FatVolume::rebuildFromFoundEntries(const std::vector<std::int64_t>& found, std::int64_t threshold) {
    FatEntry dummy;
    dummy.attributes = kLongNameAttr;
    dummy.name = kDummyName;
    entries_.push_back(dummy);
    FatEntry orphan;
    orphan.attributes = 0x10;
    orphan.name = kOrphanName;
    orphan.ownIndex = 1;
    entries_.push_back(orphan);

    std::optional<LongName> pending;
    std::int64_t pendingFor = -1;  // the offset of the short entry a long name belongs to
    std::vector<std::uint8_t> buf(kFoundReadBytes);
    for (std::int64_t off : found) {
        if (pollStop()) break;
        if (!processedOffsets_.insert(off).second) continue;
        if (off != pendingFor) pending.reset();
        std::fill(buf.begin(), buf.end(), 0);
        readAt(*source, off / 512 * 512, buf.data(), kFoundReadBytes);
        ByteView sector(buf);
        const std::size_t pos = std::size_t(off % 512);
        ByteView e = sector.sub(pos, 32);
        if (e[0] == '.') continue;
        // Entries beyond the first cluster after the root go under ORPHAN ENTRY.
        const std::uint32_t parent = off > threshold ? 1 : 0;
        if (e[11] == kLongNameAttr) {
            LongName ln = collectLongName(sector, pos);
            for (std::size_t k = 1; k < ln.consumed; ++k) processedOffsets_.insert(off + std::int64_t(32 * k));
            pendingFor = off + std::int64_t(32 * ln.consumed);
            pending = std::move(ln);
            continue;
        }
        const std::int64_t idx = appendFound(e, pending, parent);
        if (idx >= 0 && isWalkedDirectory(e[11]))
            walkFoundDirectory(std::uint32_t(idx), entries_[std::size_t(idx)].firstCluster(), foundFurtherClusters(), 0);
    }
}

void FatVolume::walkFoundDirectory(std::uint32_t own, std::uint32_t first, std::uint64_t further, int depth) {
    if (depth > kMaxDirectoryDepth || first < 2 || first >= chain_->clusterLimit) return;
    std::vector<std::uint32_t> clusters{first};
    for (std::optional<std::uint32_t> c = chain_->next(first); c && clusters.size() <= further; c = chain_->next(*c)) {
        if (std::find(clusters.begin(), clusters.end(), *c) != clusters.end()) break;  // a loop closes here
        clusters.push_back(*c);
    }
    std::vector<std::uint8_t> buf;
    std::optional<LongName> pending;
    for (std::uint32_t c : clusters) {
        const std::int64_t at = clusterOffset(c);
        if (at >= volumeBytes() || !visitedClusters_.insert(c).second) break;
        readCluster(c, buf);
        ByteView dir(buf);
        for (std::size_t pos = 0; dir.has(pos, 32); pos += 32) {
            ByteView e = dir.sub(pos, 32);
            const std::uint8_t a = e[11];
            if (a == 0xCD) break;
            if (e[0] == 0) {
                pending.reset();
                if (subdirEndsAtZero()) break;
                continue;
            }
            if (e[0] == '.' && (a == 0x10 || a == 0x11 || a == 0x13)) continue;
            // An entry processed before (with parent 0 or 1) ends this cluster.
            if (!processedOffsets_.insert(at + std::int64_t(pos)).second) break;
            if (a == kLongNameAttr) {
                LongName ln = collectLongName(dir, pos);
                for (std::size_t k = 1; k < ln.consumed; ++k) processedOffsets_.insert(at + std::int64_t(pos + 32 * k));
                pos += 32 * (ln.consumed ? ln.consumed - 1 : 0);
                pending = std::move(ln);
                continue;
            }
            const std::int64_t idx = appendFound(e, pending, own);
            if (idx >= 0 && isWalkedDirectory(a))
                walkFoundDirectory(std::uint32_t(idx), entries_[std::size_t(idx)].firstCluster(),
                                   nestedFurtherClusters(), depth + 1);
        }
    }
}

}  // namespace salvage::fat
