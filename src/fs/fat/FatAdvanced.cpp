// Advanced mode of the FAT12, FAT16 and FAT32 parsers: the boot sector is not
// trusted. The FAT candidates and the cluster sizes are ranked by how well
// they fit what the volume holds: folders' "." entries must agree on where
// cluster 2 lies and their ".." entries name clusters holding folders; the
// chains of files of known size must have the length the size needs. The
// FAT is taken at the candidate the user picks, the volume is
// scanned for slots that look like directory entries, and a table is rebuilt
// from them with a "DUMMY ENTRY" root and an "ORPHAN ENTRY" folder for
// entries whose folder was not found.
#include <algorithm>
#include <array>
#include <charconv>

#include "fs/fat/FatVolume.h"
#include "image/ChunkedScan.h"
#include "image/WindowReader.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage::fat {

namespace {
constexpr char16_t kDummyName[] = u"DUMMY ENTRY";
constexpr char16_t kOrphanName[] = u"ORPHAN ENTRY";
// Bytes read around a found entry: its sector and the long-name run after it.
constexpr std::uint32_t kFoundReadBytes = 2048;
// The entry scan reads this many bytes per call (whole clusters).
constexpr std::uint32_t kScanChunkBytes = 256 * 1024;

// Attribute bytes a slot can carry and still pass the FAT12/16 or the FAT32
// entry test: a volume label, a long-name part, the folder attributes, an
// archived file and (FAT16) 0x26.
constexpr std::array<bool, 256> kMayBeEntryAttr = [] {
    std::array<bool, 256> t{};
    for (std::uint8_t a : {0x08, 0x0F, 0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x20, 0x26, 0x30}) t[a] = true;
    return t;
}();
inline bool mayBeEntryAttr(std::uint8_t a) { return kMayBeEntryAttr[a]; }

// The attribute bytes a slot needs to be looked at while the first
// folder's "." entry is still sought: an entry's, or any with the folder
// bit (a "." entry whose own and next slot lack it places nothing).
constexpr std::array<bool, 256> kMayBeEntryOrDotAttr = [] {
    std::array<bool, 256> t = kMayBeEntryAttr;
    for (unsigned a = 0; a < 256; ++a)
        if (a & 0x10) t[a] = true;
    return t;
}();

// The bytes of the groups of four slots from p on (n bytes, whole groups)
// that the entry scan can pass over: not one slot of a group has an
// attribute byte in the table, nor (while the root's mark is still looked
// for) an 'R' where "RECYCLE" starts. The root flag is fixed for the whole
// walk, which keeps the loop free of its test.
template <bool watchRoot>
std::size_t quietGroups(const std::uint8_t* p, std::size_t n, const std::array<bool, 256>& table) {
    std::size_t done = 0;
    for (; done < n; done += 128) {
        const std::uint8_t* g = p + done;
        bool any = table[g[11]] | table[g[43]] | table[g[75]] | table[g[107]];
        if constexpr (watchRoot) any |= (g[1] == 'R') | (g[33] == 'R') | (g[65] == 'R') | (g[97] == 'R');
        if (any) break;
    }
    return done;
}
std::size_t quietGroupBytes(const std::uint8_t* p, std::size_t n, bool watchRoot, bool watchDot) {
    const std::array<bool, 256>& table = watchDot ? kMayBeEntryOrDotAttr : kMayBeEntryAttr;
    return watchRoot ? quietGroups<true>(p, n, table) : quietGroups<false>(p, n, table);
}

// "found file or directory =  N ", shown for every hit of the FAT32 scan:
// put together by hand, as a printf-style format for each of tens of
// thousands of hits costs more than the scan's tests.
void showFoundCount(Reporter& reporter, std::size_t count) {
    static constexpr char16_t kText[] = u"found file or directory =  ";
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, int(count)).ptr;
    std::u16string text(kText);
    text.append(digits, end);
    text.push_back(u' ');
    reporter.setStatus(text);
}
}  // namespace

std::int64_t FatVolume::volumeBytes() const {
    return salvage::volumeBytes(volume);
}

// The evidence the ranking weighs, gathered from the first part of the volume.
constexpr std::int64_t kFitScanBytes = 256ll * 1024 * 1024;
constexpr std::size_t kMaxFitItems = 4096;

struct DotPair {
    std::int64_t offset;     // of the "." entry, from the volume's start
    std::uint32_t own, parent;
};
struct KnownFile {
    std::uint32_t first;
    std::uint32_t size;
};
struct FitEvidence {
    std::vector<DotPair> folders;
    std::vector<KnownFile> files;  // live files listed in those folders' first sectors
};

namespace {
std::uint32_t firstClusterOf(ByteView e) { return (std::uint32_t(le16(e, 20)) << 16) | le16(e, 26); }

bool isDotPair(ByteView s) {
    return s.matches(0, ".          ") && s.matches(32, "..         ") && (s[11] & 0x10) && (s[43] & 0x10);
}

// Gathers the evidence from the sectors of the volume's first part, beside
// the FAT search in the same pass. Past kMaxFitItems folders it takes the
// rest of the search block it is in, then wants no more.
class FitEvidenceSeeker final : public SectorSeeker {
public:
    explicit FitEvidenceSeeker(std::int64_t volumeBytes) : end_(std::min(volumeBytes, kFitScanBytes)) {}
    bool see(std::int64_t at, ByteView sector) override {
        if (at + 512 > end_ || (capEnd_ >= 0 && at >= capEnd_)) return false;
        // A folder's first cluster starts on a sector boundary.
        if (!isDotPair(sector)) return true;
        ev.folders.push_back({at, firstClusterOf(sector), firstClusterOf(sector.sub(32))});
        for (std::size_t e0 = 64; e0 + 32 <= 512 && ev.files.size() < kMaxFitItems; e0 += 32) {
            ByteView e = sector.sub(e0, 32);
            const std::uint8_t a = e[11];
            if (e[0] == 0) break;
            if (e[0] == kDeletedMark || a == kLongNameAttr || (a & 0x18)) continue;
            if (le32(e, 28) > 0 && firstClusterOf(e) >= 2) ev.files.push_back({firstClusterOf(e), le32(e, 28)});
        }
        if (ev.folders.size() >= kMaxFitItems && capEnd_ < 0) capEnd_ = (at / kSearchBlockBytes + 1) * kSearchBlockBytes;
        return true;
    }
    FitEvidence ev;

private:
    std::int64_t end_;
    std::int64_t capEnd_ = -1;
};

// How many folders agree on where cluster 2 lies for this cluster size, and
// how many of their ".." entries then name a cluster that holds a folder.
std::int64_t folderFit(const FitEvidence& ev, std::uint32_t clusterBytes) {
    std::vector<std::int64_t> heaps;
    for (const DotPair& d : ev.folders)
        if (d.own >= 2) heaps.push_back(d.offset - std::int64_t(d.own - 2) * clusterBytes);
    if (heaps.empty()) return 0;
    std::vector<std::int64_t> sorted = heaps;
    std::sort(sorted.begin(), sorted.end());
    std::int64_t best = sorted[0], bestRun = 0;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i;
        while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
        if (std::int64_t(j - i) > bestRun) bestRun = std::int64_t(j - i), best = sorted[i];
        i = j;
    }
    if (bestRun < 2 && ev.folders.size() >= 2) bestRun = 0;  // one folder alone fits any size
    std::vector<std::int64_t> folderAt;
    for (const DotPair& d : ev.folders) folderAt.push_back(d.offset);
    std::sort(folderAt.begin(), folderAt.end());
    std::int64_t parents = 0;
    for (const DotPair& d : ev.folders) {
        if (d.own < 2 || d.offset - std::int64_t(d.own - 2) * clusterBytes != best || d.parent < 2) continue;
        const std::int64_t at = best + std::int64_t(d.parent - 2) * clusterBytes;
        if (std::binary_search(folderAt.begin(), folderAt.end(), at)) ++parents;
    }
    return 2 * bestRun + parents;
}

// Files whose chain in the FAT has the length their size needs.
std::int64_t chainFit(const FitEvidence& ev, FatChain& chain, std::uint32_t clusterBytes) {
    std::int64_t fit = 0;
    for (const KnownFile& f : ev.files) {
        const std::uint64_t want = (std::uint64_t(f.size) + clusterBytes - 1) / clusterBytes;
        if (f.first >= chain.clusterLimit) continue;
        std::uint64_t length = 1;
        for (auto c = chain.next(f.first); c && length <= want; c = chain.next(*c)) ++length;
        if (length == want) ++fit;
    }
    return fit;
}
}  // namespace

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
    // The FAT starts and the ranking's evidence come from one read.
    FatStartSeeker fats(fatKind(), maxCandidates, *reporter);
    FitEvidenceSeeker evidence(volumeBytes());
    seekSectors(*source, volumeBytes(), {&fats, &evidence}, *this, *reporter, fatKind() == FatKind::Fat32);
    fatCandidates_ = std::move(fats.found);
    rankAdvancedChoices(evidence.ev);
    return std::int64_t(fatCandidates_.size());
}

void FatVolume::rankAdvancedChoices(const FitEvidence& ev) {
    lists_ = {};
    // Every cluster size from 512 bytes to 64 KiB, and the boot sector's
    // own value when the boot sector passed its test.
    std::vector<std::uint32_t> sizes = {1, 2, 4, 8, 16, 32, 64, 128};
    const std::uint32_t bootSpc = bootValid_ ? bootSectorsPerCluster_ : 0;
    if (bootSpc && std::find(sizes.begin(), sizes.end(), bootSpc) == sizes.end()) sizes.push_back(bootSpc);

    reporter->setStatus(u"Weighing the choices....");
    const std::size_t nc = fatCandidates_.size();
    std::vector<std::int64_t> sizeFit(sizes.size(), 0), candFit(nc, 0);
    std::vector<std::vector<std::int64_t>> chains(nc, std::vector<std::int64_t>(sizes.size(), 0));
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        sizeFit[k] = folderFit(ev, sizes[k] * 512);
        for (std::size_t i = 0; i < nc; ++i) {
            loadFatAtCandidate(i, sizes[k]);
            if (chain_) chains[i][k] = chainFit(ev, *chain_, sizes[k] * 512);
        }
    }
    // A size's fit adds its best FAT's chains; a FAT's fit is its chains at
    // the best size.
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        std::int64_t best = 0;
        for (std::size_t i = 0; i < nc; ++i) best = std::max(best, chains[i][k]);
        sizeFit[k] += best;
    }
    const std::size_t bestSize =
        std::size_t(std::max_element(sizeFit.begin(), sizeFit.end()) - sizeFit.begin());
    for (std::size_t i = 0; i < nc; ++i) candFit[i] = chains[i][bestSize];

    // Best first; ties keep the boot sector's value first, then the order found.
    std::vector<std::size_t> sizeOrder(sizes.size()), candOrder(nc);
    for (std::size_t k = 0; k < sizes.size(); ++k) sizeOrder[k] = k;
    for (std::size_t i = 0; i < nc; ++i) candOrder[i] = i;
    std::stable_sort(sizeOrder.begin(), sizeOrder.end(), [&](std::size_t a, std::size_t b) {
        if (sizeFit[a] != sizeFit[b]) return sizeFit[a] > sizeFit[b];
        return sizes[a] == bootSpc && sizes[b] != bootSpc;
    });
    std::stable_sort(candOrder.begin(), candOrder.end(),
                     [&](std::size_t a, std::size_t b) { return candFit[a] > candFit[b]; });
    std::vector<std::int64_t> ranked;
    for (std::size_t i : candOrder) ranked.push_back(fatCandidates_[i]);
    fatCandidates_ = std::move(ranked);
    for (std::size_t i = 0; i < nc; ++i) {
        lists_.candidates.push_back(format16(candidateFormat(), int(i)));
        lists_.candidateFit.push_back(candFit[candOrder[i]]);
    }
    for (std::size_t k : sizeOrder) {
        lists_.sectorsPerCluster.push_back(format16("%d", int(sizes[k])));
        lists_.sectorsPerClusterFit.push_back(sizeFit[k]);
    }
    // The boot sector's geometry, which the loads above replaced.
    if (bootValid_) checkBootSector();
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
    ChunkedScanOptions o;
    o.end = total;
    // Whole clusters per chunk; the slot after a chunk's last one is seen
    // with it, so a "." entry there is read with its ".." entry.
    o.chunkBytes = std::max(clusterBytes_, kScanChunkBytes / clusterBytes_ * clusterBytes_);
    o.overlapBytes = 32;
    o.poll = this;
    o.progress = reporter;
    const FatKind kind = fatKind();
    const bool fat32 = kind == FatKind::Fat32;
    const ChunkedScanResult r = chunkedScan(*source, o, [&](const ScanChunk& chunk) -> std::int64_t {
        const ByteView v = chunk.bytes;
        const std::uint8_t* bytes = v.data();
        const std::int64_t last = std::min(chunk.limit, total - 31);
        for (std::int64_t at = chunk.offset; at < last;) {
            const std::size_t pos = std::size_t(at - chunk.offset);
            const bool watchRoot = fat32 && marks.rootMark == 0, watchDot = marks.dotHeap < 0;
            if (at + 128 <= last) {
                const std::size_t quiet =
                    quietGroupBytes(bytes + pos, std::size_t(last - at) / 128 * 128, watchRoot, watchDot);
                if (quiet) {
                    at += std::int64_t(quiet);
                    continue;
                }
            }
            const std::uint8_t first = bytes[pos], attr = bytes[pos + 11];
            if (watchRoot && (attr == 0x08 || bytes[pos + 1] == 'R') && isFat32RootMark(v.sub(pos, 32)))
                marks.rootMark = at;
            if (watchDot && first == '.') marks.dotHeap = heapFromDotEntries(v.sub(pos, 64), at, clusterBytes_, clusters);
            if (mayBeEntryAttr(attr) && entryHit(v.sub(pos, 32), clusters)) {
                found.push_back(at);
                if (fat32) showFoundCount(*reporter, found.size());
            }
            at += 32;
        }
        if (kind == FatKind::Fat16 || kind == FatKind::Fat12)
            reporter->setStatus(format16("currently at sector %lld of %lld", (long long)(chunk.offset / 512),
                                         (long long)(total / 512)));
        return chunk.limit;
    });
    if (r.stopped) stopRequested = false;
    return found;
}

std::int64_t FatVolume::appendFound(ByteView e, std::optional<LongName>& pending, std::uint32_t parent) {
    const std::uint8_t first = e[0];
    FatEntry r = entryFrom(e);
    const std::u16string name = entryName(e, pending, r);
    pending.reset();
    if (first == 0 || first == '.') return -1;
    r.parentIndex = parent;
    return entries_.add(r, name);
}

void FatVolume::rebuildFromFoundEntries(const std::vector<std::int64_t>& found, std::int64_t threshold) {
    FatEntry dummy;
    dummy.attributes = kLongNameAttr;
    entries_.add(dummy, kDummyName);
    FatEntry orphan;
    orphan.attributes = 0x10;
    entries_.add(orphan, kOrphanName);

    processedOffsets_.reserve(found.size());
    std::optional<LongName> pending;
    std::int64_t pendingFor = -1;  // the offset of the short entry a long name belongs to
    WindowReader reader(*source, kFoundReadBytes);
    for (std::int64_t off : found) {
        if (pollStop()) break;
        if (!processedOffsets_.insert(off)) continue;
        if (off != pendingFor) pending.reset();
        const ByteView sector = reader.at(off / 512 * 512);
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
            if (!processedOffsets_.insert(at + std::int64_t(pos))) break;
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
